#include "platform/message_loop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace plat {
namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  unsigned periodMs;
  Clock::time_point due;
};

struct Loop {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<WindowMessage> urgent;  // served before `queue` (close requests)
  std::deque<WindowMessage> queue;
  std::map<uint32_t, Timer> timers;
  WindowProcedure proc;
  bool quit = false;
  bool ended = false;
  bool running = false;
  int quitCode = 0;
  std::thread::id windowThread;
};

Loop& TheLoop() {
  static Loop* loop = new Loop;  // never destroyed: detached threads may post until exit
  return *loop;
}

bool Enqueue(WindowMessage&& msg, bool urgent = false) {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    if (l.ended || l.quit) return false;  // msg (and its payload) is freed by the caller's scope
    (urgent ? l.urgent : l.queue).push_back(std::move(msg));
  }
  l.wake.notify_one();
  return true;
}

}  // namespace

void SetWindowProcedure(WindowProcedure proc) {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  l.proc = std::move(proc);
}

bool PostWindowMessage(uint32_t id, int64_t wParam, int64_t lParam,
                       std::unique_ptr<std::wstring> text) {
  WindowMessage m;
  m.id = id;
  m.wParam = wParam;
  m.lParam = lParam;
  m.text = std::move(text);
  return Enqueue(std::move(m));
}

bool PostUrgentWindowMessage(uint32_t id, int64_t wParam, int64_t lParam) {
  WindowMessage m;
  m.id = id;
  m.wParam = wParam;
  m.lParam = lParam;
  return Enqueue(std::move(m), true);
}

bool PostWindowTask(std::function<void()> task) {
  WindowMessage m;
  m.task = std::move(task);
  return Enqueue(std::move(m));
}

void SendWindowMessage(uint32_t id, int64_t wParam, int64_t lParam) {
  WindowProcedure proc;
  {
    std::lock_guard lock(TheLoop().mutex);
    proc = TheLoop().proc;
  }
  WindowMessage m;
  m.id = id;
  m.wParam = wParam;
  m.lParam = lParam;
  if (proc) proc(m);
}

int RunMessageLoop() {
  Loop& l = TheLoop();
  std::unique_lock lock(l.mutex);
  l.windowThread = std::this_thread::get_id();
  l.running = true;
  while (!l.quit) {
    if (!l.urgent.empty() || !l.queue.empty()) {
      auto& from = l.urgent.empty() ? l.queue : l.urgent;
      WindowMessage m = std::move(from.front());
      from.pop_front();
      WindowProcedure proc = l.proc;
      lock.unlock();
      if (m.task) m.task();
      else if (proc) proc(m);
      lock.lock();
      continue;
    }
    // Fire the earliest due timer, else sleep until it or a post arrives.
    auto now = Clock::now();
    auto next = Clock::time_point::max();
    uint32_t dueId = 0;
    bool fire = false;
    for (auto& [id, t] : l.timers) {
      if (t.due <= now && !fire) {
        fire = true;
        dueId = id;
        t.due = now + std::chrono::milliseconds(t.periodMs);
      }
      next = std::min(next, t.due);
    }
    if (fire) {
      WindowProcedure proc = l.proc;
      lock.unlock();
      WindowMessage m;
      m.id = kWmTimer;
      m.wParam = dueId;
      if (proc) proc(m);
      lock.lock();
      continue;
    }
    if (next == Clock::time_point::max()) l.wake.wait(lock);
    else l.wake.wait_until(lock, next);
  }
  l.ended = true;
  l.running = false;
  std::deque<WindowMessage> rest, restUrgent;
  rest.swap(l.queue);
  restUrgent.swap(l.urgent);
  l.timers.clear();
  lock.unlock();
  restUrgent.clear();
  rest.clear();  // payloads of unhandled messages are freed here
  return l.quitCode;
}

void PostQuit(int code) {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    l.quit = true;
    l.quitCode = code;
  }
  l.wake.notify_all();
}

bool OnWindowThread() {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  return l.windowThread == std::this_thread::get_id();
}

bool MessageLoopRunning() {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  return l.running && !l.quit;
}

void SetWindowTimer(uint32_t id, unsigned ms) {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    if (ms == 0) ms = 1;
    l.timers[id] = Timer{ms, Clock::now() + std::chrono::milliseconds(ms)};
  }
  l.wake.notify_all();
}

void KillWindowTimer(uint32_t id) {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  l.timers.erase(id);
}

void ResetMessageLoop() {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  l.queue.clear();
  l.urgent.clear();
  l.timers.clear();
  l.quit = l.ended = l.running = false;
  l.quitCode = 0;
  l.windowThread = {};
}

}  // namespace plat
