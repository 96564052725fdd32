#include "base/trace_log.h"

#include <cstdarg>
#include <cwchar>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/thread_role.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/handoff_queue.h"
#include "platform/paths.h"
#include "platform/sysinfo.h"

namespace {

constexpr size_t kMaxQueuedTraceLines = 40000;
constexpr size_t kMaxTraceLineChars = 255;

// Never destroyed: the detached writer may still run while the process ends.
std::mutex& TraceLogQueueMutex = *new std::mutex;
std::vector<std::wstring>& TraceLogQueue = *new std::vector<std::wstring>;
std::atomic<int> TraceWriterStarted{0};
std::atomic<bool> TraceWriterHeld{false};
std::mutex& TraceFileMutex = *new std::mutex;
// Lines of real-time threads: no lock, no allocation; drained under TraceDrainMutex.
HandoffQueue<RealtimeLogLine, 4096>& RealtimeTraceLines = *new HandoffQueue<RealtimeLogLine, 4096>;
std::mutex& TraceDrainMutex = *new std::mutex;

std::atomic<uint32_t> StopwatchStart{0}, StopwatchLast{0};

void StartTraceWriter();

void WriteTraceLines() {
  std::vector<std::wstring> taken;
  {
    std::lock_guard drain(TraceDrainMutex);
    RealtimeLogLine line;
    while (RealtimeTraceLines.TryPop(line)) taken.emplace_back(line.text, line.length);
  }
  {
    std::lock_guard lock(TraceLogQueueMutex);
    if (TraceLogQueue.empty() && taken.empty()) return;
    for (auto& queued : TraceLogQueue) taken.push_back(std::move(queued));
    TraceLogQueue.clear();
  }
  // Like debugger output on Windows: seen only when a debugger is attached (asked once a pass).
  const bool debugger = plat::DebuggerAttached();
  std::string bytes;
  for (const auto& line : taken) {
    std::string utf8 = WideToUtf8(line);
    if (debugger) plat::DebuggerOutput(utf8);
    for (char c : utf8) {  // text mode: a line feed is written as CR LF
      if (c == '\n') bytes += '\r';
      bytes += c;
    }
  }
  std::lock_guard lock(TraceFileMutex);
  plat::AppendFileBytes(plat::RealPath(L"<root>/system/altz_log.txt"), bytes);
}

void TraceWriterThread() {
  plat::LowerThreadPriority();
  plat::SleepMs(200);
  for (;;) {
    if (!TraceWriterHeld.load()) WriteTraceLines();
    plat::SleepMs(200);
  }
}

void StartTraceWriter() {
  int expected = 0;
  if (TraceWriterStarted.compare_exchange_strong(expected, 1)) {
    try {
      std::thread(TraceWriterThread).detach();
    } catch (...) {
      TraceWriterStarted.store(0);
    }
  }
}

}  // namespace

void QueueTraceLine(std::wstring line) {
  try {
    StartTraceWriter();
    std::lock_guard lock(TraceLogQueueMutex);
    if (TraceLogQueue.size() < kMaxQueuedTraceLines) TraceLogQueue.push_back(std::move(line));
  } catch (...) {
    // Tracing never disturbs the caller; the line is lost.
  }
}

void TraceLog(const wchar_t* format, ...) {
  if (OnRealtimeThread()) {
    // Formatted into a fixed cell: nothing allocated, no lock taken.
    RealtimeLogLine line;
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(line.text, 256, format, args);
    va_end(args);
    line.text[255] = L'\0';
    line.length = n >= 0 ? static_cast<unsigned>(n) : static_cast<unsigned>(std::wcslen(line.text));
    RealtimeTraceLines.TryPush(line);
    if (TraceWriterStarted.load(std::memory_order_relaxed) == 0) StartTraceWriter();
    return;
  }
  std::vector<wchar_t> buf(1024);
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(buf.data(), buf.size(), format, args);
    va_end(args);
    if (n >= 0 || buf.size() >= (1u << 20)) break;
    buf.assign(buf.size() * 4, L'\0');  // too long for the buffer: try a larger one, then cut
  }
  buf.back() = L'\0';
  std::wstring line(buf.data());
  if (line.size() > kMaxTraceLineChars) line.resize(kMaxTraceLineChars);
  QueueTraceLine(std::move(line));
}

void TraceStopwatchStart(std::wstring_view label) {
  TraceLog(L"\n[ALTZ] ===== start (%ls) =====\n", std::wstring(label).c_str());
  const uint32_t now = plat::TimeGetTime();
  StopwatchStart.store(now);
  StopwatchLast.store(now);
}

void TraceStopwatchLap(std::wstring_view label) {
  const uint32_t now = plat::TimeGetTime();
  if (StopwatchStart.load() == 0) {
    StopwatchStart.store(now);
    StopwatchLast.store(now);
  }
  TraceLog(L"[ALTZ] %-16ls  +%4u ms (total %5u ms)\n", std::wstring(label).c_str(),
           now - StopwatchLast.load(), now - StopwatchStart.load());
  StopwatchLast.store(plat::TimeGetTime());
}

void FlushTraceLog() { WriteTraceLines(); }
void HoldTraceWriter(bool hold) { TraceWriterHeld.store(hold); }
