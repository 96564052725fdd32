#include "sound_fixture.h"

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "songs/midi_parser.h"
#include "songs/midi_writer.h"
#include "songs/song_file_cache.h"
#include "songs/song_load.h"
#include "songs/song_model.h"

namespace {
struct Ev {
  uint8_t kind = 0, status = 0, data1 = 0, data2 = 0, port = 0;
};
}  // namespace

TEST_F(SoundTest, PatchTableReadsRulesAndRewritesAnEventList) {
  std::string file =
      "\xEF\xBB\xBF@Skipped 0 0 1 100\n"   // a byte-order mark spoils its line
      "@Piano 0 0 0 100 ; comment\n"
      "@EPiano 0 8 4 80\n"
      "  @Strings 0 0 48 250\r\n"
      "@Pad 1 2 88 0\n"
      "@Short 1 2 3\n"
      "@\xB1\xD7\xB7\xA1\xC7\xC8 0 0 24 100\n"   // "그래픽" in CP949: each line decodes alone
      "@\xEA\xB8\xB0\xED\x83\x80 0 0 26 100\n"   // "기타" in UTF-8
      "#\xEA\xB7\xB8\xEB\x9E\x98\xED\x94\xBD > \xEA\xB8\xB0\xED\x83\x80\n"  // UTF-8 rule
      "#Piano > EPiano\n"
      "#Strings>Pad\n"
      "#Strings>Piano\n"
      "# Short > Piano\n"
      "#Pia no>Pad\n"
      "#NoArrow\n"
      "#>Pad\n"
      "$track rule\n"
      "other\n";
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/PATCHTBL.CFG"), file);
  LoadPatchTable();
  ASSERT_EQ(PatchTable.PatchSubstitutions.size(), 3u);
  EXPECT_EQ(PatchTable.PatchSubstitutions[PatchToneKey(0, 0, 24)].program, 26);
  FlushDebugLogQueue();
  std::string log = plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/debug_log.txt")).value_or("");
  EXPECT_NE(log.find(WideToUtf8(L"[음색표] 음색 6개 / 변환규칙 6개 -> 실제 적용 3개 / 이름을 못 찾은 규칙 2개 / "
                                L"같은 원본 중복 1개(뒤엣것 적용) / 못 읽은 줄 3개 / 트랙별 규칙 1개(지금은 안 씀)")),
            std::string::npos)
      << log;
  EXPECT_EQ(PatchTable.PatchSubstitutions[PatchToneKey(0, 0, 48)].program, 0);  // the later rule wins

  std::vector<Ev> events = {
      {0, 0xB0, 0, 0},  {0, 0xB0, 32, 0}, {0, 0xC0, 0, 0},   // 0: bank then piano -> EPiano
      {0, 0xC0, 0, 0},                                        // 3: looked up with 8/0 now: no
      {0, 0xC1, 48, 0},                                       // 4: no banks: strings -> piano
      {0, 0xC9, 0, 0},  {0, 0xCA, 0, 0},                      // drums stay
      {0, 0xC9, 0, 0, 1}, {0, 0xCA, 0, 0, 1},                 // port 2: channel 9 stays, 10 not
      {1, 0, 0, 0},
      {0, 0xC3, 24, 0},                                       // 10: the Korean-named rule
  };
  std::vector<uint8_t> volumes;
  std::wstring summary;
  EXPECT_EQ(ApplyPatchTableTo(events, volumes, summary), 4);
  EXPECT_EQ(events[10].data1, 26);
  EXPECT_EQ(events[0].data2, 8);
  EXPECT_EQ(events[2].data1, 4);
  EXPECT_EQ(events[3].data1, 0);
  EXPECT_EQ(events[4].data1, 0);
  EXPECT_EQ(events[5].data1, 0);
  EXPECT_EQ(events[8].data1, 4);
  EXPECT_EQ(volumes, (std::vector<uint8_t>{0, 0, 80, 0, 0, 0, 0, 0, 80, 0, 0}));
  EXPECT_EQ(summary.rfind(L"1포트ch1 (0,0,0)->(0,8,4) vol80 | 1포트ch2 (0,0,48)->(0,0,0) | 2포트ch11", 0), 0u);
}

TEST_F(SoundTest, PatchTableMissingFileAndVolumeClamp) {
  LoadPatchTable();
  EXPECT_TRUE(PatchTable.PatchSubstitutions.empty());
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/PATCHTBL.CFG"),
                        "@A 0 0 1 100\n@B 0 0 2 0\n@C 0 0 3 100\n@D 0 0 4 250\n#A>B\n#C>D\n");
  LoadPatchTable();
  std::vector<Ev> events = {{0, 0xC0, 1, 0}, {0, 0xC0, 3, 0}};
  std::vector<uint8_t> volumes;
  std::wstring summary;
  ApplyPatchTableTo(events, volumes, summary);
  EXPECT_EQ(volumes, (std::vector<uint8_t>{1, 200}));
}

// A bank select that an earlier program change took is not rewritten: that tone stays, and the
// substituted program change gets a bank select of its own, at its tick and on its port.
TEST_F(SoundTest, PatchTableGivesASubstitutedProgramItsOwnBankSelect) {
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/PATCHTBL.CFG"),
                        "@Piano 0 0 0 100\n@EPiano 3 8 4 80\n@Organ 0 0 16 100\n@Strings 0 0 48 100\n"
                        "#Piano>EPiano\n#Organ>Strings\n");
  LoadPatchTable();
  struct E {
    uint32_t tick;
    int status, data1, data2, port;
    bool operator==(const E&) const = default;
  };
  auto event = [](const E& e) {
    SongEvent s;
    s.tick = e.tick;
    s.status = static_cast<uint8_t>(e.status);
    s.data1 = static_cast<uint8_t>(e.data1);
    s.data2 = static_cast<uint8_t>(e.data2);
    s.port = static_cast<uint8_t>(e.port);
    return s;
  };
  struct Case {
    const char* what;
    std::vector<E> song, want;
    std::vector<uint8_t> volumes;
  } cases[] = {
      {"bank select taken by an earlier program",
       {{0, 0xB1, 0, 0, 1}, {0, 0xC1, 24, 0, 1}, {50, 0xC1, 0, 0, 1}},
       {{0, 0xB1, 0, 0, 1}, {0, 0xC1, 24, 0, 1}, {50, 0xB1, 0, 8, 1}, {50, 0xC1, 4, 0, 1}},
       {0, 0, 0, 80}},
      {"both bank selects taken by an earlier program",
       {{0, 0xB1, 0, 0, 0}, {0, 0xB1, 32, 0, 0}, {0, 0xC1, 24, 0, 0}, {50, 0xC1, 0, 0, 0}},
       {{0, 0xB1, 0, 0, 0}, {0, 0xB1, 32, 0, 0}, {0, 0xC1, 24, 0, 0}, {50, 0xB1, 0, 8, 0}, {50, 0xB1, 32, 3, 0},
        {50, 0xC1, 4, 0, 0}},
       {0, 0, 0, 0, 0, 80}},
      {"a free bank select is rewritten, a missing one is not added",
       {{0, 0xB0, 0, 0, 0}, {0, 0xB0, 7, 90, 0}, {0, 0xC0, 0, 0, 0}},
       {{0, 0xB0, 0, 8, 0}, {0, 0xB0, 7, 90, 0}, {0, 0xC0, 4, 0, 0}},
       {0, 0, 80}},
      {"no bank select needed when the bank is already right",
       {{0, 0xB2, 0, 0, 0}, {0, 0xC2, 16, 0, 0}, {5, 0xC2, 16, 0, 0}},
       {{0, 0xB2, 0, 0, 0}, {0, 0xC2, 48, 0, 0}, {5, 0xC2, 48, 0, 0}},
       {0, 0, 0}},
  };
  for (const auto& c : cases) {
    std::vector<SongEvent> events;
    for (const auto& e : c.song) events.push_back(event(e));
    std::vector<uint8_t> volumes;
    std::wstring summary;
    ApplyPatchTableTo(events, volumes, summary);
    std::vector<E> got;
    for (const auto& e : events) got.push_back({e.tick, e.status, e.data1, e.data2, e.port});
    EXPECT_EQ(got, c.want) << c.what;
    EXPECT_EQ(volumes, c.volumes) << c.what;
  }
}

// Bank selects the patch table adds move the events after them: the melody articulation, kept
// per event, moves with them.
TEST_F(SoundTest, SongArticulationFollowsBankSelectsThePatchTableAdds) {
  ClearSongByteCache();
  TestTrack organ;
  organ.Cc(0, 2, 0, 0).Program(0, 2, 24).Program(100, 2, 0);
  TestTrack melody;
  for (int i = 0; i < 8; ++i) melody.Note(200 + 480 * i, 0, 60 + i, 90, 240);
  const std::string midi = MakeMidiFile(480, {organ, melody});
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/P0003.MID"), midi);
  SongModel plain;
  ParseSongMidiBytes(plain, midi);
  PatchTable.PatchSubstitutions = {{PatchToneKey(0, 0, 0), PatchTone{0, 8, 4, 100}}};
  auto song = RebuildSongModel(L"C:/tavelo/system/P0003.MID", L"C:/tavelo/system/P0003.txt", ApplyPatchTable);
  PatchTable.PatchSubstitutions.clear();
  ClearSongByteCache();
  ASSERT_EQ(song->SongEventList.size(), plain.SongEventList.size() + 1);
  ASSERT_EQ(song->MelodyArticulation.size(), song->SongEventList.size());
  int melodyNotes = 0;
  for (size_t i = 0; i < song->SongEventList.size(); ++i) {
    const SongEvent& e = song->SongEventList[i];
    const bool melodyOn = e.status == 0x90 && e.data2 > 0;
    EXPECT_EQ(song->MelodyArticulation[i].velocity != 0, melodyOn) << "event " << i;
    melodyNotes += melodyOn;
  }
  EXPECT_EQ(melodyNotes, 8);
}
