#pragma once
// The program-wide diagnostic log "<root>/system/debug_log.txt": UTF-8, CRLF, append only,
// every line opened by a local time stamp "[hh:mm:ss.mmm] ". A program that runs for weeks must
// not fill the disk: when the file reaches its size limit it is moved to "debug_log.old.txt"
// (replacing the one before) and a new file is started.
#include <cstdint>
#include <string>
#include <string_view>

std::wstring LogTimestamp();

// Writes one finished line (stamp included) at once, under the process-wide file lock.
void AppendLogLine(std::wstring_view line);

// Stamp + text, written at once; on a real-time thread (base/thread_role.h) queued as below.
void DebugLog(std::wstring_view text);

// Stamp + text, queued for the background writer (at most 20,000 lines wait); for threads with
// timing duties. Never throws; a line that cannot be queued is lost. A real-time thread's line
// (cut at 255 characters) goes through a lock-free queue of its own (1,024 lines).
void DebugLogAsync(std::wstring_view text);

inline constexpr uint64_t kDebugLogDefaultMaxBytes = 10 * 1024 * 1024;
// The size at which the log is moved aside (tests set a small one).
void SetDebugLogMaxBytes(uint64_t bytes);

// Writes what the queue holds now (for shutdown and tests).
void FlushDebugLogQueue();

// While held, the background writer skips its passes (tests fill the queue within one pause).
void HoldDebugLogWriter(bool hold);
