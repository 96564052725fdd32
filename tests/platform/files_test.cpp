// Reading a file line by line in blocks: lines that cross a block, the last line, missing files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/files.h"

namespace fs = std::filesystem;

TEST(ReadFileLines, GivesTheLinesOfTheWholeFileWhateverTheBlocks) {
  const fs::path dir = fs::temp_directory_path() / ("tavelo_files_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);

  // A line longer than a read block, and one that ends exactly at a block's end.
  const std::string huge(300000, 'x');
  const std::string toBlockEnd((size_t{1} << 18) - 3, 'y');
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a\nb", {"a", "b"}},
      {"a\r\n\nb\n", {"a\r", "", "b"}},
      {"\n", {""}},
      {"a\n" + huge + "\nz", {"a", huge, "z"}},
      {"1\n" + toBlockEnd + "\nnext\n", {"1", toBlockEnd, "next"}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(plat::WriteFileAtomic(dir / "f.csv", c.bytes));
    std::vector<std::string> lines;
    EXPECT_TRUE(plat::ReadFileLines(dir / "f.csv", [&](std::string_view line) { lines.emplace_back(line); }));
    EXPECT_EQ(lines, c.lines) << c.bytes.size();
  }

  int calls = 0;
  EXPECT_FALSE(plat::ReadFileLines(dir / "missing.csv", [&](std::string_view) { ++calls; }));
  EXPECT_FALSE(plat::ReadFileLines(dir, [&](std::string_view) { ++calls; }));
  EXPECT_EQ(calls, 0);
  fs::remove_all(dir);
}

TEST(Files, ReplacingWritesWholeFilesThatAFlushPutsOnDisk) {
  const fs::path dir = fs::temp_directory_path() / ("tavelo_replace_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  struct Case {
    fs::path path;
    std::string bytes;
    bool ok;
  } cases[] = {
      {dir / "P0001.MID", "MThd", true},
      {dir / "P0001.MID", "", true},
      {dir / "sub" / "new.txt", "made with its folder", true},
      {dir, "a folder is not replaced", false},
      {fs::path(), "x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plat::WriteFileReplacing(c.path, c.bytes), c.ok) << c.path;
    if (c.ok) {
      EXPECT_EQ(plat::ReadFileBytes(c.path).value_or("<missing>"), c.bytes);
    }
  }
  EXPECT_EQ(plat::ListFileNames(dir), std::vector<std::string>{"P0001.MID"});  // no temporary file left
  EXPECT_TRUE(plat::FlushFileSystemOf(dir));
  EXPECT_FALSE(plat::FlushFileSystemOf(dir / "missing"));
  fs::remove_all(dir);
}
