#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/power.h"
#include "ui/audio_list.h"
#include "ui/backgrounds.h"
#include "ui/page_host.h"

namespace fs = std::filesystem;

namespace {

void Touch(const fs::path& p, const std::string& bytes = "x") { ASSERT_TRUE(plat::WriteFileAtomic(p, bytes)); }

std::string Read(const fs::path& p) { return plat::ReadFileBytes(p).value_or("<missing>"); }

}  // namespace

TEST(PcScore, FromCoresMemoryAndPower) {
  const struct {
    unsigned cores;
    unsigned long long gib;
    PowerSource power;
    int score;
  } cases[] = {
      {16, 32, PowerSource::kCharger, 95}, {8, 16, PowerSource::kUnknown, 95}, {7, 15, PowerSource::kCharger, 83},
      {6, 8, PowerSource::kBattery, 73},   {5, 7, PowerSource::kCharger, 67},  {4, 4, PowerSource::kBattery, 57},
      {3, 3, PowerSource::kCharger, 42},   {2, 0, PowerSource::kBattery, 32},  {1, 0, PowerSource::kBattery, 25},
      {0, 1000, PowerSource::kCharger, 55},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PcScoreFromFacts(c.cores, c.gib, c.power), c.score) << c.cores << " " << c.gib;
}

TEST(PcScore, LiteModeFromSettingAndWeakness) {
  const struct {
    int setting;
    bool weak, lite;
  } cases[] = {{1, false, true}, {1, true, true},  {0, true, false}, {0, false, false},
               {-1, true, true}, {-1, false, false}, {7, true, true}, {7, false, false}};
  for (const auto& c : cases) EXPECT_EQ(LiteFromSetting(c.setting, c.weak), c.lite) << c.setting << c.weak;
}

TEST(PcScore, MeasuredScoreWinsAndSetsLiteMode) {
  TempRoot root;
  Settings.pcScore = 40;
  Settings.liteMode = -1;
  EXPECT_EQ(CurrentPcScore(), 40);
  EXPECT_EQ(BuildLiteModeScript(), L"try{ setLiteMode(1,-1); }catch(e){console.error('setLiteMode',e)}");
  EXPECT_EQ(PageHost.LiteModeActive.load(), 1);
  Settings.pcScore = 70;
  EXPECT_EQ(BuildLiteModeScript(), L"try{ setLiteMode(0,-1); }catch(e){console.error('setLiteMode',e)}");
  Settings.liteMode = 1;
  EXPECT_EQ(BuildLiteModeScript(), L"try{ setLiteMode(1,1); }catch(e){console.error('setLiteMode',e)}");
  EXPECT_EQ(BuildPcVideoInfoScript(), L"try{ initPcVideoInfo(-1,70,0,1,0); }catch(e){console.error('initPcVideoInfo',e)}");
  Settings.pcScore = -1;
  Settings.liteMode = -1;
}

TEST(Power, BatteryAndChargerFromThePowerSupplyFolder) {
  TempRoot root;
  const fs::path dir = root.path() / "power";
  struct Supply {
    const char* name;
    const char* type;
    const char* extra;  // "online=1" / "status=Discharging" / "scope=Device"
  };
  const struct {
    std::vector<Supply> supplies;
    bool readable, battery, onBattery;
  } cases[] = {
      {{}, true, false, false},
      {{{"AC", "Mains", "online=1"}, {"BAT0", "Battery", "status=Discharging"}}, true, true, false},
      {{{"AC", "Mains", "online=0"}, {"BAT0", "Battery", "status=Discharging"}}, true, true, true},
      {{{"BAT0", "Battery", "status=Charging"}}, true, true, false},
      {{{"hid-mouse", "Battery", "scope=Device"}}, true, false, false},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& s : c.supplies) {
      Touch(dir / s.name / "type", std::string(s.type) + "\n");
      std::string extra = s.extra;
      Touch(dir / s.name / extra.substr(0, extra.find('=')), extra.substr(extra.find('=') + 1) + "\n");
    }
    plat::SetPowerSupplyDir(dir);
    const auto status = plat::ReadPowerStatus();
    EXPECT_EQ(status.readable, c.readable);
    EXPECT_EQ(status.hasBattery, c.battery);
    EXPECT_EQ(status.onBattery, c.onBattery);
  }
  plat::SetPowerSupplyDir(dir / "missing");
  EXPECT_FALSE(plat::ReadPowerStatus().readable);
  plat::SetPowerSupplyDir({});
}

TEST(Backgrounds, VideoListsByExtension) {
  TempRoot root;
  for (const char* n : {"b.mp4", "A.WEBM", "c.m4v", "d.mov", "e.wmv", "f.AVI", "g.txt", "noext"}) Touch(root.path() / "video" / n);
  fs::create_directories(root.path() / "video" / "dir.mp4");
  EXPECT_EQ(ListPlayableVideos(), (std::vector<std::wstring>{L"A.WEBM", L"b.mp4", L"c.m4v", L"d.mov"}));
  EXPECT_EQ(ListOtherVideos(), (std::vector<std::wstring>{L"e.wmv", L"f.AVI"}));
  Touch(root.path() / "video" / "big.mp4", std::string(3 * 1048576 + 5, 'x'));
  EXPECT_EQ(GetVideoFileSizeMb(L"big.mp4"), 3);
  EXPECT_EQ(GetVideoFileSizeMb(L""), 0);
  EXPECT_EQ(GetVideoFileSizeMb(L"missing.mp4"), 0);
  EXPECT_EQ(GetVideoFileSizeMb(L"../video/big.mp4"), 0);
}

TEST(Backgrounds, FindsThePictureByBaseName) {
  TempRoot root;
  EXPECT_EQ(FindBackgroundImageFile(L"main_bg"), L"");
  Touch(root.path() / "images" / "main_bg.txt");
  Touch(root.path() / "images" / "main_bgx.png");
  EXPECT_EQ(FindBackgroundImageFile(L"main_bg"), L"");
  Touch(root.path() / "images" / "MAIN_BG.PNG");
  EXPECT_EQ(FindBackgroundImageFile(L"main_bg"), L"MAIN_BG.PNG");
  EXPECT_EQ(FindBackgroundImageFile(L"header_bg"), L"");
  const std::wstring script = BuildBgImagesScript();
  EXPECT_EQ(script, L"try{ initBgImages('MAIN_BG.PNG','data:image/png;base64,eA==','',''); }catch(e){console.error('initBgImages',e)}");
}

TEST(Backgrounds, InstallingAPictureKeepsTheOldOneUntilTheCopyIsThere) {
  TempRoot root;
  const fs::path images = root.path() / "images";
  const fs::path picked = root.path() / "pick" / "New.JPEG";
  Touch(picked, "new");
  Touch(images / "main_bg.png", "old");
  Touch(images / "main_bg.gif", "older");

  // A failed copy keeps both old pictures and leaves no temporary file.
  SetBackgroundCopyForTest([](const fs::path&, const fs::path& to) {
    plat::WriteFileAtomic(to, "ha");
    return false;
  });
  EXPECT_EQ(InstallBackgroundImage(L"main_bg", picked), L"");
  EXPECT_EQ(Read(images / "main_bg.png"), "old");
  EXPECT_EQ(Read(images / "main_bg.gif"), "older");
  SetBackgroundCopyForTest(nullptr);
  EXPECT_EQ(InstallBackgroundImage(L"main_bg", root.path() / "pick" / "missing.png"), L"");
  EXPECT_EQ(Read(images / "main_bg.png"), "old");

  // A good copy replaces every other main_bg.* file.
  EXPECT_EQ(InstallBackgroundImage(L"main_bg", picked), L"main_bg.jpeg");
  EXPECT_EQ(Read(images / "main_bg.jpeg"), "new");
  EXPECT_FALSE(fs::exists(images / "main_bg.png"));
  EXPECT_FALSE(fs::exists(images / "main_bg.gif"));

  // Picking the current file again works; a name without a dot becomes .jpg.
  EXPECT_EQ(InstallBackgroundImage(L"main_bg", images / "main_bg.jpeg"), L"main_bg.jpeg");
  EXPECT_EQ(Read(images / "main_bg.jpeg"), "new");
  Touch(root.path() / "pick" / "plain", "p");
  EXPECT_EQ(InstallBackgroundImage(L"header_bg", root.path() / "pick" / "plain"), L"header_bg.jpg");
  EXPECT_EQ(Read(images / "main_bg.jpeg"), "new");
  size_t files = 0;
  for (auto& e : fs::directory_iterator(images)) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);  // no temporary copy left behind
}

TEST(AudioList, PlayableFilesSortedWithoutCase) {
  const struct {
    std::vector<std::wstring> names;
    std::wstring payload;
  } cases[] = {
      {{}, L"[]"},
      {{L"c.mp3", L"A.mp3", L"b.mp3"}, L"[{f:'A.mp3',t:'A'},{f:'b.mp3',t:'b'},{f:'c.mp3',t:'c'}]"},
      {{L"LOUD.WAV", L"x.y.ogg", L"noext", L"v.mp4", L"it's.flac"},
       L"[{f:'it\\'s.flac',t:'it\\'s'},{f:'LOUD.WAV',t:'LOUD'},{f:'x.y.ogg',t:'x.y'}]"},
      {{L"a.m4a", L"b.wma", L"c.aac", L"d.opus", L"e.txt"},
       L"[{f:'a.m4a',t:'a'},{f:'b.wma',t:'b'},{f:'c.aac',t:'c'},{f:'d.opus',t:'d'}]"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildAudioFileListFrom(c.names), c.payload);
}

TEST(AudioList, FolderMissingOrPresent) {
  TempRoot root;
  EXPECT_EQ(BuildAudioFileList(), L"[]");
  Touch(root.path() / "audio" / "b.mp3");
  Touch(root.path() / "audio" / "a.MP3");
  fs::create_directories(root.path() / "audio" / "dir.mp3");
  EXPECT_EQ(BuildAudioFileList(), L"[{f:'a.MP3',t:'a'},{f:'b.mp3',t:'b'}]");
}
