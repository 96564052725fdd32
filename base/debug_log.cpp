#include "base/debug_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

constexpr size_t kMaxQueuedLines = 20000;

// Never destroyed: the detached writer and other threads may still log while the process ends.
std::mutex& DebugLogFileMutex = *new std::mutex;
std::mutex& DebugLogQueueMutex = *new std::mutex;
std::vector<std::wstring>& DebugLogQueue = *new std::vector<std::wstring>;
std::atomic<int> DebugLogWriterStarted{0};
std::atomic<bool> DebugLogWriterHeld{false};

void WriteQueuedLines() {
  std::vector<std::wstring> taken;
  {
    std::lock_guard lock(DebugLogQueueMutex);
    taken.swap(DebugLogQueue);
  }
  for (const auto& line : taken) AppendLogLine(line);
}

void DebugLogWriterThread() {
  plat::LowerThreadPriority();
  plat::SleepMs(100);
  for (;;) {
    if (!DebugLogWriterHeld.load()) WriteQueuedLines();
    plat::SleepMs(100);
  }
}

}  // namespace

std::wstring LogTimestamp() {
  plat::LocalTime t = plat::LocalNow();
  wchar_t buf[32];
  std::swprintf(buf, 32, L"[%02d:%02d:%02d.%03d] ", t.hour, t.minute, t.second, t.millisecond);
  return buf;
}

void AppendLogLine(std::wstring_view line) {
  std::string bytes = WideToUtf8(line);
  bytes += "\r\n";
  std::lock_guard lock(DebugLogFileMutex);
  plat::AppendFileBytes(plat::RealPath(L"C:/tavelo/system/debug_log.txt"), bytes);
}

void DebugLog(std::wstring_view text) { AppendLogLine(LogTimestamp() + std::wstring(text)); }

void DebugLogAsync(std::wstring_view text) {
  try {
    std::wstring line = LogTimestamp() + std::wstring(text);
    int expected = 0;
    if (DebugLogWriterStarted.compare_exchange_strong(expected, 1))
      std::thread(DebugLogWriterThread).detach();
    std::lock_guard lock(DebugLogQueueMutex);
    if (DebugLogQueue.size() < kMaxQueuedLines) DebugLogQueue.push_back(std::move(line));
  } catch (...) {
    // A line that cannot be queued is lost; logging never disturbs the caller.
  }
}

void FlushDebugLogQueue() { WriteQueuedLines(); }

void HoldDebugLogWriter(bool hold) { DebugLogWriterHeld.store(hold); }
