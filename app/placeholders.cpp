// Stand-ins for shell pieces that are not built yet. Each logs once that it is missing.
#include <atomic>
#include <string>

#include "app/debug_log.h"
#include "app/startup.h"

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define APP_PLACEHOLDER(name)           \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)

void RunStartupLoad() { APP_PLACEHOLDER(L"RunStartupLoad"); }
void RunStartupUpdates() { APP_PLACEHOLDER(L"RunStartupUpdates"); }
