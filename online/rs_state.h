#pragma once
// The client state shared by one program's remote-support connection, screen stream and receive
// thread.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "online/rs_wire.h"

struct RsRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Process-wide state of remote support (one support connection at a time).
struct RemoteSupportClientState {
  // Stop everything of the current connection.
  std::atomic<uint8_t> SessionStopFlag{0};
  // The agent sent End during a session.
  std::atomic<uint8_t> ViewerEndedFlag{0};
  // The operator pressed stop.
  std::atomic<uint8_t> SupportUserStopFlag{0};
  // Port, JPEG quality (20..95), frames per second (1..15), scale percent (40..100). Quality and
  // rate carry over from one session to the next.
  struct {
    std::atomic<int32_t> port{7777};
    std::atomic<int32_t> quality{80};
    std::atomic<int32_t> framesPerSecond{8};
    std::atomic<int32_t> scalePercent{100};
  } SupportConfig;
  // The captured monitor in virtual-screen pixels and the size of the sent image; set once per
  // connection before the threads that read them start.
  RsRect RsCaptureRect;
  int32_t RsSentWidth = 0;
  int32_t RsSentHeight = 0;
  // The connected socket from connect to close. Stop and close both hold socketMutex, so a stop
  // never shuts down a descriptor number that was already closed and given to another file.
  std::mutex socketMutex;
  RsConnection* SupportSessionSocket = nullptr;

  // The challenge answer's key: the built-in one unless "support.cfg" gives another.
  std::mutex keyMutex;
  std::string sharedKey = kSupportSharedKey;

  // Time-outs (tests shorten them): waiting for the agent fresh and when rejoining, the resume
  // keeper's period, the pause before each reconnection, and the age of a usable resume file.
  std::atomic<int> waitFreshMs{180000};
  std::atomic<int> waitRejoinMs{30000};
  std::atomic<int> keeperPeriodMs{30000};
  std::atomic<int> reconnectPauseMs{5000};
};
extern RemoteSupportClientState RsClient;

std::string SupportSharedKey();
void SetSupportSharedKey(std::string key);
