#pragma once
// A bounded queue that any number of threads push into and one thread drains, without a lock:
// a push never waits (a full queue refuses it at once) and never allocates, so a thread with
// timing duties may hand work to an ordinary thread through it. Each cell carries a sequence
// number that tells whether it is free for the push of round n or holds that round's value.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

template <class T, size_t Capacity>
class HandoffQueue {
  static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

 public:
  HandoffQueue() : cells_(std::make_unique<Cell[]>(Capacity)) {
    for (size_t i = 0; i < Capacity; ++i) cells_[i].seq.store(i, std::memory_order_relaxed);
  }
  HandoffQueue(const HandoffQueue&) = delete;
  HandoffQueue& operator=(const HandoffQueue&) = delete;

  // False when the queue is full; `value` is then left to the caller.
  bool TryPush(T& value) {
    size_t pos = tail_.load(std::memory_order_relaxed);
    for (;;) {
      Cell& cell = cells_[pos & (Capacity - 1)];
      const size_t seq = cell.seq.load(std::memory_order_acquire);
      const auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos);
      if (diff == 0) {
        if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
          cell.value = std::move(value);
          cell.seq.store(pos + 1, std::memory_order_release);
          return true;
        }
      } else if (diff < 0) {
        return false;
      } else {
        pos = tail_.load(std::memory_order_relaxed);
      }
    }
  }
  bool TryPushCopy(T value) { return TryPush(value); }

  // The draining thread only: the oldest value, or null when none is ready (a push that has
  // taken its cell but not yet filled it counts as not ready).
  T* Front() {
    const size_t pos = head_.load(std::memory_order_relaxed);
    Cell& cell = cells_[pos & (Capacity - 1)];
    return cell.seq.load(std::memory_order_acquire) == pos + 1 ? &cell.value : nullptr;
  }
  // The draining thread only, after Front gave a value.
  void PopFront() {
    const size_t pos = head_.load(std::memory_order_relaxed);
    Cell& cell = cells_[pos & (Capacity - 1)];
    cell.value = T{};
    cell.seq.store(pos + Capacity, std::memory_order_release);
    head_.store(pos + 1, std::memory_order_relaxed);
  }
  bool TryPop(T& out) {
    T* front = Front();
    if (!front) return false;
    out = std::move(*front);
    PopFront();
    return true;
  }

 private:
  struct Cell {
    std::atomic<size_t> seq{0};
    T value{};
  };
  std::unique_ptr<Cell[]> cells_;
  alignas(64) std::atomic<size_t> tail_{0};
  alignas(64) std::atomic<size_t> head_{0};
};
