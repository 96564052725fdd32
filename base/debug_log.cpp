#include "base/debug_log.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/thread_role.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/handoff_queue.h"
#include "platform/paths.h"

namespace {

constexpr size_t kMaxQueuedLines = 20000;

// Never destroyed: the detached writer and other threads may still log while the process ends.
std::mutex& DebugLogFileMutex = *new std::mutex;
std::mutex& DebugLogQueueMutex = *new std::mutex;
std::vector<std::wstring>& DebugLogQueue = *new std::vector<std::wstring>;
std::atomic<int> DebugLogWriterStarted{0};
std::atomic<bool> DebugLogWriterHeld{false};
std::atomic<uint64_t> DebugLogMaxBytes{kDebugLogDefaultMaxBytes};
// Lines of real-time threads: handed over without a lock or an allocation (a full queue loses
// the line). Drained by one thread at a time, under DebugLogDrainMutex.
HandoffQueue<RealtimeLogLine, 1024>& RealtimeLines = *new HandoffQueue<RealtimeLogLine, 1024>;
std::mutex& DebugLogDrainMutex = *new std::mutex;

constexpr std::wstring_view kDebugLogPath = L"<root>/system/debug_log.txt";
constexpr std::wstring_view kOldDebugLogPath = L"<root>/system/debug_log.old.txt";

// Moves a full log aside before `adding` more bytes would pass the limit. Called under the file
// lock; the size is asked of the file each time, since other processes (a second start) append too.
void RotateWhenFull(const std::filesystem::path& path, size_t adding) {
  const std::optional<plat::FileStamp> stamp = plat::StatFile(path);
  if (!stamp || stamp->size == 0 || stamp->size + adding <= DebugLogMaxBytes.load()) return;
  std::error_code ec;
  std::filesystem::rename(path, plat::RealPath(kOldDebugLogPath), ec);  // failing, the log grows on
}

void WriteQueuedLines() {
  std::vector<std::wstring> taken;
  {
    std::lock_guard drain(DebugLogDrainMutex);
    RealtimeLogLine line;
    while (RealtimeLines.TryPop(line)) taken.emplace_back(line.text, line.length);
  }
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

void StartWriter() {
  int expected = 0;
  if (DebugLogWriterStarted.compare_exchange_strong(expected, 1)) {
    try {
      std::thread(DebugLogWriterThread).detach();
    } catch (...) {
      DebugLogWriterStarted.store(0);
    }
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
  const std::filesystem::path path = plat::RealPath(kDebugLogPath);
  RotateWhenFull(path, bytes.size());
  plat::AppendFileBytes(path, bytes);
}

void DebugLog(std::wstring_view text) {
  if (OnRealtimeThread()) return DebugLogAsync(text);
  AppendLogLine(LogTimestamp() + std::wstring(text));
}

void DebugLogAsync(std::wstring_view text) {
  if (OnRealtimeThread()) {
    RealtimeLogLine line;
    const plat::LocalTime t = plat::LocalNow();
    int n = std::swprintf(line.text, 256, L"[%02d:%02d:%02d.%03d] ", t.hour, t.minute, t.second, t.millisecond);
    size_t at = n > 0 ? static_cast<size_t>(n) : 0;
    for (size_t i = 0; i < text.size() && at < 255; ++i) line.text[at++] = text[i];
    line.text[at] = L'\0';
    line.length = static_cast<unsigned>(at);
    RealtimeLines.TryPush(line);
    if (DebugLogWriterStarted.load(std::memory_order_relaxed) == 0) StartWriter();  // once per run
    return;
  }
  try {
    std::wstring line = LogTimestamp() + std::wstring(text);
    StartWriter();
    std::lock_guard lock(DebugLogQueueMutex);
    if (DebugLogQueue.size() < kMaxQueuedLines) DebugLogQueue.push_back(std::move(line));
  } catch (...) {
    // A line that cannot be queued is lost; logging never disturbs the caller.
  }
}

void FlushDebugLogQueue() { WriteQueuedLines(); }

void HoldDebugLogWriter(bool hold) { DebugLogWriterHeld.store(hold); }

void SetDebugLogMaxBytes(uint64_t bytes) { DebugLogMaxBytes.store(bytes); }
