#pragma once
// Commands that only the end-to-end tests use, to make a worker thread talk to the page. They
// exist only when the environment variable TAVELO_TEST_COMMANDS is "1".
#include <string>

// True when the message was a test command (and test commands are on).
bool RunTestPageCommand(const std::wstring& message);
