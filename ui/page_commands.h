#pragma once
// Page command entry: every command the main page posts arrives here on the window thread, is
// logged, and passes the three dispatch stages.
#include <string>
#include <string_view>

// The main page's web-message handler. `message` is null for a non-string message.
void OnMainWebMessage(const std::wstring* message);

// Stage one: true when a handler took the message.
bool DispatchExtraPageMessage(const std::wstring& message);
// Stage three: an unknown message falls through without effect.
void DispatchSettingsPageMessage(const std::wstring& message);

// Handlers take the whole message and read their argument after the command name.
using PageCommandHandler = void (*)(const std::wstring& message);

enum class PageCommandMatch {
  kWhole,   // a bare name: the whole message
  kPrefix,  // "NAME:" (and "RHYTHM_OFF"): the message starts with the name
};

struct PageCommand {
  std::wstring_view name;
  PageCommandHandler handler;  // null while the handler's subsystem is not built
  PageCommandMatch match;
};

// The command index, one table per stage, in dispatch order.
struct PageCommandTable {
  const PageCommand* begin;
  const PageCommand* end;
};
PageCommandTable StageOneCommands();
PageCommandTable StageTwoCommands();
PageCommandTable StageThreeCommands();

struct PageCommandStages {
  PageCommandTable one, two, three;
};
PageCommandStages MainPageCommandStages();

// Everything after the log line: stage one, the drop rules, stage two, stage three.
void DispatchPageCommand(const std::wstring& message, const PageCommandStages& stages);

// The entry in the table that takes `message`, or null.
const PageCommand* FindPageCommand(PageCommandTable table, std::wstring_view message);

// Argument conventions of the handlers.
// low when value < low, else high when value > high, else value.
int ClampInt(int value, int low, int high);
