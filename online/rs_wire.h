#pragma once
// The remote-support connection between a customer's PC and a support agent's viewer: frames,
// message payloads, the challenge answer, the hello, connection candidates, the relay preface and
// the agent list. Shared by the main program and the customer support program.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class RsMessageType : uint8_t {
  Hello = 1,
  ScreenRect = 2,
  Pong = 4,
  FileAck = 5,
  Accept = 0x81,
  Mouse = 0x82,
  Key = 0x83,
  End = 0x84,
  Ping = 0x85,
  Settings = 0x86,
  Challenge = 0x87,
  FileBegin = 0x88,
  FileData = 0x89,
  FileEnd = 0x8A,
  FileCancel = 0x8B,
};

// The largest payload a receiver takes; one byte more breaks the connection.
inline constexpr uint32_t kRsMaxFrameLength = 0x1000000;
// Files an agent may send are at most this long.
inline constexpr uint64_t kRsMaxFileSize = 0x80000000ull;

inline constexpr char kSupportSharedKey[] = "Zq4RmT8vXe2LkW9pBn7GcY3hJs6DfU1aHo5NiQ0t";

struct SupportAgent {
  std::wstring slot, name, host, lan, relayHost;
  int32_t port = 7777;
  int32_t relayPort = 0;
  bool direct = true;
};

struct SupportTarget {
  std::wstring host, lan, name, slot, relayHost;
  int32_t port = 7777;
  int32_t relayPort = 0;
  bool direct = false;
};

struct ConnectCandidate {
  std::wstring label;
  std::wstring host;
  int32_t port = 0;
  int32_t timeoutMs = 0;
  bool viaRelay = false;
};

// One received frame.
struct RsFrame {
  uint8_t type = 0;
  std::string payload;
};

// One connected socket and the lock that keeps each frame's writes together while the screen
// sender and the receive thread both send.
struct RsConnection {
  int socket = -1;
  std::mutex sendLock;
};

// Reads up to `length` bytes into `data`: the count read, 0 at the end, below 0 on an error.
using RsReadFn = std::function<long(void* data, size_t length)>;

// Reads one whole frame through `read`, looping over partial reads; nullopt on a broken
// connection, a time-out or a length above the limit.
std::optional<RsFrame> ReadRsFrame(const RsReadFn& read);
// The same on a socket (its receive time-out applies to each read).
std::optional<RsFrame> RecvFrame(int socket);
// Length, type and payload as one unit under the connection's send lock; false as soon as a
// write fails.
bool SendRsFrame(RsConnection& connection, RsMessageType type, const void* payload, size_t length);
// The wire bytes of one frame (tests and the frame writer).
std::string EncodeRsFrame(uint8_t type, std::string_view payload);

// Payloads from the viewer; each is nullopt when the payload is too short.
struct RemoteMouseEvent {
  uint16_t x = 0, y = 0;
  uint8_t kind = 0;
  int16_t wheelDelta = 0;
};
struct RemoteKeyEvent {
  uint16_t virtualKey = 0;
  bool down = false;
  bool extended = false;
};
struct RsSettingsMessage {
  uint8_t quality = 0;
  uint8_t framesPerSecond = 0;
};
struct FileBeginMessage {
  uint64_t size = 0;
  std::wstring name;
};
std::optional<RemoteMouseEvent> ParseRemoteMouseEvent(std::string_view payload);
std::optional<RemoteKeyEvent> ParseRemoteKeyEvent(std::string_view payload);
std::optional<RsSettingsMessage> ParseRsSettings(std::string_view payload);
// Also nullopt for a size above the limit, an empty name or a name longer than the payload.
std::optional<FileBeginMessage> ParseFileBegin(std::string_view payload);
// Payloads to the viewer.
std::string BuildScreenRectPayload(uint16_t x, uint16_t y, uint16_t width, uint16_t height, std::string_view image);
std::string BuildFileAckPayload(uint8_t status, uint64_t received);

// HMAC-SHA-256 of the nonce under the key as 64 lowercase hex digits; empty when hashing fails.
std::wstring ComputeRsAuth(std::string_view nonce, std::string_view key);

struct SupportHelloValues {
  std::wstring auth, name, id, lock = L"-", expiry = L"-", ver, songs, w, h, resume, pc;
};
// The hello's UTF-8 lines; CR and LF are dropped from values so no value can add a key.
std::string BuildSupportHello(const SupportHelloValues& values);

std::vector<ConnectCandidate> BuildConnectCandidates(const SupportTarget& target);
std::vector<ConnectCandidate> BuildConnectCandidates(const SupportAgent& agent);

std::wstring ConnectErrorText(int code);

// The agent list of the board's answer (already decoded); false with the rejected first line.
bool ParseSupportAgentList(std::wstring_view body, std::vector<SupportAgent>* agents, std::wstring* rejectedFirstLine);

// Time-outs of the connection, settable for tests.
struct RsTimeouts {
  std::atomic<int> relayConnectMs{10000};
  std::atomic<int> relayAnswerMs{15000};
  std::atomic<int> challengeMs{15000};
};
extern RsTimeouts RsTimeoutValues;

// Where protocol log lines go: the main program's debug log unless the program installs its own.
using RsLogFn = void (*)(std::wstring_view line);
void SetRsLog(RsLogFn log);
void RsLog(std::wstring_view line);

int ConnectWithTimeout(const std::wstring& host, int port, int timeoutMs, int* error);
// Connects to the relay and asks it for the agent waiting in `slot`.
int ConnectViaRelay(const std::wstring& relayHost, int relayPort, const std::wstring& slot, int* error);

// Reads the viewer's first frame (time-out RsTimeoutValues.challengeMs): the nonce, or nullopt
// for anything but a challenge with a nonce.
std::optional<std::string> ReadRsChallenge(int socket);

enum class RsWaitResult { Accepted, Ended, Stopped, Broken };
// Reads frames until Accept or End (time-out timeoutMs, 0 = none), testing stop before each;
// answers Ping with Pong when answerPing is set.
RsWaitResult WaitForRsAccept(RsConnection& connection, int timeoutMs, const std::atomic<uint8_t>& stop,
                             bool answerPing);
