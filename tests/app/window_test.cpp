#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/settings/app_settings.h"
#include "app/window.h"
#include "platform/browser_window.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/key_grab.h"
#include "platform/page_server.h"
#include "sound/midi_ports.h"
#include "online/services.h"
#include "playback/services.h"
#include "common/temp_root.h"
#include "tests/platform/xvfb.h"
#include "ui/page_host.h"
#include "ui/services.h"

namespace {

// Pages that record what the window runs on them; completions are kept to be called later.
struct FakePages {
  bool main = true, customer = true;
  std::vector<std::wstring> onMain, onCustomer;
  std::vector<std::function<void(bool)>> mainDone, customerDone;
  int focusMoves = 0;

  PageTargets Targets() {
    PageTargets t;
    t.mainExists = [this] { return main; };
    t.runOnMain = [this](std::wstring_view s, std::function<void(bool)> done) {
      onMain.emplace_back(s);
      if (done) mainDone.push_back(std::move(done));
    };
    t.customerExists = [this] { return customer; };
    t.runCustomerScript = [this](std::wstring_view s) {
      if (customer) onCustomer.emplace_back(s);
    };
    t.runOnCustomer = [this](std::wstring_view s, std::function<void(bool)> done) {
      onCustomer.emplace_back(s);
      if (done) customerDone.push_back(std::move(done));
    };
    t.moveFocusIntoPage = [this] { ++focusMoves; };
    return t;
  }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::ResetMessageLoop();
    plat::SetWindowProcedure(WndProc);
    SetPageTargets(pages.Targets());
    MainWindow.MainWindowHandle = true;
    MainWindow.MainTickInFlight = 0;
    MainWindow.CustomerTickInFlight = 0;
    MainWindow.LastCustomerTickTime = 0;
    MainWindow.CustomerInitGeneration = 0;
    MainWindow.PendingCustomerInitGeneration = 0;
    CvtState.FillPlaying = 0;
    PlaybackState.waitingGo = 0;
    Settings.customerVideo = 0;
  }
  void TearDown() override {
    CvtState.FillPlaying = 0;
    PlaybackState.waitingGo = 0;
    SetPageTargets({});
    plat::ResetMessageLoop();
  }

  static void Post(uint32_t id, int64_t w = 0, int64_t l = 0, const wchar_t* text = nullptr) {
    plat::PostWindowMessage(id, w, l, text ? std::make_unique<std::wstring>(text) : nullptr);
  }
  static void Post(uint32_t id, std::wstring text) {
    plat::PostWindowMessage(id, 0, 0, std::make_unique<std::wstring>(std::move(text)));
  }
  // Handles everything queued so far, then returns.
  static void Pump() {
    plat::PostWindowTask([] { plat::PostQuit(0); });
    plat::RunMessageLoop();
    plat::ResetMessageLoop();
  }
  std::string Log() const {
    return plat::ReadFileBytes(root.path() / "system" / "debug_log.txt").value_or("");
  }

  TempRoot root;
  FakePages pages;
};

TEST_F(WindowTest, ShortScriptsRunOnBothPagesAndNoneWhenThereIsNoPage) {
  Post(WM_RUN_PAGE_SCRIPT, L"a();");
  Pump();
  EXPECT_EQ(pages.onMain, std::vector<std::wstring>{L"a();"});
  EXPECT_EQ(pages.onCustomer, std::vector<std::wstring>{L"a();"});
  pages.main = pages.customer = false;
  Post(WM_RUN_PAGE_SCRIPT, L"b();");
  Post(WM_PAGE_ALERT, L"x");
  Post(WM_DEBUG_CHORD_INFO, L"C");
  Pump();
  EXPECT_EQ(pages.onMain.size(), 1u);
  EXPECT_EQ(pages.onCustomer.size(), 1u);
}

TEST_F(WindowTest, ScriptOf200000CharactersIsDirectAndOneMoreIsTimedAndLogged) {
  const std::wstring exact(kLongScriptChars, L'x'), longer(kLongScriptChars + 1, L'y');
  Post(WM_RUN_PAGE_SCRIPT, exact);
  Pump();
  EXPECT_EQ(Log().find("[SONG]"), std::string::npos);
  EXPECT_EQ(MainWindow.CustomerInitGeneration.load(), 0);
  Post(WM_RUN_PAGE_SCRIPT, longer);
  Pump();
  EXPECT_NE(Log().find("[SONG] \xEB\xA9\x94\xEC\x9D\xB8 \xED\x99\x94\xEB\xA9\xB4 \xEC\x8A\xA4\xED\x81\xAC"
                       "\xEB\xA6\xBD\xED\x8A\xB8 \xEC\xA0\x84\xEB\x8B\xAC 200001\xEC\x9E\x90 - "),
            std::string::npos);
  EXPECT_EQ(MainWindow.CustomerInitGeneration.load(), 1);
  EXPECT_EQ(MainWindow.PendingCustomerInitGeneration.load(), 0);
  ASSERT_EQ(pages.onCustomer.size(), 2u);  // not in a transition: at once
  EXPECT_EQ(pages.onCustomer[1].size(), kLongScriptChars + 1);
}

TEST_F(WindowTest, LongScriptDuringATransitionReachesTheCustomerPageAfterIt) {
  CvtState.FillPlaying = 1;
  Post(WM_RUN_PAGE_SCRIPT, std::wstring(kLongScriptChars + 1, L'a'));
  Pump();
  EXPECT_EQ(pages.onMain.size(), 1u);
  EXPECT_TRUE(pages.onCustomer.empty());
  EXPECT_EQ(MainWindow.PendingCustomerInitGeneration.load(), 1);
  EXPECT_NE(Log().find("[CW] "), std::string::npos);

  // While the copy is pending, ticks reach the main page only.
  Post(WM_UPDATE_TICK, 10);
  Pump();
  EXPECT_EQ(pages.onMain.back(), L"try{ updateTick(10); }catch(e){console.error('updateTick',e)}");
  EXPECT_TRUE(pages.onCustomer.empty());

  CvtState.FillPlaying = 0;  // the downbeat: the thread posts the copy 220 ms later
  std::thread loopEnd([] {
    for (int i = 0; i < 500 && MainWindow.PendingCustomerInitGeneration.load() != 0; ++i) plat::SleepMs(10);
    plat::PostQuit(0);
  });
  plat::RunMessageLoop();
  loopEnd.join();
  plat::ResetMessageLoop();
  ASSERT_EQ(pages.onCustomer.size(), 1u);
  EXPECT_EQ(pages.onCustomer[0], std::wstring(kLongScriptChars + 1, L'a'));
  EXPECT_EQ(MainWindow.PendingCustomerInitGeneration.load(), 0);
}

TEST_F(WindowTest, OfTwoLongScriptsInOneTransitionOnlyTheNewerReachesTheCustomerPage) {
  PlaybackState.waitingGo = 1;
  Post(WM_RUN_PAGE_SCRIPT, std::wstring(kLongScriptChars + 1, L'1'));
  Post(WM_RUN_PAGE_SCRIPT, std::wstring(kLongScriptChars + 2, L'2'));
  Pump();
  EXPECT_EQ(MainWindow.PendingCustomerInitGeneration.load(), 2);
  // A copy of an older generation that still arrives is dropped with its log line.
  Post(WM_DEFERRED_CUSTOMER_INIT, 0, 1, L"old");
  Pump();
  EXPECT_TRUE(pages.onCustomer.empty());
  EXPECT_NE(Log().find("[CW] \xEB\xAF\xB8\xEB\xA4\x84"), std::string::npos);  // "[CW] 미뤄 ..."
  PlaybackState.waitingGo = 0;
  std::thread loopEnd([] {
    for (int i = 0; i < 500 && MainWindow.PendingCustomerInitGeneration.load() != 0; ++i) plat::SleepMs(10);
    plat::SleepMs(300);  // a stray older copy would arrive within this
    plat::PostQuit(0);
  });
  plat::RunMessageLoop();
  loopEnd.join();
  plat::ResetMessageLoop();
  ASSERT_EQ(pages.onCustomer.size(), 1u);
  EXPECT_EQ(pages.onCustomer[0].size(), kLongScriptChars + 2);
}

TEST_F(WindowTest, DeferredCopyThatCannotBePostedIsFreedAndClearsThePendingGeneration) {
  MainWindow.CustomerInitGeneration = 7;
  MainWindow.PendingCustomerInitGeneration = 7;
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();  // the loop has ended: posts are refused from now on
  DeferredCustomerInitThread(std::make_unique<std::wstring>(L"copy"), 7);
  EXPECT_EQ(MainWindow.PendingCustomerInitGeneration.load(), 0);
}

TEST_F(WindowTest, TickWithoutAMainPageClearsTheInFlightFlag) {
  pages.main = false;
  MainWindow.MainTickInFlight = 1;
  Post(WM_UPDATE_TICK, 3);
  Pump();
  EXPECT_EQ(MainWindow.MainTickInFlight.load(), 0);
  EXPECT_TRUE(pages.onMain.empty());
}

TEST_F(WindowTest, TickRunsOnTheMainPageAndItsCompletionClearsTheFlag) {
  pages.customer = false;
  MainWindow.MainTickInFlight = 1;
  Post(WM_UPDATE_TICK, 0xFFFFFFFFu);
  Pump();
  ASSERT_EQ(pages.onMain, std::vector<std::wstring>{L"try{ updateTick(4294967295); }catch(e){console.error('updateTick',e)}"});
  EXPECT_EQ(MainWindow.MainTickInFlight.load(), 1);  // until the page has run it
  ASSERT_EQ(pages.mainDone.size(), 1u);
  pages.mainDone[0](true);
  EXPECT_EQ(MainWindow.MainTickInFlight.load(), 0);
}

TEST_F(WindowTest, CustomerTicksArePacedAndAtMostOneIsInFlight) {
  struct Case {
    const char* what;
    uint8_t fill, lite, video;
    uint32_t sinceLast;
    uint8_t inFlight;
    bool sent;
  } cases[] = {
      // Time runs on between setting the last tick time and the handling: the cases that must
      // not send stay well below their limit.
      {"idle, nothing in flight", 0, 0, 0, 0, 0, true},
      {"busy customer page", 0, 0, 0, 400, 1, false},
      {"busy but 500 ms passed", 0, 0, 0, 500, 1, true},
      {"transition 200 ms", 1, 0, 0, 200, 0, false},
      {"transition 250 ms", 1, 0, 0, 250, 0, true},
      {"lite 80 ms", 0, 1, 0, 80, 0, false},
      {"lite 120 ms", 0, 1, 0, 120, 0, true},
      {"video 50 ms", 0, 0, 1, 50, 0, false},
      {"video 90 ms", 0, 0, 1, 90, 0, true},
  };
  for (const auto& c : cases) {
    pages.onCustomer.clear();
    CvtState.FillPlaying = c.fill;
    PageHost.LiteModeActive = c.lite;
    Settings.customerVideo = c.video;
    MainWindow.CustomerTickInFlight = c.inFlight;
    MainWindow.LastCustomerTickTime = plat::TimeGetTime() - c.sinceLast;
    Post(WM_UPDATE_TICK, 1);
    Pump();
    EXPECT_EQ(!pages.onCustomer.empty(), c.sent) << c.what;
    if (c.sent) {
      EXPECT_EQ(MainWindow.CustomerTickInFlight.load(), 1) << c.what;
    }
  }
  PageHost.LiteModeActive = 0;
  ASSERT_FALSE(pages.customerDone.empty());
  pages.customerDone.back()(false);
  EXPECT_EQ(MainWindow.CustomerTickInFlight.load(), 0);
}

TEST_F(WindowTest, AlertAndChordTextAreEscapedAndGoToTheMainPageOnly) {
  Post(WM_PAGE_ALERT, L"it's \\ \"x\"\r\n줄");
  Post(WM_DEBUG_CHORD_INFO, L"");
  Pump();
  ASSERT_EQ(pages.onMain.size(), 2u);
  EXPECT_EQ(pages.onMain[0], L"try{ alert('it\\'s \\\\ \\\"x\\\"\\n줄'); }catch(e){console.error('alert',e)}");
  EXPECT_NE(pages.onMain[1].find(L"var _t=''; if(_d)"), std::wstring::npos);
  EXPECT_TRUE(pages.onCustomer.empty());
}

TEST_F(WindowTest, EveryPayloadIsFreedWhateverTheMessage) {
  // Run under AddressSanitizer, a payload left behind shows as a leak.
  pages.main = pages.customer = false;
  for (uint32_t id : {WM_RUN_PAGE_SCRIPT, WM_UPDATE_TICK, WM_PAGE_ALERT, WM_DEBUG_CHORD_INFO,
                      WM_OPEN_CUSTOMER_WINDOW, WM_REFRESH_SONG_LIST, WM_DEFERRED_CUSTOMER_INIT,
                      WM_CVT_BAR_HOME, WM_RESTORE_FOCUS, plat::kWmUser + 50})
    Post(id, 0, 0, L"payload that must not leak");
  Pump();
  pages.main = pages.customer = true;
  Post(WM_RUN_PAGE_SCRIPT, std::wstring(kLongScriptChars + 5, L'z'));
  Pump();
  // Posted after the loop has ended: refused and freed.
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  EXPECT_FALSE(plat::PostWindowMessage(WM_PAGE_ALERT, 0, 0, std::make_unique<std::wstring>(L"late")));
}

TEST_F(WindowTest, DestroyRunsTheShutdownOrderOnceAndEndsTheLoop) {
  // What each step of the shutdown acts on, set up to be seen afterwards.
  Settings.extClock = 1;                    // the external clock is stopped (not saved)
  MainWindow.FullscreenState.hookInstalled = true;     // the keyboard hook is removed
  Sound.MidiOutPort1 = BUILTIN_SYNTH_PORT1;       // both ports are let go
  Sound.MidiOutPort2 = BUILTIN_SYNTH_PORT2;
  // A browser started by the program, which notes when it is told to end.
  const std::filesystem::path browser = root.path() / "browser.sh", ended = root.path() / "browser_ended";
  ASSERT_TRUE(plat::WriteFileAtomic(browser, "#!/bin/sh\ntrap 'echo ended > \"" + ended.string() +
                                                 "\"; exit 0' TERM\nwhile :; do sleep 0.05; done\n"));
  std::filesystem::permissions(browser, std::filesystem::perms::owner_all);
  ASSERT_TRUE(plat::LaunchBrowser(browser, "http://127.0.0.1:1/", root.path() / "profile", "", [](const plat::BrowserExit&) {}));
  plat::SleepMs(200);  // the shell has set its trap

  Post(plat::kWmClose);
  Post(plat::kWmDestroy);  // a second destroy does nothing
  EXPECT_EQ(plat::RunMessageLoop(), 0);  // the loop ended: the quit was posted last
  plat::ResetMessageLoop();

  EXPECT_EQ(Settings.extClock, 0);
  EXPECT_FALSE(MainWindow.FullscreenState.hookInstalled);
  EXPECT_EQ(Sound.MidiOutPort1.load(), 0u);
  EXPECT_EQ(Sound.MidiOutPort2.load(), 0u);
  for (int i = 0; i < 200 && !std::filesystem::exists(ended); ++i) plat::SleepMs(10);
  EXPECT_TRUE(std::filesystem::exists(ended)) << "the browser was not ended";
  EXPECT_FALSE(MainWindow.MainWindowHandle.load());
  const std::string log = Log();
  const std::string done = "[WM] \xEC\xB0\xBD \xEB\x8B\xAB\xEA\xB8\xB0";  // "[WM] 창 닫기"
  ASSERT_NE(log.find(done), std::string::npos);
  EXPECT_EQ(log.find(done), log.rfind(done));
}

TEST_F(WindowTest, CloseDuringRemoteSupportWithoutADisplayEndsTheProgramAndTheSession) {
  unsetenv("DISPLAY");  // nobody to answer the box
  Online.RemoteSupportActive = 1;
  Post(plat::kWmClose);
  EXPECT_EQ(plat::RunMessageLoop(), 0);
  plat::ResetMessageLoop();
  Online.RemoteSupportActive = 0;
  const std::string log = Log();
  EXPECT_NE(log.find("[\xEC\xB0\xBD] "), std::string::npos);  // the box, logged: "[창] "
  EXPECT_NE(log.find("[RS] "), std::string::npos);
  EXPECT_FALSE(MainWindow.MainWindowHandle.load());
}

TEST_F(WindowTest, FocusMovesIntoThePage) {
  Post(plat::kWmSetFocus);
  Pump();
  EXPECT_EQ(pages.focusMoves, 1);
}

TEST_F(WindowTest, FullscreenHoldsTheSwitchKeysUntilItIsLeftOrTheWindowIsDestroyed) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no X server to test with";
  setenv("DISPLAY", x.display().c_str(), 1);
  MainWindow.FullscreenState.on = 0;
  SetFullscreen(true);
  EXPECT_TRUE(plat::SwitchKeysBlocked());
  EXPECT_TRUE(MainWindow.FullscreenState.hookInstalled);
  SetFullscreen(false);
  EXPECT_FALSE(plat::SwitchKeysBlocked());
  EXPECT_FALSE(MainWindow.FullscreenState.hookInstalled);
  SetFullscreen(true);
  EXPECT_TRUE(plat::SwitchKeysBlocked());
  Post(plat::kWmDestroy);
  EXPECT_EQ(plat::RunMessageLoop(), 0);
  plat::ResetMessageLoop();
  EXPECT_FALSE(plat::SwitchKeysBlocked());
  MainWindow.FullscreenState.on = 0;
}

TEST_F(WindowTest, FullscreenWithoutADisplayLogsOnceThatTheKeysCannotBeHeld) {
  unsetenv("DISPLAY");
  MainWindow.FullscreenState.on = 0;
  for (int i = 0; i < 2; ++i) {
    SetFullscreen(true);
    EXPECT_EQ(MainWindow.FullscreenState.on.load(), 1);
    EXPECT_FALSE(MainWindow.FullscreenState.hookInstalled);
    SetFullscreen(false);
  }
  const std::string log = Log();
  const std::string line = "[\xEC\xA0\x84\xEC\xB2\xB4\xED\x99\x94\xEB\xA9\xB4]";  // "[전체화면]"
  ASSERT_NE(log.find(line), std::string::npos);
  EXPECT_EQ(log.find(line), log.rfind(line));
}

}  // namespace
