// Stand-ins for the online services until they are built. Each logs once that it is missing.
#include <atomic>
#include <string>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "online/services.h"

OnlineState Online;

namespace {
void LogOnce(std::atomic<bool>& done, const wchar_t* name) {
  if (!done.exchange(true)) DebugLog(std::wstring(name) + L": 아직 지원되지 않음");
}
}  // namespace

#define ONLINE_PLACEHOLDER(name)        \
  static std::atomic<bool> logged{false}; \
  LogOnce(logged, name)


void NetStatusThread() { ONLINE_PLACEHOLDER(L"NetStatusThread"); }
// The resume never happens: the flag its starter set goes back to 0.
void ResumeSupportThread() {
  ONLINE_PLACEHOLDER(L"ResumeSupportThread");
  Online.RemoteSupportActive.store(0);
}
