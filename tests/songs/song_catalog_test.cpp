#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "base/text.h"
#include "midi_bytes.h"
#include "platform/codepage.h"
#include "songs/song_catalog.h"
#include "songs/song_file_cache.h"
#include "temp_root.h"

namespace {

std::string U8(std::wstring_view w) { return WideToUtf8(w); }

std::string Utf16(std::wstring_view w, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t c : w) {
    const char hi = char((c >> 8) & 0xFF), lo = char(c & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearSongByteCache(); }
  void TearDown() override { ClearSongByteCache(); }
  void Text(const std::string& name, std::wstring_view text) { root.Write(name, U8(text)); }
  std::string Log() const { return root.Read("debug_log.txt"); }
  TempRoot root;
};

}  // namespace

TEST(DecodeTextToUtf8, ByteOrderMarksAndCodePages) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {"UTF-16 LE", Utf16(L"아리랑\n", false), U8(L"아리랑\n")},
      {"UTF-16 LE odd byte", Utf16(L"가", false) + "x", U8(L"가")},
      {"UTF-16 BE", Utf16(L"도라지", true), U8(L"도라지")},
      {"CP949", plat::WideToAnsi(L"밀양 아리랑"), U8(L"밀양 아리랑")},
      {"UTF-8 keeps its mark", "\xEF\xBB\xBF" + U8(L"강강술래"), "\xEF\xBB\xBF" + U8(L"강강술래")},
      {"ASCII", "abc", "abc"},
      {"empty", "", ""},
      {"one FF byte", "\xFF", U8(plat::AnsiToWide("\xFF"))},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeTextToUtf8(c.bytes), c.utf8) << c.what;
}

TEST(TakeSongTextLines, MarkCrAndNulRemoved) {
  const std::vector<std::wstring> want{L"12", L"제목", L"", L"a\tb"};
  EXPECT_EQ(TakeSongTextLines("\xEF\xBB\xBF" "12\r\n" + U8(L"제목") + "\r\n\n" + std::string("a\0\tb\r", 5)), want);
  EXPECT_EQ(TakeSongTextLines("x\r\r\ny"), (std::vector<std::wstring>{L"x\r", L"y"}));
  EXPECT_TRUE(TakeSongTextLines("").empty());
}

TEST(ExtractChosung, InitialsOfSyllablesOnly) {
  struct Case {
    std::wstring text, initials;
  } cases[] = {
      {L"봄날 2", L"ㅂㄴ"},
      {L"아리랑", L"ㅇㄹㄹ"},
      {L"까치 까치 설날은", L"ㄲㅊㄲㅊㅅㄴㅇ"},
      {L"Yesterday", L""},
      {L"ㄱㄴ가", L"ㄱ"},  // loose jamo dropped
      {L"힣가", L"ㅎㄱ"},   // last and first syllable
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractChosung(c.text), c.initials) << U8(c.text);
}

TEST(CsvFields, QuoteAndSplitRoundTrip) {
  struct Case {
    std::wstring text;
    std::string field;
  } cases[] = {
      {L"plain", "plain"},
      {L"a,b", "\"a,b\""},
      {L"say \"hi\"", "\"say \"\"hi\"\"\""},
      {L"two\nlines", "\"two\nlines\""},
      {L"노래", U8(L"노래")},
      {L"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuoteCsvField(c.text), c.field);
    const std::string line = "1," + c.field + ",x";
    EXPECT_EQ(SplitCsvLine(line), (std::vector<std::string>{"1", U8(c.text), "x"})) << line;
  }
  struct Split {
    std::string line;
    std::vector<std::string> fields;
  } splits[] = {
      {"", {""}},
      {",,", {"", "", ""}},
      {"a,", {"a", ""}},
      {"ab\"c,d\"e,f", {"abc,de", "f"}},  // a quote opens quoting mid-field
      {"\"unclosed,x", {"unclosed,x"}},
      {"\"\"\"\"", {"\""}},
  };
  for (const auto& s : splits) EXPECT_EQ(SplitCsvLine(s.line), s.fields) << s.line;
}

TEST_F(CatalogTest, RowFromSongText) {
  // number, title, lyricist, composer, singer, sex, keys, tempo text, genre
  Text("P0007.txt", L"7\n아리랑, \"본조\"\n작사 미상\n작곡 미상\n민요\n여\nG/C/G\nx/96\n  민요  \n>\n-~ _\n아-리_랑~ 아리랑\n<\n");
  root.Write("P0008.txt", plat::WideToAnsi(L" 8/ P\n도라지 타령\n\n\n민요 가수\n\n\n\n\n>\n도라지 도라지\n<\n"));
  root.Write("P0009.txt", Utf16(L"9/\r\n밀양 아리랑\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n>\r\n날 좀 보소\r\n<\r\n", false));
  Text("P0010.txt", L"ABC\n제목\n");
  Text("P0011.txt", L"11\n\n");
  root.Write("P0007.MID", Smf({Track(Tempo(500000))}));
  root.Write("P0009.MID", Smf({Track(Name("none"))}));

  EXPECT_EQ(BuildSongsCsvRow(7), U8(L"7,k,여,G/C/G,32,120,민요,\"아리랑, \"\"본조\"\"\",\"아리랑, \"\"본조\"\"\",,"
                                    L"작사 미상,작곡 미상,민요,아리랑 아리랑,,,,,,ㅇㄹㄹㅂㅈ,ㅁㅇ"));
  // CP949, blanks before the number, a pop song without its E file keeps its own texts.
  EXPECT_EQ(BuildSongsCsvRow(8), U8(L"8,P,,,32,0,,도라지 타령,도라지 타령,,,,민요 가수,도라지 도라지,,,,,,ㄷㄹㅈㅌㄹ,ㅁㅇㄱㅅ"));
  EXPECT_EQ(BuildSongsCsvRow(9), U8(L"9,k,,,32,0,,밀양 아리랑,밀양 아리랑,,,,,날 좀 보소,,,,,,ㅁㅇㅇㄹㄹ,"));
  EXPECT_EQ(BuildSongsCsvRow(10), "");  // line 0 is not a number
  EXPECT_EQ(BuildSongsCsvRow(11), "");  // no title
  EXPECT_EQ(BuildSongsCsvRow(12), "");  // no file
  EXPECT_EQ(SplitCsvLine(BuildSongsCsvRow(7)).size(), 21u);
  EXPECT_EQ(SplitCsvLine(BuildSongsCsvRow(7))[7], U8(L"아리랑, \"본조\""));
}

TEST_F(CatalogTest, HeaderLinesCountOnAfterASectionAndBlankLinesShift) {
  Text("P0020.txt", L"20\n제목\n\n작사\n작곡\n");      // the blank line shifts lyricist to composer
  Text("P0021.txt", L"21\n>\n가사\n<\n제목\n작사\n");  // numbering goes on after the section
  EXPECT_EQ(SplitCsvLine(BuildSongsCsvRow(20))[11], U8(L"작사"));
  EXPECT_EQ(SplitCsvLine(BuildSongsCsvRow(20))[12], U8(L"작곡"));
  const auto row = SplitCsvLine(BuildSongsCsvRow(21));
  EXPECT_EQ(row[7], U8(L"제목"));
  EXPECT_EQ(row[13], U8(L"가사"));
}

TEST_F(CatalogTest, OriginCodes) {
  struct Case {
    std::wstring line0, origin;
  } cases[] = {{L"12", L"k"}, {L"12/ p", L"p"}, {L"12/", L"k"}, {L"\t 12/k", L"k"}, {L"12/\tpop", L"p"}};
  int n = 30;
  for (const auto& c : cases) {
    Text("P00" + std::to_string(n) + ".txt", c.line0 + L"\n제목\n");
    EXPECT_EQ(SplitCsvLine(BuildSongsCsvRow(n))[1], U8(c.origin)) << U8(c.line0);
    ++n;
  }
}

TEST_F(CatalogTest, PopSongTakesItsKoreanTexts) {
  Text("P0012.txt", L"12/p\nYesterday Once More\n\n\nThe Singers\n\n\n\n>\nWhen I was young\n<\n");
  Text("E0012.txt", L"0012/p\n  어제 다시 한번  \n\n둘째 줄\n셋째 줄\n가수 이름\n>\n--\n어릴 적 나는\n");
  EXPECT_EQ(BuildSongsCsvRow(12),
            U8(L"12,p,,,32,0,,Yesterday Once More,Yesterday Once More,,,,The Singers,어릴 적 나는,,,,,,ㅇㅈㄷㅅㅎㅂ,ㄱㅅㅇㄹ"));
  std::wstring t, s, l;
  EXPECT_TRUE(ReadPopCompanionText(12, t, s, l));
  EXPECT_EQ(t, L"어제 다시 한번");
  EXPECT_EQ(s, L"가수 이름");  // sixth line of the file: the fourth candidate
  EXPECT_EQ(l, L"어릴 적 나는");

  struct Case {
    const char* what;
    std::wstring text, title, singer, line1;
  } cases[] = {
      {"two candidates", L"제목\n가수\n", L"제목", L"가수", L""},
      {"one candidate", L"<x\n제목만\n>\n  \n첫 줄\n", L"제목만", L"", L"첫 줄"},
      {"short number line stays", L"1\n제목\n", L"1", L"제목", L""},
      {"nothing", L"\n\n>\n-~_\n", L"", L"", L""},
  };
  for (const auto& c : cases) {
    ClearSongByteCache();
    Text("E0013.txt", c.text);
    const bool any = ReadPopCompanionText(13, t, s, l);
    EXPECT_EQ(any, !c.title.empty() || !c.singer.empty() || !c.line1.empty()) << c.what;
    EXPECT_EQ(t, c.title) << c.what;
    EXPECT_EQ(s, c.singer) << c.what;
    EXPECT_EQ(l, c.line1) << c.what;
  }
  // A Korean title without syllables keeps the song text's initials.
  ClearSongByteCache();
  Text("P0013.txt", L"13/p\n사랑 노래\n");
  Text("E0013.txt", L"LOVE SONG\n");
  EXPECT_EQ(SplitCsvLine(BuildSongsCsvRow(13))[19], U8(L"ㅅㄹㄴㄹ"));
}

TEST_F(CatalogTest, GenreOfSongText) {
  Text("P0001.txt", L"1\n제목\n\n\n\n\n\n\n  트로트 \n");
  Text("P0002.txt", L"2\n제목\n>\n\n<\n\n\n\n\n발라드\n");  // a section before line 8: none
  Text("P0003.txt", L"3\n제목\n");
  EXPECT_EQ(ReadGenreFromSongText(1), L"트로트");
  EXPECT_EQ(ReadGenreFromSongText(2), L"");
  EXPECT_EQ(ReadGenreFromSongText(3), L"");
  EXPECT_EQ(ReadGenreFromSongText(4), L"");
}

TEST_F(CatalogTest, MergeReplacesInPlaceAndAppends) {
  root.Write("songs.csv", "\xEF\xBB\xBF" "id,file header\r\n1,a\r\n\r\n\"2\",b\r\n3,c\r\n");
  int count = -1;
  EXPECT_TRUE(MergeSongsCsvRows({"id,given header", "2,B", "", "4,D", "1,A"}, count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(root.Read("songs.csv"), "id,file header\n1,A\n2,B\n3,c\n4,D\n");

  // Only a header: nothing merged, the file is still rewritten.
  root.Write("songs.csv", "\xEF\xBB\xBFh\r\n7,x\r\n");
  EXPECT_TRUE(MergeSongsCsvRows({"h2"}, count));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(root.Read("songs.csv"), "h\n7,x\n");

  // A number on two lines keeps both places, each with its last row.
  root.Write("songs.csv", "h\n5,one\n6,x\n5,two\n");
  EXPECT_TRUE(MergeSongsCsvRows({"h", "6,y"}, count));
  EXPECT_EQ(root.Read("songs.csv"), "h\n5,two\n6,y\n5,two\n");

  // No file: the given header starts it.
  std::filesystem::remove(root.system("songs.csv"));
  EXPECT_TRUE(MergeSongsCsvRows({"hdr\r", "9,z\r"}, count));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(root.Read("songs.csv"), "hdr\n9,z\n");

  // An empty list changes nothing.
  EXPECT_TRUE(MergeSongsCsvRows({}, count));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(root.Read("songs.csv"), "hdr\n9,z\n");
}

TEST_F(CatalogTest, MergeNeverReplacesACatalogueItCannotRead) {
  std::filesystem::create_directories(root.system("songs.csv"));  // there, but not readable as a file
  int count = -1;
  EXPECT_FALSE(MergeSongsCsvRows({"h", "1,a"}, count));
  EXPECT_TRUE(std::filesystem::is_directory(root.system("songs.csv")));
}

TEST_F(CatalogTest, RegenerateBuildsSortedRowsAndSongNew) {
  Text("P0012.txt", L"12\n열둘\n");
  Text("P0007.txt", L"7\n일곱\n");
  root.Write("songs.csv", std::string(kSongsCsvHeader) + "\n12,old\n3,keep\n");
  EXPECT_TRUE(RegenerateSongsCsv({12, 12, 7}, true));
  const std::string row7 = BuildSongsCsvRow(7), row12 = BuildSongsCsvRow(12);
  EXPECT_EQ(root.Read("songs.csv"), std::string(kSongsCsvHeader) + "\n" + row12 + "\n3,keep\n" + row7 + "\n");
  EXPECT_EQ(root.Read("song_new.csv"), "\xEF\xBB\xBF" + std::string(kSongsCsvHeader) + "\r\n" + row7 + "\r\n" + row12 + "\r\n");
  EXPECT_NE(Log().find(U8(L"songs.csv 재생성: txt 2개 스캔, 2곡 반영")), std::string::npos);
  EXPECT_NE(Log().find(U8(L"song_new.csv 생성: 이번 업데이트 2곡 기록")), std::string::npos);
}

TEST_F(CatalogTest, RegenerateEverySongTextAfterTheCatalogueWasDeleted) {
  Text("P0012.txt", L"12\n열둘\n");
  Text("p0007.TXT", L"7\n일곱\n");
  Text("P0003.txt.bak", L"3\n셋\n");
  Text("P99999999999.txt", L"5\n넘침\n");  // digits beyond an int: skipped
  Text("P0000.txt", L"0\n영\n");
  std::filesystem::create_directories(root.system("P0004.txt"));
  EXPECT_TRUE(RegenerateSongsCsv({}, true));
  EXPECT_EQ(root.Read("songs.csv"),
            std::string(kSongsCsvHeader) + "\n" + BuildSongsCsvRow(7) + "\n" + BuildSongsCsvRow(12) + "\n");
  EXPECT_FALSE(std::filesystem::exists(root.system("song_new.csv")));  // full regeneration: no song_new
  EXPECT_NE(Log().find(U8(L"txt 2개 스캔, 2곡 반영")), std::string::npos);
}

TEST_F(CatalogTest, AFullRebuildReplacesTheCatalogueWithoutReadingIt) {
  Text("P0012.txt", L"12\n열둘\n");
  // A huge catalogue (sparse) and an ordinary one with rows of songs that have no text: both go.
  for (uint64_t size : {uint64_t{0}, uint64_t{2} << 30}) {
    root.Write("songs.csv", std::string(kSongsCsvHeader) + "\n3,old\n");
    if (size) std::filesystem::resize_file(root.system("songs.csv"), size);
    EXPECT_TRUE(RegenerateSongsCsv({}, false)) << size;
    EXPECT_EQ(root.Read("songs.csv"), std::string(kSongsCsvHeader) + "\n" + BuildSongsCsvRow(12) + "\n") << size;
  }
  // A merge of new rows into a huge catalogue is refused and leaves it alone.
  std::filesystem::resize_file(root.system("songs.csv"), 2ULL << 30);
  int merged = 0;
  EXPECT_FALSE(MergeSongsCsvRows({"h", "5,x"}, merged));
  EXPECT_EQ(std::filesystem::file_size(root.system("songs.csv")), 2ULL << 30);
}

TEST_F(CatalogTest, RegenerateWithoutSongTextsChangesNothing) {
  EXPECT_TRUE(RegenerateSongsCsv({}, true));
  EXPECT_FALSE(std::filesystem::exists(root.system("songs.csv")));
  EXPECT_EQ(Log(), "");
  // Given songs that make no row: only the header is merged.
  EXPECT_TRUE(RegenerateSongsCsv({5}, true));
  EXPECT_EQ(root.Read("songs.csv"), std::string(kSongsCsvHeader) + "\n");
  EXPECT_FALSE(std::filesystem::exists(root.system("song_new.csv")));
}

TEST_F(CatalogTest, MergesFromSeveralThreadsLoseNoRow) {
  root.Write("songs.csv", "h\n");
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 20; ++i) {
        int count = 0;
        MergeSongsCsvRows({"h", std::to_string(t * 100 + i) + ",x"}, count);
      }
    });
  for (auto& th : threads) th.join();
  const std::string csv = root.Read("songs.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 161);
  for (int t = 0; t < 8; ++t)
    for (int i = 0; i < 20; ++i) EXPECT_NE(csv.find("\n" + std::to_string(t * 100 + i) + ",x\n"), std::string::npos);
}

TEST_F(CatalogTest, ACatalogueThatCannotBeRewrittenIsReportedAndKept) {
  namespace fs = std::filesystem;
  using P = fs::perms;
  struct Case {
    const char* what;
    bool folder;
    P mode;             // of the songs.csv file
    bool written;
    const char* cause;  // in the log when not written
  } cases[] = {
      {"folder", true, P::none, false, "\xED\x8F\xB4\xEB\x8D\x94"},                                  // "폴더"
      {"read-only", false, P::owner_read | P::group_read | P::others_read, false, "\xEC\x9D\xBD\xEA\xB8\xB0 \xEC\xA0\x84\xEC\x9A\xA9"},  // "읽기 전용"
      {"owner only", false, P::owner_read | P::owner_write, true, ""},
      {"group writable", false, P::owner_read | P::owner_write | P::group_read | P::group_write, true, ""},
  };
  for (const Case& c : cases) {
    TempRoot fresh;
    fresh.Write("P0012.txt", U8(L"12\n열둘\n"));
    const fs::path csv = fresh.system("songs.csv");
    if (c.folder) {
      fs::create_directories(csv);
    } else {
      fresh.Write("songs.csv", "");
      fs::permissions(csv, c.mode, fs::perm_options::replace);
    }
    EXPECT_EQ(RegenerateSongsCsv({}, true), c.written) << c.what;
    const std::string log = fresh.Read("debug_log.txt");
    if (c.written) {
      EXPECT_EQ(fresh.Read("songs.csv"), std::string(kSongsCsvHeader) + "\n" + BuildSongsCsvRow(12) + "\n") << c.what;
      EXPECT_EQ(fs::status(csv).permissions(), c.mode) << c.what;
      EXPECT_NE(log.find(U8(L"txt 1개 스캔, 1곡 반영")), std::string::npos) << c.what;
    } else {
      EXPECT_EQ(log.find(U8(L"곡 반영")), std::string::npos) << c.what;
      EXPECT_NE(log.find(U8(L"songs.csv 재생성 실패: txt 1개 스캔, 1곡 만들었으나 반영 못함 - ")), std::string::npos) << c.what;
      EXPECT_NE(log.find(c.cause), std::string::npos) << c.what;
      if (!c.folder) {
        EXPECT_EQ(fresh.Read("songs.csv"), "") << c.what;
        EXPECT_EQ(fs::status(csv).permissions(), c.mode) << c.what;
      }
    }
    ClearSongByteCache();
  }
}
