#pragma once
// Processor and memory figures for the performance monitor and the PC check, from /proc.
#include <cstdint>
#include <filesystem>
#include <string>
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

// Physical memory in bytes (/proc/meminfo: MemTotal, MemAvailable). False when unreadable.
bool GetMemoryBytes(uint64_t& total, uint64_t& available);

// Space of the volume holding `path` in bytes: available to this user, and its size.
bool GetVolumeSpace(const std::filesystem::path& path, uint64_t& available, uint64_t& total);

// Whether the block device holding `path` seeks: 1 no seek penalty (solid state), 0 rotating,
// 255 unknown (from the device's "rotational" flag in sysfs).
int QuerySeekPenalty(const std::filesystem::path& path);

// The largest current and maximum clock of the processors in MHz (cpufreq). False when unreadable.
bool QueryCpuClockMhz(unsigned& current, unsigned& maximum);

// The power source, from the power-supply class of sysfs.
struct PowerStatus {
  enum Line { kNotReadable, kCharger, kBattery, kUnknown } line = kNotReadable;
  int batteryPercent = -1;  // -1 unknown
};
PowerStatus QueryPowerStatus();
// Tests point the power-supply class at a folder of their own ("" restores /sys/class/power_supply).
void SetPowerSupplyRoot(const std::filesystem::path& root);

// Kernel release ("6.1.0-13-amd64") and machine architecture ("x86_64"). False when unreadable.
bool QueryKernelVersion(std::string& release, std::string& machine);

}  // namespace plat
