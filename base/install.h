#pragma once
// The program installs itself: the install folders at every start, the first copy of the
// executable, the desktop launcher and the session autostart. Failures are logged and never stop
// the program. Here the desktop launcher is a desktop entry in the user's desktop folder, the logon
// task is an XDG autostart entry started one minute after logon, and the Run key fallback is a
// second autostart entry that passes "/delayedstart".
#include <string>
#include <string_view>

inline constexpr std::wstring_view kInstalledExe = L"<root>/Tavelo.exe";
inline constexpr std::wstring_view kAutostartOffFlag = L"<root>/system/autostart_off.flag";
inline constexpr std::wstring_view kLogonTaskName = L"Tavelo_AutoStart";
inline constexpr std::wstring_view kRunValueName = L"Tavelo";

void CreateInstallFolders();

// True for the name of a temporary file of an interrupted whole-file rewrite: the target's name
// followed by ".tmp" and the writer's process number, optionally "_" and a serial number
// ("app_settings.cfg.tmp4242_3").
bool IsInterruptedSaveFile(std::string_view name);
// Removes such files left by a process killed during a save, from the folders the program writes
// (the install root, system, presets and the other data folders; our own entries in the desktop
// and autostart folders). Only while no other instance runs. Returns the number removed.
int RemoveInterruptedSaveFiles();
void InstallCopyAndShortcut();
bool CreateDesktopShortcut(std::wstring_view targetPath, std::wstring_view name);
void ConfigureAutostart();
// `exe` is a real path of this machine; runLevel "HighestAvailable" or "LeastPrivilege".
bool RegisterLogonTask(std::wstring_view exe, std::wstring_view runLevel);
bool RegisterRunKey(std::wstring_view exe);
// Exit code of the command, kStillActive (259) when it outlived the timeout, -1 when not started.
int RunHiddenAndWait(std::wstring_view commandLine, unsigned timeoutMs);
