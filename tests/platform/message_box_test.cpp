// Message boxes without a display: the default answer comes back unshown.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/message_box.h"

TEST(MessageBox, WithoutADisplayTheDefaultAnswerComesBackUnshown) {
  unsetenv("DISPLAY");
  for (auto def : {plat::BoxAnswer::kYes, plat::BoxAnswer::kNo}) {
    plat::BoxResult r = plat::ShowMessageBox(L"제목", L"본문\n둘째 줄", plat::BoxButtons::kYesNo,
                                             plat::BoxIcon::kQuestion, def);
    EXPECT_FALSE(r.shown);
    EXPECT_EQ(r.answer, def);
  }
}
