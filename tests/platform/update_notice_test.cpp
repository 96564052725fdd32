// The new-version notice on a private X server, answered through the test switch.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/update_notice.h"
#include "xvfb.h"

TEST(UpdateNoticeTest, ButtonsAndCloseBoxAnswer) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no Xvfb";
  ::setenv("DISPLAY", x.display().c_str(), 1);
  const struct {
    const char* press;
    bool accepted;
  } cases[] = {{"accept", true}, {"decline", false}, {"close", false}};
  for (const auto& c : cases) {
    ::setenv("TAVELO_TEST_NOTICE_ANSWER", c.press, 1);
    auto answer = plat::ShowNoticeWindow({L"Tavelo 새 버전 안내", L"새 버전이 등록되었습니다.    [ 제목 ]  12.10",
                                          L"고친 점\n- 하나\n- 둘", L"지금 업데이트", L"나중에"});
    ASSERT_TRUE(answer.has_value()) << c.press;
    EXPECT_EQ(*answer, c.accepted) << c.press;
  }
  ::unsetenv("TAVELO_TEST_NOTICE_ANSWER");
}
