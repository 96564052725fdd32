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

// Sends a line to an attached debugger's output; nothing when no debugger is attached.
void DebuggerOutput(std::string_view utf8Line);

}  // namespace plat
