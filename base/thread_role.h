#pragma once
// Whether the calling thread keeps musical time (set by EnterRealtimeThread): such a thread
// writes no file and takes no lock that an ordinary thread holds while it writes or allocates;
// its log lines and posts are handed over through lock-free queues.
#include "platform/realtime.h"

inline bool OnRealtimeThread() { return plat::OnRealtimeThread(); }

// One log line of a real-time thread, in a fixed cell so that handing it over allocates nothing.
struct RealtimeLogLine {
  wchar_t text[256];
  unsigned length = 0;
};
