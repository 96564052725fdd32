#include "base/message_box.h"

#include <string>

#include "base/debug_log.h"

plat::BoxAnswer ShowMessageBoxOrLog(std::wstring_view caption, std::wstring_view text,
                                    plat::BoxButtons buttons, plat::BoxIcon icon,
                                    plat::BoxAnswer defaultAnswer) {
  plat::BoxResult r = plat::ShowMessageBox(caption, text, buttons, icon, defaultAnswer);
  if (!r.shown) {
    std::wstring oneLine(text);
    for (auto& c : oneLine)
      if (c == L'\n' || c == L'\r') c = L' ';
    const wchar_t* answer = defaultAnswer == plat::BoxAnswer::kYes ? L"예"
                            : defaultAnswer == plat::BoxAnswer::kNo ? L"아니오"
                                                                    : L"확인";
    DebugLog(L"[창] 화면이 없어 메시지 상자 대신 기록 - [" + std::wstring(caption) + L"] " + oneLine +
             L" => " + answer);
  }
  return r.answer;
}
