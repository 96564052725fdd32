// The window thread's queue: a close request is served ahead of a flood of queued page commands.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/message_loop.h"

TEST(MessageLoop, ACloseRequestIsServedBeforeQueuedCommands) {
  plat::ResetMessageLoop();
  constexpr int kCommands = 50000;
  std::atomic<int> ran{0};
  int ranBeforeClose = -1;
  for (int i = 0; i < kCommands; ++i) plat::PostWindowTask([&] { ++ran; });
  plat::PostWindowMessage(plat::kWmUser + 1);  // an ordinary message, served in its turn
  ASSERT_TRUE(plat::PostUrgentWindowMessage(plat::kWmClose));
  std::vector<uint32_t> seen;
  plat::SetWindowProcedure([&](plat::WindowMessage& m) {
    seen.push_back(m.id);
    if (m.id == plat::kWmClose) {
      ranBeforeClose = ran.load();
      plat::PostQuit(0);
    }
  });
  EXPECT_EQ(plat::RunMessageLoop(), 0);
  EXPECT_EQ(ranBeforeClose, 0);
  EXPECT_EQ(seen, std::vector<uint32_t>{plat::kWmClose});
  // The loop has ended: later posts of either kind are refused.
  EXPECT_FALSE(plat::PostUrgentWindowMessage(plat::kWmClose));
  EXPECT_FALSE(plat::PostWindowTask([] {}));
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
}
