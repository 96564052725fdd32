#include "online/update_notice.h"

#include "base/debug_log.h"
#include "base/message_box.h"
#include "base/program_messages.h"
#include "base/text.h"
#include "platform/message_loop.h"
#include "platform/update_notice.h"

bool ShowUpdateNotice(std::wstring_view title, std::wstring_view content) {
  const std::wstring heading = L"새 버전이 등록되었습니다.    [ 제목 ]  " + std::wstring(title);
  std::wstring shown;
  for (wchar_t c : content)
    if (c != L'\r') shown += c;
  std::optional<bool> answer =
      plat::ShowNoticeWindow({L"Tavelo 새 버전 안내", heading, shown, L"지금 업데이트", L"나중에"});
  if (!answer) {
    // No window: the same question as a message box (without a display: logged, "나중에").
    answer = ShowMessageBoxOrLog(L"Tavelo 새 버전 안내",
                                 L"새 버전이 등록되었습니다.\n\n【제목】\n" + std::wstring(title) +
                                     L"\n\n【내용】\n" + std::wstring(content) + L"\n\n지금 업데이트할까요?",
                                 plat::BoxButtons::kYesNo, plat::BoxIcon::kInformation,
                                 plat::BoxAnswer::kNo) == plat::BoxAnswer::kYes;
  }
  // Back to the main window: the page gets the keyboard again (on the window thread).
  plat::PostWindowMessage(WM_RESTORE_FOCUS);
  return *answer;
}
