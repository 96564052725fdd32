// Stand-ins for page-side pieces that are not built yet. Each logs once that it is missing.
#include <atomic>

#include "app/debug_log.h"
#include "ui/page_boot.h"
#include "ui/services.h"

std::atomic<uint8_t> LiteModeActive{0};

void ApplyNumLockOff() {
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) DebugLog(L"ApplyNumLockOff: 아직 지원되지 않음");
}

void OnMainNavigationCompleted() {
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) DebugLog(L"OnMainNavigationCompleted: 아직 지원되지 않음");
}

void OpenCustomerWindow(int) {
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) DebugLog(L"OpenCustomerWindow: 아직 지원되지 않음");
}
