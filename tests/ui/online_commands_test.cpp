#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/program_messages.h"
#include "common/temp_root.h"
#include "online/account.h"
#include "online/song_update.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "ui/online_commands.h"

namespace {

// Runs `body` on a worker thread while this thread handles the window's messages, until `dones`
// update dialog endings arrived; returns the page scripts posted.
template <class F>
std::vector<std::wstring> ScriptsOf(int dones, F body) {
  plat::ResetMessageLoop();
  std::vector<std::wstring> got;
  std::atomic<int> seen{0};
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    if (m.id != WM_RUN_PAGE_SCRIPT || !m.text) return;
    got.push_back(*m.text);
    if (m.text->find(L"updateDone(") != std::wstring::npos) ++seen;
  });
  std::thread worker([&] {
    body();
    while (seen.load() < dones) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    plat::PostWindowTask([] { plat::PostQuit(0); });
  });
  plat::RunMessageLoop();
  worker.join();
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
  return got;
}

int Count(const std::vector<std::wstring>& scripts, const std::wstring& part) {
  int n = 0;
  for (const auto& s : scripts) n += s.find(part) != std::wstring::npos;
  return n;
}

}  // namespace

TEST(OnlineCommands, TwoQuickFullUpdateStartsRunOneUpdate) {
  TempRoot root;
  plat::WriteFileAtomic(plat::RealPath(L"C:/tavelo/license.cfg"), "mb_id=a\r\nmb_pw=b\r\n");
  LoadMemberAccount();
  // A web host that does not answer: the run fails at its login, after the browser started.
  plat::SetEnvironmentVariable("TAVELO_WEB_BASE", "127.0.0.1:1");
  auto scripts = ScriptsOf(3, [] {
    HandleRunSongUpdate(L"RUN_SONG_UPDATE:full");
    HandleRunSongUpdate(L"RUN_SONG_UPDATE:full");
    HandleRunSongUpdate(L"RUN_SONG_UPDATE:zip");
  });
  EXPECT_EQ(Count(scripts, L"updateDone('시작할 때 자동 업데이트가 이미 진행 중입니다. 끝난 뒤 다시 눌러주세요.',-1,1)"), 2);
  // the failed login is reported as a failure (the last argument), with its reason
  EXPECT_EQ(Count(scripts, L"updateDone('127.0.0.1:1 로그인에 실패했습니다.',"), 1);
  EXPECT_EQ(Count(scripts, L",1); }"), 3);
  EXPECT_EQ(Count(scripts, L"updateDone("), 3);
  EXPECT_EQ(SongUpdateState.SongUpdateFullFlag.load(), 0);
}
