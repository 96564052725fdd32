#pragma once
// Names of the files of a folder that match a Windows-style pattern ("<root>/system/P*.MID"),
// compared without regard to ASCII case as Windows does.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// '*' matches any run of characters, '?' any one; ASCII letters match either case.
bool MatchFileNamePattern(std::string_view pattern, std::string_view name);

// UTF-8 names of the files (not folders) matching the last component of `installPattern`.
std::vector<std::string> ListMatchingFiles(std::wstring_view installPattern);

// The decimal value of `digits` (only '0' to '9'); nothing when it does not fit an int.
std::optional<int> ParseDigitRun(std::string_view digits);
