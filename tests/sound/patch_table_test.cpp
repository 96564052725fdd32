#include "sound_fixture.h"

#include "base/debug_log.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/paths.h"

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
  ASSERT_EQ(PatchSubstitutions.size(), 3u);
  EXPECT_EQ(PatchSubstitutions[PatchToneKey(0, 0, 24)].program, 26);
  FlushDebugLogQueue();
  std::string log = plat::ReadFileBytes(plat::RealPath(L"C:/tavelo/system/debug_log.txt")).value_or("");
  EXPECT_NE(log.find(WideToUtf8(L"[음색표] 음색 6개 / 변환규칙 6개 -> 실제 적용 3개 / 이름을 못 찾은 규칙 2개 / "
                                L"같은 원본 중복 1개(뒤엣것 적용) / 못 읽은 줄 3개 / 트랙별 규칙 1개(지금은 안 씀)")),
            std::string::npos)
      << log;
  EXPECT_EQ(PatchSubstitutions[PatchToneKey(0, 0, 48)].program, 0);  // the later rule wins

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
  EXPECT_TRUE(PatchSubstitutions.empty());
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/system/PATCHTBL.CFG"),
                        "@A 0 0 1 100\n@B 0 0 2 0\n@C 0 0 3 100\n@D 0 0 4 250\n#A>B\n#C>D\n");
  LoadPatchTable();
  std::vector<Ev> events = {{0, 0xC0, 1, 0}, {0, 0xC0, 3, 0}};
  std::vector<uint8_t> volumes;
  std::wstring summary;
  ApplyPatchTableTo(events, volumes, summary);
  EXPECT_EQ(volumes, (std::vector<uint8_t>{1, 200}));
}
