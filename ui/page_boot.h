#pragma once
// The page boot: run on the window thread after every completed navigation of the main page. It
// waits for the start-up load thread and then sends the page everything it shows.
#include <string>

void OnMainNavigationCompleted();

// What the boot needs of the program's top: waiting for the song list and for the start-up load
// thread (which the start-up owns) and entering fullscreen (the main window's). Installed once at start; unset
// members do nothing.
struct PageBootHooks {
  void (*waitForSongList)() = nullptr;  // the start-up load has made the song list final
  void (*waitForStartupLoad)() = nullptr;
  void (*enterFullscreen)() = nullptr;
};
void SetPageBootHooks(PageBootHooks hooks);

// The first boot data: the song list goes to the page's initSongDb as a table the page parses
// (the largest payload of a run), then the first boot script follows it: tone table, history,
// favourites, singer keys, help text and every display value of the settings, each call in its
// own guard so that one missing page function never hides the values after it.
void SendSongListToPage();
std::wstring BuildBootFirstScript();
// The environment blob script ("" when there is no valid page settings object).
std::wstring BuildBootEnvScript();
// The second boot script: monitors, customer window values, PC/video info, medley list.
std::wstring BuildBootSecondScript();

// Thread bodies started by the boot.
void ReopenCustomerAfterBoot(int monitor);
void ReportMissingSongsLater();
