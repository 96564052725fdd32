#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/debug_log.h"
#include "base/text.h"
#include "songs/song_model.h"
#include "songs/vocal_export.h"
#include "temp_root.h"

namespace {

std::string U8(std::wstring_view w) { return WideToUtf8(w); }

SongEvent Tempo(uint32_t tick, uint32_t us) {
  SongEvent e;
  e.tick = tick;
  e.kind = kSongEventTempo;
  e.tempo = us;
  return e;
}

SongEvent Channel(uint32_t tick, int status, int d1, int d2, int port = 0) {
  SongEvent e;
  e.tick = tick;
  e.kind = kSongEventChannel;
  e.status = uint8_t(status);
  e.data1 = uint8_t(d1);
  e.data2 = uint8_t(d2);
  e.port = uint8_t(port);
  return e;
}

// Text of a lyric event as midicsv writes it: bytes outside printable Latin-1 in octal.
std::string Csv(std::wstring_view text) {
  std::string out;
  for (unsigned char b : U8(text)) {
    if (b < 0x20 || (b >= 0x7F && b < 0xA0)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", b);
      out += buf;
    } else {
      out += char(b);
    }
  }
  return out;
}

std::vector<VocalMark> Marks(std::initializer_list<uint32_t> ticks) {
  std::vector<VocalMark> out;
  for (uint32_t t : ticks) out.push_back({t, L'가', 0});
  return out;
}

// The notes each mark took (-1 none), with split flags as 's'.
std::string Taken(const VocalPairing& p) {
  std::string out;
  for (const VocalAssignment& a : p.assignments)
    out += std::to_string(a.start) + "/" + std::to_string(a.length) + "/" + std::to_string(a.note) + (a.split ? "s" : "") + " ";
  return out;
}

}  // namespace

TEST(VocalMarks, Reading) {
  struct Case {
    std::wstring text;
    std::vector<VocalMark> want;
  } cases[] = {
      {L"100,44032,0;200,0,0;300,45208,0", {{100, L'가', 0}, {300, L'나', 0}}},  // code 0 skipped
      {L"100,44032,0;x;300,45208,0", {{100, L'가', 0}}},                          // malformed mark ends it
      {L"", {}},
      {L" 7, 65,-3;8,66", {{7, L'A', -3}, {8, L'B', 0}}},                        // blanks, sign, missing line
      {L"5,65,1;", {{5, L'A', 1}}},                                               // nothing after ";"
      {L"5,1114112,0;6,1114111,0", {{6, wchar_t(0x10FFFF), 0}}},
      {L"5;6,65", {}},                                                            // no character code
      {L"99999999999999999999,65,0", {{uint32_t(int64_t{1} << 40), L'A', 0}}},    // saturates, no overflow
  };
  for (const Case& c : cases) EXPECT_EQ(ParseVocalMarks(c.text), c.want) << U8(c.text);
}

TEST(VocalMarks, Pairing) {
  const std::vector<NoteSpan> two{{60, 0, 240}, {62, 960, 240}};
  struct Case {
    const char* what;
    std::vector<VocalMark> marks;
    std::vector<NoteSpan> notes;
    std::string taken;
    int unmatched, splits, without, overlaps;
  } cases[] = {
      {"480 ticks away takes the note", Marks({480}), {{60, 960, 120}}, "960/120/60 ", 0, 0, 0, 0},
      {"481 ticks away does not", Marks({479}), {{60, 960, 120}}, "0/0/-1 ", 1, 0, 1, 0},
      {"halfway takes the earlier", Marks({480}), two, "0/240/60 ", 0, 0, 1, 0},
      {"a long note split in two", Marks({0, 480}), {{64, 0, 960}}, "0/480/64 480/480/64s ", 0, 1, 0, 0},
      {"more marks than notes", Marks({0, 960, 1500, 2000}), two, "0/240/60 960/240/62 0/0/-1 0/0/-1 ", 2, 0, 0, 0},
      {"zero length takes a quarter", Marks({10}), {{60, 0, 0}}, "0/480/60 ", 0, 0, 0, 0},
      {"no notes", Marks({0, 5}), {}, "0/0/-1 0/0/-1 ", 2, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const VocalPairing p = PairVocalMarks(c.marks, c.notes, 480);
    EXPECT_EQ(Taken(p), c.taken) << c.what;
    EXPECT_EQ(p.unmatched, c.unmatched) << c.what;
    EXPECT_EQ(p.splits, c.splits) << c.what;
    EXPECT_EQ(p.notesWithoutSyllable, c.without) << c.what;
    EXPECT_EQ(p.overlaps, c.overlaps) << c.what;
  }
}

TEST(VocalMarks, TimesNamesAndMelodySource) {
  SongModel m;
  m.SongEventList = {Tempo(0, 500000)};
  EXPECT_DOUBLE_EQ(TickToMs(m, 960, 480), 1000.0);
  m.SongEventList.push_back(Tempo(480, 250000));
  EXPECT_DOUBLE_EQ(TickToMs(m, 960, 480), 750.0);
  EXPECT_DOUBLE_EQ(TickToMs(m, 480, 480), 500.0);
  EXPECT_DOUBLE_EQ(TickToMs(m, 960, 0), 750.0);  // division 0 reads as 480

  EXPECT_EQ(NoteName(60), L"C4");
  EXPECT_EQ(NoteName(61), L"C#4");
  EXPECT_EQ(NoteName(0), L"C-1");
  EXPECT_EQ(NoteName(127), L"G9");
  EXPECT_EQ(NoteName(128), L"?");

  // Without staff1 notes: port 1, channel 1; a note that never ends gets the division.
  m.SongPpq = 96;
  m.SongEventList = {Channel(0, 0x90, 60, 100), Channel(10, 0x91, 70, 100), Channel(20, 0x90, 62, 100, 1),
                     Channel(30, 0x90, 60, 90),  // same note again: the first closes
                     Channel(40, 0x80, 60, 0),   Channel(50, 0x90, 64, 0), Channel(60, 0x90, 65, 1)};
  std::wstring label;
  const std::vector<NoteSpan> notes = FindMelodyTrack(m, label);
  EXPECT_EQ(label, L"포트0 ch1(멜로디 소리 트랙)");
  EXPECT_EQ(notes, (std::vector<NoteSpan>{{60, 0, 30}, {60, 30, 10}, {65, 60, 96}}));
  m.MelodyNotes = {{72, 100, 5}, {71, 50, 5}};
  EXPECT_EQ(FindMelodyTrack(m, label), (std::vector<NoteSpan>{{71, 50, 5}, {72, 100, 5}}));
  EXPECT_EQ(label, L"악보(Staff1) 트랙");
}

TEST(VocalExport, FilesReadBackByAnIndependentReader) {
  TempRoot root;
  auto model = std::make_shared<SongModel>();
  model->SongPpq = 0;  // reported as 480
  model->SongEventList = {Tempo(0, 500000), Tempo(960, 600000)};
  model->MelodyNotes = {{64, 0, 960}, {67, 1200, 480}};
  PublishSongModel(model);
  ExportVocalData(L"12|0,44032,0;480,45208,0;960,45796,1;5000,65,1");

  const std::string txt = root.Read("../vocal/vocal_12.txt");
  const std::string head = "\xEF\xBB\xBF" + U8(L"# 곡번호 12 / TPQ 480\r\n# 가사 음절 4개 / 멜로디 음 2개 (악보(Staff1) 트랙)\r\n");
  EXPECT_EQ(txt.substr(0, head.size()), head);
  EXPECT_NE(txt.find(U8(L"# 긴 음을 둘로 나눈 곳 1개")), std::string::npos);
  EXPECT_NE(txt.find(U8(L"# 한 음에 두 음절이 겹친 곳 0개  (정상)\r\n")), std::string::npos);
  EXPECT_NE(txt.find(U8(L"240틱 = 8분음표")), std::string::npos);
  EXPECT_NE(txt.find(U8(L"\r\n1\t가\t0.000\t0.500\t64\tE4\t0\t+0\r\n2\t나\t0.500\t0.500\t64\tE4\t480\t+0\t나눔\r\n"
                        L"3\t다\t1.300\t0.600\t67\tG4\t960\t+240\r\n4\tA\t6.050\t-\t-\t-\t5000\t-\t*\r\n")),
            std::string::npos)
      << txt;

  const std::filesystem::path mid = root.root() / "vocal" / "vocal_12.mid";
  const std::filesystem::path csv = root.root() / "vocal.csv";
  ASSERT_EQ(std::system(("midicsv '" + mid.string() + "' '" + csv.string() + "'").c_str()), 0);
  std::ifstream in(csv);
  std::stringstream read;
  read << in.rdbuf();
  EXPECT_EQ(read.str(),
            "0, 0, Header, 0, 1, 480\n"
            "1, 0, Start_track\n"
            "1, 0, Tempo, 500000\n"
            "1, 0, Lyric_t, \"" + Csv(L"가") + "\"\n"
            "1, 0, Note_on_c, 0, 64, 90\n"
            "1, 480, Note_off_c, 0, 64, 0\n"
            "1, 480, Lyric_t, \"" + Csv(L"나") + "\"\n"
            "1, 480, Note_on_c, 0, 64, 90\n"
            "1, 960, Tempo, 600000\n"
            "1, 960, Note_off_c, 0, 64, 0\n"
            "1, 1200, Lyric_t, \"" + Csv(L"다") + "\"\n"
            "1, 1200, Note_on_c, 0, 67, 90\n"
            "1, 1680, Note_off_c, 0, 67, 0\n"
            "1, 1680, End_track\n"
            "0, 0, End_of_file\n");
  PublishSongModel(std::make_shared<SongModel>());
}

TEST(VocalExport, Failures) {
  TempRoot root;
  PublishSongModel(std::make_shared<SongModel>());
  struct Case {
    std::wstring argument, log;
  } cases[] = {
      {L"12", L"[노래내보내기] 자료 형식이 이상하다 - 취소"},
      {L"12|", L"[노래내보내기] 키는 도착했으나 가사 음절이 0개"},
      {L"", L"[노래내보내기] 자료 형식이 이상하다 - 취소"},
      {L"12|0,65,0", L"[노래내보내기] 멜로디 음을 못 찾았다 - 취소"},
  };
  for (const Case& c : cases) {
    ExportVocalData(c.argument);
    FlushDebugLogQueue();
    EXPECT_NE(root.Read("debug_log.txt").find(U8(c.log)), std::string::npos) << U8(c.argument);
  }
  EXPECT_FALSE(std::filesystem::exists(root.root() / "vocal" / "vocal_12.txt"));

  // A MIDI file that cannot be written is named as missing.
  auto model = std::make_shared<SongModel>();
  model->MelodyNotes = {{60, 0, 120}};
  PublishSongModel(model);
  std::filesystem::create_directories(root.root() / "vocal" / "vocal_5.mid");
  ExportVocalData(L"5|0,65,0");
  FlushDebugLogQueue();
  EXPECT_TRUE(std::filesystem::exists(root.root() / "vocal" / "vocal_5.txt"));
  EXPECT_NE(root.Read("debug_log.txt").find(U8(L"vocal_5.txt|.mid (mid 파일은 못 만들었다)")), std::string::npos);
  PublishSongModel(std::make_shared<SongModel>());
}
