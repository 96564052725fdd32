// libFuzzer target: whatever bytes an agent's viewer sends, the frame reader, the payload readers
// and the receive loop never crash, hang or read out of bounds; no frame is longer than the limit
// or than the bytes sent; files land only in the receive folder and no partial file survives the
// loop. The agent list, resume file and support.cfg readers get the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "online/rs_front.h"
#include "online/rs_input.h"
#include "online/rs_receive.h"
#include "online/rs_session.h"
#include "online/rs_state.h"
#include "online/rs_wire.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sockets.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Root() {
  static const fs::path root = [] {
    fs::path p = fs::temp_directory_path() / ("tavelo_fuzz_remote_" + std::to_string(std::random_device{}()));
    fs::create_directories(p / "system");
    plat::SetRootDir(p);
    SetRsLog([](std::wstring_view) {});
    // The agent's input goes nowhere: never to the desktop of whoever runs the fuzzer.
    SetRsInputTarget({[] { return plat::ScreenRect{0, 0, 1920, 1080}; }, [](int, int, const auto&) {},
                      [](uint16_t, bool, bool) {}});
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(Root(), ec);
    });
    return p;
  }();
  return root;
}

void ReadFrames(std::string_view bytes, size_t size) {
  size_t at = 0;
  // Reads come in uneven pieces, as they do from a socket.
  RsReadFn read = [&](void* out, size_t length) -> long {
    size_t n = std::min({length, bytes.size() - at, static_cast<size_t>(1 + (at % 7) * 997)});
    std::memcpy(out, bytes.data() + at, n);
    at += n;
    return static_cast<long>(n);
  };
  while (auto frame = ReadRsFrame(read)) {
    if (frame->payload.size() > kRsMaxFrameLength || frame->payload.size() > size) __builtin_trap();
    const std::string& p = frame->payload;
    if (ParseRemoteMouseEvent(p).has_value() != (p.size() >= 7)) __builtin_trap();
    ParseRemoteKeyEvent(p);
    ParseRsSettings(p);
    if (auto b = ParseFileBegin(p))
      if (b->size > kRsMaxFileSize || b->name.empty()) __builtin_trap();
  }
}

// The receive loop on the bytes, with the agent's end of the connection closed after them.
void RunReceiveLoop(std::string_view bytes) {
  int ours = -1, theirs = -1;
  if (!plat::SocketPair(&ours, &theirs)) return;
  size_t done = 0;
  while (done < bytes.size()) {
    long n = plat::SocketSend(theirs, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  plat::CloseSocket(theirs);
  RsConnection connection;
  connection.socket = ours;
  RsClient.SessionStopFlag.store(0);
  RsReceiveLoop(connection, nullptr);
  plat::CloseSocket(ours);
  for (const auto& e : fs::recursive_directory_iterator(Root())) {
    fs::path rel = e.path().lexically_relative(Root());
    std::string top = rel.begin()->string();
    if (top != "_recv" && top != "system") __builtin_trap();
    if (top == "_recv" && e.path().extension() == ".part") __builtin_trap();
  }
  std::error_code ec;
  fs::remove_all(Root() / "_recv", ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Root();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ReadFrames(bytes, size);
  if (size <= 100000) RunReceiveLoop(bytes);

  std::vector<SupportAgent> agents;
  std::wstring rejected;
  ParseSupportAgentList(Utf8ToWide(bytes), &agents, &rejected);
  for (const SupportAgent& a : agents)
    if (a.host.empty() || a.port < 1 || a.port > 65535 || a.relayPort < 0) __builtin_trap();

  plat::WriteFileAtomic(plat::RealPath(kRsResumeFile), bytes);
  SupportTarget target;
  if (LoadRsResumeFile(&target) && target.host.empty() && target.lan.empty() && target.relayHost.empty())
    __builtin_trap();

  // support.cfg: whatever it holds, the picture settings end in their ranges.
  plat::WriteFileAtomic(plat::RealPath(kSupportConfigFile), bytes);
  LoadSupportConfig();
  const auto& cfg = RsClient.SupportConfig;
  if (cfg.quality < 20 || cfg.quality > 95 || cfg.framesPerSecond < 1 || cfg.framesPerSecond > 15 ||
      cfg.scalePercent < 40 || cfg.scalePercent > 100)
    __builtin_trap();
  return 0;
}
