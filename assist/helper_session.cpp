#include "assist/helper_session.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "assist/helper_log.h"
#include "base/text.h"
#include "online/rs_receive.h"
#include "online/rs_session.h"
#include "platform/keypad_window.h"
#include "platform/sockets.h"

HelperSessionState Helper;

namespace {

void ShowConnectFailure() {
  ShowHelperStatus(L"연결하지 못했습니다. 관리자에게 전화해 주세요.");
  if (Helper.warning)
    Helper.warning(L"원격 도우미",
                   L"관리자 PC 에 연결하지 못했습니다.\n\n· 인터넷이 되는지\n· 관리자가 원격 프로그램을 켜두었는지\n"
                   L"확인하고 다시 눌러주세요.");
}

int64_t Overlap(const plat::ScreenRect& a, const plat::ScreenRect& b) {
  int64_t w = std::min(a.right, b.right) - std::max(a.left, b.left);
  int64_t h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return (w > 0 && h > 0) ? w * h : 0;
}

RsRect ToRsRect(const plat::ScreenRect& r) { return RsRect{r.left, r.top, r.right, r.bottom}; }

// The session with a connected, published socket: challenge, hello, the wait, the session.
void RunConnected(RsConnection& connection, const std::wstring& customerName) {
  plat::SetSocketNoDelay(connection.socket);

  std::optional<plat::ScreenRect> screen = plat::KeypadScreenRect();
  RsRect monitor = PickKeypadMonitor(plat::ListMonitors(), plat::KeypadWindowRect(),
                                     screen ? ToRsRect(*screen) : RsRect{0, 0, 1920, 1080});
  RsClient.RsCaptureRect = monitor;
  ComputeSentSize(monitor.right - monitor.left, monitor.bottom - monitor.top, 100, &RsClient.RsSentWidth,
                  &RsClient.RsSentHeight);

  std::optional<std::string> nonce = ReadRsChallenge(connection.socket);
  if (!nonce) {
    WriteHelperLog(L"접속 확인 실패");
    CloseSessionSocket(connection);
    ShowHelperStatus(L"관리자 프로그램이 응답하지 않습니다");
    return;
  }
  plat::SetSocketReceiveTimeout(connection.socket, 0);
  std::string hello = BuildSupportHello(HelperHelloValues(ComputeRsAuth(*nonce, kSupportSharedKey), customerName,
                                                          RsClient.RsSentWidth, RsClient.RsSentHeight,
                                                          Utf8ToWide(plat::ComputerName())));
  if (!SendRsFrame(connection, RsMessageType::Hello, hello.data(), hello.size())) {
    CloseSessionSocket(connection);
    ShowHelperStatus(L"연결이 끊어졌습니다");
    return;
  }
  ShowHelperStatus(L"관리자를 기다리는 중입니다. 잠시만 기다려 주세요...");
  if (WaitForRsAccept(connection, 0, RsClient.SessionStopFlag, true) != RsWaitResult::Accepted) {
    CloseSessionSocket(connection);
    ShowHelperStatus(L"원격지원이 끝났습니다");
    return;
  }

  ShowHelperStatus(L"● 원격지원 중입니다 - 끝나면 [종료] 를 눌러주세요");
  std::thread receiver([&connection] { RsReceiveLoop(connection, [](const std::wstring& n) { ShowHelperStatus(n); }); });
  RunScreenSender(connection);

  RsClient.SessionStopFlag.store(1);
  // Shut down first so the receive thread's read ends; close only once it has left.
  {
    std::lock_guard<std::mutex> lock(RsClient.socketMutex);
    plat::ShutdownSocket(connection.socket);
  }
  receiver.join();
  CloseSessionSocket(connection);
  ShowHelperStatus(L"원격지원이 끝났습니다. 창을 닫으셔도 됩니다.");
  WriteHelperLog(L"세션 종료");
}

}  // namespace

void ShowHelperStatus(const std::wstring& text) {
  if (Helper.status) Helper.status(text);
  WriteHelperLog(text);
}

RsRect PickKeypadMonitor(const std::vector<plat::MonitorInfo>& monitors, const std::optional<plat::ScreenRect>& window,
                         const RsRect& fallback) {
  const plat::MonitorInfo* best = nullptr;
  int64_t bestArea = 0;
  if (window) {
    for (const auto& m : monitors) {
      int64_t area = Overlap(m.rect, *window);
      if (area > bestArea) {
        best = &m;
        bestArea = area;
      }
    }
  }
  if (!best)
    for (const auto& m : monitors)
      if (m.primary) best = &m;
  if (!best && !monitors.empty()) best = &monitors.front();
  return best ? ToRsRect(best->rect) : fallback;
}

SupportHelloValues HelperHelloValues(const std::wstring& auth, const std::wstring& customerName, int32_t width,
                                     int32_t height, const std::wstring& pc) {
  SupportHelloValues v;
  v.auth = auth;
  v.name = customerName.empty() ? L"(설치 전)" : customerName;
  v.id = L"설치전";
  v.lock = L"-";
  v.expiry = L"-";
  v.ver = L"원격도우미";
  v.songs = L"0";
  v.w = std::to_wstring(width);
  v.h = std::to_wstring(height);
  v.resume = L"0";
  v.pc = pc;
  return v;
}

void RunHelperSession(SupportAgent agent, std::wstring customerName) {
  RsClient.SessionStopFlag.store(0);
  RsClient.ViewerEndedFlag.store(0);
  RsConnection connection;
  bool connected = false;
  for (const ConnectCandidate& c : BuildConnectCandidates(agent)) {
    if (RsClient.SessionStopFlag.load()) break;
    ShowHelperStatus(L"연결하는 중입니다... (" + c.label + L")");
    int error = 0;
    int s = c.viaRelay ? ConnectViaRelay(agent.relayHost, agent.relayPort, agent.slot, &error)
                       : ConnectWithTimeout(c.host, c.port, c.timeoutMs, &error);
    if (s >= 0) {
      connection.socket = s;
      connected = true;
      WriteHelperLog(L"접속 성공 - " + c.label);
      break;
    }
    ShowHelperStatus(L"접속 실패 - " + c.label + L" (" + ConnectErrorText(error) + L")");
  }
  if (connected) {
    PublishSocket(&connection);
    // A window close that came while connecting found no socket to shut down: end here.
    if (RsClient.SessionStopFlag.load()) {
      CloseSessionSocket(connection);
      connected = false;
    }
  }
  if (connected)
    RunConnected(connection, customerName);
  else
    ShowConnectFailure();
  RsClient.SessionStopFlag.store(1);
  Helper.SessionActiveFlag.store(0);
  if (Helper.ended) Helper.ended();
}
