#pragma once
// The page's "프로그램 업그레이드" button.
#include <string>

// "CHECK_PROGRAM_UPGRADE": the program update check with messages, on its own thread.
void HandleCheckProgramUpgrade(const std::wstring& message);
