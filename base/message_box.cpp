#include "base/message_box.h"

#include <string>

#include "base/debug_log.h"

plat::BoxAnswer ShowMessageBoxOrLog(std::wstring_view caption, std::wstring_view text,
                                    plat::BoxButtons buttons, plat::BoxIcon icon,
                                    plat::BoxAnswer defaultAnswer, bool* closedByProgram) {
  plat::BoxResult r = plat::ShowMessageBox(caption, text, buttons, icon, defaultAnswer);
  if (closedByProgram) *closedByProgram = r.closed;
  if (!r.shown || r.closed) {
    std::wstring oneLine(text);
    for (auto& c : oneLine)
      if (c == L'\n' || c == L'\r') c = L' ';
    const wchar_t* answer = defaultAnswer == plat::BoxAnswer::kYes ? L"예"
                            : defaultAnswer == plat::BoxAnswer::kNo ? L"아니오"
                                                                    : L"확인";
    const wchar_t* why = r.closed ? L"[창] 기다릴 수 없는 요청이 와서 메시지 상자를 기본 답으로 닫음 - ["
                                  : L"[창] 화면이 없어 메시지 상자 대신 기록 - [";
    DebugLog(why + std::wstring(caption) + L"] " + oneLine + L" => " + answer);
  }
  return r.answer;
}
