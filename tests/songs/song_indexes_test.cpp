#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <shared_mutex>

#include "base/text.h"
#include "platform/files.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"
#include "songs/song_indexes.h"
#include "songs/song_list.h"
#include "temp_root.h"

namespace {

std::string U8(std::wstring_view w) { return WideToUtf8(w); }

SongRecord Song(int id, std::wstring nat = L"", std::wstring genre = L"") {
  SongRecord s;
  s.id = id;
  s.nat = std::move(nat);
  s.genre = std::move(genre);
  return s;
}

class SongIndexTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSongByteCache(); }
  void TearDown() override {
    SetList({});
    ClearSongByteCache();
  }
  void SetList(std::vector<SongRecord> songs) {
    std::unique_lock lock(SongLibrary.SongListMutex);
    SongLibrary.SongList = std::move(songs);
  }
  SongRecord At(size_t i) {
    std::shared_lock lock(SongLibrary.SongListMutex);
    return SongLibrary.SongList.at(i);
  }
  std::string Log() const { return root.Read("debug_log.txt"); }
  bool Exists(std::string_view name) const { return std::filesystem::exists(root.system(name)); }
  TempRoot root;
};

// A songs.csv row of 21 fields; the given columns replace the defaults (written as they are).
std::string Row(std::map<int, std::string> set) {
  std::string row;
  for (int i = 0; i < kSongsCsvColumns; ++i) {
    if (i) row += ',';
    auto it = set.find(i);
    row += it != set.end() ? it->second : std::string();
  }
  return row;
}

}  // namespace

TEST_F(SongIndexTest, GenreIndexLines) {
  SetList({Song(12), Song(13), Song(14), Song(15), Song(16, L"", L"트로트"), Song(17), Song(18)});
  root.Write("genre.idx", "12\t" + U8(L"발라드") +
                              "\n"
                              "13\t\n"          // empty genre
                              "0\tzero\n"       // number not above 0
                              "-4\tneg\n"
                              "x14\tword\n"     // no leading number
                              "14\tA\tB\r\n"    // TAB kept inside the genre, CR cut
                              "15\tfirst\n15\tlast\n"  // last line wins
                              "16\tother\n"     // a song with a genre keeps it
                              "17 no tab\n"
                              "\n"
                              "99\tnot listed\n");
  EXPECT_EQ(LoadGenreIndex(), 3);
  const std::wstring want[] = {L"발라드", L"", L"A\tB", L"last", L"트로트", L"", L""};
  for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(At(i).genre, want[i]) << i;
  EXPECT_NE(Log().find(U8(L"장르 인덱스 로드: 5개 -> 곡목록 반영 3곡")), std::string::npos);

  std::filesystem::remove(root.system("genre.idx"));
  EXPECT_EQ(LoadGenreIndex(), 0);
}

TEST_F(SongIndexTest, GenreIndexBuild) {
  SongIndexes.genreBuildDelayMs = 0;
  root.Write("P0001.txt", U8(L"1\n아리랑\n\n\n민요\n\n\n\n민요풍\n"));
  root.Write("P0002.txt", U8(L"2\n도라지\n"));
  int lines = 0;
  EXPECT_EQ(BuildGenreIndexText({1, 2, 3}, lines), "1\t" + U8(L"민요풍") + "\n");
  EXPECT_EQ(lines, 1);
  BuildGenreIndexThread({1, 2});
  EXPECT_EQ(root.Read("genre.idx"), "1\t" + U8(L"민요풍") + "\n");
  EXPECT_NE(Log().find(U8(L"장르 인덱스 생성 완료: 1곡")), std::string::npos);
}

TEST(ParsePopKoLine, Cases) {
  struct Case {
    std::string line;
    bool ok;
    int number;
    std::wstring title, singer, line1;
  } cases[] = {
      {"7\t" + U8(L"안녕") + "\t" + U8(L"아델") + "\t" + U8(L"첫 줄"), true, 7, L"안녕", L"아델", L"첫 줄"},
      {"7\ta\tb\tc\td", true, 7, L"a", L"b", L"c\td"},  // a fourth TAB stays in the first line
      {"7\t\t\t", true, 7, L"", L"", L""},
      {"12abc\tt\ts\tl", true, 12, L"t", L"s", L"l"},
      {"7\ta\tb", false, 0, L"", L"", L""},   // only two TABs
      {"0\ta\tb\tc", false, 0, L"", L"", L""},
      {"-3\ta\tb\tc", false, 0, L"", L"", L""},
      {"x\ta\tb\tc", false, 0, L"", L"", L""},
      {"99999999999\ta\tb\tc", false, 0, L"", L"", L""},  // overflow names no song
      {"", false, 0, L"", L"", L""},
  };
  for (const Case& c : cases) {
    std::optional<PopKoLine> p = ParsePopKoLine(c.line);
    ASSERT_EQ(p.has_value(), c.ok) << c.line;
    if (!p) continue;
    EXPECT_EQ(p->number, c.number) << c.line;
    EXPECT_EQ(p->title, c.title) << c.line;
    EXPECT_EQ(p->singer, c.singer) << c.line;
    EXPECT_EQ(p->line1, c.line1) << c.line;
  }
}

TEST_F(SongIndexTest, PopKoIndexAppliedToTheList) {
  SongRecord hello = Song(7, L"p");
  hello.chosung = L"old";
  hello.line1 = L"hello";
  SongRecord plain = Song(8, L"P");
  plain.chosung = L"keep";
  SetList({hello, plain, Song(9, L"p"), Song(10)});
  root.Write("popko.idx", "#POPKO2\n"
                          "# comment\n"
                          "7\t" + U8(L"안녕") + "\t" + U8(L"아델") + "\t" + U8(L"헬로 잇츠 미") +
                              "\r\n"
                              "8\tHello\t\t\n"  // no Hangul: chosung kept, koTitle set
                              "bad line\n"
                              "\n"
                              "500\tx\ty\tz\n");
  EXPECT_EQ(LoadPopKoIndex(), 2);
  SongRecord a = At(0), b = At(1);
  EXPECT_EQ(a.chosung, L"ㅇㄴ");
  EXPECT_EQ(a.singerChosung, L"ㅇㄷ");
  EXPECT_EQ(a.line1, L"헬로 잇츠 미");
  EXPECT_EQ(a.koTitle, L"안녕");
  EXPECT_EQ(a.koSinger, L"아델");
  EXPECT_EQ(b.chosung, L"keep");
  EXPECT_EQ(b.koTitle, L"Hello");
  EXPECT_EQ(LoadPopKoIndex(), 0);  // applied again: nothing changes
  const std::string log = Log();
  EXPECT_NE(log.find(U8(L"팝송 한글검색 인덱스 로드: 줄 3 / 한글제목 있는 줄 1 / 곡번호 일치 2 / 실제 반영 2 (목록 4곡)")),
            std::string::npos);
  EXPECT_NE(log.find(U8(L"팝송 한글검색: 목록의 팝송(nat=p) 3곡 중 한글읽기 없는 곡 1곡 (예: 9)")), std::string::npos);

  // An index of an older version is not applied and not patched in.
  root.Write("popko.idx", "#POPKO1\n7\ta\tb\tc\n");
  EXPECT_FALSE(IsPopKoIndexCurrent());
  EXPECT_EQ(LoadPopKoIndex(), 0);
  EXPECT_EQ(PatchSongsCsvFromPopKo(), 0);
  EXPECT_NE(Log().find(U8(L"[POPKO] songs.csv 반영: 예전 판 색인이라 건너뜁니다")), std::string::npos);
}

TEST_F(SongIndexTest, SongsCsvPatch) {
  root.Write("popko.idx", "#POPKO2\n"
                          "7\t" + U8(L"안녕") + "\t" + U8(L"아델") + "\t" + U8(L"헬로, \"잇츠\" 미") +
                              "\n"
                              "8\t" + U8(L"같음") + "\t" + U8(L"가수") + "\t" + U8(L"첫줄") +
                              "\n"
                              "9\t" + U8(L"짧은") + "\tx\ty\n");
  const std::string header(kSongsCsvHeader);
  const std::string same = Row({{0, "8"}, {1, "p"}, {13, U8(L"첫줄")}, {19, U8(L"ㄱㅇ")}, {20, U8(L"ㄱㅅ")}});
  const std::string before = "\xEF\xBB\xBF" + header + "\r\n" +
                             Row({{0, "7"}, {1, "p"}, {7, "\"Hello, World\""}, {12, "\"A\"\"dele\""}, {13, "\"old, line\""},
                                  {19, "HW"}, {20, "A"}}) +
                             "\r\n" + same + "\n\r\n" +
                             "9,p,short row\n" + Row({{0, "10"}, {7, "\"x\"\"y\""}}) + "\n";
  root.Write("songs.csv", before);
  EXPECT_EQ(PatchSongsCsvFromPopKo(), 1);
  const std::string after = "\xEF\xBB\xBF" + header + "\r\n" +
                            Row({{0, "7"}, {1, "p"}, {7, "\"Hello, World\""}, {12, "\"A\"\"dele\""},
                                 {13, "\"" + U8(L"헬로, \"\"잇츠\"\" 미") + "\""}, {19, U8(L"ㅇㄴ")}, {20, U8(L"ㅇㄷ")}}) +
                            "\r\n" + same + "\r\n" + "9,p,short row\r\n" + Row({{0, "10"}, {7, "\"x\"\"y\""}}) + "\r\n";
  EXPECT_EQ(root.Read("songs.csv"), after);
  EXPECT_EQ(root.Read("songs.csv.bak"), before);
  EXPECT_FALSE(Exists("songs.csv.tmp"));
  EXPECT_NE(Log().find(U8(L"[POPKO] songs.csv 반영 완료: 1줄 (이전 파일은 songs.csv.bak)")), std::string::npos);

  // A read-only catalogue is left alone; a rewritten one keeps its mode.
  EXPECT_EQ(std::filesystem::status(root.system("songs.csv")).permissions(),
            std::filesystem::status(root.system("songs.csv.bak")).permissions());
  std::filesystem::permissions(root.system("songs.csv"), std::filesystem::perms::owner_read,
                               std::filesystem::perm_options::replace);
  root.Write("popko.idx", "#POPKO2\n7\tx\ty\tz\n");
  EXPECT_EQ(PatchSongsCsvFromPopKo(), 0);
  EXPECT_EQ(root.Read("songs.csv"), after);
  std::filesystem::permissions(root.system("songs.csv"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::replace);
  root.Write("popko.idx", "#POPKO2\n7\t" + U8(L"안녕") + "\t" + U8(L"아델") + "\t" + U8(L"헬로, \"잇츠\" 미") + "\n");

  // Nothing left to change: the file, its time and the .bak stay as they are.
  std::filesystem::remove(root.system("songs.csv.bak"));
  const auto stamp = plat::StatFile(root.system("songs.csv"));
  EXPECT_EQ(PatchSongsCsvFromPopKo(), 0);
  EXPECT_EQ(plat::StatFile(root.system("songs.csv")), stamp);
  EXPECT_FALSE(Exists("songs.csv.bak"));
  EXPECT_NE(Log().find(U8(L"[POPKO] songs.csv 반영: 바뀐 줄이 없어 파일을 건드리지 않았습니다")), std::string::npos);
}

TEST_F(SongIndexTest, SongsCsvPatchFailures) {
  struct Case {
    const char* index;  // nullptr: no popko.idx
    bool csv;
    std::wstring log;
  } cases[] = {
      {nullptr, true, L"[POPKO] songs.csv 반영: popko.idx 가 없습니다"},
      {"#POPKO2\n\n# only comments\n", true, L"[POPKO] songs.csv 반영: 인덱스가 비어 있습니다"},
      {"#POPKO2\n7\ta\tb\tc\n", false, L"[POPKO] songs.csv 를 열지 못했습니다"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(root.system("popko.idx"));
    std::filesystem::remove(root.system("songs.csv"));
    if (c.index) root.Write("popko.idx", c.index);
    if (c.csv) root.Write("songs.csv", std::string(kSongsCsvHeader) + "\n");
    EXPECT_EQ(PatchSongsCsvFromPopKo(), 0) << U8(c.log);
    EXPECT_NE(Log().find(U8(c.log)), std::string::npos) << U8(c.log);
  }
}

TEST_F(SongIndexTest, PopKoIndexBuildAndStart) {
  SongIndexes.popKoBuildDelayMs = 0;
  SongIndexes.popKoSyncDelayMs = 0;
  root.Write("E0007.txt", U8(L"안녕\t하세요\n아델\n>\n헬로~ 잇츠\r미\n"));
  root.Write("E0008.txt", "");
  int read = 0;
  EXPECT_EQ(BuildPopKoIndexText({7, 8}, read),
            "#POPKO2\n7\t" + U8(L"안녕 하세요") + "\t" + U8(L"아델") + "\t" + U8(L"헬로 잇츠 미") + "\n");
  EXPECT_EQ(read, 1);

  // E files only outside the list: nothing is built.
  SetList({Song(1)});
  StartPopKoIndexBuild();
  EXPECT_FALSE(Exists("popko.idx"));
  EXPECT_NE(Log().find(U8(L"팝송 한글검색: E 파일 2개가 모두 목록 밖 - 건너뜀")), std::string::npos);

  // An older index is removed at start.
  SetList({});
  root.Write("popko.idx", "#POPKO1\n");
  StartPopKoIndexBuild();
  EXPECT_FALSE(Exists("popko.idx"));
  EXPECT_EQ(CollectPopTextSongNumbers(), (std::vector<int>{7, 8}));
}
