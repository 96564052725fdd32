#pragma once
// A save that waits until no change came for 500 ms, so that a held key writes its file once.
// Request() may be called from any thread; at most one saver thread runs per instance. The sleep
// and the thread start are passed in so that tests can run the saver on a virtual clock.
#include <atomic>
#include <functional>

class DeferredSave {
 public:
  using SaveFn = std::function<void()>;
  using SleepFn = std::function<void(unsigned ms)>;
  using SpawnFn = std::function<void(std::function<void()>)>;

  // Without sleep and spawn: the real clock and a detached thread.
  explicit DeferredSave(SaveFn save, SleepFn sleep = {}, SpawnFn spawn = {});

  // Asks for a save; starts the saver unless it runs.
  void Request();
  // At shutdown: a save that is requested or running is done now, on the calling thread.
  void Flush();
  bool Pending() const { return requested_.load() || running_.load(); }

  static constexpr unsigned kQuietMs = 500;

 private:
  void Saver();

  SaveFn save_;
  SleepFn sleep_;
  SpawnFn spawn_;
  std::atomic<bool> requested_{false};
  std::atomic<bool> running_{false};
  std::atomic<unsigned> flushes_{0};
};
