#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/settings/app_settings.h"
#include "base/text.h"
#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/monitors.h"
#include "ui/backgrounds.h"
#include "ui/customer_window.h"

namespace {

std::string Log(const TempRoot& root) {
  return plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
}

struct MonitorSwitch {
  explicit MonitorSwitch(const char* value) { ::setenv("TAVELO_MONITORS", value, 1); }
  ~MonitorSwitch() { ::unsetenv("TAVELO_MONITORS"); }
};

}  // namespace

TEST(Monitors, TestSwitchEntries) {
  const struct {
    const char* text;
    std::vector<plat::ScreenRect> rects;
    std::vector<bool> primary;
    int main;
  } cases[] = {
      {"", {}, {}, -1},
      {"1920x1080+0+0*@;1280x720+1920+0", {{0, 0, 1920, 1080}, {1920, 0, 3200, 720}}, {true, false}, 0},
      {"800x600-800+0;bad;0x10+0+0;1024x768+0+0@*", {{-800, 0, 0, 600}, {0, 0, 1024, 768}}, {false, true}, 1},
      {"99999999x1+0+0", {}, {}, -1},
  };
  for (const auto& c : cases) {
    int main = -2;
    const auto list = plat::ParseMonitorList(c.text, main);
    ASSERT_EQ(list.size(), c.rects.size()) << c.text;
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(list[i].rect, c.rects[i]) << c.text;
      EXPECT_EQ(list[i].primary, c.primary[i]) << c.text;
    }
    EXPECT_EQ(main, c.main) << c.text;
  }
}

TEST(CustomerWindow, MonitorListJson) {
  MonitorSwitch monitors("1920x1080+0+0*;1280x720+1920+0");
  EnumerateMonitors();
  EXPECT_EQ(BuildMonitorListJson(), L"[[1,1920,1080,1],[2,1280,720,0]]");
  // Without a main page there is no main window to find.
  EXPECT_EQ(FindMainMonitorIndex(), -1);
}

TEST(CustomerWindow, MissingMonitorIsRefusedAndResetsTheSetting) {
  TempRoot root;
  MonitorSwitch monitors("1920x1080+0+0*@;1280x720+1920+0");
  Settings.customerMonitor = 3;
  OpenCustomerWindow(3);
  EXPECT_EQ(Settings.customerMonitor.load(), 0);
  const std::string log = Log(root);
  EXPECT_NE(log.find(WideToUtf8(L"[CW] 손님 화면: 3번 모니터가 없습니다(연결된 모니터 2개) - 띄우지 않음")), std::string::npos) << log;
  EXPECT_FALSE(CustomerWindow.CustomerWindowOpen);
}

TEST(CustomerWindow, WithoutAMainPageNothingOpensAndTheSettingStays) {
  TempRoot root;
  MonitorSwitch monitors("1920x1080+0+0*;1280x720+1920+0");
  Settings.customerMonitor = 2;
  OpenCustomerWindow(2);
  EXPECT_EQ(Settings.customerMonitor.load(), 2);
  EXPECT_NE(Log(root).find(WideToUtf8(L"[CW] 웹뷰 환경이 아직 준비되지 않았습니다")), std::string::npos);
  EXPECT_FALSE(CustomerWindow.CustomerWindowOpen);
  Settings.customerMonitor = 0;
}

TEST(CustomerWindow, CameraListAndErrorsFromTheCustomerPage) {
  TempRoot root;
  const struct {
    std::wstring message;
    std::vector<std::wstring> labels;
    std::wstring logged;
  } cases[] = {
      {L"CW_CAMLIST:", {}, L"[CW] 캡처 장치 0개"},
      {L"CW_CAMLIST:\t\t", {}, L"[CW] 캡처 장치 0개"},
      {L"CW_CAMLIST:USB Video\t\tit's cam", {L"USB Video", L"it's cam"}, L"[CW] 캡처 장치 2개 - USB Video"},
  };
  for (const auto& c : cases) {
    OnCustomerWebMessage(&c.message);
    EXPECT_EQ(Backgrounds.CameraLabelList, c.labels);
    EXPECT_NE(Log(root).find(WideToUtf8(c.logged)), std::string::npos) << WideToUtf8(c.logged);
  }
  EXPECT_EQ(BuildCamListScript(), L"try{ initCamList(['USB Video','it\\'s cam'],0,''); }catch(e){console.error('initCamList',e)}");
  const std::wstring err = L"CW_CAMERR:Not'Allowed";
  OnCustomerWebMessage(&err);
  EXPECT_NE(Log(root).find(WideToUtf8(L"[CW] 캡처 장치 열기 실패: Not'Allowed")), std::string::npos);
  // Other messages and non-text ones are dropped.
  const std::wstring quit = L"QUIT_APP";
  OnCustomerWebMessage(&quit);
  OnCustomerWebMessage(nullptr);
  EXPECT_EQ(Backgrounds.CameraLabelList.size(), 2u);
  Backgrounds.CameraLabelList.clear();
}

TEST(CustomerWindow, StaleControllerCallbacksAreIgnored) {
  TempRoot root;
  const uint64_t stale = CustomerWindow.Generation;
  ++CustomerWindow.Generation;
  const bool dpiUsed = CustomerWindow.CustomerDpiRetryUsed;
  OnCustomerControllerCreated(stale, kCustomerResultTimeout);
  EXPECT_EQ(CustomerWindow.CustomerDpiRetryUsed, dpiUsed);
  EXPECT_EQ(Log(root).find("hr="), std::string::npos);
}
