#include "online/rs_wire.h"

#include <algorithm>
#include <cstring>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/crypto.h"
#include "platform/sockets.h"

RsTimeouts RsTimeoutValues;

namespace {

std::atomic<RsLogFn> logFn{nullptr};

uint16_t Le16(const char* p) {
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
}
uint32_t Le32(const char* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }
uint64_t Le64(const char* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

void PutLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// Fills the whole buffer, looping over partial reads.
bool ReadExact(const RsReadFn& read, char* data, size_t length) {
  while (length > 0) {
    long n = read(data, length);
    if (n <= 0 || static_cast<size_t>(n) > length) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool SendAll(int socket, const char* data, size_t length) {
  while (length > 0) {
    long n = plat::SocketSend(socket, data, length);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

std::wstring WithoutLineBreaks(const std::wstring& value) {
  std::wstring out;
  for (wchar_t c : value)
    if (c != L'\r' && c != L'\n') out.push_back(c);
  return out;
}

// The decimal field of an agent line: -1 when there are no digits.
int DecimalField(const std::wstring& field) {
  std::wstring t = TrimBlanks(field);
  size_t i = (!t.empty() && (t[0] == L'+' || t[0] == L'-')) ? 1 : 0;
  if (i >= t.size() || t[i] < L'0' || t[i] > L'9') return -1;
  return LeadingInt(t, true);
}

template <typename T>
std::vector<ConnectCandidate> Candidates(const T& t) {
  std::vector<ConnectCandidate> out;
  if (!t.lan.empty() && t.lan != t.host) out.push_back({L"같은 네트워크", t.lan, t.port, 2500, false});
  if (t.direct && !t.host.empty()) out.push_back({L"인터넷 직접", t.host, t.port, 12000, false});
  if (!t.relayHost.empty() && t.relayPort > 0 && !t.slot.empty())
    out.push_back({L"중계 서버", t.relayHost, t.relayPort, 12000, true});
  if (out.empty() && !t.host.empty()) out.push_back({L"인터넷 직접", t.host, t.port, 12000, false});
  return out;
}

}  // namespace

void SetRsLog(RsLogFn log) { logFn.store(log); }

void RsLog(std::wstring_view line) {
  RsLogFn f = logFn.load();
  if (f)
    f(line);
  else
    DebugLog(line);
}

std::optional<RsFrame> ReadRsFrame(const RsReadFn& read) {
  char head[4];
  if (!ReadExact(read, head, 4)) return std::nullopt;
  uint32_t length = Le32(head);
  if (length > kRsMaxFrameLength) return std::nullopt;
  RsFrame frame;
  char type = 0;
  if (!ReadExact(read, &type, 1)) return std::nullopt;
  frame.type = static_cast<uint8_t>(type);
  // The payload grows with what arrives, so a bare header cannot make us reserve 16 MiB.
  constexpr size_t kStep = 1 << 16;
  while (frame.payload.size() < length) {
    size_t have = frame.payload.size();
    size_t piece = std::min<size_t>(kStep, length - have);
    frame.payload.resize(have + piece);
    if (!ReadExact(read, frame.payload.data() + have, piece)) return std::nullopt;
  }
  return frame;
}

std::optional<RsFrame> RecvFrame(int socket) {
  return ReadRsFrame([socket](void* data, size_t length) { return plat::SocketReceive(socket, data, length); });
}

std::string EncodeRsFrame(uint8_t type, std::string_view payload) {
  std::string out;
  PutLe(out, payload.size(), 4);
  out.push_back(static_cast<char>(type));
  out.append(payload);
  return out;
}

bool SendRsFrame(RsConnection& connection, RsMessageType type, const void* payload, size_t length) {
  if (length > kRsMaxFrameLength) return false;
  std::string head;
  PutLe(head, length, 4);
  head.push_back(static_cast<char>(type));
  std::lock_guard<std::mutex> lock(connection.sendLock);
  if (connection.socket < 0) return false;
  if (!SendAll(connection.socket, head.data(), 4)) return false;
  if (!SendAll(connection.socket, head.data() + 4, 1)) return false;
  return length == 0 || SendAll(connection.socket, static_cast<const char*>(payload), length);
}

std::optional<RemoteMouseEvent> ParseRemoteMouseEvent(std::string_view p) {
  if (p.size() < 7) return std::nullopt;
  return RemoteMouseEvent{Le16(p.data()), Le16(p.data() + 2), static_cast<uint8_t>(p[4]),
                          static_cast<int16_t>(Le16(p.data() + 5))};
}

std::optional<RemoteKeyEvent> ParseRemoteKeyEvent(std::string_view p) {
  if (p.size() < 4) return std::nullopt;
  uint32_t v = Le32(p.data());
  return RemoteKeyEvent{static_cast<uint16_t>(v & 0xffff), ((v >> 16) & 0xff) != 0, ((v >> 24) & 0xff) != 0};
}

std::optional<RsSettingsMessage> ParseRsSettings(std::string_view p) {
  if (p.size() < 3) return std::nullopt;
  return RsSettingsMessage{static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1])};
}

std::optional<FileBeginMessage> ParseFileBegin(std::string_view p) {
  if (p.size() < 10) return std::nullopt;
  uint64_t size = Le64(p.data());
  uint16_t nameLength = Le16(p.data() + 8);
  if (size > kRsMaxFileSize || nameLength == 0 || p.size() < 10u + nameLength) return std::nullopt;
  return FileBeginMessage{size, Utf8ToWide(p.substr(10, nameLength))};
}

std::string BuildScreenRectPayload(uint16_t x, uint16_t y, uint16_t width, uint16_t height, std::string_view image) {
  std::string out;
  PutLe(out, x, 2);
  PutLe(out, y, 2);
  PutLe(out, width, 2);
  PutLe(out, height, 2);
  PutLe(out, image.size(), 4);
  out.append(image);
  return out;
}

std::string BuildFileAckPayload(uint8_t status, uint64_t received) {
  std::string out(1, static_cast<char>(status));
  PutLe(out, received, 8);
  return out;
}

std::wstring ComputeRsAuth(std::string_view nonce, std::string_view key) {
  std::string mac = plat::HmacSha256(key, nonce);
  if (mac.size() != 32) return {};
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring out;
  for (unsigned char c : mac) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string BuildSupportHello(const SupportHelloValues& v) {
  const std::pair<const wchar_t*, const std::wstring*> lines[] = {
      {L"auth", &v.auth},     {L"name", &v.name},   {L"id", &v.id}, {L"lock", &v.lock},
      {L"expiry", &v.expiry}, {L"ver", &v.ver},     {L"songs", &v.songs}, {L"w", &v.w},
      {L"h", &v.h},           {L"resume", &v.resume}, {L"pc", &v.pc}};
  std::wstring text;
  for (const auto& [key, value] : lines) text += std::wstring(key) + L"=" + WithoutLineBreaks(*value) + L"\n";
  return WideToUtf8(text);
}

std::vector<ConnectCandidate> BuildConnectCandidates(const SupportTarget& target) { return Candidates(target); }
std::vector<ConnectCandidate> BuildConnectCandidates(const SupportAgent& agent) { return Candidates(agent); }

std::wstring ConnectErrorText(int code) {
  switch (code) {
    case 10051: return L"네트워크에 닿지 않음";
    case 10060: return L"응답 없음(포트가 안 열려 있거나 방화벽이 막음)";
    case 10061: return L"연결 거부됨(그 PC 에 프로그램이 안 켜져 있음)";
    case 10065: return L"그 PC 에 닿지 않음";
    case -1: return L"주소를 찾을 수 없음(DNS/인터넷 확인)";
    default: return L"오류 " + std::to_wstring(code);
  }
}

bool ParseSupportAgentList(std::wstring_view body, std::vector<SupportAgent>* agents, std::wstring* rejectedFirstLine) {
  agents->clear();
  std::vector<std::wstring> lines = SplitWide(body, L'\n');
  for (auto& line : lines)
    while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
  if (lines[0].size() < 2 || lines[0].compare(0, 2, L"ok") != 0) {
    if (rejectedFirstLine) *rejectedFirstLine = lines[0];
    return false;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    std::vector<std::wstring> f = SplitWide(lines[i], L'\t');
    if (f.size() > 8) f.resize(8);
    if (f.size() < 4 || f[2].empty()) continue;
    SupportAgent a;
    a.slot = f[0];
    a.name = f[1];
    a.host = f[2];
    int port = DecimalField(f[3]);
    a.port = (port >= 1 && port <= 65535) ? port : 7777;
    if (f.size() > 4) a.lan = f[4];
    a.direct = f.size() < 6 || f[5] == L"1";
    if (f.size() > 6) a.relayHost = f[6];
    if (f.size() > 7) a.relayPort = std::max(0, DecimalField(f[7]));
    agents->push_back(std::move(a));
  }
  return true;
}

int ConnectWithTimeout(const std::wstring& host, int port, int timeoutMs, int* error) {
  return plat::ConnectTcp(WideToUtf8(host), port, timeoutMs, error);
}

int ConnectViaRelay(const std::wstring& relayHost, int relayPort, const std::wstring& slot, int* error) {
  int s = ConnectWithTimeout(relayHost, relayPort, RsTimeoutValues.relayConnectMs.load(), error);
  if (s < 0) return s;
  std::string ask = "RSRELAY1 CONN " + WideToUtf8(slot) + "\n";
  if (!SendAll(s, ask.data(), ask.size())) {
    plat::CloseSocket(s);
    if (error) *error = 10054;
    return plat::kInvalidSocket;
  }
  plat::SetSocketReceiveTimeout(s, RsTimeoutValues.relayAnswerMs.load());
  std::string answer;
  for (int i = 0; i < 128; ++i) {
    char c = 0;
    if (plat::SocketReceive(s, &c, 1) != 1) {
      answer.clear();
      break;
    }
    if (c == '\n') break;
    if (c != '\r') answer.push_back(c);
  }
  plat::SetSocketReceiveTimeout(s, 0);
  if (answer == "OK") {
    if (error) *error = 0;
    return s;
  }
  RsLog(L"[RS] 중계 응답: " + (answer.empty() ? std::wstring(L"(없음)") : Utf8ToWide(answer)));
  plat::CloseSocket(s);
  if (error) *error = answer == "ERR nowait" ? 10061 : 10054;
  return plat::kInvalidSocket;
}

std::optional<std::string> ReadRsChallenge(int socket) {
  plat::SetSocketReceiveTimeout(socket, RsTimeoutValues.challengeMs.load());
  std::optional<RsFrame> f = RecvFrame(socket);
  plat::SetSocketReceiveTimeout(socket, 0);
  if (!f || f->type != static_cast<uint8_t>(RsMessageType::Challenge) || f->payload.empty()) return std::nullopt;
  return std::move(f->payload);
}

RsWaitResult WaitForRsAccept(RsConnection& connection, int timeoutMs, const std::atomic<uint8_t>& stop,
                             bool answerPing) {
  plat::SetSocketReceiveTimeout(connection.socket, timeoutMs);
  RsWaitResult result = RsWaitResult::Broken;
  for (;;) {
    if (stop.load()) {
      result = RsWaitResult::Stopped;
      break;
    }
    std::optional<RsFrame> f = RecvFrame(connection.socket);
    if (!f) break;
    if (f->type == static_cast<uint8_t>(RsMessageType::Accept)) {
      result = RsWaitResult::Accepted;
      break;
    }
    if (f->type == static_cast<uint8_t>(RsMessageType::End)) {
      result = RsWaitResult::Ended;
      break;
    }
    if (answerPing && f->type == static_cast<uint8_t>(RsMessageType::Ping))
      SendRsFrame(connection, RsMessageType::Pong, nullptr, 0);
  }
  plat::SetSocketReceiveTimeout(connection.socket, 0);
  return result;
}
