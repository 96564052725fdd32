#include "platform/sysinfo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
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

namespace {

// The first line of a small sysfs or procfs file, without its line end.
std::string FirstLine(const std::filesystem::path& file) {
  std::optional<std::string> bytes = ReadFileBytes(file);
  if (!bytes) return {};
  std::string line = bytes->substr(0, bytes->find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::mutex powerRootMutex;
std::filesystem::path powerRoot = "/sys/class/power_supply";

}  // namespace

bool GetMemoryBytes(uint64_t& total, uint64_t& available) {
  std::optional<std::string> info = ReadFileBytes("/proc/meminfo");
  if (!info) return false;
  auto field = [&](const char* key, uint64_t& out) {
    const size_t at = info->find(key);
    if (at == std::string::npos) return false;
    out = std::strtoull(info->c_str() + at + std::char_traits<char>::length(key), nullptr, 10) * 1024;
    return true;
  };
  return field("MemTotal:", total) && field("MemAvailable:", available) && total > 0;
}

bool GetVolumeSpace(const std::filesystem::path& path, uint64_t& available, uint64_t& total) {
  struct statvfs v {};
  if (::statvfs(path.c_str(), &v) != 0) return false;
  available = uint64_t(v.f_bavail) * v.f_frsize;
  total = uint64_t(v.f_blocks) * v.f_frsize;
  return total > 0;
}

int QuerySeekPenalty(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 255;
  const std::filesystem::path dev =
      "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  // A partition's flag is its disk's: the queue folder is one level up.
  for (const std::filesystem::path& q : {dev / "queue" / "rotational", dev / ".." / "queue" / "rotational"}) {
    const std::string flag = FirstLine(q);
    if (flag == "0") return 1;
    if (flag == "1") return 0;
  }
  return 255;
}

bool QueryCpuClockMhz(unsigned& current, unsigned& maximum) {
  current = maximum = 0;
  for (unsigned cpu = 0; cpu < 256; ++cpu) {
    const std::filesystem::path dir = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq";
    const std::string cur = FirstLine(dir / "scaling_cur_freq"), max = FirstLine(dir / "cpuinfo_max_freq");
    if (cur.empty() && max.empty()) {
      if (cpu >= ProcessorCount()) break;
      continue;
    }
    current = std::max(current, unsigned(std::strtoul(cur.c_str(), nullptr, 10) / 1000));
    maximum = std::max(maximum, unsigned(std::strtoul(max.c_str(), nullptr, 10) / 1000));
  }
  return maximum > 0;
}

void SetPowerSupplyRoot(const std::filesystem::path& root) {
  std::lock_guard lock(powerRootMutex);
  powerRoot = root.empty() ? std::filesystem::path("/sys/class/power_supply") : root;
}

PowerStatus QueryPowerStatus() {
  std::filesystem::path root;
  {
    std::lock_guard lock(powerRootMutex);
    root = powerRoot;
  }
  PowerStatus status;
  std::error_code ec;
  std::filesystem::directory_iterator it(root, ec);
  if (ec) return status;  // not readable
  bool mainsOnline = false, mainsSeen = false, batterySeen = false, discharging = false;
  int percent = -1;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::filesystem::path supply = it->path();
    const std::string type = FirstLine(supply / "type");
    if (type == "Mains" || type == "USB") {
      mainsSeen = true;
      if (FirstLine(supply / "online") == "1") mainsOnline = true;
    } else if (type == "Battery") {
      batterySeen = true;
      if (FirstLine(supply / "status") == "Discharging") discharging = true;
      const std::string cap = FirstLine(supply / "capacity");
      if (!cap.empty()) percent = std::atoi(cap.c_str());
    }
  }
  if (mainsOnline) status.line = PowerStatus::kCharger;
  else if (batterySeen && (discharging || mainsSeen)) status.line = PowerStatus::kBattery;
  else if (batterySeen) status.line = PowerStatus::kCharger;  // charging or full without a mains entry
  else status.line = PowerStatus::kUnknown;
  if (status.line == PowerStatus::kBattery) status.batteryPercent = percent;
  return status;
}

bool QueryKernelVersion(std::string& release, std::string& machine) {
  struct utsname u {};
  if (::uname(&u) != 0) return false;
  release = u.release;
  machine = u.machine;
  return true;
}

}  // namespace plat
