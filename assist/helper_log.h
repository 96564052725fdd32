#pragma once
// The customer support program's own log: "원격도우미_기록.txt" beside its executable, UTF-8 with a
// byte-order mark at the start of a new file, one "[hh:mm:ss] text" line per call, never cut.
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"

inline constexpr std::wstring_view kHelperLogName = L"원격도우미_기록.txt";

// The folder of the running executable ("." when it has none).
std::filesystem::path GetExeFolder();

// Appends one line to the program log; any thread. A log that cannot be opened loses the line.
void WriteHelperLog(std::wstring_view text);

// The stamped line as written: "[hh:mm:ss] " + text + CR LF, in UTF-8.
std::string HelperLogLine(std::wstring_view text, const plat::LocalTime& time);
// Appends one line to `file`, the byte-order mark first when the file did not exist; false when
// it cannot be opened.
bool AppendHelperLogLine(const std::filesystem::path& file, std::wstring_view text, const plat::LocalTime& time);
