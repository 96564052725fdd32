// Message boxes: without a display the default answer comes back unshown; with one, an open
// new-version notice on another thread holds nothing up, and the program closes every open
// question box with its default answer.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "platform/message_box.h"
#include "platform/update_notice.h"
#include "xvfb.h"

namespace {

// Whether a shown FLTK window has this title (asked holding the FLTK lock, as every FLTK call).
bool WindowShown(const std::string& title) {
  std::lock_guard lock(plat::FltkMutex());
  for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
    if (w->shown() && w->label() && title == w->label()) return true;
  return false;
}

bool WaitForWindow(const std::string& title) {
  for (int i = 0; i < 400; ++i) {
    if (WindowShown(title)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

}  // namespace

TEST(MessageBox, WithoutADisplayTheDefaultAnswerComesBackUnshown) {
  unsetenv("DISPLAY");
  for (auto def : {plat::BoxAnswer::kYes, plat::BoxAnswer::kNo}) {
    plat::BoxResult r = plat::ShowMessageBox(L"제목", L"본문\n둘째 줄", plat::BoxButtons::kYesNo,
                                             plat::BoxIcon::kQuestion, def);
    EXPECT_FALSE(r.shown);
    EXPECT_FALSE(r.closed);
    EXPECT_EQ(r.answer, def);
  }
}

TEST(MessageBox, AnOpenNoticeHoldsNothingUpAndTheProgramClosesEveryQuestionBox) {
  Xvfb x;
  if (!x.ready()) GTEST_SKIP() << "no Xvfb";
  DisplayScope display(x.display());
  unsetenv("TAVELO_TEST_NOTICE_ANSWER");

  std::optional<bool> notice;
  std::thread noticeThread(
      [&] { notice = plat::ShowNoticeWindow({L"notice", L"heading", L"content", L"지금 업데이트", L"나중에"}); });
  ASSERT_TRUE(WaitForWindow("notice"));

  // The box opens while nobody answers the notice; a page command that cannot wait closes both.
  std::thread closer([] {
    if (WaitForWindow("question")) plat::CloseQuestionBoxes(false);
  });
  plat::BoxResult r = plat::ShowMessageBox(L"question", L"원격지원 중입니다", plat::BoxButtons::kYesNo,
                                           plat::BoxIcon::kQuestion, plat::BoxAnswer::kNo);
  closer.join();
  noticeThread.join();
  EXPECT_TRUE(r.shown);
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.answer, plat::BoxAnswer::kNo);
  ASSERT_TRUE(notice.has_value());
  EXPECT_FALSE(*notice);  // "나중에"

  // The program is ending: later boxes take their default answer unshown.
  plat::CloseQuestionBoxes(true);
  r = plat::ShowMessageBox(L"later", L"text", plat::BoxButtons::kYesNo, plat::BoxIcon::kQuestion,
                           plat::BoxAnswer::kYes);
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.answer, plat::BoxAnswer::kYes);
  EXPECT_EQ(plat::ShowNoticeWindow({L"n", L"h", L"c", L"a", L"d"}), std::optional<bool>(false));
}
