#pragma once
// Page commands that keep the application's own settings and files in step with the page:
// window and keyboard options, lyric display values, help text and the imports
// from the older program (window thread). Each takes the whole message and reads its argument
// after the command name.
#include <string>

// What these commands need of the main window, which the start-up owns. Unset members do nothing.
struct SettingsCommandHooks {
  void (*setFullscreen)(bool on) = nullptr;
  bool (*fullscreenOn)() = nullptr;
};
void SetSettingsCommandHooks(SettingsCommandHooks hooks);

void HandleQuitApp(const std::wstring& m);
void HandleToggleFullscreen(const std::wstring& m);
void HandleSetStartFullscreen(const std::wstring& m);
void HandleSetNumLockOff(const std::wstring& m);
void HandleSetLyricFont(const std::wstring& m);
void HandleSetLyricWaitColor(const std::wstring& m);
void HandleSetLyricSungColor(const std::wstring& m);
void HandleSetLyricFontSize(const std::wstring& m);
void HandleSetAutoKey(const std::wstring& m);
void HandleOpenHelp(const std::wstring& m);
void HandleImportQuellorKeys(const std::wstring& m);
void HandleImportOldConfig(const std::wstring& m);
