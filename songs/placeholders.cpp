// Stand-ins for song library pieces until they are built. Each logs once that it is missing.
#include <atomic>
#include <string>

#include "base/debug_log.h"
#include "songs/services.h"

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define SONGS_PLACEHOLDER(name)         \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)

void LoadScoreOctConfig() { SONGS_PLACEHOLDER(L"LoadScoreOctConfig"); }
void LoadUserMarks() { SONGS_PLACEHOLDER(L"LoadUserMarks"); }
