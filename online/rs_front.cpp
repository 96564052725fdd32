#include "online/rs_front.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <chrono>
#include <thread>

#include "base/debug_log.h"
#include "base/test_switches.h"
#include "base/page_script.h"
#include "base/text.h"
#include "online/account.h"
#include "online/https.h"
#include "online/services.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sockets.h"

RemoteSupportFrontState RsFront;

namespace {

// Decimal after optional blanks: an optional sign and the leading digits; no number gives 0.
int ConfigNumber(std::string_view value) { return LeadingInt(value); }

std::wstring DefaultHost() {
  std::lock_guard<std::mutex> lock(RsFront.hostMutex);
  return RsFront.DefaultSupportHost;
}

void EndRequest() { Online.RemoteSupportActive.store(0); }

// host and port of "host:port" (the port after the last colon), else host and the default port.
std::pair<std::string, std::string> HostAndPort(const std::string& text, const char* defaultPort) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return {text, defaultPort};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

// The public resolvers that tell whether the internet is there: TAVELO_NET_PROBE ("host:port"
// entries separated by ";") replaces them, so tests reach only loopback.
std::vector<std::pair<std::string, std::string>> ResolverTargets() {
  std::string list = NetProbeSwitch();
  if (list.empty()) list = "1.1.1.1:53;8.8.8.8:53";
  std::vector<std::pair<std::string, std::string>> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) out.push_back(HostAndPort(list.substr(start, end - start), "53"));
    start = end + 1;
  }
  return out;
}

}  // namespace

void LoadSupportConfig() {
  std::optional<std::string> bytes = plat::ReadFileBytes(plat::RealPath(kSupportConfigFile));
  if (!bytes) return;
  auto& cfg = RsClient.SupportConfig;
  ForEachTextLine(*bytes, [&](std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
      line.remove_suffix(1);
    if (line.empty() || line[0] == '#' || line[0] == ';') return;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "host") {
      std::lock_guard<std::mutex> lock(RsFront.hostMutex);
      RsFront.DefaultSupportHost = Utf8ToWide(value);
    } else if (key == "port") {
      // A number outside the port range would be cut to some other port: the one before stays.
      if (int port = ConfigNumber(value); port >= 1 && port <= 65535) cfg.port = port;
    } else if (key == "key") {
      SetSupportSharedKey(std::string(value));
    } else if (key == "quality") {
      cfg.quality = ConfigNumber(value);
    } else if (key == "fps") {
      cfg.framesPerSecond = ConfigNumber(value);
    } else if (key == "scale") {
      cfg.scalePercent = ConfigNumber(value);
    }
  });
  cfg.quality = std::clamp(cfg.quality.load(), 20, 95);
  cfg.framesPerSecond = std::clamp(cfg.framesPerSecond.load(), 1, 15);
  cfg.scalePercent = std::clamp(cfg.scalePercent.load(), 40, 100);
}

MemberInfo FetchMemberInfo() {
  MemberInfo m;
  m.id = LoadAccountId();
  if (m.id.empty()) {
    m.name = L"(아이디 미설정)";
    return m;
  }
  std::string body = HttpsGetText(WebHost(), L"/bbs/test.php?mb_id=" + m.id);
  if (body.empty()) {
    m.name = L"(오프라인 - 확인 불가)";
    return m;
  }
  FlatJsonMap json = ParseFlatJson(Utf8ToWide(body));
  auto it = json.find(L"mb_name");
  m.name = it != json.end() ? it->second : L"(이름 없음)";
  return m;
}

std::vector<SupportAgent> FetchSupportAgents(const std::wstring& memberId) {
  std::string body = HttpsGetText(WebHost(), L"/bbs/support_agents.php?act=list&mb=" + memberId + L"&lock=");
  if (body.empty()) {
    RsLog(L"[RS] 지원자 목록 조회 실패(서버 응답 없음)");
    return {};
  }
  std::wstring text;
  if (!plat::DecodeUtf8StrictInto(body, text)) text = plat::AnsiToWide(body);
  std::vector<SupportAgent> agents;
  std::wstring first;
  if (!ParseSupportAgentList(text, &agents, &first)) {
    RsLog(L"[RS] 지원자 목록 오류: " + first);
    return {};
  }
  RsLog(L"[RS] 지원 가능한 곳 " + std::to_wstring(agents.size()) + L"곳 확인");
  return agents;
}

std::wstring SupportPickerScript(const MemberInfo& member, const std::vector<SupportAgent>& agents) {
  std::wstring list;
  for (size_t i = 0; i < agents.size(); ++i) {
    if (i) list += L",";
    list += L"{name:'" + EscapeSupportText(agents[i].name) + L"',id:'" + EscapeSupportText(agents[i].slot) + L"'}";
  }
  // The page shows these texts as text; here they only have to stay inside their literals.
  return GuardedScript(L"showRemoteSupportDialog({name:'" + EscapeSupportText(member.name) + L"',id:'" +
                           EscapeSupportText(member.id) + L"'},[" + list + L"]);",
                       L"showRemoteSupportDialog");
}

int PickSupportAgent(const MemberInfo& member, const std::vector<SupportAgent>& agents) {
  RsFront.SupportPickIndex = -2;
  PostScriptToPage(SupportPickerScript(member, agents));
  int tests = RsFront.pickTests.load();
  for (int i = 0; i < tests; ++i) {
    if (RsFront.SupportPickIndex.load() != -2 || RsClient.SessionStopFlag.load()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  int pick = RsFront.SupportPickIndex.load();
  if (pick == -2) {
    PostScriptToPage(PageCall(L"hideRemoteSupportDialog"));
    return -1;
  }
  if (pick < 0 || static_cast<size_t>(pick) >= agents.size()) return -1;
  return pick;
}

void StartRemoteSupport() {
  uint8_t idle = 0;
  if (!Online.RemoteSupportActive.compare_exchange_strong(idle, 1)) {
    PostAlertToPage(L"이미 원격지원이 진행 중입니다.");
    return;
  }
  std::thread(RemoteSupportThread).detach();
}

void StopRemoteSupport() {
  if (!Online.RemoteSupportActive.load()) return;
  RsClient.SupportUserStopFlag = 1;
  RsClient.SessionStopFlag = 1;
  DeleteRsResumeFile();
  ShutdownSupportSocket();
  DebugLog(L"[RS] 사용자가 지원 종료를 눌렀습니다");
}

void SetSupportPick(int index) { RsFront.SupportPickIndex = index; }

void RemoteSupportThread() {
  LoadSupportConfig();
  RsClient.SupportUserStopFlag = 0;
  RsClient.ViewerEndedFlag = 0;
  RsClient.SessionStopFlag = 0;
  ShowSupportBanner(L"원격지원 준비 중 - 회원 정보를 확인하고 있습니다...", false);
  MemberInfo member = FetchMemberInfo();
  ShowSupportBanner(L"원격지원 준비 중 - 지원 가능한 곳을 찾고 있습니다...", false);
  std::vector<SupportAgent> agents = FetchSupportAgents(member.id);
  if (agents.empty()) {
    SupportAgent a;
    a.name = L"본사 (기본 연락처)";
    a.host = DefaultHost();
    a.port = RsClient.SupportConfig.port.load();
    a.direct = false;
    agents.push_back(a);
    RsLog(L"[RS] 대기 중인 지원처가 없어 기본 연락처만 표시");
  }
  HideSupportBanner();
  int pick = PickSupportAgent(member, agents);
  if (pick < 0) {
    RsLog(L"[RS] 사용자가 원격지원을 취소함");
    EndRequest();
    return;
  }
  const SupportAgent& a = agents[static_cast<size_t>(pick)];
  SupportTarget target;
  target.host = a.host;
  target.lan = a.lan;
  target.port = a.port;
  target.slot = a.slot;
  target.relayHost = a.relayHost;
  target.relayPort = a.relayPort;
  target.direct = a.direct;
  target.name = a.name.empty() ? a.slot : a.name;
  RsLog(L"[RS] 지원처 선택: " + target.name + L" (" + target.host + L":" + std::to_wstring(target.port) + L")");
  std::wstring error;
  int result = RunSupportSession(target, member, false, &error);
  if (result == kRsFailed) {
    DeleteRsResumeFile();
    HideSupportBanner();
    PostAlertToPage(L"[ " + target.name + L" ] 에 연결하지 못했습니다.\n\n시도한 주소\n" + error +
                    L"\n\n상대방에게 이렇게 확인해달라고 알려주세요.\n  1) 원격지원 프로그램이 켜져 있는지\n  2) 공유기에서 " +
                    std::to_wstring(target.port) + L"번 포트를 그 PC 로 열어뒀는지\n  3) 윈도우 방화벽에서 차단하지 않았는지");
  } else if (result == kRsEnded || RsClient.SupportUserStopFlag.load()) {
    DeleteRsResumeFile();
    HideSupportBanner();
    RsLog(L"[RS] 원격지원 종료");
    PostAlertToPage(L"원격지원이 종료되었습니다.");
  } else {
    ReconnectSupportSession(target, member);
  }
  EndRequest();
}

// The pause before a restart rejoins: TAVELO_RS_RESUME_DELAY_MS (milliseconds, 0 to 60000) replaces
// the built-in one, so tests need not wait it out.
static int ResumeDelayMs() {
  const std::string text = RsResumeDelaySwitch();
  if (text.empty()) return RsFront.resumeDelayMs.load();
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || value < 0) return RsFront.resumeDelayMs.load();
  return static_cast<int>(std::min<long>(value, 60000));
}

void ResumeSupportThread() {
  std::this_thread::sleep_for(std::chrono::milliseconds(ResumeDelayMs()));
  SupportTarget target;
  if (!LoadRsResumeFile(&target)) {
    EndRequest();
    return;
  }
  LoadSupportConfig();
  RsClient.SupportUserStopFlag = 0;
  RsClient.ViewerEndedFlag = 0;
  RsLog(L"[RS] 재시작 감지 - [ " + target.name + L" ] 에 원격지원을 다시 잇습니다");
  MemberInfo member = FetchMemberInfo();
  std::wstring error;
  int result = RunSupportSession(target, member, true, &error);
  if (result != kRsLost || RsClient.SupportUserStopFlag.load()) {
    DeleteRsResumeFile();
    HideSupportBanner();
    if (result == kRsFailed) RsLog(L"[RS] 이어붙이기 실패: " + error);
  } else {
    ReconnectSupportSession(target, member);
  }
  EndRequest();
}

int RunNetProbe(int previous) {
  auto [host, port] = HostAndPort(WideToUtf8(WebHost()), "443");
  int state = 0;
  if (plat::ProbeTcp(host, port, 3000)) {
    state = 2;
  } else {
    for (const auto& [h, p] : ResolverTargets())
      if (plat::ProbeTcp(h, p, 2000)) {
        state = 1;
        break;
      }
  }
  PostScriptToPage(PageCall(L"setNetStatus", state));
  if (state != previous) {
    std::wstring name = Utf8ToWide(host);
    DebugLog(state == 2   ? L"[NET] 인터넷 정상 (" + name + L" 연결 확인)"
             : state == 1 ? L"[NET] 인터넷은 연결됨 / " + name + L" 응답 없음"
                          : std::wstring(L"[NET] 인터넷 연결 끊김"));
  }
  return state;
}

void NetStatusThread() {
  std::this_thread::sleep_for(std::chrono::seconds(3));
  int state = -1;
  for (;;) {
    state = RunNetProbe(state);
    std::this_thread::sleep_for(std::chrono::seconds(state == 2 ? 15 : 7));
  }
}
