#pragma once
// The transposition table (keysig.txt) and the help text (help.txt) follow the copies published
// on the web host; the local file stays whenever the download is not the expected text.
#include <string>
#include <string_view>
#include <vector>

// Counts the entry lines of a transposition table ("<song>...=...:..."); false when none.
bool CountKeysigEntries(std::string_view text, int& count, std::vector<int>* songNumbers);
void RefreshKeysigTable();
void RefreshKeysigTableThread();
// True when help.txt was replaced; `cookieHeader` is the login's "Cookie: ..." line.
bool RefreshHelpText(std::wstring_view cookieHeader);
// Builds the page's script that shows the new help text (installed by the page layer).
using HelpTextScriptHook = std::wstring (*)();
void SetHelpTextScriptHook(HelpTextScriptHook hook);
