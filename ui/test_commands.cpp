#include "ui/test_commands.h"

#include <cstdlib>
#include <string_view>
#include <thread>

#include "base/text.h"
#include "base/test_switches.h"
#include "ui/script_channel.h"

namespace {

bool TestCommandsOn() {
  static const bool on = TestCommandsSwitch();
  return on;
}

bool Take(const std::wstring& message, std::wstring_view name, std::wstring& argument) {
  if (message.compare(0, name.size(), name) != 0) return false;
  argument = message.substr(name.size());
  return true;
}

}  // namespace

bool RunTestPageCommand(const std::wstring& message) {
  if (!TestCommandsOn()) return false;
  std::wstring argument;
  // Scripts separated by U+001F, posted one after another by one worker thread.
  if (Take(message, L"TEST_SCRIPT_FROM_THREAD:", argument)) {
    std::thread([argument] {
      for (const std::wstring& script : SplitWide(argument, L'\x1f')) PostScriptToPage(script);
    }).detach();
    return true;
  }
  if (Take(message, L"TEST_ALERT_FROM_THREAD:", argument)) {
    std::thread([argument] { PostAlertToPage(argument); }).detach();
    return true;
  }
  return false;
}
