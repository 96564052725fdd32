// Page command entry: log, the drop rules and the three dispatch stages.
#include "ui/page_commands.h"

#include <climits>

#include "base/debug_log.h"
#include "playback/services.h"
#include "ui/test_commands.h"

namespace {

constexpr size_t kLoggedCommandChars = 90;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Frequent messages (jumps, settings, pause) stay out of the log: the write is synchronous.
bool LoggedMessage(std::wstring_view message) {
  return !StartsWith(message, L"JUMP_") && !StartsWith(message, L"SET_") &&
         message != L"TOGGLE_PAUSE";
}

// Messages that exist only to appear in the log, and jumps while no song plays.
bool DroppedMessage(std::wstring_view message) {
  if (StartsWith(message, L"JUMP_") && !PlaybackState.isPlaying.load()) return true;
  return StartsWith(message, L"DB_READY:") || StartsWith(message, L"DBG:");
}

bool RunFrom(PageCommandTable table, const std::wstring& message) {
  const PageCommand* command = FindPageCommand(table, message);
  if (!command || !command->handler) return false;
  command->handler(message);
  return true;
}

}  // namespace

const PageCommand* FindPageCommand(PageCommandTable table, std::wstring_view message) {
  for (const PageCommand* c = table.begin; c != table.end; ++c) {
    bool hit = c->match == PageCommandMatch::kWhole ? message == c->name
                                                    : StartsWith(message, c->name);
    if (hit) return c;
  }
  return nullptr;
}

void OnMainWebMessage(const std::wstring* message) {
  if (!message) return;  // not a string: nothing is logged or dispatched
  const std::wstring& text = *message;

  if (LoggedMessage(text)) {
    if (text.size() > kLoggedCommandChars) {
      DebugLog(L"[WM] " + text.substr(0, kLoggedCommandChars) + L"...");
    } else {
      DebugLog(L"[WM] " + text);
    }
  }

  if (RunTestPageCommand(text)) return;
  DispatchPageCommand(text, MainPageCommandStages());
}

PageCommandStages MainPageCommandStages() {
  return {StageOneCommands(), StageTwoCommands(), StageThreeCommands()};
}

void DispatchPageCommand(const std::wstring& message, const PageCommandStages& stages) {
  if (RunFrom(stages.one, message)) return;
  if (DroppedMessage(message)) return;
  if (RunFrom(stages.two, message)) return;
  RunFrom(stages.three, message);
}

bool DispatchExtraPageMessage(const std::wstring& message) {
  return RunFrom(StageOneCommands(), message);
}

void DispatchSettingsPageMessage(const std::wstring& message) {
  RunFrom(StageThreeCommands(), message);
}

int ClampInt(int value, int low, int high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}
