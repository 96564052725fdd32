#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include <unistd.h>

#include "platform/files.h"
#include "platform/sysinfo.h"

namespace {

// A power-supply class folder: supply name -> its files.
using Supplies = std::map<std::string, std::map<std::string, std::string>>;

}  // namespace

TEST(Sysinfo, PowerSourceFromThePowerSupplyClass) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("tavelo_power_" + std::to_string(::getpid()));
  struct Case {
    const char* what;
    Supplies supplies;
    plat::PowerStatus::Line line;
    int percent;
  } cases[] = {
      {"charger", {{"AC", {{"type", "Mains"}, {"online", "1"}}}, {"BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "80"}}}},
       plat::PowerStatus::kCharger, -1},
      {"battery", {{"AC", {{"type", "Mains"}, {"online", "0"}}}, {"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "57\n"}}}},
       plat::PowerStatus::kBattery, 57},
      {"desktop without supplies", {}, plat::PowerStatus::kUnknown, -1},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    for (const auto& [name, files] : c.supplies)
      for (const auto& [file, text] : files) plat::WriteFileAtomic(root / name / file, text + "\n");
    plat::SetPowerSupplyRoot(root);
    const plat::PowerStatus s = plat::QueryPowerStatus();
    EXPECT_EQ(s.line, c.line) << c.what;
    EXPECT_EQ(s.batteryPercent, c.percent) << c.what;
  }
  std::filesystem::remove_all(root);
  EXPECT_EQ(plat::QueryPowerStatus().line, plat::PowerStatus::kNotReadable);
  plat::SetPowerSupplyRoot("");

  uint64_t total = 0, available = 0;
  ASSERT_TRUE(plat::GetMemoryBytes(total, available));
  EXPECT_GT(total, 0u);
  EXPECT_LE(available, total);
  ASSERT_TRUE(plat::GetVolumeSpace(std::filesystem::temp_directory_path(), available, total));
  EXPECT_LE(available, total);
  const int seek = plat::QuerySeekPenalty(std::filesystem::temp_directory_path());
  EXPECT_TRUE(seek == 0 || seek == 1 || seek == 255);
  std::string release, machine;
  ASSERT_TRUE(plat::QueryKernelVersion(release, machine));
  EXPECT_FALSE(release.empty());
}
