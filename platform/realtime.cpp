#include "platform/realtime.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/clock.h"

namespace plat {

namespace {

id_t ThisTid() { return static_cast<id_t>(syscall(SYS_gettid)); }

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

thread_local bool t_realtimeMark = false;

}  // namespace

void MarkRealtimeThread(bool on) { t_realtimeMark = on; }
bool OnRealtimeThread() { return t_realtimeMark; }

static_assert(sizeof(pthread_mutex_t) <= 64, "PiMutex storage too small");

PiMutex::PiMutex() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
  pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), &attr);
  pthread_mutexattr_destroy(&attr);
}
PiMutex::~PiMutex() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void PiMutex::lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
bool PiMutex::try_lock() { return pthread_mutex_trylock(reinterpret_cast<pthread_mutex_t*>(storage_)) == 0; }
void PiMutex::unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

RealtimeLevel RaiseThreadRealtime(int fifoPriority, std::string* detail) {
  (void)prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);  // 1 ns: wake-ups as exact as the timer allows
  sched_param sp{};
  const int lo = sched_get_priority_min(SCHED_FIFO), hi = sched_get_priority_max(SCHED_FIFO);
  sp.sched_priority = fifoPriority < lo ? lo : fifoPriority > hi ? hi : fifoPriority;
  const int err = pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
  if (err == 0) return RealtimeLevel::kFifo;
  if (detail) *detail = std::string("SCHED_FIFO: ") + std::strerror(err);
  for (int nice = -20; nice <= -1; ++nice)
    if (setpriority(PRIO_PROCESS, ThisTid(), nice) == 0) {
      if (detail) *detail += ", nice " + std::to_string(nice);
      return RealtimeLevel::kNice;
    }
  if (detail) *detail += ", nice: " + std::string(std::strerror(errno));
  return RealtimeLevel::kNormal;
}

void LowerThreadFromRealtime() {
  sched_param sp{};
  sp.sched_priority = 0;
  (void)pthread_setschedparam(pthread_self(), SCHED_OTHER, &sp);
  (void)setpriority(PRIO_PROCESS, ThisTid(), 0);
}

void SleepUntilMs(double deadlineMs) {
  if (!(deadlineMs > NowMs())) return;
  const double sec = deadlineMs / 1000.0;
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>((deadlineMs - static_cast<double>(ts.tv_sec) * 1000.0) * 1e6);
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  if (ts.tv_nsec < 0) ts.tv_nsec = 0;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

void WaitUntilMsPrecise(double deadlineMs, double spinMs) {
  SleepUntilMs(deadlineMs - spinMs);
  while (NowMs() < deadlineMs) CpuRelax();
}

}  // namespace plat
