// Stand-ins for page-side pieces that are not built yet. Each logs once that it is missing.
#include <atomic>

#include "base/debug_log.h"
#include "ui/services.h"

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define UI_PLACEHOLDER(name)            \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)




