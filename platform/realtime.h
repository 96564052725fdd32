#pragma once
// Real-time scheduling and precise waits for the threads that keep musical time.
#include <string>

namespace plat {

enum class RealtimeLevel {
  kFifo,     // SCHED_FIFO: runs before every ordinary thread
  kNice,     // ordinary scheduling at a raised nice value
  kNormal,   // nothing could be raised
};

// Raises the calling thread: SCHED_FIFO at `fifoPriority` when the system allows it, else the
// highest nice value it allows. Also asks for the finest timer slack. `detail` gets a short text
// of what was refused, for the caller's log.
RealtimeLevel RaiseThreadRealtime(int fifoPriority, std::string* detail);
// Back to ordinary scheduling at nice 0 (for a thread that is reused).
void LowerThreadFromRealtime();

// A mutex whose holder runs at the priority of the highest thread waiting for it (priority
// inheritance): a real-time thread that needs it never waits behind an ordinary holder that the
// scheduler keeps off the processor. Holders should still do little under it.
class PiMutex {
 public:
  PiMutex();
  ~PiMutex();
  PiMutex(const PiMutex&) = delete;
  PiMutex& operator=(const PiMutex&) = delete;
  void lock();
  bool try_lock();
  void unlock();

 private:
  alignas(16) unsigned char storage_[64];  // the system's mutex
};

// A mark of the calling thread: it keeps musical time, so what it would write to a file (a MIDI
// recording, a log line) is handed to an ordinary thread instead.
void MarkRealtimeThread(bool on);
bool OnRealtimeThread();

// Sleeps until the monotonic time `deadlineMs` (the NowMs scale) without drift: the sleep is
// absolute, so time spent before the call does not add to it. Returns at once when it is past.
void SleepUntilMs(double deadlineMs);
// Waits until `deadlineMs` exactly: an absolute sleep that wakes `spinMs` early, then a busy wait
// on the clock for the rest.
void WaitUntilMsPrecise(double deadlineMs, double spinMs);

}  // namespace plat
