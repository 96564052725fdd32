#include "platform/power.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/files.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

std::mutex dirMutex;
fs::path supplyDir;  // empty: the kernel's own

// First line of a small attribute file, without the line break; empty when unreadable.
std::string Attribute(const fs::path& dir, const char* name) {
  auto bytes = ReadFileBytes(dir / name);
  if (!bytes) return {};
  std::string v = bytes->substr(0, std::min<size_t>(bytes->size(), 64));
  const size_t end = v.find_first_of("\r\n");
  if (end != std::string::npos) v.resize(end);
  return v;
}

}  // namespace

void SetPowerSupplyDir(const fs::path& dir) {
  std::lock_guard lock(dirMutex);
  supplyDir = dir;
}

BatteryStatus ReadPowerStatus() {
  fs::path dir;
  {
    std::lock_guard lock(dirMutex);
    dir = supplyDir.empty() ? fs::path("/sys/class/power_supply") : supplyDir;
  }
  BatteryStatus status;
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  if (ec) return status;
  status.readable = true;
  bool chargerOnline = false, discharging = false;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::path entry = it->path();
    const std::string type = Attribute(entry, "type");
    if (type == "Mains" || type == "USB") {
      if (Attribute(entry, "online") == "1") chargerOnline = true;
    } else if (type == "Battery") {
      // A device's own battery (a wireless mouse) has the scope "Device".
      if (Attribute(entry, "scope") == "Device") continue;
      status.hasBattery = true;
      if (Attribute(entry, "status") == "Discharging") discharging = true;
    }
  }
  status.onBattery = status.hasBattery && discharging && !chargerOnline;
  return status;
}

unsigned long long TotalMemoryBytes() {
  auto info = ReadFileBytes("/proc/meminfo");
  if (!info) return 0;
  const size_t at = info->find("MemTotal:");
  if (at == std::string::npos) return 0;
  unsigned long long kb = 0;
  if (std::sscanf(info->c_str() + at, "MemTotal: %llu", &kb) != 1) return 0;
  return kb * 1024ull;
}

}  // namespace plat
