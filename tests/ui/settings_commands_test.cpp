// The settings, display and asset commands through the main page's dispatch, and the readers of
// the older program's files.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "base/settings/app_settings.h"
#include "base/settings/old_imports.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/numlock.h"
#include "platform/xvfb.h"
#include "sound/mixer.h"
#include "sound/module_setup.h"
#include "sound/tone_table.h"
#include "ui/help_text.h"
#include "ui/old_config_import.h"
#include "ui/page_commands.h"
#include "ui/posted_scripts.h"
#include "ui/services.h"
#include "ui/settings_commands.h"

namespace {


std::string SystemFile(const TempRoot& root, const char* name) {
  return plat::ReadFileBytes(root.path() / "system" / name).value_or("<missing>");
}

class SettingsCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    SongSettings.UserKeyMap.clear();
    unsetenv("TAVELO_TEST_PICK_FILE");
  }
  void TearDown() override { unsetenv("TAVELO_TEST_PICK_FILE"); }
  // The next file dialog picks `path` ("" cancels).
  void Pick(const std::filesystem::path& path) {
    const auto sw = root.path() / "pick.txt";
    plat::WriteFileAtomic(sw, path.string());
    setenv("TAVELO_TEST_PICK_FILE", sw.c_str(), 1);
  }
  TempRoot root;
};

}  // namespace

TEST_F(SettingsCommandsTest, ArgumentRules) {
  struct Case {
    std::wstring message;
    const char* key;
    std::string want;  // the key's line in app_settings.cfg
  };
  const std::vector<Case> cases = {
      {L"SET_NUMLOCK_OFF:7", "numLockOff", "2"},
      {L"SET_NUMLOCK_OFF:-1", "numLockOff", "0"},
      {L"SET_NUMLOCK_OFF:1", "numLockOff", "1"},
      {L"SET_LYRIC_WAITCOL:#fc0", "lyricWaitColor", "#ffcc00"},
      {L"SET_LYRIC_WAITCOL:ffcc00", "lyricWaitColor", "#ffcc00"},
      {L"SET_LYRIC_WAITCOL:#12ab90", "lyricWaitColor", "#12ab90"},
      {L"SET_LYRIC_SUNGCOL:#00ff00", "lyricSungColor", "#00ff00"},
      {L"SET_LYRIC_FONTSIZE:49", "lyricFontScale", "100"},
      {L"SET_LYRIC_FONTSIZE:201", "lyricFontScale", "100"},
      {L"SET_LYRIC_FONTSIZE:50", "lyricFontScale", "50"},
      {L"SET_LYRIC_FONT:나눔고딕", "lyricFont", "나눔고딕"},
      {L"SET_LYRIC_FONT:file:a b.ttf", "lyricFont", "file:a b.ttf"},
      {L"SET_AUTOKEY:2", "autoKeyMode", "2"},
      {L"SET_START_FULLSCREEN:1", "startFullscreen", "1"},
  };
  for (const Case& c : cases) {
    PostedBy({c.message});
    const std::string file = "\n" + SystemFile(root, "app_settings.cfg");
    EXPECT_NE(file.find(std::string("\n") + c.key + "=" + c.want + "\n"), std::string::npos) << WideToUtf8(c.message);
  }
}

TEST_F(SettingsCommandsTest, HelpTextFile) {
  // Missing: written with a byte-order mark and the default; 41 lines and a last empty piece.
  auto got = PostedBy({L"OPEN_HELP"});
  ASSERT_EQ(got.size(), 1u);
  const std::string file = SystemFile(root, "help.txt");
  ASSERT_EQ(file.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(Utf8ToWide(file.substr(3)), DefaultHelpText());
  size_t lines = 0;
  for (size_t at = 0; (at = DefaultHelpText().find(L"\r\n", at)) != std::wstring::npos; at += 2) ++lines;
  EXPECT_EQ(lines, 41u);
  EXPECT_EQ(got[0].rfind(L"try{ initHelpText(['[ Tavelo 도움말 ]',''", 0), 0u) << WideToUtf8(got[0]);
  EXPECT_NE(got[0].find(L"help.txt 를 텍스트 편집기로 열어 수정할 수 있습니다.',''],20,9); }catch(e){console.error('initHelpText',e)}"), std::wstring::npos);

  struct Case {
    std::string bytes;
    std::wstring payload;
  };
  const std::vector<Case> cases = {
      {"", L"['']"},
      {"\xEF\xBB\xBF" "a\r\nb'c\\\r\n", L"['a','b\\'c\\\\','']"},
      {"\xB0\xA1 \xB3\xAA", L"['가 나']"},  // CP949 text of an older editor
      {"<b>x</b>\n\n", L"['<b>x</b>','','']"},
  };
  for (const Case& c : cases) {
    plat::WriteFileAtomic(root.path() / "system" / "help.txt", c.bytes);
    EXPECT_EQ(BuildHelpPayload(), c.payload);
  }
}

TEST(OldImports, UserKeyRecords) {
  struct Case {
    std::string bytes;
    std::map<int, UserKey> before;
    std::map<int, UserKey> after;
    int added, skipped;
  };
  using std::string;
  const std::vector<Case> cases = {
      // song 1: original 60, male 67 (+7 -> -5), female 255 (none); song 2: male 66 (+6), female 58.
      {string(8, '\0') + string("\x3c\x00\x43\x00\xff\x00\x00\x00", 8) + string("\x3c\x01\x42\x00\x3a\x00\x00\x00", 8),
       {}, {{1, {-5, 99}}, {2, {6, -2}}}, 2, 0},
      // bytes 0..5 zero but byte 6 set: empty; a short tail is ignored.
      {string("\x00\x00\x00\x00\x00\x00\x07\x07", 8) + string("\x3c\x00\x3c\x00\x3c\x00", 6), {}, {}, 0, 0},
      // 20 bytes: two records, the last four ignored; record 0 counts as song 0.
      {string("\x10\x00\x11\x00\x0f\x00\x00\x00", 8) + string("\x00\x00\x00\x01\x00\x00\x00\x00", 8) + "\x3c\x3c\x3c\x3c",
       {}, {{0, {1, -1}}, {1, {0, 0}}}, 2, 0},
      // an existing override is never replaced.
      {string(8, '\0') + string("\x3c\x00\x43\x00\xff\x00\x00\x00", 8), {{1, {3, 3}}}, {{1, {3, 3}}}, 0, 1},
      {"", {}, {}, 0, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    std::map<int, UserKey> keys = cases[i].before;
    int skipped = -1;
    EXPECT_EQ(MergeOldUserKeyRecords(cases[i].bytes, keys, skipped), cases[i].added) << i;
    EXPECT_EQ(skipped, cases[i].skipped) << i;
    EXPECT_EQ(keys, cases[i].after) << i;
  }
  EXPECT_EQ(OldKeyToOffset(60, 67), -5);
  EXPECT_EQ(OldKeyToOffset(60, 66), 6);
  EXPECT_EQ(OldKeyToOffset(60, 255), 99);
  EXPECT_EQ(OldKeyToOffset(62, 60), -2);
}

TEST(OldImports, ConfigLinesAndLookups) {
  const OldConfigMap map = ParseOldConfigText(
      "; comment = 1\r\n# x = 2\n[Sec1]\n  nAssign_Volume_Melody = 3 \r\nUserVolume_03=120\nDup=1\n[Sec2]\nDUP = 2\n"
      "=5\nnoequals\n\t_Out4ch\t= 0\nModuleName = Roland SC-8850 \nEqualizer_L=-12\n");
  const OldConfigMap want = {{"nassign_volume_melody", "3"}, {"uservolume_03", "120"}, {"dup", "2"},
                             {"_out4ch", "0"},             {"modulename", "Roland SC-8850"}, {"equalizer_l", "-12"}};
  EXPECT_EQ(map, want);
  int v = 0;
  EXPECT_TRUE(LookupOldConfigInt(map, "Assign_Volume_Melody", v));
  EXPECT_EQ(v, 3);
  EXPECT_TRUE(LookupOldConfigInt(map, "Out4ch", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(LookupOldConfigInt(map, "nDup", v));  // falls back to the name without its "n"
  EXPECT_EQ(v, 2);
  std::string text;
  EXPECT_TRUE(LookupOldConfigText(map, "ModuleName", text));
  EXPECT_FALSE(LookupOldConfigText(map, "Assign_Volume_Melody", text) && text != "3");

  struct Level {
    std::string file;
    int want;
  };
  const std::vector<Level> levels = {
      {"Assign_Volume_Melody=3\nUserVolume_03=120\n", 120},
      {"Assign_Volume_Melody=3\nUserVolume_03=120\nUserMute_03=1\n", 0},
      {"Assign_Volume_Melody=14\nUserVolume_14=120\n", -1},
      {"Assign_Volume_Melody=7\n", 100},
      {"Assign_Volume_Melody=7\nUserVolume_07=900\n", 150},
      {"other=1\n", -1},
  };
  for (const Level& l : levels) EXPECT_EQ(OldLevelToPercent(ParseOldConfigText(l.file), "Assign_Volume_Melody"), l.want) << l.file;
}

TEST_F(SettingsCommandsTest, OldConfigReport) {
  struct Case {
    std::string file;
    std::vector<std::wstring> lines;  // expected report lines before the closing note
  };
  const std::vector<Case> cases = {
      {"nAssign_Volume_Melody = 3\nUserVolume_03 = 120\nModule=SC-8850\n",
       {L"<b>F4 볼륨</b> → 멜로디 120%", L"<b>ALT+F4 음색</b> → SOUNDTBL.CFG 를 못 찾아 건너뛰었습니다", L"<b>모듈</b> → 1/2포트 SC8850"}},
      {"Equalizer_L=-15\nEqualizer_H=-12\nDefPlayKey=3\nOut4ch=0\nSoundModule=SC-88 Pro\nPXR__BD_Volume=200\nPXR__SD_Volume=90\nPXR__SD_Mute=1\n",
       {L"<b>ALT+F5 CVT 드럼</b> → B.D 150% · S.D 0%", L"<b>ALT+F4 음색</b> → SOUNDTBL.CFG 를 못 찾아 건너뛰었습니다",
        L"<b>CTRL+E EQ</b> → 저음 0dB(200Hz) · 고음 -12dB(3kHz)", L"<b>음성 출력</b> → 2 OUT", L"<b>모듈</b> → 1/2포트 CS88Pro"}},
      {"whatever=1\nModule=Yamaha\n",
       {L"<b>ALT+F4 음색</b> → SOUNDTBL.CFG 를 못 찾아 건너뛰었습니다",
        L"<b>모듈</b> → 이 파일에는 모듈명이 없어 그대로 두었습니다(ALT+0 에서 직접 고르세요)"}},
  };
  for (const Case& c : cases) {
    std::wstring want;
    for (const std::wstring& l : c.lines) want += l + L"<br>";
    std::wstring report = ApplyOldConfig(ParseOldConfigText(c.file), false, {});
    EXPECT_EQ(report.substr(0, want.size()), want) << c.file;
    EXPECT_NE(report.find(L"<span style='color:#8b9099;'>※ 음색은"), std::wstring::npos);
  }
}

TEST_F(SettingsCommandsTest, OldConfigRhythmTonesAndDrumPitches) {
  // Entries are counted among their own part type: "UserBassGTTone=1" is the second bass entry.
  const std::vector<SoundTableEntry> table = {
      {L"Kit1", 0, 0, 0, 0, 0, 36, 0},    {L"Finger", 2, 0, 3, 0, 33, 0, 0}, {L"Kit2", 0, 0, 0, 0, 8, 35, 0},
      {L"<b>Slap", 2, 0, 1, 8, 36, 0, 0}, {L"Default", 3, 0, 0, 0, 0, 0, 0},  {L"Steel", 3, 0, 0, 0, 25, 0, 0},
      {L"Snare", 1, 0, 2, 0, 16, 38, 0},  {L"Hat", 4, 0, 0, 0, 0, 42, 0},
  };
  ClearCvtToneSlots();
  ResetToneSettings();
  const std::string file = "UserBassDRTone=1\nUserSnareTone=0\nUserBassGTTone=1\nUserGuitarTone=0\nPXR_UserGuitarTone=1\n"
                           "UserHihatTone=3\nBassDrumPitch=70\nSnareDrumPitch=10\n";
  const std::wstring report = ApplyOldConfig(ParseOldConfigText(file), true, table);
  EXPECT_EQ(report.substr(0, report.find(L"<br>")),
            L"<b>ALT+F4 음색</b> → 베이스드럼 Kit2 · 스네어 Snare · 베이스기타 &lt;b&gt;Slap · 기타(원곡) Default · "
            L"기타(리듬) Steel · B.D 피치 +6 · S.D 피치 -24") << WideToUtf8(report);
  struct Slot {
    int part, context;
    bool chosen, useDefault;
    int bank32, bank0, program, note;
  } slots[] = {
      {0, 0, true, false, 0, 0, 8, 35}, {1, 0, true, false, 2, 0, 16, 38}, {2, 0, true, false, 1, 8, 36, 0},
      {3, 0, true, true, 0, 0, 0, 0},   {3, 1, true, false, 0, 0, 25, 0},  {4, 0, false, false, 0, 0, 0, 0},
  };
  for (const Slot& s : slots) {
    const CvtToneSlotValues v = GetCvtToneSlot(s.part, s.context);
    EXPECT_EQ(std::make_tuple(v.chosen, v.useDefault, v.bank32, v.bank0, v.program, v.note),
              std::make_tuple(s.chosen, s.useDefault, s.bank32, s.bank0, s.program, s.note)) << s.part << " " << s.context;
  }
  EXPECT_EQ(Tones.ChannelToneSettings[0][9][kTonePitch].load(), 6);
  EXPECT_EQ(Tones.ChannelToneSettings[0][10][kTonePitch].load(), -24);
  // A dry run changes nothing; without the table the line says it was skipped.
  ClearCvtToneSlots();
  ApplyOldConfig(ParseOldConfigText(file), false, table);
  EXPECT_FALSE(GetCvtToneSlot(0, 0).chosen);
  ResetToneSettings();
}

TEST_F(SettingsCommandsTest, ImportOldConfigThroughTheDialog) {
  EqSettings = {};
  plat::WriteFileAtomic(root.path() / "Quellor02.CFG",
                        "[A]\nnAssign_Volume_Melody = 3\nUserVolume_03 = 120\nEqualizer_L=-12\nDefPlayKey=2\nOut4ch=1\n"
                        "ModuleName=it's SC-8820\n");
  plat::WriteFileAtomic(root.path() / "binary.cfg", std::string("a=1\n\0b=2\n", 10));
  plat::WriteFileAtomic(root.path() / "comments.cfg", "; only\n# comments\n");

  Pick("");
  EXPECT_TRUE(PostedBy({L"IMPORT_OLDCFG"}).empty());  // cancelled: nothing

  for (const char* bad : {"binary.cfg", "comments.cfg", "missing.cfg"}) {
    Pick(root.path() / bad);
    auto got = PostedBy({L"IMPORT_OLDCFG"});
    ASSERT_EQ(got.size(), 1u) << bad;
    EXPECT_EQ(got[0].rfind(L"try{ showImportReport(0,'", 0), 0u) << bad;
    EXPECT_EQ(SystemFile(root, "mixer.cfg"), "<missing>") << bad;
  }
  Pick(root.path() / "Quellor02.CFG");
  auto got = PostedBy({L"IMPORT_OLDCFG"});
  ASSERT_FALSE(got.empty());
  // The page is brought up to date first, then the report follows.
  EXPECT_EQ(got.back().rfind(L"try{ showImportReport(1,'<b>F4 볼륨</b> → 멜로디 120%<br>", 0), 0u) << WideToUtf8(got.back());
  EXPECT_EQ(Mixer.MixerChannelPercent[0][0].load(), 120);
  EXPECT_EQ(EqSettings.lowGain, 52);
  EXPECT_EQ(Settings.autoKeyMode, 2);
  EXPECT_EQ(Settings.outputMode, 4);
  EXPECT_EQ(GetSettingText(&AppSettings::port1Module), L"SC8820");
  EXPECT_NE(SystemFile(root, "mixer.cfg"), "<missing>");
  EXPECT_NE(SystemFile(root, "eq.cfg"), "<missing>");
  EXPECT_NE(SystemFile(root, "soundsel.cfg"), "<missing>");
  EXPECT_NE(("\n" + SystemFile(root, "app_settings.cfg")).find("\nautoKeyMode=2\n"), std::string::npos);
}

TEST_F(SettingsCommandsTest, ImportOldKeysThroughTheDialog) {
  const std::string records = std::string(8, '\0') + std::string("\x3c\x00\x43\x00\xff\x00\x00\x00", 8) +
                              std::string("\x3c\x00\x3e\x00\x3a\x00\x00\x00", 8);
  plat::WriteFileAtomic(root.path() / "USERKEY.CFG", records);
  SongSettings.UserKeyMap[2] = {1, 1};

  Pick(root.path() / "USERKEY.CFG");
  auto got = PostedBy({L"IMPORT_QUELLOR_KEYS", L"IMPORT_QUELLOR_KEYS"});
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], L"try{ initUserKeys([1,2]); if(typeof renderSearchResults==='function') renderSearchResults(); "
                    L"if(typeof userKeyImportDone==='function') userKeyImportDone(1,1); }catch(e){console.error(e)}");
  EXPECT_NE(got[1].find(L"userKeyImportDone(0,2)"), std::wstring::npos);
  EXPECT_EQ(SystemFile(root, "userkey.txt"), "1,-5,99\n2,1,1\n");

  Pick(root.path() / "it's gone");
  got = PostedBy({L"IMPORT_QUELLOR_KEYS"});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], L"try{ alert('파일을 열지 못했습니다.\\n\\n" + Utf8ToWide((root.path() / "it\\'s gone").string()) + L"'); }catch(e){console.error('alert',e)}");
}

TEST(NumLock, ModeDecision) {
  struct Case {
    int mode;
    bool battery, want;
  };
  for (const Case& c : std::vector<Case>{{0, true, false}, {0, false, false}, {1, true, true}, {1, false, false},
                                         {2, false, true}, {5, false, true}})
    EXPECT_EQ(NumLockOffWanted(c.mode, c.battery), c.want) << c.mode << c.battery;
}

TEST(NumLock, ApplyUnderXvfbFollowsTheSetting) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "Xvfb is not available";
  setenv("DISPLAY", x.display().c_str(), 1);
  auto pressNumLock = [&] {
    Display* dpy = XOpenDisplay(x.display().c_str());
    ASSERT_NE(dpy, nullptr);
    const KeyCode key = XKeysymToKeycode(dpy, XK_Num_Lock);
    XTestFakeKeyEvent(dpy, key, True, CurrentTime);
    XTestFakeKeyEvent(dpy, key, False, CurrentTime);
    XSync(dpy, False);
    XCloseDisplay(dpy);
  };
  pressNumLock();
  ASSERT_TRUE(plat::NumLockOn());
  struct Case {
    int mode;
    bool wantOn;
  };
  // This machine reports no battery: mode 1 leaves NumLock alone.
  ASSERT_FALSE(HasBattery());
  for (const Case& c : std::vector<Case>{{0, true}, {1, true}, {2, false}}) {
    Settings.numLockOff = c.mode;
    ApplyNumLockOff();
    EXPECT_EQ(plat::NumLockOn(), c.wantOn) << c.mode;
  }
  Settings.numLockOff = 2;
  ApplyNumLockOff();  // already off: stays off
  EXPECT_FALSE(plat::NumLockOn());
  unsetenv("DISPLAY");
}

TEST_F(SettingsCommandsTest, WindowCommands) {
  static std::vector<int> calls;  // fullscreen requests: 1 on, 0 off
  static bool on = false;
  calls.clear();
  SettingsCommandHooks hooks;
  hooks.setFullscreen = [](bool v) { calls.push_back(v ? 1 : 0); on = v; };
  hooks.fullscreenOn = [] { return on; };
  SetSettingsCommandHooks(hooks);
  const auto got = PostedBy({L"TOGGLE_FULLSCREEN", L"TOGGLE_FULLSCREEN", L"SET_START_FULLSCREEN:0", L"QUIT_APP"});
  SetSettingsCommandHooks({});
  EXPECT_EQ(calls, (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(Settings.startFullscreen, 0);
  // The quit asks the main window to close, which decides the rest.
  EXPECT_EQ(got, (std::vector<std::wstring>{L"<message 16>"}));
}
