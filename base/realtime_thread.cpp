#include "base/realtime_thread.h"

#include <atomic>
#include <semaphore>
#include <thread>

#include "base/debug_log.h"
#include "base/text.h"
#include "base/thread_role.h"
#include "platform/clock.h"
#include "platform/handoff_queue.h"
#include "platform/memory.h"
#include "platform/message_loop.h"
#include "platform/midi_out.h"

namespace {

struct RelayedMessage {
  uint32_t id = 0;
  int64_t wParam = 0, lParam = 0;
  std::wstring* text = nullptr;  // owned while queued
};

// Never destroyed: the relay thread runs until the process ends.
HandoffQueue<RelayedMessage, 4096>& g_relay = *new HandoffQueue<RelayedMessage, 4096>;
std::counting_semaphore<1 << 30>& g_relayWake = *new std::counting_semaphore<1 << 30>(0);
std::atomic<int> g_relayStarted{0};
std::atomic<uint64_t> g_relayQueued{0}, g_relayDone{0};

void RelayThread() {
  for (;;) {
    g_relayWake.acquire();
    RelayedMessage m;
    while (g_relay.TryPop(m)) {
      plat::PostWindowMessage(m.id, m.wParam, m.lParam, std::unique_ptr<std::wstring>(m.text));
      g_relayDone.fetch_add(1);
    }
  }
}

}  // namespace

plat::RealtimeLevel EnterRealtimeThread(int fifoPriority, std::string* refused) {
  // The relay is started by an ordinary moment of the thread, before its timing begins.
  int expected = 0;
  if (g_relayStarted.compare_exchange_strong(expected, 1)) std::thread(RelayThread).detach();
  const plat::RealtimeLevel level = plat::RaiseThreadRealtime(fifoPriority, refused);
  plat::PrefaultStack(256 * 1024);
  plat::MarkRealtimeThread(true);
  return level;
}

void LeaveRealtimeThread() {
  plat::MarkRealtimeThread(false);
  plat::LowerThreadFromRealtime();
  plat::FlushMidiRecords();
  // What the thread posts from now on goes straight to the window: the relayed posts go first.
  const uint64_t queued = g_relayQueued.load();
  for (int i = 0; i < 200 && g_relayDone.load() < queued; ++i) plat::SleepMs(1);
}

bool PostFromAnyThread(uint32_t id, int64_t wParam, int64_t lParam, std::unique_ptr<std::wstring> text) {
  if (!OnRealtimeThread() || g_relayStarted.load() == 0) return plat::PostWindowMessage(id, wParam, lParam, std::move(text));
  RelayedMessage m{id, wParam, lParam, text.release()};
  if (!g_relay.TryPush(m)) {
    delete m.text;
    return false;
  }
  g_relayQueued.fetch_add(1);
  g_relayWake.release();
  return true;
}

void LockMemoryForRealtime() {
  std::string refused;
  if (!plat::LockProcessMemory(&refused))
    DebugLog(L"[RT] 메모리 고정을 받지 못함(" + Utf8ToWide(refused) + L") - 바쁜 시스템에서 재생이 밀릴 수 있음");
}
