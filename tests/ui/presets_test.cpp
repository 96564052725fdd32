#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "base/settings/app_settings.h"
#include "ui/presets.h"
#include "base/settings/settings_files.h"
#include "sound/services.h"
#include "common/temp_root.h"

namespace {

class PresetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    ParseExtRouting(L"");
    ParseExtNoteMap(L"");
  }
  static void Put(std::wstring_view file, std::string_view text) { ASSERT_TRUE(WriteFileText(file, text)); }
  static std::string Get(std::wstring_view file) { return ReadFileText(file); }
  TempRoot root;
};

constexpr std::wstring_view kApp = L"C:/tavelo/system/app_settings.cfg";
constexpr std::wstring_view kEnv = L"C:/tavelo/system/env_settings.cfg";
constexpr std::wstring_view kMixer = L"C:/tavelo/system/mixer.cfg";
constexpr std::wstring_view kEq = L"C:/tavelo/system/eq.cfg";
constexpr std::wstring_view kSound = L"C:/tavelo/system/soundsel.cfg";

// The preset text after its saved line.
std::string Sections(const std::string& preset) {
  size_t saved = preset.find("saved=");
  return preset.substr(preset.find('\n', saved) + 1);
}

}  // namespace

TEST(StripPortDeviceLines, KeepsOrDropsTheDeviceLines) {
  std::string text = "a=1\r\n\nport1Device=X\nport2Device=Y\r\nport1Devic=Z\nb=2";
  EXPECT_EQ(StripPortDeviceLines(text, false), "a=1\nport1Devic=Z\nb=2\n");
  EXPECT_EQ(StripPortDeviceLines(text, true), "port1Device=X\nport2Device=Y\n");
  EXPECT_EQ(StripPortDeviceLines("", false), "");
}

TEST(PresetPath, SlotNumberInDecimal) {
  EXPECT_EQ(PresetPath(1), L"<root>/presets/p1.cfg");
  EXPECT_EQ(PresetPath(6), L"<root>/presets/p6.cfg");
}

TEST_F(PresetsTest, SaveWritesEverySectionWithoutDeviceLines) {
  Settings.port1Device = L"SC-8850";
  Settings.helpFontPx = 33;
  Put(kEnv, "{\"listFontPx\":18}");
  Put(kEq, "lf=1\r\nlg=70\n");
  // mixer.cfg and soundsel.cfg missing
  ASSERT_TRUE(SavePreset(3));
  std::string preset = Get(PresetPath(3));
  ASSERT_EQ(preset.rfind("[meta]\nsaved=", 0), 0u);
  EXPECT_EQ(ReadPresetSavedTime(3).size(), 16u);  // yyyy-mm-dd hh:mm
  std::string sections = Sections(preset);
  EXPECT_EQ(sections.find("port1Device="), std::string::npos);
  EXPECT_EQ(sections.find("port2Device="), std::string::npos);
  EXPECT_NE(sections.find("\nhelpFontPx=33\n"), std::string::npos);
  size_t env = sections.find("[env]\n");
  ASSERT_NE(env, std::string::npos);
  EXPECT_EQ(sections.substr(env), "[env]\n{\"listFontPx\":18}\n[mixer]\n[eq]\nlf=1\r\nlg=70\n[sound]\n");
}

TEST_F(PresetsTest, SaveRejectsSlotsOutsideOneToSixAndReportsAFailedWrite) {
  for (int slot : {0, 7, -1}) EXPECT_FALSE(SavePreset(slot)) << slot;
  EXPECT_FALSE(std::filesystem::exists(plat::RealPath(L"C:/tavelo/presets/p7.cfg")));
  std::filesystem::create_directories(plat::RealPath(L"C:/tavelo/presets") / "p2.cfg");
  EXPECT_FALSE(SavePreset(2));
}

TEST_F(PresetsTest, RoundTripKeepsThisComputersDevices) {
  Settings.port1Device = L"Old port";
  Settings.saxGate = 95;
  Settings.lyricFont = L"나눔고딕";
  Put(kEnv, "{\"a\":1}");
  // Saving a preset writes the mixer file from the mixer's values first, so they hold the text.
  Put(kMixer, "M 0 1 80\nMM 2 90\n");
  LoadMixerConfig();
  Put(kEq, "e1");
  Put(kSound, "s1\n");
  ASSERT_TRUE(SavePreset(2));

  // Everything changes afterwards, the devices included.
  Settings = AppSettings{};
  Settings.port1Device = L"New port";
  ASSERT_TRUE(SaveAppSettings());
  Put(kEnv, "{\"a\":2}");
  Put(kMixer, "changed\n");
  Put(kEq, "changed\n");
  Put(kSound, "changed\n");

  ASSERT_TRUE(LoadPreset(2));
  EXPECT_EQ(Get(kEnv), "{\"a\":1}\n");
  EXPECT_EQ(Get(kMixer), "M 0 1 80\nMM 2 90\n");
  EXPECT_EQ(Get(kEq), "e1\n");
  EXPECT_EQ(Get(kSound), "s1\n");
  std::string app = Get(kApp);
  EXPECT_EQ(app.find("port1Device=Old port"), std::string::npos);
  std::string devices = "port1Device=New port\nport2Device=\n";
  ASSERT_GE(app.size(), devices.size());
  EXPECT_EQ(app.substr(app.size() - devices.size()), devices);  // appended at the end

  Settings = AppSettings{};
  LoadAppSettings();
  EXPECT_EQ(Settings.saxGate, 95);
  EXPECT_EQ(Settings.lyricFont, L"나눔고딕");
  EXPECT_EQ(Settings.port1Device, L"New port");
}

TEST_F(PresetsTest, LoadOfAMissingOrEmptySlotChangesNothing) {
  Put(kEq, "keep\n");
  EXPECT_FALSE(LoadPreset(4));
  Put(PresetPath(4), "");
  EXPECT_FALSE(LoadPreset(4));
  EXPECT_FALSE(LoadPreset(9));
  EXPECT_EQ(Get(kEq), "keep\n");
}

TEST_F(PresetsTest, AMissingSectionLeavesItsFileAlone) {
  Put(kEq, "keep\n");
  Put(kMixer, "old\n");
  Put(PresetPath(5), "[meta]\nsaved=2024-01-02 03:04\n[app]\nhelpFontPx=40\n[mixer]\nnew\n[sound]\nsnd\n");
  ASSERT_TRUE(LoadPreset(5));
  EXPECT_EQ(Get(kEq), "keep\n");
  EXPECT_EQ(Get(kMixer), "new\n");
  EXPECT_EQ(Get(kSound), "snd\n");
  EXPECT_EQ(Get(kApp), "helpFontPx=40\n");
  EXPECT_EQ(ReadPresetSavedTime(5), L"2024-01-02 03:04");
}

TEST_F(PresetsTest, SavingTwiceReplacesTheFile) {
  ASSERT_TRUE(SavePreset(3));
  Put(PresetPath(3), "[meta]\nsaved=1999-01-01 00:00\n");
  ASSERT_TRUE(SavePreset(3));
  EXPECT_NE(ReadPresetSavedTime(3), L"1999-01-01 00:00");
  EXPECT_EQ(Get(PresetPath(3)).find("[app]"), Get(PresetPath(3)).rfind("[app]"));
}

TEST_F(PresetsTest, SetPresetAppKeyReplacesOneKey) {
  Put(PresetPath(1), "[meta]\nsaved=2024-01-02 03:04\n[app]\na=1\nsaxGate=88\n\nb=2\r\n[env]\n{}\n[eq]\nsaxGate=1\n");
  ASSERT_TRUE(SetPresetAppKey("saxGate", "90"));
  EXPECT_EQ(Get(PresetPath(1)),
            "[meta]\nsaved=2024-01-02 03:04\n[app]\na=1\nb=2\nsaxGate=90\n[env]\n{}\n[eq]\nsaxGate=1\n");
  // An "[app]" section at the end of the file.
  Put(PresetPath(1), "[meta]\n[app]\nx=1");
  ASSERT_TRUE(SetPresetAppKey("x", "2"));
  EXPECT_EQ(Get(PresetPath(1)), "[meta]\n[app]\nx=2\n");
}

TEST_F(PresetsTest, SetPresetAppKeyWithoutBaseOrAppSectionDoesNothing) {
  EXPECT_FALSE(SetPresetAppKey("saxGate", "90"));
  EXPECT_FALSE(std::filesystem::exists(plat::RealPath(PresetPath(1))));
  Put(PresetPath(1), "[meta]\n[env]\n{}\n");
  EXPECT_FALSE(SetPresetAppKey("saxGate", "90"));
  EXPECT_EQ(Get(PresetPath(1)), "[meta]\n[env]\n{}\n");
}

TEST_F(PresetsTest, ConcurrentPatchesOfTheBaseAreAllKept) {
  Put(PresetPath(1), "[meta]\n[app]\n[env]\n");
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 10; ++i) SetPresetAppKey("k" + std::to_string(t), std::to_string(i));
    });
  for (auto& th : threads) th.join();
  std::string text = Get(PresetPath(1));
  for (int t = 0; t < 8; ++t) EXPECT_NE(text.find("k" + std::to_string(t) + "=9\n"), std::string::npos) << t;
}

TEST_F(PresetsTest, SlotInfoForThePage) {
  Put(PresetPath(1), "[meta]\nsaved=2024-05-06 07:08\n[app]\n");
  Put(PresetPath(2), "[meta]\n[app]\n");                        // no saved line
  Put(PresetPath(3), "[meta]\nsaved=x'); alert(1); ('\n");      // hand-edited
  EXPECT_EQ(BuildPresetInfoList(),
            L"[{s:1,w:'2024-05-06 07:08'},{s:2,w:''},{s:3,w:'x\\'); alert(1); (\\''},"
            L"{s:4,w:''},{s:5,w:''},{s:6,w:''}]");
}

TEST_F(PresetsTest, SettingsScriptEscapesTexts) {
  Settings.port1Module = L"SC'8850";
  Settings.lyricFont = L"a\\b";
  std::wstring js = BuildAppSettingsInitScript();
  EXPECT_EQ(js.rfind(L"try{ initAppSettings(0,'SC\\'8850','SC8850',2,0,0,-1,0,0,0,100,"
                     L"{on:1,macro:4,time:56,preLpf:0},0,{macro:-1,level:-1,depth:-1}"
                     L"); if(typeof setRawSoundDisplay==='function') setRawSoundDisplay(0)",
                     0),
            0u);
  EXPECT_EQ(js.find(L"try{"), js.rfind(L"try{"));  // one guard around the whole script
  EXPECT_NE(js.find(L"setLyricFontDisplay('a\\\\b')"), std::wstring::npos);
  EXPECT_NE(js.find(L"setSaxPlayDisplay(1,1,88)"), std::wstring::npos);
  EXPECT_NE(js.find(L"initCustomFonts([])"), std::wstring::npos);
  EXPECT_TRUE(js.ends_with(
      L"); if(typeof renderSettingsPanel==='function') renderSettingsPanel(); }catch(e){console.error(e)}"));
}

TEST_F(PresetsTest, AFailedSettingsWriteLeavesTheSlotAsItWasAndSaysWhy) {
  Put(PresetPath(2), "[meta]\nsaved=2024-01-02 03:04\n[app]\nhelpFontPx=40\n");
  Put(kApp, "helpFontPx=40\n");
  std::filesystem::remove(plat::RealPath(kApp));
  std::filesystem::create_directories(plat::RealPath(kApp));  // cannot be replaced by a file
  Settings.helpFontPx = 50;
  std::wstring failure;
  EXPECT_FALSE(SavePreset(2, &failure));
  EXPECT_NE(failure.find(L"app_settings.cfg"), std::wstring::npos);
  EXPECT_EQ(Get(PresetPath(2)), "[meta]\nsaved=2024-01-02 03:04\n[app]\nhelpFontPx=40\n");
}

TEST_F(PresetsTest, ThePageBlobTravelsThroughAPresetAsOneCheckedLine) {
  struct Case {
    std::string env;      // env_settings.cfg when the preset is saved
    std::string loaded;   // env_settings.cfg after the preset is loaded over "{\"old\":1}"
  } cases[] = {
      {"{\"a\":1}", "{\"a\":1}\n"},
      {"{\"a\":\n[1],\n\"b\":2}", "{\"a\":[1],\"b\":2}\n"},   // a line starting with "[" stays inside
      {"{\"a\":1}\n[mixer]\nhacked=1\n", "{\"old\":1}"},          // no JSON object: no env section
      {"{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}", "{\"old\":1}"},
  };
  for (const Case& c : cases) {
    Put(kMixer, "M 0 1 80\n");
    LoadMixerConfig();
    Put(kEnv, c.env);
    ASSERT_TRUE(SavePreset(2));
    Put(kEnv, "{\"old\":1}");
    ASSERT_TRUE(LoadPreset(2));
    EXPECT_EQ(Get(kEnv), c.loaded) << c.env.substr(0, 40);
    EXPECT_EQ(Get(kMixer), "M 0 1 80\n") << c.env.substr(0, 40);
  }
}
