#include "assist/keypad.h"

#include <chrono>
#include <thread>

#include "assist/helper_agents.h"
#include "assist/helper_log.h"
#include "assist/helper_session.h"
#include "online/rs_session.h"
#include "platform/keypad_window.h"

KeypadState Keypad;

namespace {

constexpr wchar_t kTitle[] = L"Tavelo 원격 도우미";
constexpr wchar_t kHelperBoxTitle[] = L"원격 도우미";

bool SessionActive() { return Helper.SessionActiveFlag.load() != 0; }

void SetStatusFromAnyThread(const std::wstring& text) {
  plat::PostToKeypadWindow([text] { plat::SetKeypadStatus(text); });
}

void WarnFromAnyThread(const std::wstring& title, const std::wstring& text) {
  plat::PostToKeypadWindow([title, text] {
    plat::KeypadMessageBox(title, text, plat::BoxButtons::kOk, plat::BoxIcon::kWarning, plat::BoxAnswer::kOk);
  });
}

// The end of a session lets the customer press Allow again, so the button follows at once.
void SessionEnded() {
  plat::PostToKeypadWindow([] { RefreshAllowButton(); });
}

void ShowAgentsStatus() {
  std::optional<SupportAgent> first = FirstHelperAgent();
  ShowHelperStatus(first ? L"준비되었습니다 - 지원 가능: " + first->name
                         : L"지금은 대기 중인 관리자가 없습니다. 전화로 켜달라고 하세요.");
}

}  // namespace

std::wstring NumberBoxText(std::wstring_view pin) {
  std::wstring out;
  for (size_t i = 0; i < 4; ++i) {
    if (i) out += L"  ";
    out.push_back(i < pin.size() ? pin[i] : L'_');
  }
  return out;
}

bool AllowEnabled(std::wstring_view pin, bool sessionActive) { return pin.size() == 4 && !sessionActive; }

std::wstring PinAfterDigit(std::wstring_view pin, wchar_t digit, bool sessionActive) {
  std::wstring out(pin);
  if (!sessionActive && out.size() < 4 && digit >= L'0' && digit <= L'9') out.push_back(digit);
  return out;
}

std::wstring PinAfterErase(std::wstring_view pin, bool sessionActive) {
  std::wstring out(pin);
  if (!sessionActive && !out.empty()) out.pop_back();
  return out;
}

void RefreshAllowButton() { plat::SetKeypadAllowEnabled(AllowEnabled(Keypad.CustomerPin, SessionActive())); }

void AppendPinDigit(wchar_t digit) {
  if (SessionActive() || Keypad.CustomerPin.size() >= 4) return;
  Keypad.CustomerPin = PinAfterDigit(Keypad.CustomerPin, digit, false);
  RefreshAllowButton();
}

void ErasePinDigit() {
  if (SessionActive()) return;
  Keypad.CustomerPin = PinAfterErase(Keypad.CustomerPin, false);
  RefreshAllowButton();
}

void OnAllowRemoteControl() {
  if (SessionActive() || Keypad.CustomerPin.size() != 4) return;
  plat::BoxResult answer = plat::KeypadMessageBox(
      L"원격지원 허용",
      L"지금부터 관리자가 이 컴퓨터 화면을 보고\n마우스와 키보드를 조작할 수 있게 됩니다.\n\n허용하시겠습니까?",
      plat::BoxButtons::kYesNo, plat::BoxIcon::kQuestion, plat::BoxAnswer::kNo);
  // A session may have started while the box was up (a second Enter): check again.
  if (answer.answer != plat::BoxAnswer::kYes || SessionActive()) return;
  Keypad.CustomerName = Keypad.CustomerPin;
  if (HelperAgentsEmpty()) {
    ShowHelperStatus(L"지원 가능한 곳을 찾는 중입니다...");
    ReplaceHelperAgents(FetchHelperAgents());
  }
  std::optional<SupportAgent> agent = FirstHelperAgent();
  if (!agent) {
    plat::KeypadMessageBox(kHelperBoxTitle,
                         L"지금 원격지원을 받을 수 있는 곳이 없습니다.\n\n관리자에게 전화해서 원격 프로그램을 켜달라고 "
                         L"말씀해 주세요.",
                         plat::BoxButtons::kOk, plat::BoxIcon::kWarning, plat::BoxAnswer::kOk);
    ShowHelperStatus(L"대기 중인 관리자가 없습니다");
    return;
  }
  Helper.SessionActiveFlag.store(1);
  RefreshAllowButton();
  std::thread(RunHelperSession, *agent, Keypad.CustomerName).detach();
}

void OnKeypadCloseRequest() {
  if (SessionActive()) {
    plat::BoxResult answer =
        plat::KeypadMessageBox(kHelperBoxTitle, L"원격지원이 진행 중입니다.\n정말 끝낼까요?", plat::BoxButtons::kYesNo,
                             plat::BoxIcon::kQuestion, plat::BoxAnswer::kNo);
    if (answer.answer != plat::BoxAnswer::kYes) return;
    RsClient.SessionStopFlag.store(1);
    ShutdownSupportSocket();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  plat::CloseKeypadWindow();
}

void FetchAgentsAtStartup() {
  ReplaceHelperAgents(FetchHelperAgents());
  ShowAgentsStatus();
}

int RunOrvane() {
  SetRsLog([](std::wstring_view line) { WriteHelperLog(line); });
  Helper.status = SetStatusFromAnyThread;
  Helper.warning = WarnFromAnyThread;
  Helper.ended = SessionEnded;
  WriteHelperLog(L"===== 원격 도우미 시작 =====");

  plat::KeypadWindowTexts texts;
  texts.title = kTitle;
  texts.prompt = L"전화번호 뒤 4자리를 눌러주세요.   (도우미3)";
  texts.status = L"준비 중입니다...";
  texts.eraseLabel = L"지우기";
  texts.allowLabel = L"원격 허용";
  texts.exitLabel = L"종료";
  plat::KeypadWindowHooks hooks;
  hooks.digit = AppendPinDigit;
  hooks.erase = ErasePinDigit;
  hooks.allow = OnAllowRemoteControl;
  hooks.closeRequest = OnKeypadCloseRequest;
  hooks.numberText = [] { return NumberBoxText(Keypad.CustomerPin); };

  // The start-up fetch begins once the window can take its status (posts before it are dropped).
  bool shown = plat::RunKeypadWindow(texts, hooks, [] { std::thread(FetchAgentsAtStartup).detach(); });
  if (!shown) WriteHelperLog(L"화면을 열 수 없습니다 (DISPLAY)");
  RsClient.SessionStopFlag.store(1);
  WriteHelperLog(L"===== 원격 도우미 끝 =====");
  return shown ? 0 : 1;
}
