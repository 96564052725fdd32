#pragma once
// Processor and memory figures for the performance monitor and the PC check, from /proc.
#include <cstdint>
#include <string_view>

namespace plat {

// Times in 100-nanosecond units, as the monitor's formulas expect. Like the system's own figures,
// kernel time includes idle time: load = (kernel + user - idle) / (kernel + user).
struct SystemTimes {
  uint64_t idle = 0, kernel = 0, user = 0;
};
bool GetSystemTimes(SystemTimes& out);

struct ProcessTimes {
  uint64_t kernel = 0, user = 0;  // 100-nanosecond units
};
bool GetProcessTimes(ProcessTimes& out);

unsigned ProcessorCount();
uint64_t WorkingSetBytes();  // resident memory of this process

// Whether a debugger (any tracer) is attached to the process now.
bool DebuggerAttached();
// Sends text to the debugger's view of the process (standard error, which a tracer shows).
void DebuggerOutput(std::string_view utf8Text);

}  // namespace plat
