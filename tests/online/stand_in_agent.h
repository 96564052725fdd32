#pragma once
// A stand-in peer on 127.0.0.1 for the remote-support tests: it accepts one connection and runs
// the test's script on it (a viewer, a relay, or a peer that stays silent).
#include <poll.h>

#include <functional>
#include <string>
#include <thread>

#include "online/rs_wire.h"
#include "platform/sockets.h"

class StandInPeer {
 public:
  explicit StandInPeer(std::function<void(int socket)> script) {
    listener_ = plat::ListenLoopback(&port_);
    thread_ = std::thread([this, script = std::move(script)] {
      int s = plat::AcceptConnection(listener_);
      if (s < 0) return;
      script(s);
      plat::CloseSocket(s);
    });
  }
  ~StandInPeer() { Finish(); }
  // Waits until the script has run, or stops waiting for a connection that never came. A client
  // that connected and already gave up still waits in the listener's queue on a busy machine: its
  // script runs too (it sees what the client sent).
  void Finish() {
    if (!thread_.joinable()) return;
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, 0) <= 0) plat::ShutdownSocket(listener_);
    thread_.join();
    plat::CloseSocket(listener_);
  }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

inline bool SendBytes(int socket, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    long n = plat::SocketSend(socket, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

inline bool SendFrame(int socket, RsMessageType type, const std::string& payload = {}) {
  return SendBytes(socket, EncodeRsFrame(static_cast<uint8_t>(type), payload));
}
