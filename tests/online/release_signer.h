#pragma once
// Signed releases for the online tests: a maker's key pair and another one, made with
// tools/sign-release in a folder of their own. While the object lives, the program checks
// signatures against this maker's key instead of the built-in one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "test_paths.h"
#include "online/release_signature.h"

class ReleaseSigner {
 public:
  ReleaseSigner() {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() / ("tavelo_signer_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    for (const char* who : {"maker", "other"})
      EXPECT_EQ(Run("--new-key '" + Path(std::string(who) + ".key") + "' '" + Path(std::string(who) + ".pub") + "'"), 0);
    SetReleaseKeyForTests(Read(Path("maker.pub")));
  }
  ~ReleaseSigner() {
    SetReleaseKeyForTests({});
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ReleaseSigner(const ReleaseSigner&) = delete;
  ReleaseSigner& operator=(const ReleaseSigner&) = delete;

  // The detached signature of `bytes` by the maker, or by the other key.
  std::string Sign(const std::string& bytes, bool otherKey = false) {
    const std::string file = Path("release");
    std::ofstream(file, std::ios::binary) << bytes;
    EXPECT_EQ(Run("'" + Path(otherKey ? "other.key" : "maker.key") + "' '" + file + "'"), 0);
    return Read(file + ".sig");
  }

 private:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static int Run(const std::string& args) {
    return std::system(("'" TAVELO_SOURCE_DIR "/tools/sign-release' " + args + " >/dev/null 2>&1").c_str());
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dir_;
};
