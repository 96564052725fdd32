#include <gtest/gtest.h>

#include "base/settings/app_settings.h"
#include "base/settings/settings_files.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "common/temp_root.h"

namespace {

class SongSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    SongSettings.UserKeyMap.clear();
    SongSettings.SongGainMap.clear();
    SongSettings.SongTempoMap.clear();
  }
  TempRoot root;
};

}  // namespace

TEST_F(SongSettingsTest, UserKeyLines) {
  ASSERT_TRUE(WriteFileText(UserKeyFilePath,
                            "5,1\n12,3,-2\n0,1,1\n13,1,2,3\r\n-4,1,1\nx,1,1\n14,a,-b\n12,4,4x\n"));
  LoadUserKeys();
  std::map<int, UserKey> expected{{12, {4, 4}}, {13, {1, 2}}, {14, {0, 0}}};
  EXPECT_EQ(SongSettings.UserKeyMap, expected);
}

TEST_F(SongSettingsTest, GainAndTempoLinesAreClamped) {
  ASSERT_TRUE(WriteFileText(SongGainFilePath,
                            "# 12 50\n12 500\n13 10\n14\n15 141\n0 100\n  16\t90 extra\nabc 5\n"));
  ASSERT_TRUE(WriteFileText(SongTempoFilePath, "7 -95\n8 95\n9 +5\n#9 1\n"));
  LoadSongGains();
  LoadSongTempos();
  EXPECT_EQ(SongSettings.SongGainMap, (std::map<int, int>{{12, 400}, {13, 25}, {15, 141}, {16, 90}}));
  EXPECT_EQ(SongSettings.SongTempoMap, (std::map<int, int>{{7, -80}, {8, 80}, {9, 5}}));
}

TEST_F(SongSettingsTest, MissingFilesGiveEmptyMaps) {
  SongSettings.UserKeyMap[3] = {1, 1};
  SongSettings.SongGainMap[3] = 50;
  SongSettings.SongTempoMap[3] = 5;
  LoadUserKeys();
  LoadSongGains();
  LoadSongTempos();
  EXPECT_TRUE(SongSettings.UserKeyMap.empty());
  EXPECT_TRUE(SongSettings.SongGainMap.empty());
  EXPECT_TRUE(SongSettings.SongTempoMap.empty());
}

TEST_F(SongSettingsTest, FilesAreWrittenInSongOrderWithCp949Headers) {
  SongSettings.SongGainMap = {{30, 71}, {4, 141}};
  SongSettings.SongTempoMap = {{9, -5}, {2, 3}};
  SongSettings.UserKeyMap = {{20, {-3, 99}}, {7, {1, 2}}};
  ASSERT_TRUE(SaveSongGains());
  ASSERT_TRUE(SaveSongTempos());
  ASSERT_TRUE(SaveUserKeys());

  std::string gain = ReadFileText(SongGainFilePath);
  std::string gainHeader =
      plat::WideToAnsi(L"# 곡별 음량 - 한 줄에 \"곡번호 게인%\" (100 = 곡 그대로, 141 = 약 +6dB, 71 = 약 -6dB)\n"
                       L"# 여기 적힌 곡은 자동 계산을 무시하고 이 값을 씁니다. 직접 고쳐도 됩니다.\n"
                       L"# 지우면 그 곡은 다시 자동 계산으로 돌아갑니다. ALT+V = 지금 들리는 크기를 이 곡 값으로 저장.\n");
  EXPECT_EQ(gain, gainHeader + "4 141\n30 71\n");
  EXPECT_FALSE(plat::DecodeUtf8Strict(gain).has_value());  // code page 949, not UTF-8

  std::string tempo = ReadFileText(SongTempoFilePath);
  std::string tempoHeader =
      plat::WideToAnsi(L"# 곡별 연주 템포 - 한 줄에 \"곡번호 오프셋BPM\" (0 = 원곡 그대로, +5 = 원곡보다 5bpm 빠르게)\n"
                       L"# F10 템포판에서 S 를 누르면 지금 곡의 값이 여기 적힙니다. 직접 고쳐도 됩니다.\n"
                       L"# 줄을 지우면 그 곡은 다시 원곡 템포로 시작합니다.\n");
  EXPECT_EQ(tempo, tempoHeader + "2 3\n9 -5\n");
  EXPECT_EQ(ReadFileText(UserKeyFilePath), "7,1,2\n20,-3,99\n");

  // And they read back the same.
  auto gains = SongSettings.SongGainMap;
  auto tempos = SongSettings.SongTempoMap;
  auto keys = SongSettings.UserKeyMap;
  LoadSongGains();
  LoadSongTempos();
  LoadUserKeys();
  EXPECT_EQ(SongSettings.SongGainMap, gains);
  EXPECT_EQ(SongSettings.SongTempoMap, tempos);
  EXPECT_EQ(SongSettings.UserKeyMap, keys);
}

TEST(GainPercentToLevel, FortyLogTenLaw) {
  struct Case {
    int percent, level;
  } cases[] = {{141, 60}, {71, -59}, {200, 120}, {100, 0}, {0, 0}, {-5, 0}};
  for (const auto& c : cases) EXPECT_EQ(GainPercentToLevel(c.percent), c.level) << c.percent;
}

TEST_F(SongSettingsTest, CurrentSongGain) {
  SongSettings.SongGainMap = {{12, 150}};
  struct Case {
    int gainOn, song, loudness, percent, manual;
  } cases[] = {
      {1, 12, kUnknownSongLoudness, 150, 1},  // stored gain wins, loudness unknown
      {1, 12, 75, 150, 1},
      {0, 12, 75, 100, 0},                    // song gain off: everything at 100
      {1, 13, kUnknownSongLoudness, 100, 0},
      {1, 13, -25, 100, 0},                   // at the target
      {1, 13, 75, 71, 0},                     // -100 limited to -60
      {1, 13, -500, 141, 0},                  // +475 limited to +60
      {1, 0, -25, 100, 0},
  };
  for (const auto& c : cases) {
    Settings.songGainOn = c.gainOn;
    UpdateCurrentSongGain(c.song, c.loudness);
    EXPECT_EQ(SongSettings.SongGainPercent, c.percent) << c.song << " " << c.loudness;
    EXPECT_EQ(SongSettings.SongGainManual, c.manual) << c.song << " " << c.loudness;
  }
  Settings.songGainLimit = 1000;
  Settings.songGainTarget = 100;
  UpdateCurrentSongGain(13, -2000);
  EXPECT_EQ(SongSettings.SongGainPercent, 400);
  UpdateCurrentSongGain(13, 2000);
  EXPECT_EQ(SongSettings.SongGainPercent, 25);
}

TEST_F(SongSettingsTest, EnvSettingsReachScriptOnlyAsAJsonObject) {
  EXPECT_EQ(EnvSettingsScriptArgument(), L"");  // no file
  HandleSaveEnv(L"SAVE_ENV:{\"listFontPx\":18,\"score\":{\"fmt\":\"가\"}}");
  EXPECT_EQ(ReadEnvSettingsText(), "{\"listFontPx\":18,\"score\":{\"fmt\":\"\xEA\xB0\x80\"}}");
  std::wstring arg = EnvSettingsScriptArgument();
  EXPECT_EQ(arg, L"{\"listFontPx\":18,\"score\":{\"fmt\":\"\\uac00\"}}");

  const char* rejected[] = {
      "[1,2]", "42", "\"text\"", "{\"a\":1", "{\"a\":1});alert(1);({", "{} {}", "null",
  };
  for (const char* text : rejected) {
    ASSERT_TRUE(WriteFileText(EnvSettingsFilePath, text));
    EXPECT_EQ(EnvSettingsScriptArgument(), L"") << text;
  }
  // A line separator inside a string is escaped, so it can never end the script line.
  ASSERT_TRUE(WriteFileText(EnvSettingsFilePath, "{\"a\":\"x\xE2\x80\xA8y\"}"));
  EXPECT_EQ(EnvSettingsScriptArgument(), L"{\"a\":\"x\\u2028y\"}");
}

TEST_F(SongSettingsTest, HostileSaveEnvKeepsTheStoredObject) {
  const std::string kept = "{\"listFontPx\":18}";
  const std::wstring deep = L"{\"a\":" + std::wstring(100000, L'[') + std::wstring(100000, L']') + L"}";
  const std::wstring deepInString = L"{\"a\":\"" + std::wstring(100000, L'[') + L"\"}";
  struct Case {
    std::wstring message;
    std::string stored;  // the file afterwards
  } cases[] = {
      {L"SAVE_ENV:not json", kept},
      {L"SAVE_ENV:", kept},
      {L"SAVE_ENV:[1,2]", kept},
      {L"SAVE_ENV:{\"a\":1}\n[mixer]\nvol=0", kept},
      {L"SAVE_ENV:{\"a\":1}" + std::wstring(1, L'\0') + L"{\"b\":2}", kept},
      {L"SAVE_ENV:{\"a\":\"x" + std::wstring(1, L'\0') + L"y\"}", kept},
      {L"SAVE_ENV:" + deep, kept},
      {L"SAVE_ENV:{\"a\":\"" + std::wstring(kEnvSettingsMaxBytes, L'x') + L"\"}", kept},
      // Accepted objects are stored on one line, whatever white space the page sent.
      {L"SAVE_ENV:{\"z\":1,\n\"a\":\n[2]}", "{\"z\":1,\"a\":[2]}"},
      {L"SAVE_ENV:" + deepInString, WideToUtf8(deepInString)},
      {L"SAVE_ENV:{\"a\":" + std::wstring(kEnvSettingsMaxDepth - 1, L'[') +
           std::wstring(kEnvSettingsMaxDepth - 1, L']') + L"}",
       "{\"a\":" + std::string(kEnvSettingsMaxDepth - 1, '[') + std::string(kEnvSettingsMaxDepth - 1, ']') + "}"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteFileText(EnvSettingsFilePath, kept));
    HandleSaveEnv(c.message);
    EXPECT_EQ(ReadEnvSettingsText(), c.stored) << WideToUtf8(c.message.substr(0, 60));
    EXPECT_FALSE(EnvSettingsScriptArgument().empty());
  }
}

TEST_F(SongSettingsTest, AStoredBlobNestedTooDeepIsNotSentToThePage) {
  for (int depth : {kEnvSettingsMaxDepth, 100000}) {
    const std::string text = "{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
    ASSERT_TRUE(WriteFileText(EnvSettingsFilePath, text));
    EXPECT_EQ(EnvSettingsScriptArgument(), L"") << depth;
  }
}
