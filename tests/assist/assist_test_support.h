#pragma once
// Shared by the customer support program's tests: its log goes to a temporary folder (the log's
// folder is taken once per process, so every test uses the same one), and the hello's keys.
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "assist/helper_log.h"
#include "base/text.h"
#include "platform/paths.h"

inline std::filesystem::path TestHelperLogFile() {
  static const std::filesystem::path folder = [] {
    std::random_device rd;
    auto dir = std::filesystem::temp_directory_path() / ("orvane_log_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    plat::SetExecutablePath(dir / "orvane");
    return dir;
  }();
  return folder / std::filesystem::path(WideToUtf8(kHelperLogName));
}

inline std::string ReadWhole(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::map<std::string, std::string> HelloKeys(const std::string& hello) {
  std::map<std::string, std::string> keys;
  size_t start = 0;
  while (start < hello.size()) {
    size_t end = hello.find('\n', start);
    if (end == std::string::npos) end = hello.size();
    std::string line = hello.substr(start, end - start);
    keys[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    start = end + 1;
  }
  return keys;
}
