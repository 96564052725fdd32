#include "assist/helper_agents.h"

#include <mutex>

#include "assist/helper_log.h"
#include "base/text.h"
#include "online/https.h"
#include "platform/codepage.h"
#include "platform/https_client.h"

namespace {
std::mutex agentsMutex;
std::vector<SupportAgent> agentList;
}  // namespace

std::wstring Utf8ToWideOrCp949(std::string_view bytes) {
  if (bytes.empty()) return {};
  std::wstring text = plat::Utf8BytesToWide(bytes);
  if (!text.empty()) return text;
  return plat::AnsiToWide(bytes);
}

std::string HttpsGet(std::wstring_view host, std::wstring_view path) {
  plat::HttpsCall call;
  call.host = WideToUtf8(host);
  call.path = WideToUtf8(path);
  call.userAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64)";
  return plat::HttpsExchange(std::move(call)).body;
}

std::vector<SupportAgent> ReadHelperAgents(std::string_view body) {
  if (body.empty()) {
    WriteHelperLog(L"지원자 목록을 받지 못했습니다(인터넷 확인)");
    return {};
  }
  std::vector<SupportAgent> agents;
  std::wstring first;
  if (!ParseSupportAgentList(Utf8ToWideOrCp949(body), &agents, &first)) {
    WriteHelperLog(L"목록 오류: " + first);
    return {};
  }
  WriteHelperLog(L"지원 가능한 곳 " + std::to_wstring(agents.size()) + L"곳");
  return agents;
}

std::vector<SupportAgent> FetchHelperAgents() { return ReadHelperAgents(HttpsGet(WebHost(), kHelperAgentsPath)); }

void ReplaceHelperAgents(std::vector<SupportAgent> agents) {
  std::lock_guard lock(agentsMutex);
  agentList = std::move(agents);
}

bool HelperAgentsEmpty() {
  std::lock_guard lock(agentsMutex);
  return agentList.empty();
}

std::optional<SupportAgent> FirstHelperAgent() {
  std::lock_guard lock(agentsMutex);
  if (agentList.empty()) return std::nullopt;
  return agentList.front();
}
