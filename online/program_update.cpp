#include "online/program_update.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/debug_log.h"
#include "online/services.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const wchar_t* kProgramUpdateCfg = L"C:/tavelo/system/program_update.cfg";

}  // namespace

int ReadProgramUpdateCfg() {
  auto bytes = plat::ReadFileBytes(plat::RealPath(kProgramUpdateCfg));
  if (!bytes) return -1;
  std::string line = bytes->substr(0, bytes->find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (line.empty()) return -1;
  // Read as atoi reads: blanks, a sign, the leading digits; 0 when there are none. Clamped, so a
  // long run of digits cannot overflow.
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (line[i] == '+' || line[i] == '-') negative = line[i++] == '-';
  long long value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    value = std::min<long long>(value * 10 + (line[i] - '0'), 1LL << 31);
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

void SaveProgramUpdateCfg(int postNumber) {
  plat::WriteFileAtomic(plat::RealPath(kProgramUpdateCfg), std::to_string(postNumber));
}

fs::path PreviousProgramPath() {
  fs::path exe = plat::ExecutablePath();
  if (exe.empty()) return {};
  return exe.parent_path() / (exe.filename().string() + "_old");
}

bool SwapProgramExe(const fs::path& newExePath) {
  fs::path exe = plat::ExecutablePath();
  if (exe.empty()) return false;
  if (!plat::SwapProgramFile(newExePath, exe, PreviousProgramPath())) return false;
  // The new instance waits for this one to close before it takes over.
  plat::StartProgram(exe, exe.parent_path(), true);
  return true;
}

void RestartSelf() {
  fs::path exe = plat::ExecutablePath();
  if (!exe.empty()) plat::StartProgram(exe, {}, true);
  plat::PostWindowMessage(plat::kWmClose);
}
