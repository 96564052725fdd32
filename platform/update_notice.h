#pragma once
// The new-version notice window: a heading, a read-only text and two buttons, top-most, on the
// calling thread, which it blocks until the operator answers or the program closes its question
// boxes (CloseQuestionBoxes: the answer is then the decline button's).
#include <optional>
#include <string_view>

namespace plat {

struct NoticeTexts {
  std::wstring_view caption, heading, content, acceptButton, declineButton;
};

// True when the operator pressed the accept button; false for the decline button or the close
// box. Nothing when no window can be shown (no display). The test switch TAVELO_TEST_NOTICE_ANSWER
// ("accept", "decline" or "close") answers a shown window by itself.
std::optional<bool> ShowNoticeWindow(const NoticeTexts& texts);

}  // namespace plat
