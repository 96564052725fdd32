#pragma once
// The keypad window's behaviour: the typed number, the Allow action with its confirmation, the
// start-up fetch of the agent list, the close request, and the program's run from start to end.
#include <string>
#include <string_view>

// Owned by the window thread.
struct KeypadState {
  // 0 to 4 decimal digits.
  std::wstring CustomerPin;
  // The number as it was when Allow was confirmed; the session's hello names it.
  std::wstring CustomerName;
};
extern KeypadState Keypad;

// The number box: four positions separated by two spaces, "_" where no digit is typed yet.
std::wstring NumberBoxText(std::wstring_view pin);
// The Allow button is enabled exactly when four digits are typed and no session runs.
bool AllowEnabled(std::wstring_view pin, bool sessionActive);
// The number after a digit key or an erase; unchanged during a session, beyond four digits and
// for anything that is not a digit.
std::wstring PinAfterDigit(std::wstring_view pin, wchar_t digit, bool sessionActive);
std::wstring PinAfterErase(std::wstring_view pin, bool sessionActive);

// Window-thread actions.
void AppendPinDigit(wchar_t digit);
void ErasePinDigit();
void RefreshAllowButton();
void OnAllowRemoteControl();
void OnKeypadCloseRequest();
// The start-up thread's body.
void FetchAgentsAtStartup();

// The program from start to end; the process exit code.
int RunOrvane();
