#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/settings/app_settings.h"
#include "app/window.h"
#include "platform/message_loop.h"
#include "ui/script_channel.h"

namespace {

struct Posted {
  uint32_t id;
  std::wstring text;
  bool operator==(const Posted&) const = default;
};

// Runs `post` (on another thread, as a worker would) and returns the messages the window got.
template <class F>
std::vector<Posted> PostedBy(F post) {
  plat::ResetMessageLoop();
  std::vector<Posted> got;
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    got.push_back({m.id, m.text ? *m.text : L"<null>"});
  });
  std::thread worker(post);
  worker.join();
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
  return got;
}

}  // namespace

TEST(ScriptChannel, ScriptsAndAlertsGoToTheWindowInPostingOrder) {
  std::wstring big(200001, L'x');
  auto got = PostedBy([&] {
    PostScriptToPage(L"a();");
    PostAlertToPage(L"곡 없음 '1'");
    PostScriptToPage(big);
    PostScriptToPage(L"");
  });
  std::vector<Posted> want = {{WM_RUN_PAGE_SCRIPT, L"a();"},
                              {WM_PAGE_ALERT, L"곡 없음 '1'"},
                              {WM_RUN_PAGE_SCRIPT, big},
                              {WM_RUN_PAGE_SCRIPT, L""}};
  EXPECT_EQ(got, want);
}

TEST(ScriptChannel, PlayingStateReachesTheCustomerVideoOnlyWhenItIsOn) {
  struct Case {
    int customerVideo;
    bool playing;
    std::vector<std::wstring> scripts;
  } cases[] = {
      {0, true, {L"try{ setPlayingState(1); }catch(e){console.error('setPlayingState',e)}"}},
      {0, false, {L"try{ setPlayingState(0); }catch(e){console.error('setPlayingState',e)}"}},
      {1, true,
       {L"try{ setPlayingState(1); }catch(e){console.error('setPlayingState',e)}", L"try{ cwVideoPlayState(1); }catch(e){console.error('cwVideoPlayState',e)}"}},
      {2, false,
       {L"try{ setPlayingState(0); }catch(e){console.error('setPlayingState',e)}", L"try{ cwVideoPlayState(0); }catch(e){console.error('cwVideoPlayState',e)}"}},
  };
  int saved = Settings.customerVideo;
  for (const auto& c : cases) {
    Settings.customerVideo = c.customerVideo;
    auto got = PostedBy([&] { PostPlayingState(c.playing); });
    std::vector<Posted> want;
    for (const auto& s : c.scripts) want.push_back({WM_RUN_PAGE_SCRIPT, s});
    EXPECT_EQ(got, want) << c.customerVideo << " " << c.playing;
  }
  Settings.customerVideo = saved;
}

TEST(ScriptChannel, BadgeAndToastScriptsCarryTheirTextEscaped) {
  auto got = PostedBy([] {
    ShowPageBadge(L"손님 화면 열림");
    ShowPageToast(L"it's\\ \"80%\"\n');alert(1);//");
  });
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(got[0].text.find(L"getElementById('test-audio-badge')"), std::wstring::npos);
  EXPECT_NE(got[0].text.find(L"b.innerText='손님 화면 열림';"), std::wstring::npos);
  EXPECT_NE(got[1].text.find(L"getElementById('app-toast')"), std::wstring::npos);
  EXPECT_NE(got[1].text.find(L"d.textContent='it\\'s\\\\ \\\"80%\\\"\\');alert(1);//';"), std::wstring::npos)
      << got[1].text;
}
