#include "platform/sysinfo.h"

#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "platform/files.h"

namespace plat {

bool GetSystemTimes(SystemTimes& out) {
  auto stat = ReadFileBytes("/proc/stat");
  if (!stat) return false;
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                     steal = 0;
  if (std::sscanf(stat->c_str(), "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice,
                  &system, &idle, &iowait, &irq, &softirq, &steal) < 4)
    return false;
  const uint64_t tick100ns = 10000000ull / static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
  out.idle = (idle + iowait) * tick100ns;
  out.user = (user + nice) * tick100ns;
  out.kernel = (system + irq + softirq + steal) * tick100ns + out.idle;
  return true;
}

bool GetProcessTimes(ProcessTimes& out) {
  rusage ru{};
  if (::getrusage(RUSAGE_SELF, &ru) != 0) return false;
  auto to100ns = [](const timeval& tv) {
    return static_cast<uint64_t>(tv.tv_sec) * 10000000ull + static_cast<uint64_t>(tv.tv_usec) * 10ull;
  };
  out.kernel = to100ns(ru.ru_stime);
  out.user = to100ns(ru.ru_utime);
  return true;
}

unsigned ProcessorCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

uint64_t WorkingSetBytes() {
  auto statm = ReadFileBytes("/proc/self/statm");
  unsigned long long size = 0, resident = 0;
  if (!statm || std::sscanf(statm->c_str(), "%llu %llu", &size, &resident) != 2) return 0;
  return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

bool DebuggerAttached() {
  auto status = ReadFileBytes("/proc/self/status");
  if (!status) return false;
  size_t p = status->find("TracerPid:");
  if (p == std::string::npos) return false;
  int tracer = 0;
  std::sscanf(status->c_str() + p + 10, "%d", &tracer);
  return tracer != 0;
}

void DebuggerOutput(std::string_view text) { (void)!::write(2, text.data(), text.size()); }

}  // namespace plat
