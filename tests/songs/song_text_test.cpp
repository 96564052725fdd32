#include <gtest/gtest.h>

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "songs/song_file_cache.h"
#include "songs/song_text.h"
#include "temp_root.h"

namespace {

SongModel ParseText(std::string_view utf8) {
  SongModel m;
  ParseSongTextBytes(m, utf8);
  return m;
}

std::string Utf16Le(std::wstring_view text) {
  std::string out("\xFF\xFE", 2);
  for (wchar_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>((c >> 8) & 0xFF);
  }
  return out;
}

}  // namespace

TEST(SongText, SectionLinesAreClassified) {
  struct Case {
    std::wstring line;
    SectionLineKind kind;
  } cases[] = {
      {L"아리랑 아리랑 아라리요", SectionLineKind::kLyric},
      {L"ㅋㅋ", SectionLineKind::kLyric},
      {L"love you", SectionLineKind::kLyric},
      {L"I love_", SectionLineKind::kLyric},
      {L"Am G C", SectionLineKind::kChord},
      {L"Bb.Cm", SectionLineKind::kChord},
      {L"C . G . | Am", SectionLineKind::kChord},
      {L"2024", SectionLineKind::kLyric},
      {L"---", SectionLineKind::kDropped},
      {L"!!!", SectionLineKind::kDropped},
      {L"Intro", SectionLineKind::kDropped},
      {L"   \t\x3000", SectionLineKind::kDropped},
      {L"Bridge", SectionLineKind::kChord},
  };
  for (const auto& c : cases) {
    std::wstring cut;
    EXPECT_EQ(ClassifySectionLine(c.line, &cut), c.kind) << std::string(c.line.begin(), c.line.end());
  }
  std::wstring cut;
  ClassifySectionLine(L"Am G \t\x3000\r", &cut);
  EXPECT_EQ(cut, L"Am G");
}

TEST(SongText, NoChordSpellings) {
  struct Case {
    std::wstring in, out;
  } cases[] = {
      {L"N.C", L"NC"},      {L"N C", L"NC"},        {L"N,C", L"NC"},      {L"G N.C. Am", L"G NC. Am"},
      {L"C|N.C|G", L"C|NC|G"}, {L"NCX", L"NCX"},    {L"AN.C", L"AN.C"},   {L"N.Cm", L"N.Cm"},
      {L"N", L"N"},         {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeNoChord(c.in), c.out);
}

TEST(SongText, HeaderSectionAndKeyLine) {
  SongModel m = ParseText(
      "0012/k\n봄날\n\n\n김가수\n\nC/G/A\n>\n봄날이 왔네\nC . G . | Am\nN.C\n---\n<\nafter\n");
  EXPECT_EQ(m.SongTitle, L"봄날");
  EXPECT_EQ(m.SongSinger, L"김가수");
  EXPECT_EQ(m.LyricLines, std::vector<std::wstring>{L"봄날이 왔네"});
  EXPECT_EQ(m.ChordLines, (std::vector<std::wstring>{L"C . G . | Am", L"NC"}));
  EXPECT_EQ(m.SongKeyRoots.originalRoot, 0);
  EXPECT_FALSE(m.SongKeyRoots.originalMinor);
  EXPECT_EQ(m.SongKeyRoots.maleRoot, 7);
  EXPECT_EQ(m.SongKeyRoots.femaleRoot, 9);
}

TEST(SongText, KeyLines) {
  struct Case {
    const char* line;
    int original, page, male, female;
    bool minor;
  } cases[] = {
      {"C/G/A", 0, 0, 7, 9, false},
      {"Am/Em/Cm", 9, 9, 4, 0, true},
      {"C/G", -1, 0, -1, -1, false},
      {"F# / Bb / x", 6, 6, 10, 0, false},
  };
  for (const auto& c : cases) {
    SongModel m = ParseText(std::string("0001\nT\n\n\n\n\n") + c.line + "\n");
    EXPECT_EQ(m.SongKeyRoots.originalRoot, c.original) << c.line;
    EXPECT_EQ(m.SongKeyRoots.pageOriginalRoot, c.page) << c.line;
    EXPECT_EQ(m.SongKeyRoots.maleRoot, c.male) << c.line;
    EXPECT_EQ(m.SongKeyRoots.femaleRoot, c.female) << c.line;
    EXPECT_EQ(m.SongKeyRoots.originalMinor, c.minor) << c.line;
  }
}

TEST(SongText, InstrumentalTextLinesReturnToTheLyrics) {
  TempRoot root;
  ClearSongByteCache();
  SongModel m = ParseText("0001\n연주곡\n>\nBridge\nC, G\nEnding\n<\n");
  EXPECT_EQ(m.LyricLines, (std::vector<std::wstring>{L"Bridge", L"Ending"}));
  EXPECT_EQ(m.ChordLines, std::vector<std::wstring>{L"C, G"});
  FlushDebugLogQueue();
  EXPECT_NE(root.Read("debug_log.txt").find("글자 줄 2개를 코드에서 가사로 되돌림 (첫 줄: Bridge)"), std::string::npos);

  // With a lyric line present nothing moves.
  m = ParseText("0001\n노래\n>\n가사\nBridge\n<\n");
  EXPECT_EQ(m.ChordLines, std::vector<std::wstring>{L"Bridge"});
}

TEST(SongText, MissingFileAndEncodings) {
  TempRoot root;
  ClearSongByteCache();
  SongModel m;
  m.SongTitle = L"old";
  m.LyricLines = {L"old"};
  m.SingerTransposition.male = 3;
  ParseSongText(m, L"C:/tavelo/system/P9999.txt");
  EXPECT_EQ(m.SongTitle, L"제목 없음");
  EXPECT_TRUE(m.LyricLines.empty());
  EXPECT_EQ(m.SingerTransposition.male.load(), 0);
  EXPECT_EQ(m.SongKeyRoots.originalRoot, -1);

  const std::wstring text = L"0001\n아리랑\n\n\n민요\n\nAm/Em/Cm\n>\n아리랑 아리랑\nAm . Dm .\n<\n";
  SongModel utf8 = ParseText(WideToUtf8(text));
  SongModel utf16 = ParseText(Utf16Le(text));
  SongModel cp949 = ParseText(plat::WideToAnsi(text));
  for (const SongModel* other : {&utf16, &cp949}) {
    EXPECT_EQ(other->SongTitle, utf8.SongTitle);
    EXPECT_EQ(other->LyricLines, utf8.LyricLines);
    EXPECT_EQ(other->ChordLines, utf8.ChordLines);
    EXPECT_EQ(other->SongKeyRoots.originalRoot, 9);
  }
  EXPECT_EQ(utf8.SongTitle, L"아리랑");
  SongModel bom = ParseText("\xEF\xBB\xBF" + WideToUtf8(text));
  EXPECT_EQ(bom.SongTitle, L"아리랑");
}

TEST(SongText, ReadTextLinesDetectsByteOrderMarks) {
  EXPECT_EQ(TextLinesFromBytes(Utf16Le(L"a\r\nb\n")), (std::vector<std::wstring>{L"a", L"b", L""}));
  EXPECT_EQ(TextLinesFromBytes(std::string("\xFE\xFF\0a\0\n\0b", 9)), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(TextLinesFromBytes("\xEF\xBB\xBF" "x"), std::vector<std::wstring>{L"x"});
  EXPECT_EQ(TextLinesFromBytes(std::string("\xFF\xFE" "a\0b", 5)), std::vector<std::wstring>{L"a"});  // odd byte
  EXPECT_TRUE(TextLinesFromBytes("").empty());
}

TEST(SongText, ExtraTextPrefersTheJFile) {
  TempRoot root;
  ClearSongByteCache();
  SongModel m;
  root.Write("J0012.txt", "header\n>\n日本語の歌詞 \n\n<\nafter\n");
  root.Write("C0012.txt", ">\n中文\n<\n");
  LoadSongExtraText(m, L"C:/tavelo/system/P0012.txt");
  EXPECT_EQ(m.ExtraTextLines, std::vector<std::wstring>{L"日本語の歌詞"});

  // An empty J file gives way to the C file.
  root.Write("J0013.txt", "");
  root.Write("C0013.txt", ">\n中文\n<\n");
  LoadSongExtraText(m, L"C:/tavelo/system/P0013.txt");
  EXPECT_EQ(m.ExtraTextLines, std::vector<std::wstring>{L"中文"});

  LoadSongExtraText(m, L"C:/tavelo/system/Pxx.txt");
  EXPECT_TRUE(m.ExtraTextLines.empty());
}
