#pragma once
// A fresh install root per test case, removed afterwards.
#include <filesystem>
#include <random>
#include <string>

#include "platform/paths.h"
#include "platform/synth_library.h"

class TempRoot {
 public:
  TempRoot() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("tavelo_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(path_ / "system");
    plat::SetRootDir(path_);
    // The machine's own SoundFonts stay out of a test unless it puts one in place.
    plat::SetSystemSoundFontDir(path_ / "system-soundfonts");
  }
  ~TempRoot() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
