// Stand-ins for the online services until they are built. Each logs once that it is missing.
#include <atomic>
#include <chrono>
#include <thread>
#include <string>

#include "base/debug_log.h"
#include "base/page_script.h"
#include "online/rs_receive.h"
#include "online/rs_session.h"
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



// Until screen capture is built the session reports a full-HD monitor at the origin and sends no
// pictures: the sender only waits for the session's end.
RsRect CaptureMonitorRect() {
  ONLINE_PLACEHOLDER(L"CaptureMonitorRect");
  return RsRect{0, 0, 1920, 1080};
}
void RunScreenSender(RsConnection&) {
  ONLINE_PLACEHOLDER(L"RunScreenSender");
  while (!RsClient.SessionStopFlag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
void InjectRemoteMouse(const RemoteMouseEvent&) { ONLINE_PLACEHOLDER(L"InjectRemoteMouse"); }
void InjectRemoteKey(const RemoteKeyEvent&) { ONLINE_PLACEHOLDER(L"InjectRemoteKey"); }
