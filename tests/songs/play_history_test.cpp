// Play history and favourites files: reading, the end-of-run mark, saving and the page payloads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "songs/play_history.h"
#include "temp_root.h"

namespace {

PlayHistoryEntry H(int id, std::wstring title, std::wstring time, std::vector<std::wstring> names, bool ins) {
  return {id, std::move(title), std::move(time), std::move(names), ins};
}

TEST(PlayHistory, ParsesLines) {
  struct Case {
    std::string file;
    std::vector<PlayHistoryEntry> want;
  };
  const std::vector<Case> cases = {
      {"12\t사랑\t2024-05-01 20:15", {H(12, L"사랑", L"2024-05-01 20:15", {}, false)}},
      {"7\tA\tT\t철수;;영희\t1\r\n", {H(7, L"A", L"T", {L"철수", L"영희"}, true)}},
      {"\n\n1\tA\tT\t\t0\n2\tB\n\nx\tC\tT\t\t2\n", {H(1, L"A", L"T", {}, false), H(0, L"C", L"T", {}, false)}},
      {"5\t\t\t\t1", {H(5, L"", L"", {}, true)}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParsePlayHistory(c.file), c.want) << c.file;
}

TEST(PlayHistory, ParsesFavourites) {
  struct Case {
    std::string file;
    std::vector<FavoriteEntry> want;
  };
  const std::vector<Case> cases = {
      {"철수\t12\t사랑 (live)\t2\t-1\t1\n", {{L"철수", 12, L"사랑 (live)", 2, -1, 1}}},
      {"a\t3\tT\t1\t2", {{L"a", 3, L"T", 1, 2, -1}}},
      {"a\t3\tT\r\nb\tx\tU\t\t\t", {{L"a", 3, L"T", 0, 0, -1}, {L"b", 0, L"U", 0, 0, 0}}},
      {"only\ttwo\n", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseFavorites(c.file), c.want) << c.file;
}

TEST(PlayHistory, MarksTheLastLineAsEndOfRun) {
  struct Case {
    std::string file;
    std::optional<std::string> want;
  };
  const std::vector<Case> cases = {
      {"1\tA\tT", "1\tA\tT\t\t1"},
      {"1\tA\tT\t철수\t0", "1\tA\tT\t철수\t1"},
      {"1\tA\tT\t\t0\n2\tB\tT\t\t0\n\n\n", "1\tA\tT\t\t0\n2\tB\tT\t\t1\n\n\n"},
      {"1\tA\tT\t\t0\r\n2\tB\tT\t\t0\r\n", "1\tA\tT\t\t0\r\n2\tB\tT\t\t1\r\n"},
      {"1\tA\tT\tx\t0\textra", "1\tA\tT\tx\t0\t1"},
      {"\n\r\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(MarkEndOfRun(c.file), c.want) << c.file;
}

TEST(PlayHistory, SavesMarksAndReloadsThroughTheFiles) {
  TempRoot root;
  ASSERT_TRUE(SavePlayHistory(L"3\t사랑\t2024-01-02 03:04\t철수\t1\n4\t이별\t2024-01-02 03:09\t\t0"));
  EXPECT_EQ(root.Read("history.log"), "3\t사랑\t2024-01-02 03:04\t철수\t1\n4\t이별\t2024-01-02 03:09\t\t0");
  MarkLastHistoryInsUsed();
  EXPECT_EQ(root.Read("history.log"), "3\t사랑\t2024-01-02 03:04\t철수\t1\n4\t이별\t2024-01-02 03:09\t\t1");
  LoadPlayHistory();
  ASSERT_EQ(SongHistory.history.size(), 2u);
  EXPECT_TRUE(SongHistory.history[1].insUsed);
  EXPECT_EQ(BuildHistoryPayload(),
            L"[{id:3,title:'사랑',time:'2024-01-02 03:04',performers:['철수'],insUsed:true},"
            L"{id:4,title:'이별',time:'2024-01-02 03:09',performers:[],insUsed:true}]");

  ASSERT_TRUE(SavePlayHistory(L""));
  EXPECT_EQ(root.Read("history.log"), "");
  MarkLastHistoryInsUsed();
  EXPECT_EQ(root.Read("history.log"), "");

  ASSERT_TRUE(SaveFavorites(L"it's\t5\ta\\b\t0\t0\t-1"));
  LoadFavorites();
  EXPECT_EQ(BuildFavoritesPayload(), L"[{name:'it\\'s',id:5,title:'a\\\\b',t:0,p:0,km:-1}]");
}

TEST(PlayHistory, MissingFilesGiveEmptyLists) {
  TempRoot root;
  SongHistory.history = {H(1, L"x", L"y", {}, false)};
  LoadPlayHistory();
  LoadFavorites();
  EXPECT_TRUE(SongHistory.history.empty());
  EXPECT_EQ(BuildHistoryPayload(), L"[]");
  EXPECT_EQ(BuildFavoritesPayload(), L"[]");
  MarkLastHistoryInsUsed();
  EXPECT_FALSE(std::filesystem::exists(root.system("history.log")));
}

}  // namespace
