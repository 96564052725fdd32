#pragma once
// The customer support program's list of waiting support agents: fetched from the vendor web
// server, kept process-wide under one lock, and the decoding of text from the network.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/rs_wire.h"

// The list request's path: this program never sends a member id or a lock value.
inline constexpr std::wstring_view kHelperAgentsPath = L"/bbs/support_agents.php?act=list&mb=&lock=";

// UTF-8 with every invalid byte as U+FFFD; code page 949 only when that yields nothing.
std::wstring Utf8ToWideOrCp949(std::string_view bytes);

// GET over HTTPS with this program's user agent: the body bytes, possibly empty.
std::string HttpsGet(std::wstring_view host, std::wstring_view path);

// The agents of the vendor web server's answer (empty on any failure), each step logged.
std::vector<SupportAgent> FetchHelperAgents();
// The same for an already received body.
std::vector<SupportAgent> ReadHelperAgents(std::string_view body);

// The process-wide list: replaced whole, read under the same lock.
void ReplaceHelperAgents(std::vector<SupportAgent> agents);
bool HelperAgentsEmpty();
std::optional<SupportAgent> FirstHelperAgent();
