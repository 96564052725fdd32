#pragma once
// The home screen's help text: "help.txt" of the system folder, which the operator may edit, and
// its built-in default.
#include <string>

inline constexpr std::wstring_view HelpTextFilePath = L"<root>/system/help.txt";

// The built-in text: 41 lines, each ended with CR LF.
std::wstring DefaultHelpText();
// The text of help.txt without its byte-order mark; when the file is missing it is written
// (byte-order mark + the default) and the default is returned.
std::wstring LoadHelpText();
// The help lines as a page array literal: the text split at LF, each piece escaped and quoted.
std::wstring BuildHelpPayload();
std::wstring BuildHelpPayload(std::wstring_view text);
