#include "platform/message_loop.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace plat {
namespace {

struct Loop {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<WindowMessage> urgent;  // served before `queue` (close requests)
  std::deque<WindowMessage> queue;
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


namespace {
std::atomic<int> processExitCode{0};
}  // namespace

void SetProcessExitCode(int code) { processExitCode.store(code); }
int ProcessExitCode() { return processExitCode.load(); }

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
    l.wake.wait(lock);
  }
  l.ended = true;
  l.running = false;
  std::deque<WindowMessage> rest, restUrgent;
  rest.swap(l.queue);
  restUrgent.swap(l.urgent);
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



void ResetMessageLoop() {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  l.queue.clear();
  l.urgent.clear();
  l.quit = l.ended = l.running = false;
  l.quitCode = 0;
  l.windowThread = {};
}

}  // namespace plat
