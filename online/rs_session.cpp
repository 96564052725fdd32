#include "online/rs_session.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "base/page_script.h"
#include "base/text.h"
#include "online/rs_receive.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sockets.h"
#include "songs/song_list.h"

namespace {

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Sleeps up to ms in small steps, leaving early once `leave` says so; true when it left early.
template <typename Fn>
bool WaitUnless(int ms, int stepMs, Fn&& leave) {
  for (int waited = 0; waited < ms; waited += stepMs) {
    if (leave()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(stepMs, ms - waited)));
  }
  return leave();
}

void ResumeKeeperThread(const std::atomic<bool>& running, SupportTarget target) {
  while (running.load()) {
    WaitUnless(RsClient.keeperPeriodMs.load(), 100, [&] { return !running.load(); });
    if (running.load()) SaveRsResumeFile(target);
  }
}

std::wstring Endpoint(const ConnectCandidate& c) { return c.label + L" " + c.host + L":" + std::to_wstring(c.port); }

}  // namespace

void PublishSocket(RsConnection* connection) {
  std::lock_guard<std::mutex> lock(RsClient.socketMutex);
  RsClient.SupportSessionSocket = connection;
}

void CloseSessionSocket(RsConnection& connection) {
  std::lock_guard<std::mutex> lock(RsClient.socketMutex);
  {
    std::lock_guard<std::mutex> send(connection.sendLock);
    plat::CloseSocket(connection.socket);
    connection.socket = plat::kInvalidSocket;
  }
  RsClient.SupportSessionSocket = nullptr;
}

void ComputeSentSize(int monitorWidth, int monitorHeight, int scalePercent, int32_t* width, int32_t* height) {
  int w = static_cast<int>(static_cast<int64_t>(monitorWidth) * scalePercent / 100) & ~1;
  int h = static_cast<int>(static_cast<int64_t>(monitorHeight) * scalePercent / 100) & ~1;
  if (w < 320) {
    w = monitorWidth;
    h = monitorHeight;
  }
  *width = w;
  *height = h;
}

std::wstring EscapeSupportText(std::wstring_view text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\r' || c == L'\n') {
      out.push_back(L' ');
      continue;
    }
    if (c == L'\'' || c == L'\\') out.push_back(L'\\');
    out.push_back(c);
  }
  return out;
}

std::wstring SupportBannerScript(std::wstring_view text, bool active) {
  std::wstring shown;
  for (wchar_t c : text) shown.push_back(c == L'\r' || c == L'\n' ? L' ' : c);
  // The text goes in as a text node, so nothing from the network becomes markup.
  std::wstring code =
      L"var b=document.getElementById('rs-banner');"
      L"if(!b){b=document.createElement('div');b.id='rs-banner';document.body.appendChild(b);}"
      L"b.style.cssText='position:fixed;left:0;top:0;width:100%;z-index:2147483000;background:" +
      std::wstring(active ? L"rgba(200,25,25,0.93)" : L"rgba(200,130,20,0.93)") +
      L";color:#fff;font-family:\"Malgun Gothic\",sans-serif;font-size:17px;font-weight:800;padding:8px 12px;"
      L"text-align:center;box-shadow:0 2px 10px rgba(0,0,0,.5);box-sizing:border-box';"
      L"b.textContent=" + ScriptString(shown + L"\u00a0\u00a0") + L";"
      L"var s=document.createElement('button');s.textContent='지원 종료';"
      L"s.style.cssText='padding:4px 14px;font-size:15px;font-weight:800;color:#000;background:#fff;border:none;"
      L"border-radius:6px;cursor:pointer';"
      L"s.onclick=function(){window.chrome.webview.postMessage('REMOTE_SUPPORT_STOP');};b.appendChild(s);";
  return GuardedScript(code);
}

void ShowSupportBanner(std::wstring_view text, bool active) { PostScriptToPage(SupportBannerScript(text, active)); }

void HideSupportBanner() {
  PostScriptToPage(GuardedScript(L"var b=document.getElementById('rs-banner');if(b)b.remove();"));
}

void SaveRsResumeFile(const SupportTarget& t) {
  std::wstring text = L"host=" + t.host + L"\r\nlan=" + t.lan + L"\r\nport=" + std::to_wstring(t.port) + L"\r\nname=" +
                      t.name + L"\r\nslot=" + t.slot + L"\r\ndirect=" + (t.direct ? L"1" : L"0") + L"\r\nrelayhost=" +
                      t.relayHost + L"\r\nrelayport=" + std::to_wstring(t.relayPort) + L"\r\nat=" +
                      std::to_wstring(NowSeconds()) + L"\r\n";
  plat::WriteFileAtomic(plat::RealPath(kRsResumeFile), WideToUtf8(text));
}

void DeleteRsResumeFile() {
  std::error_code ec;
  std::filesystem::remove(plat::RealPath(kRsResumeFile), ec);
}

bool LoadRsResumeFile(SupportTarget* out) {
  std::optional<std::string> bytes = plat::ReadFileBytes(plat::RealPath(kRsResumeFile));
  if (!bytes) return false;
  SupportTarget t;
  t.port = 7777;
  int64_t at = 0;
  size_t start = 0;
  while (start <= bytes->size()) {
    size_t end = bytes->find('\n', start);
    if (end == std::string::npos) end = bytes->size();
    std::string line = bytes->substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.pop_back();
    size_t eq = line.find('=');
    if (line.empty() || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (key == "host") t.host = Utf8ToWide(value);
    else if (key == "lan") t.lan = Utf8ToWide(value);
    else if (key == "name") t.name = Utf8ToWide(value);
    else if (key == "slot") t.slot = Utf8ToWide(value);
    else if (key == "relayhost") t.relayHost = Utf8ToWide(value);
    else if (key == "port") t.port = LeadingInt(value);
    else if (key == "relayport") t.relayPort = LeadingInt(value);
    else if (key == "direct") t.direct = LeadingInt(value) != 0;
    else if (key == "at") {
      // A 64-bit decimal; anything unreadable counts as 0.
      try {
        at = std::stoll(value);
      } catch (...) {
        at = 0;
      }
    }
  }
  if (t.host.empty() && t.lan.empty() && t.relayHost.empty()) {
    DeleteRsResumeFile();
    return false;
  }
  if (at <= 0 || NowSeconds() - at > 600) {
    RsLog(L"[RS] 이어붙이기 표시가 오래돼 무시합니다");
    DeleteRsResumeFile();
    return false;
  }
  *out = t;
  return true;
}

void ShutdownSupportSocket() {
  std::lock_guard<std::mutex> lock(RsClient.socketMutex);
  if (RsClient.SupportSessionSocket) plat::ShutdownSocket(RsClient.SupportSessionSocket->socket);
}

int RunSupportSession(const SupportTarget& target, const MemberInfo& member, bool resume, std::wstring* errorText) {
  RsClient.SessionStopFlag.store(0);
  errorText->clear();
  std::vector<ConnectCandidate> candidates = BuildConnectCandidates(target);
  if (candidates.empty()) return kRsFailed;

  RsConnection connection;
  const ConnectCandidate* used = nullptr;
  for (const ConnectCandidate& c : candidates) {
    if (RsClient.SessionStopFlag.load()) break;
    ShowSupportBanner(resume ? L"원격지원을 다시 잇는 중입니다... (" + c.label + L")"
                             : L"[ " + target.name + L" ] 에 연결하는 중입니다... (" + c.label + L")",
                      false);
    int error = 0;
    int s = c.viaRelay ? ConnectViaRelay(target.relayHost, target.relayPort, target.slot, &error)
                       : ConnectWithTimeout(c.host, c.port, c.timeoutMs, &error);
    if (s >= 0) {
      connection.socket = s;
      used = &c;
      break;
    }
    RsLog(L"[RS] 접속 실패 - " + Endpoint(c) + L" (오류 " + std::to_wstring(error) + L")");
    if (!errorText->empty()) *errorText += L"\n";
    *errorText += L"  · " + Endpoint(c) + L"  →  " + ConnectErrorText(error);
  }
  if (!used) return kRsFailed;
  PublishSocket(&connection);
  // A stop that came while connecting (it found no socket to shut down) ends the attempt here.
  if (RsClient.SessionStopFlag.load()) {
    CloseSessionSocket(connection);
    return kRsFailed;
  }
  RsLog(L"[RS] 접속 성공 - " + Endpoint(*used));
  plat::SetSocketNoDelay(connection.socket);

  RsRect monitor = CaptureMonitorRect();
  RsClient.RsCaptureRect = monitor;
  ComputeSentSize(monitor.right - monitor.left, monitor.bottom - monitor.top, RsClient.SupportConfig.scalePercent.load(),
                  &RsClient.RsSentWidth, &RsClient.RsSentHeight);

  std::optional<std::string> nonce = ReadRsChallenge(connection.socket);
  if (!nonce) {
    CloseSessionSocket(connection);
    RsLog(L"[RS] 접속 확인(nonce) 실패");
    *errorText = L"상대 프로그램이 응답하지 않습니다";
    return kRsFailed;
  }
  SupportHelloValues hello;
  hello.auth = ComputeRsAuth(*nonce, SupportSharedKey());
  hello.name = member.name;
  hello.id = member.id;
  hello.ver = L"12.9";
  hello.songs = std::to_wstring(GetSongCount());
  hello.w = std::to_wstring(RsClient.RsSentWidth);
  hello.h = std::to_wstring(RsClient.RsSentHeight);
  hello.resume = resume ? L"1" : L"0";
  hello.pc = Utf8ToWide(plat::ComputerName());
  std::string helloBytes = BuildSupportHello(hello);
  if (!SendRsFrame(connection, RsMessageType::Hello, helloBytes.data(), helloBytes.size())) {
    CloseSessionSocket(connection);
    return kRsFailed;
  }
  RsLog(L"[RS] 원격지원 접속" + std::wstring(resume ? L"(이어붙이기)" : L"") + L" - 회원=" + member.name);
  ShowSupportBanner(resume ? L"원격지원을 다시 잇는 중입니다. 잠시만 기다려 주세요..."
                           : L"[ " + target.name + L" ] 응답을 기다리는 중입니다. 잠시만 기다려 주세요...",
                    false);

  RsWaitResult wait = WaitForRsAccept(connection, resume ? RsClient.waitRejoinMs.load() : RsClient.waitFreshMs.load(),
                                      RsClient.SessionStopFlag, false);
  if (wait != RsWaitResult::Accepted) {
    CloseSessionSocket(connection);
    RsLog(L"[RS] 지원 수락 없이 종료");
    if (wait == RsWaitResult::Ended || wait == RsWaitResult::Stopped) return kRsEnded;
    *errorText = L"상대가 응답하지 않았습니다";
    return kRsLost;
  }

  SaveRsResumeFile(target);
  ShowSupportBanner(L"● 원격지원 연결 중 - [ " + target.name + L" ] 이(가) 이 화면을 보고 있습니다", true);
  RsLog(L"[RS] 원격지원 시작 - 전송해상도 " + std::to_wstring(RsClient.RsSentWidth) + L"x" +
        std::to_wstring(RsClient.RsSentHeight));
  std::atomic<bool> keeperRunning{true};
  std::thread keeper(ResumeKeeperThread, std::cref(keeperRunning), target);
  std::thread receiver([&connection] {
    RsReceiveLoop(connection, [](const std::wstring& notice) { ShowSupportBanner(notice, true); });
  });
  RunScreenSender(connection);

  keeperRunning.store(false);
  RsClient.SessionStopFlag.store(1);
  // Shut down first so the receive thread's read ends, close only once it has left.
  {
    std::lock_guard<std::mutex> lock(RsClient.socketMutex);
    plat::ShutdownSocket(connection.socket);
  }
  receiver.join();
  CloseSessionSocket(connection);
  keeper.join();
  return (RsClient.SupportUserStopFlag.load() || RsClient.ViewerEndedFlag.load()) ? kRsEnded : kRsLost;
}

void ReconnectSupportSession(const SupportTarget& target, const MemberInfo& member) {
  int attempt = 1;
  while (!RsClient.SupportUserStopFlag.load()) {
    ShowSupportBanner(L"연결이 끊겼습니다. 다시 잇는 중입니다... (" + std::to_wstring(attempt) + L"/12)   ", false);
    if (WaitUnless(RsClient.reconnectPauseMs.load(), 100, [] { return RsClient.SupportUserStopFlag.load() != 0; }))
      break;
    std::wstring error;
    int result = RunSupportSession(target, member, true, &error);
    if (result == kRsEnded) {
      DeleteRsResumeFile();
      HideSupportBanner();
      return;
    }
    if (result == kRsLost) {
      attempt = 1;
      continue;
    }
    if (++attempt > 12) break;
  }
  DeleteRsResumeFile();
  HideSupportBanner();
  if (!RsClient.SupportUserStopFlag.load()) {
    RsLog(L"[RS] 다시 잇기 실패 - 원격지원을 종료합니다");
    PostAlertToPage(L"원격지원 연결이 끊어졌습니다.\n필요하시면 [원격지원] 버튼을 다시 눌러주세요.");
  }
}
