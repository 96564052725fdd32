#include "assist/helper_log.h"

#include <cstdio>
#include <fstream>
#include <mutex>
#include <system_error>

#include "base/text.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

fs::path GetExeFolder() {
  fs::path folder = plat::ExecutablePath().parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

std::string HelperLogLine(std::wstring_view text, const plat::LocalTime& time) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", time.hour, time.minute, time.second);
  return stamp + WideToUtf8(text) + "\r\n";
}

bool AppendHelperLogLine(const fs::path& file, std::wstring_view text, const plat::LocalTime& time) {
  std::error_code ec;
  const bool existed = fs::exists(file, ec);
  std::ofstream out(file, std::ios::binary | std::ios::app);
  if (!out) return false;
  if (!existed) out << "\xEF\xBB\xBF";
  out << HelperLogLine(text, time);
  return static_cast<bool>(out);
}

void WriteHelperLog(std::wstring_view text) {
  // The folder is taken once, at the first line.
  static const fs::path file = GetExeFolder() / fs::path(WideToUtf8(kHelperLogName));
  static std::mutex lock;
  std::lock_guard guard(lock);
  AppendHelperLogLine(file, text, plat::LocalNow());
}
