#pragma once
// A test root whose trace log is written only when a test asks for its lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/trace_log.h"
#include "platform/files.h"
#include "common/temp_root.h"

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HoldTraceWriter(true);
    FlushTraceLog();
    std::filesystem::remove(root.path() / "system" / "altz_log.txt");
  }
  void TearDown() override { HoldTraceWriter(false); }
  // The lines written so far, split at CR LF.
  std::vector<std::string> Lines() {
    FlushTraceLog();
    std::string bytes = plat::ReadFileBytes(root.path() / "system" / "altz_log.txt").value_or("");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t crlf; (crlf = bytes.find("\r\n", start)) != std::string::npos; start = crlf + 2)
      lines.push_back(bytes.substr(start, crlf - start));
    EXPECT_EQ(start, bytes.size());
    return lines;
  }
  TempRoot root;
};

