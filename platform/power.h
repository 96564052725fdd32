#pragma once
// The machine's battery and charger, from the kernel's power-supply class
// (/sys/class/power_supply, or a folder that tests put in its place).
#include <filesystem>

namespace plat {

struct BatteryStatus {
  bool readable = false;    // the power-supply folder could be read
  bool hasBattery = false;  // a battery that powers the system (not a mouse's or a pen's)
  bool onBattery = false;   // a system battery discharges and no charger is online
};
BatteryStatus ReadPowerStatus();

// Tests: read this folder instead of /sys/class/power_supply (empty path: the real one).
void SetPowerSupplyDir(const std::filesystem::path& dir);

// Total physical memory in bytes (0 when unknown).
unsigned long long TotalMemoryBytes();

}  // namespace plat
