#include <gtest/gtest.h>

#include <cstdlib>

#include "base/settings/app_settings.h"
#include "base/settings/settings_files.h"
#include "base/settings/song_settings.h"
#include "base/text.h"
#include "sound/services.h"
#include "ui/page_boot.h"
#include "ui/customer_window.h"
#include "common/temp_root.h"

namespace {

// Every name in `calls` appears in `script` as a call, in this order.
void ExpectCallOrder(const std::wstring& script, const std::vector<std::wstring>& calls) {
  size_t at = 0;
  for (const std::wstring& name : calls) {
    size_t found = script.find(name + L"(", at);
    ASSERT_NE(found, std::wstring::npos) << "missing or out of order: " << std::string(name.begin(), name.end());
    at = found + name.size();
  }
}

class PageBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = AppSettings{};
    SongSettings.UserKeyMap.clear();
    ParseExtRouting(L"");
    ParseExtNoteMap(L"");
  }
  TempRoot root;
};

}  // namespace

TEST_F(PageBootTest, FirstScriptCallsThePageInItsOrder) {
  const std::wstring js = BuildBootFirstScript();
  const std::vector<std::wstring> calls = {
      L"renderReservedQueue", L"renderSearchResults", L"initSoundTable", L"initPlayedHistory",
      L"initFavorites", L"initUserKeys", L"initHelpText", L"initAppSettings", L"initScoreText",
      L"setNumLockOffDisplay", L"initExtRouting", L"updateGlobalVolDisplay", L"setMixerMaxPct",
      L"setCcDedupDisplay", L"setRawSoundDisplay", L"setSaxExprDisplay", L"setSaxLayerDisplay",
      L"setSaxBoostDisplay", L"setSaxInsFxDisplay", L"setSaxPlayDisplay", L"setBuiltinSynthDisplay",
      L"setPcIsLaptop", L"setBgRandomDisplay", L"setLyricFontDisplay", L"setLyricWaitColorDisplay",
      L"setLyricSungColorDisplay", L"setLyricFontScaleDisplay", L"initCustomFonts", L"initLyricFonts", L"initEqFromApp"};
  ExpectCallOrder(js, calls);
  // The song list travels as a table of its own, ahead of this script.
  EXPECT_EQ(js.find(L"initSongDb"), std::wstring::npos);
  // One guard per call: a missing page function cannot stop the calls after it.
  size_t guards = 0;
  for (size_t at = js.find(L"try{ "); at != std::wstring::npos; at = js.find(L"try{ ", at + 1)) ++guards;
  EXPECT_EQ(guards, calls.size());
  for (const std::wstring& name : calls)
    EXPECT_NE(js.find(L"try{ " + name + L"("), std::wstring::npos) << std::string(name.begin(), name.end());
  EXPECT_EQ(js.rfind(L"try{ renderReservedQueue(); }catch(e){console.error('renderReservedQueue',e)}try{ renderSearchResults(); }catch(e){console.error('renderSearchResults',e)}"
                     L"try{ initSoundTable([]); }catch(e){console.error('initSoundTable',e)}",
                     0),
            0u);
  EXPECT_NE(js.find(L"try{ initAppSettings(0,'SC8850','SC8850',2,0,0,-1,0,0,0,100,"
                    L"{on:1,macro:4,time:56,preLpf:0},0,{macro:-1,level:-1,depth:-1}); }catch(e){console.error('initAppSettings',e)}try{ initScoreText("
                    L"100,0,1,0,100,4,1,0); }catch(e){console.error('initScoreText',e)}"),
            std::wstring::npos);
  EXPECT_NE(js.find(L"try{ initExtRouting(0,-1,0,0,0,'00000000000000000000000000000000','',''); }catch(e){console.error('initExtRouting',e)}"),
            std::wstring::npos);
  // help.txt is missing: the built-in text, ending with a line end (so a last empty line).
  EXPECT_NE(js.find(L"try{ initHelpText(['[ Tavelo 도움말 ]','',"), std::wstring::npos);
  EXPECT_NE(js.find(L"수정할 수 있습니다.',''],20,9); }catch(e){console.error('initHelpText',e)}"), std::wstring::npos);
  EXPECT_NE(js.find(L"try{ initCustomFonts([]); }catch(e){console.error('initCustomFonts',e)}try{ initLyricFonts(["), std::wstring::npos);
  EXPECT_TRUE(js.ends_with(L"}catch(e){console.error('initLyricFonts',e)}try{ initEqFromApp(0,64,0,64); }catch(e){console.error('initEqFromApp',e)}"));
}

TEST_F(PageBootTest, FirstScriptEscapesTextsAndCarriesValues) {
  Settings.port1Module = L"SC'88";
  Settings.extDevice = L"dev\\ice";
  Settings.lyricFont = L"file:'x'.ttf";
  Settings.lyricWaitColor = L"#fff\n');alert(1);('";
  Settings.builtinSynth = 1;
  Settings.helpFontPx = 33;
  Settings.numLockOff = 2;
  SongSettings.UserKeyMap = {{30, {1, 1}}, {7, {0, 2}}};
  ParseExtRouting(L"1");
  ParseExtNoteMap(L"36>35");
  const std::wstring js = BuildBootFirstScript();
  EXPECT_NE(js.find(L"initAppSettings(0,'SC\\'88','SC8850',"), std::wstring::npos);
  EXPECT_NE(js.find(L"'10000000000000000000000000000000','36>35','dev\\\\ice'); }catch(e){console.error('initExtRouting',e)}"), std::wstring::npos);
  EXPECT_NE(js.find(L"try{ setLyricFontDisplay('file:\\'x\\'.ttf'); }catch(e){console.error('setLyricFontDisplay',e)}"), std::wstring::npos);
  EXPECT_NE(js.find(L"try{ setLyricWaitColorDisplay('#fff\\');alert(1);(\\''); }catch(e){console.error('setLyricWaitColorDisplay',e)}"), std::wstring::npos);
  EXPECT_NE(js.find(L"setBuiltinSynthDisplay(1)"), std::wstring::npos);
  EXPECT_NE(js.find(L"initUserKeys([7,30]); }catch(e){console.error('initUserKeys',e)}try{ initHelpText(['[ Tavelo"), std::wstring::npos);
  EXPECT_NE(js.find(L"''],33,9); }catch(e){console.error('initHelpText',e)}"), std::wstring::npos);
  EXPECT_NE(js.find(L"setNumLockOffDisplay(2)"), std::wstring::npos);
}

TEST_F(PageBootTest, EnvScriptOnlyForAJsonObject) {
  EXPECT_EQ(BuildBootEnvScript(), L"");
  ASSERT_TRUE(WriteFileText(EnvSettingsFilePath, "{\"listFontPx\":20}"));
  EXPECT_EQ(BuildBootEnvScript(), L"try{ applyEnvSettings({\"listFontPx\":20}); }catch(e){console.error('applyEnvSettings',e)}");
  ASSERT_TRUE(WriteFileText(EnvSettingsFilePath, "1); alert(1); (2"));
  EXPECT_EQ(BuildBootEnvScript(), L"");
}

TEST_F(PageBootTest, SecondScriptOrder) {
  Settings.customerMonitor = 2;
  Settings.customerBright = 120;
  Settings.keepAdjust = 0;
  Settings.pcScore = 60;  // measured and weak: lite mode when automatic
  ::setenv("TAVELO_MONITORS", "1920x1080+0+0*", 1);
  EnumerateMonitors();
  std::wstring js = BuildBootSecondScript();
  ::unsetenv("TAVELO_MONITORS");
  Settings.pcScore = -1;
  EXPECT_EQ(js,
            L"try{ initMonitorList([[1,1920,1080,1]],2,-1); }catch(e){console.error('initMonitorList',e)}try{ initCustomerBright(120); }catch(e){console.error('initCustomerBright',e)}"
            L"try{ initCwLyricsPct(53); }catch(e){console.error('initCwLyricsPct',e)}try{ initCwScoreFill(100); }catch(e){console.error('initCwScoreFill',e)}"
            L"try{ initCustomerVideo(0,'',0); }catch(e){console.error('initCustomerVideo',e)}try{ initPcVideoInfo(-1,60,1,1,0); }catch(e){console.error('initPcVideoInfo',e)}"
            L"try{ initCamList([],0,''); }catch(e){console.error('initCamList',e)}try{ setLiteMode(1,-1); }catch(e){console.error('setLiteMode',e)}try{ initKeepAdjust(0); }catch(e){console.error('initKeepAdjust',e)}"
            L"try{ initMedley([],[],'',-1); }catch(e){console.error('initMedley',e)}");
}
