#include "platform/desktop.h"

#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace plat {
namespace {

fs::path HomeDir() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

fs::path ConfigHome() {
  if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c == '/') return c;
  return HomeDir() / ".config";
}

// One argument of an Exec line: quoted when it holds anything but plain characters; inside the
// quotes ", `, $ and \ get a backslash, and a literal % is doubled everywhere.
std::string QuoteExecArg(const std::string& a) {
  bool plain = !a.empty();
  for (char c : a)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || std::string_view("/._-+=,:@").find(c) != std::string_view::npos))
      plain = false;
  std::string out;
  if (!plain) out += '"';
  for (char c : a) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (!plain && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (!plain) out += '"';
  return out;
}

// Values of a desktop entry are one line; \ is escaped and line breaks become \n.
std::string EntryValue(std::string_view v) {
  std::string out;
  for (char c : v) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

}  // namespace

fs::path DesktopDir() {
  if (const char* d = std::getenv("XDG_DESKTOP_DIR"); d && *d == '/') return d;
  fs::path home = HomeDir();
  if (auto dirs = ReadFileBytes(ConfigHome() / "user-dirs.dirs")) {
    size_t pos = 0;
    while (pos < dirs->size()) {
      size_t end = dirs->find('\n', pos);
      if (end == std::string::npos) end = dirs->size();
      std::string line = dirs->substr(pos, end - pos);
      pos = end + 1;
      const std::string key = "XDG_DESKTOP_DIR=\"";
      if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"') continue;
      std::string v = line.substr(key.size(), line.size() - key.size() - 1);
      if (v.rfind("$HOME", 0) == 0) return home.string() + v.substr(5);
      if (!v.empty() && v[0] == '/') return v;
    }
  }
  return home / "Desktop";
}

fs::path AutostartDir() { return ConfigHome() / "autostart"; }

std::string DesktopEntryText(const DesktopEntry& e) {
  std::string exec;
  for (const auto& a : e.exec) {
    if (!exec.empty()) exec += ' ';
    exec += QuoteExecArg(a);
  }
  std::string t = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
  t += "Name=" + EntryValue(WideToUtf8Bytes(e.name)) + "\n";
  if (!e.comment.empty()) t += "Comment=" + EntryValue(WideToUtf8Bytes(e.comment)) + "\n";
  t += "Exec=" + EntryValue(exec) + "\n";
  if (!e.workingDir.empty()) t += "Path=" + EntryValue(e.workingDir.string()) + "\n";
  t += "Terminal=false\n";
  if (e.autostartDelaySeconds > 0) {
    t += "X-GNOME-Autostart-enabled=true\n";
    t += "X-GNOME-Autostart-Delay=" + std::to_string(e.autostartDelaySeconds) + "\n";
  }
  return t;
}

bool WriteDesktopEntry(const fs::path& file, const DesktopEntry& entry) {
  if (!WriteFileAtomic(file, DesktopEntryText(entry))) return false;
  return ::chmod(file.c_str(), 0755) == 0;
}

bool ProcessIsElevated() { return ::geteuid() == 0; }

}  // namespace plat
