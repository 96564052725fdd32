#pragma once
// The page boot: run on the window thread after every completed navigation of the main page. It
// waits for the start-up load thread and then sends the page everything it shows.
#include <string>

void OnMainNavigationCompleted();

// What the boot needs of the program's top: waiting for the start-up load thread (which the
// start-up owns) and entering fullscreen (the main window's). Installed once at start; unset
// members do nothing.
struct PageBootHooks {
  void (*waitForStartupLoad)() = nullptr;
  void (*enterFullscreen)() = nullptr;
};
void SetPageBootHooks(PageBootHooks hooks);

// The first boot script: song list, tone table, history, favourites, singer keys, help text and
// every display value of the settings. UTF-8, as the page channel carries it (it holds the whole
// song array).
std::string BuildBootFirstScript();
// The environment blob script ("" when there is no valid page settings object).
std::wstring BuildBootEnvScript();
// The second boot script: monitors, customer window values, PC/video info, medley list.
std::wstring BuildBootSecondScript();

// Thread bodies started by the boot.
void ReopenCustomerAfterBoot(int monitor);
void ReportMissingSongsLater();
