#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "songs/song_file_cache.h"
#include "temp_root.h"

namespace {

std::wstring SysPath(const std::wstring& name) { return L"<root>/system/" + name; }

class SongFileCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSongByteCache(); }
  void TearDown() override { ClearSongByteCache(); }
  TempRoot root;
};

bool WaitForCached(const std::vector<std::wstring>& want) {
  for (int i = 0; i < 500; ++i) {
    if (SongByteCachePaths() == want) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST(PadSongNumber, PadsToFourDigits) {
  struct Case {
    int number;
    std::wstring text;
  } cases[] = {{7, L"0007"}, {123, L"0123"}, {1234, L"1234"}, {12345, L"12345"}, {0, L"0000"}};
  for (const auto& c : cases) EXPECT_EQ(PadSongNumber(c.number), c.text) << c.number;
  EXPECT_EQ(SongFilePath(L'E', 12, L".txt"), L"<root>/system/E0012.txt");
}

TEST_F(SongFileCacheTest, SeventhFileEvictsTheFirstAndHitsDoNotRefresh) {
  for (char c = 'A'; c <= 'G'; ++c) root.Write(std::string("P") + c + ".MID", std::string(3, c));
  for (wchar_t c = L'A'; c <= L'F'; ++c)
    EXPECT_EQ(ReadSongBytesCached(SysPath(std::wstring(L"P") + c + L".MID")),
              std::string(3, static_cast<char>(c)));
  // A hit on A does not move it: G still evicts A.
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"PA.MID")), "AAA");
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"PG.MID")), "GGG");
  std::vector<std::wstring> expected;
  for (wchar_t c = L'B'; c <= L'G'; ++c) expected.push_back(SysPath(std::wstring(L"P") + c + L".MID"));
  EXPECT_EQ(SongByteCachePaths(), expected);
  // Reading A again goes to the disk and evicts B.
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"PA.MID")), "AAA");
  EXPECT_EQ(SongByteCachePaths().back(), SysPath(L"PA.MID"));
  EXPECT_EQ(SongByteCachePaths().front(), SysPath(L"PC.MID"));
  EXPECT_EQ(SongByteCachePaths().size(), 6u);
}

TEST_F(SongFileCacheTest, MissingAndEmptyFilesAreNeverStored) {
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0001.MID")), "");
  root.Write("P0002.MID", "");
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0002.MID")), "");
  EXPECT_EQ(ReadSongBytesCached(L"C:/tavelo/../etc/passwd"), "");
  EXPECT_TRUE(SongByteCachePaths().empty());
  // A later read of the same path tries the disk again.
  root.Write("P0001.MID", "MThd");
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0001.MID")), "MThd");
  EXPECT_EQ(SongByteCachePaths(), std::vector<std::wstring>{SysPath(L"P0001.MID")});
}

TEST_F(SongFileCacheTest, AReplacedFileIsReadAgain) {
  root.Write("P0001.txt", "old!");
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0001.txt")), "old!");
  // Same size, another modification time.
  root.Write("P0001.txt", "new!");
  std::filesystem::last_write_time(root.system("P0001.txt"),
                                   std::filesystem::file_time_type::clock::now() + std::chrono::seconds(5));
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0001.txt")), "new!");
  // Same size and the old modification time again: a file put in place by a rename is another file.
  const auto oldTime = std::filesystem::last_write_time(root.system("P0001.txt"));
  root.Write("P0001.txt", "NEW!");
  std::filesystem::last_write_time(root.system("P0001.txt"), oldTime);
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0001.txt")), "NEW!");
  // Another size.
  root.Write("P0001.txt", "newer");
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0001.txt")), "newer");
  EXPECT_EQ(SongByteCachePaths().size(), 1u);
  // A deleted file is not served from the cache and leaves it.
  std::filesystem::remove(root.system("P0001.txt"));
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0001.txt")), "");
  EXPECT_TRUE(SongByteCachePaths().empty());
}

TEST_F(SongFileCacheTest, NamesMatchWithoutRegardToCaseButKeysAreExact) {
  root.Write("P0012.MID", "midi");
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"p0012.mid")), "midi");
  EXPECT_EQ(ReadSongBytesCached(SysPath(L"P0012.MID")), "midi");
  EXPECT_EQ(SongByteCachePaths().size(), 2u);
}

TEST_F(SongFileCacheTest, PrewarmCommandWarmsMidiAndText) {
  root.Write("P0012.MID", "midi");
  root.Write("P0012.txt", "text");
  for (const wchar_t* arg : {L"0", L"-12", L"abc", L"", L"99999999999"}) PrewarmSongCommand(arg);
  PrewarmSongCommand(L"12");
  EXPECT_TRUE(WaitForCached({SysPath(L"P0012.MID"), SysPath(L"P0012.txt")}));
}

TEST_F(SongFileCacheTest, AvailabilityReadsNothing) {
  root.Write("P0003.MID", "x");
  EXPECT_TRUE(SongFileAvailable(SysPath(L"P0003.MID")));
  EXPECT_FALSE(SongFileAvailable(SysPath(L"P0004.MID")));
  EXPECT_FALSE(SongFileAvailable(L"C:/tavelo/system"));
  EXPECT_TRUE(SongByteCachePaths().empty());
}

TEST_F(SongFileCacheTest, AnUnplayableMidiFileIsNamedWithItsReason) {
  std::string header = std::string("MThd") + std::string("\0\0\0\x06\0\0\0\x01\x01\xE0", 10);
  struct Case {
    const char* name;
    std::string bytes;
    uint64_t size;  // made sparse to this size when above the bytes
    std::wstring why;
  } cases[] = {
      {"P0001.MID", "", 0, L"빈 파일입니다"},
      {"P0002.MID", "garbage that is no MIDI file", 0, L"MIDI 파일이 아닙니다"},
      {"P0003.MID", "MThd\0\0", 0, L"MIDI 파일이 아닙니다"},
      {"P0004.MID", header, 2ULL << 30, L"파일이 너무 큽니다: 2048 MB, 최대 64 MB"},
      {"P0005.MID", header + "MTrk", 0, L""},
      {"P0006.MID", "", 0, L"파일을 열 수 없습니다"},
  };
  for (const auto& c : cases) {
    if (std::string(c.name) != "P0006.MID") root.Write(c.name, c.bytes);
    if (c.size) std::filesystem::resize_file(root.system(c.name), c.size);
    const std::wstring path = SysPath(std::wstring(c.name, c.name + 9));
    EXPECT_EQ(MidiFileRefusal(path), c.why) << c.name;
  }
  // The huge file is never read into memory or the cache.
  EXPECT_EQ(ReadSongBytesShared(SysPath(L"P0004.MID"))->size(), 0u);
  for (const std::wstring& cached : SongByteCachePaths()) EXPECT_NE(cached, SysPath(L"P0004.MID"));
}
