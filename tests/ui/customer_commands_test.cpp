#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "base/settings/app_settings.h"
#include "base/text.h"
#include "common/posted_to_window.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "ui/customer_commands.h"
#include "ui/page_host.h"

namespace {

std::string Log(const TempRoot& root) {
  return plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
}

// The page scripts a handler posted, joined.
template <class F>
std::wstring PostedText(F handler) {
  std::wstring all;
  for (const std::wstring& t : PostedBy(handler)) all += t + L"\n";
  return all;
}

}  // namespace

TEST(CustomerCommands, CustomFontNamesStayInTheFontsFolder) {
  TempRoot root;
  std::filesystem::create_directories(root.path() / "fonts");
  plat::WriteFileAtomic(root.path() / "fonts" / "a.ttf", "xy");
  // names that could leave the folder: no reply at all
  for (const wchar_t* bad : {L"../x.ttf", L"a\\b.ttf", L"sub/x.ttf", L"a..b.ttf", L""})
    EXPECT_EQ(PostedText([&] { HandleLoadCustomFont(std::wstring(L"LOAD_CUSTOM_FONT:") + bad); }), L"") << WideToUtf8(bad);
  EXPECT_NE(PostedText([] { HandleLoadCustomFont(L"LOAD_CUSTOM_FONT:a.ttf"); }).find(L"onCustomFontData('a.ttf', 'data:font/ttf;base64,eHk=')"),
            std::wstring::npos);
  EXPECT_NE(PostedText([] { HandleLoadCustomFont(L"LOAD_CUSTOM_FONT:없는.ttf"); }).find(L"alert('글꼴 파일을 읽지 못했습니다: 없는.ttf')"),
            std::wstring::npos);
}

TEST(CustomerCommands, NumbersAreLimitedAsEachSettingAllows) {
  TempRoot root;
  const struct {
    void (*handler)(const std::wstring&);
    std::wstring message;
    SettingInt AppSettings::*setting;
    int stored;
  } cases[] = {
      {HandleSetCwLyricsPct, L"SET_CW_LYRICS_PCT:99", &AppSettings::cwLyricsPct, 62},
      {HandleSetCwLyricsPct, L"SET_CW_LYRICS_PCT:-5", &AppSettings::cwLyricsPct, 35},
      {HandleSetCustomerBright, L"SET_CUSTOMER_BRIGHT:10", &AppSettings::customerBright, 50},
      {HandleSetCustomerBright, L"SET_CUSTOMER_BRIGHT:150abc", &AppSettings::customerBright, 150},
      {HandleSetCwScoreFill, L"SET_CW_SCORE_FILL:1000", &AppSettings::cwScoreFill, 150},
      {HandleSetCwScoreFill, L"SET_CW_SCORE_FILL:", &AppSettings::cwScoreFill, 50},
      {HandleSetCustomerMonitor, L"SET_CUSTOMER_MONITOR:-2", &AppSettings::customerMonitor, 0},
      {HandleSetCustomerMonitor, L"SET_CUSTOMER_MONITOR:2", &AppSettings::customerMonitor, 2},
      {HandleSetLiteMode, L"SET_LITE_MODE:5", &AppSettings::liteMode, -1},
      {HandleSetLiteMode, L"SET_LITE_MODE:0", &AppSettings::liteMode, 0},
      {HandleSetLiteMode, L"SET_LITE_MODE:1", &AppSettings::liteMode, 1},
      {HandleSetGpuForce, L"SET_GPU_FORCE:x", &AppSettings::gpuForce, 0},
      {HandleSetGpuForce, L"SET_GPU_FORCE:-7", &AppSettings::gpuForce, -1},
      {HandleSetCustomerVideoSrc, L"SET_CUSTOMER_VIDEO_SRC:2", &AppSettings::customerVideoSrc, 0},
      {HandleSetCustomerVideoSrc, L"SET_CUSTOMER_VIDEO_SRC:1", &AppSettings::customerVideoSrc, 1},
      {HandleSetCustomerVideo, L"SET_CUSTOMER_VIDEO:7", &AppSettings::customerVideo, 1},
      {HandleSetBgRandom, L"SET_BG_RANDOM:0", &AppSettings::bgRandom, 0},
  };
  for (const auto& c : cases) {
    c.handler(c.message);
    EXPECT_EQ((Settings.*c.setting).load(), c.stored) << WideToUtf8(c.message);
  }
  const std::string log = Log(root);
  EXPECT_NE(log.find(WideToUtf8(L"[LITE] 성능 모드 설정 = 저사양 -> 지금 저사양")), std::string::npos);
  EXPECT_NE(log.find(WideToUtf8(L"[CW] 그래픽 가속 = -1 (-1=자동, 재시작 후 적용)")), std::string::npos);
  EXPECT_NE(log.find(WideToUtf8(L"[CW] 배경 출처 = 외부 입력")), std::string::npos);
  Settings.customerMonitor = 0;
  Settings.customerVideo = 0;
  Settings.customerVideoSrc = 0;
  Settings.liteMode = -1;
  Settings.gpuForce = -1;
}

TEST(CustomerCommands, CameraLabelIsTakenAsItStands) {
  TempRoot root;
  HandleSetCustomerCam(L"SET_CUSTOMER_CAM: USB: Cam's \"x\"");
  std::lock_guard lock(AppSettings::Mutex);
  EXPECT_EQ(Settings.customerCamLabel, L" USB: Cam's \"x\"");
  Settings.customerCamLabel.clear();
}

TEST(CustomerCommands, RandomPictureTakesTurnsAndIsKeptForTheCustomerPage) {
  TempRoot root;
  HandleBgRandomNext(L"BG_RANDOM_NEXT");  // no pictures: nothing
  {
    std::lock_guard lock(PageHost.PageScriptCacheMutex);
    EXPECT_FALSE(PageHost.RandomBgScript);
  }
  ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "images" / "random" / "a.png", "A"));
  ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "images" / "random" / "b.jpg", "B"));
  ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "images" / "random" / "notes.txt", "N"));
  std::string last;
  for (int i = 0; i < 6; ++i) {
    HandleBgRandomNext(L"BG_RANDOM_NEXT");
    std::string script;
    {
      std::lock_guard lock(PageHost.PageScriptCacheMutex);
      ASSERT_TRUE(PageHost.RandomBgScript);
      script = *PageHost.RandomBgScript;
    }
    EXPECT_TRUE(script == "try{ bgRandomOn = 1; onRandomBgApplied('data:image/png;base64,QQ=='); }catch(e){}" ||
                script == "try{ bgRandomOn = 1; onRandomBgApplied('data:image/jpeg;base64,Qg=='); }catch(e){}")
        << script;
    EXPECT_NE(script, last);  // two pictures: never the same one twice in a row
    last = script;
  }
  HandleSetBgRandom(L"SET_BG_RANDOM:0");
  std::lock_guard lock(PageHost.PageScriptCacheMutex);
  EXPECT_FALSE(PageHost.RandomBgScript);
}
