#include "base/settings/settings_files.h"

#include <cwctype>
#include <map>
#include <memory>

#include "platform/files.h"
#include "platform/paths.h"

std::mutex& SettingsFileLock(std::wstring_view installPath) {
  static std::mutex tableLock;
  static std::map<std::wstring, std::unique_ptr<std::mutex>> locks;
  std::wstring key(installPath);
  for (wchar_t& c : key) c = c == L'\\' ? L'/' : static_cast<wchar_t>(std::towlower(c));
  std::lock_guard guard(tableLock);
  auto& slot = locks[key];
  if (!slot) slot = std::make_unique<std::mutex>();
  return *slot;
}

std::string ReadFileText(std::wstring_view installPath) {
  std::filesystem::path path = plat::RealPath(installPath);
  if (path.empty()) return {};
  return plat::ReadFileBytes(path).value_or(std::string());
}

bool WriteFileTextLocked(std::wstring_view installPath, std::string_view bytes) {
  std::filesystem::path path = plat::RealPath(installPath);
  return !path.empty() && plat::WriteFileAtomic(path, bytes);
}

bool WriteFileText(std::wstring_view installPath, std::string_view bytes) {
  std::lock_guard lock(SettingsFileLock(installPath));
  return WriteFileTextLocked(installPath, bytes);
}
