#pragma once
// Clocks and thread priority: the monotonic millisecond clocks the player and logs use, local
// wall time for log stamps, and the priority changes of timing and background threads.
#include <cstdint>

namespace plat {

double NowMs();         // monotonic, milliseconds with fractions (performance counter)
uint64_t NowUs();       // monotonic, microseconds
uint32_t TimeGetTime(); // monotonic milliseconds that wrap at 2^32, like timeGetTime
void SleepMs(unsigned ms);

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond, weekday;
};
LocalTime LocalNow();

void LowerThreadPriority();      // below normal, for background writers
void RestoreThreadPriority();    // back to normal where the system allows it
uint32_t CurrentThreadId();

}  // namespace plat
