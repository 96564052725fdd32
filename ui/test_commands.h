#pragma once
// Commands that only the end-to-end tests use, to make a worker thread talk to the page. They
// exist only when the environment variable TAVELO_TEST_COMMANDS is "1".
#include <string>

// "TEST_SCRIPT_FROM_THREAD:" scripts separated by U+001F: a worker thread posts each in order
// with PostScriptToPage. "TEST_ALERT_FROM_THREAD:" text: a worker thread posts it with
// PostAlertToPage. True when the message was a test command (and test commands are on).
bool RunTestPageCommand(const std::wstring& message);
