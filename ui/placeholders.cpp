// Stand-ins for page-side pieces that are not built yet. Each logs once that it is missing.
#include <atomic>

#include "app/debug_log.h"
#include "ui/page_boot.h"

void OnMainNavigationCompleted() {
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) DebugLog(L"OnMainNavigationCompleted: 아직 지원되지 않음");
}
