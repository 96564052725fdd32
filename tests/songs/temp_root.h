#pragma once
// A fresh install root per test: "C:/tavelo/..." paths land in a temporary folder that is
// removed afterwards.
#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

#include "platform/files.h"
#include "platform/paths.h"

class TempRoot {
 public:
  TempRoot() {
    static std::atomic<int> serial{0};
    root_ = std::filesystem::temp_directory_path() /
            ("tavelo_songs_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "system");
    plat::SetRootDir(root_);
  }
  ~TempRoot() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path system(std::string_view name) const { return root_ / "system" / name; }
  void Write(std::string_view name, std::string_view bytes) const {
    plat::WriteFileAtomic(system(name), bytes);
  }
  std::string Read(std::string_view name) const {
    return plat::ReadFileBytes(system(name)).value_or(std::string());
  }

 private:
  std::filesystem::path root_;
};
