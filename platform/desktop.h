#pragma once
// The user's desktop and session start, in place of the shell link, the Task Scheduler task and
// the Run key: freedesktop.org desktop entries in the desktop folder and in the XDG autostart
// folder, and whether the process runs with administrator rights.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// $XDG_DESKTOP_DIR, else the DESKTOP entry of ~/.config/user-dirs.dirs, else ~/Desktop.
std::filesystem::path DesktopDir();

// $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
std::filesystem::path AutostartDir();

struct DesktopEntry {
  std::wstring name;
  std::wstring comment;
  std::vector<std::string> exec;  // program and arguments, quoted here as the format asks
  std::filesystem::path workingDir;
  int autostartDelaySeconds = 0;  // 0: start at once
};

// The text of a desktop entry (Type=Application).
std::string DesktopEntryText(const DesktopEntry& entry);

// Writes the entry whole (temporary file + rename) and marks it executable, as desktops require
// of a launcher they trust. False when it cannot be written.
bool WriteDesktopEntry(const std::filesystem::path& file, const DesktopEntry& entry);

// True when the process runs with the rights of the administrator (effective user root).
bool ProcessIsElevated();

}  // namespace plat
