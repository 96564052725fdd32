#pragma once
// The technical trace log "<root>/system/altz_log.txt" for timing questions of the player, the
// rhythm engine and the MIDI senders: printf-style lines without a time stamp, queued from any
// thread (at most 40,000 wait) and written every 200 ms by a background thread, also to an
// attached debugger. On it sits a stopwatch for song changes; the senders' own traces (the module
// loading of a song start, the rhythm channels' volume watch, the performance monitor) are in
// sound/send_trace.h.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Queues one finished line (its own line feeds included); starts the writer on first use.
void QueueTraceLine(std::wstring line);

// Formats a line of at most 255 characters (longer output is cut) and queues it. The format is
// a wide printf format: wide text arguments are passed with %ls.
void TraceLog(const wchar_t* format, ...);

void TraceStopwatchStart(std::wstring_view label);
void TraceStopwatchLap(std::wstring_view label);

// Writes what the queue holds now (at shutdown and in tests); while held, the background writer
// skips its passes.
void FlushTraceLog();
void HoldTraceWriter(bool hold);
