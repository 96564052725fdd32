// NumLock as the "numLockOff" setting asks: the page uses the number-pad keys as control keys.
#include <atomic>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "platform/numlock.h"
#include "ui/services.h"

bool NumLockOffWanted(int mode, bool hasBattery) {
  if (mode == 0) return false;
  if (mode == 1) return hasBattery;
  return true;
}

void ApplyNumLockOff() {
  if (!NumLockOffWanted(Settings.numLockOff, HasBattery())) return;
  if (plat::TurnNumLockOff() == plat::NumLockResult::kNoDisplay) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) DebugLog(L"[NumLock] 화면(X 디스플레이)이 없어 NumLock 을 건드리지 않음");
  }
}
