#include "sound/deferred_save.h"

#include <thread>

#include "platform/clock.h"

DeferredSave::DeferredSave(SaveFn save, SleepFn sleep, SpawnFn spawn)
    : save_(std::move(save)), sleep_(std::move(sleep)), spawn_(std::move(spawn)) {
  if (!sleep_) sleep_ = [](unsigned ms) { plat::SleepMs(ms); };
  if (!spawn_) spawn_ = [](std::function<void()> fn) { std::thread(std::move(fn)).detach(); };
}

void DeferredSave::Request() {
  requested_ = true;
  bool expected = false;
  if (!running_.compare_exchange_strong(expected, true)) return;
  spawn_([this] { Saver(); });
}

void DeferredSave::Saver() {
  requested_ = false;
  const unsigned flushes = flushes_.load();
  do sleep_(kQuietMs);
  while (requested_.exchange(false));
  // A flush meanwhile has written everything this saver was started for.
  if (flushes_.load() == flushes) save_();
  running_ = false;
  // A change that came during the write: save once more.
  if (requested_.load()) Request();
}

void DeferredSave::Flush() {
  if (!Pending()) return;
  requested_ = false;
  flushes_.fetch_add(1);
  save_();
}
