#include <gtest/gtest.h>

#include <fstream>

#include "base/text.h"
#include "online/board.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "common/temp_root.h"

namespace {

std::string Row(int id, const std::string& dateCell, const std::string& board = "tavelo_download_6") {
  return "<tr><a href=\"/bbs/board.php?bo_table=" + board + "&amp;wr_id=" + std::to_string(id) + "\">t</a>" +
         "<td class=\"wr-date\">" + dateCell + "</td></tr>";
}

void WriteSystem(const std::string& name, const std::string& bytes) {
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/" + Utf8ToWide(name)), bytes);
}

}  // namespace

TEST(BoardScanners, DecodeAmpMakesOnePass) {
  EXPECT_EQ(DecodeAmp("a&amp;b&amp;amp;c&lt;&"), "a&b&amp;c&lt;&");
}

TEST(BoardScanners, ExtractWrIdsGivesDistinctIdsOfTheBoardHighestFirst) {
  struct Case {
    std::string page;
    std::vector<int> want;
  } cases[] = {
      {"bo_table=tavelo_download_6&amp;wr_id=5 x bo_table=tavelo_download_6&wr_id=12", {12, 5}},
      {"bo_table=tavelo_download_6&wr_id=7 .. bo_table=tavelo_download_6&wr_id=7&page=2", {7}},
      {"bo_table=tavelo_download_6&wr_id=x bo_table=tavelo_download_6&wr_id=3", {3}},
      {"bo_table=tavelo_download_66&wr_id=9 bo_table=tavelo_program&wr_id=8", {}},
      {"", {}},
      {"bo_table=tavelo_download_6&wr_id=99999999999999", {2147483647}},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractWrIds(c.page, kSongBoard), c.want) << c.page;
}

TEST(BoardScanners, ExtractWrIdDatesTakesTheDateCellOfEachRow) {
  std::string page = Row(10, "2026-03-01") + Row(11, "12:34") + Row(12, " <span>2025-12-31</span>") +
                     "<tr><a href=\"bo_table=tavelo_download_6&wr_id=13\">t</a></tr>" + Row(14, "2026-01-02");
  BoardDateMap want = {{10, L"2026-03-01"}, {12, L"2025-12-31"}, {14, L"2026-01-02"}};
  EXPECT_EQ(ExtractWrIdDates(page, kSongBoard), want);
  EXPECT_EQ(GetPostListDate(want, 10), L"2026-03-01");
  EXPECT_EQ(GetPostListDate(want, 13), L"");
  EXPECT_EQ(GetPostListDate({{1, L"2026-01"}}, 1), L"");
}

TEST(BoardScanners, PostTitleAndInfo) {
  std::string post =
      "<meta name=\"title\" content=\"신곡 3월\"><meta itemprop=\"datePublished\" content=\"2026-03-05T10:00\">"
      "<a href=\"download.php?bo_table=tavelo_download_6&amp;wr_id=8&amp;no=1\">a</a>"
      "<a href=\"download.php?bo_table=tavelo_download_6&amp;wr_id=8&amp;no=0\">b</a>";
  EXPECT_EQ(ExtractPostTitle(post), L"신곡 3월");
  EXPECT_EQ(ExtractPostTitle("no title"), L"(제목 없음)");
  EXPECT_EQ(ExtractPostTitle("name=\"title\" content=\""), L"(제목 없음)");
  PostInfo info = ParsePostInfo(post, kSongBoard, 8);
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.downloadPath, L"/bbs/download.php?bo_table=tavelo_download_6&wr_id=8&no=1");
  EXPECT_EQ(info.date, L"2026-03-05");
  PostInfo none = ParsePostInfo("itemprop=\"datePublished\" content=\"2026-3-5\"", kSongBoard, 8);
  EXPECT_EQ(none.downloadPath, L"/bbs/download.php?bo_table=tavelo_download_6&wr_id=8");
  EXPECT_EQ(none.date, L"");
}

TEST(BoardScanners, ParseDownloadLinksTakesTheFirstOfEachKind) {
  struct Case {
    std::string page;
    int zip, exe, sig;
  } cases[] = {
      {"download.php?no=0\">base.ZIP</a> download.php?no=1\">Tavelo.exe</a>", 0, 1, -1},
      {"download.php?no=2\">a.exe download.php?no=3\">b.exe", -1, 2, -1},
      {"download.php?no=-1\">a.exe download.php?x\">b.exe", -1, -1, -1},
      {"download.php?no=4\">readme.txt", -1, -1, -1},
      {"download.php?no=5\">x.exe.zip", -1, 5, -1},
      {"download.php?no=6\">Tavelo.EXE.SIG</a> download.php?no=7\">Tavelo.exe</a>", -1, 7, 6},
      {"download.php?no=0\">Tavelo.exe</a> download.php?no=1\">Tavelo.exe.sig download.php?no=2\">b.exe.sig",
       -1, 0, 1},
      {"no download links", -1, -1, -1},
  };
  for (const auto& c : cases) {
    int zip = 9, exe = 9, sig = 9;
    ParseDownloadLinks(c.page, zip, exe, sig);
    EXPECT_EQ(zip, c.zip) << c.page;
    EXPECT_EQ(exe, c.exe) << c.page;
    EXPECT_EQ(sig, c.sig) << c.page;
  }
}

TEST(UpdateStateFiles, AppliedIdsAndTheirFallback) {
  struct Case {
    const char* applied;    // nullptr: no applied_wrids.cfg
    const char* lastPost;   // nullptr: no song_update.cfg
    AppliedPostSet want;
  } cases[] = {
      {"12\r\n0\n-3\nabc\n\n15\n", "99", {12, 15}},
      {nullptr, "4\r\n", {1, 2, 3, 4}},
      {nullptr, nullptr, {}},
      {nullptr, "abc", {}},
      {nullptr, "2000000000", {}},  // a damaged number gives nothing rather than billions of ids
  };
  for (const auto& c : cases) {
    TempRoot root;
    if (c.applied) WriteSystem("applied_wrids.cfg", c.applied);
    if (c.lastPost) WriteSystem("song_update.cfg", c.lastPost);
    EXPECT_EQ(LoadAppliedPostIds(), c.want) << (c.applied ? c.applied : "-") << " / " << (c.lastPost ? c.lastPost : "-");
  }
  TempRoot root;
  SaveAppliedPostIds({3, 7});
  EXPECT_EQ(LoadAppliedPostIds(), (AppliedPostSet{3, 7}));
  SaveLastAppliedSongPost(L"7");
  EXPECT_EQ(plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/song_update.cfg")).value_or(""), "7");
}

TEST(UpdateStateFiles, LastDate) {
  struct Case {
    const char* file;
    const wchar_t* want;
  } cases[] = {{"2026-03-01\r\n", L"2026-03-01"}, {"2026-03-1", L""}, {"2026-03-01xyz", L"2026-03-01"}, {nullptr, L""}};
  for (const auto& c : cases) {
    TempRoot root;
    if (c.file) WriteSystem("song_last_date.cfg", c.file);
    EXPECT_EQ(LoadSongLastDate(), c.want);
  }
  TempRoot root;
  SaveSongLastDate(L"2026-04-04");
  EXPECT_EQ(LoadSongLastDate(), L"2026-04-04");
}
