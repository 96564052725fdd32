#pragma once
// A small value written by one thread and read whole by others without a lock: the writer bumps a
// sequence number around its store, and a reader retries until it read between two equal, even
// numbers. Meant for a few words that a real-time thread publishes at every step.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <type_traits>

template <class T>
class SeqValue {
  static_assert(std::is_trivially_copyable_v<T>);
  static constexpr size_t kWords = (sizeof(T) + 7) / 8;

 public:
  explicit SeqValue(const T& v = T{}) { store(v); }

  // From the one writing thread only.
  void store(const T& v) {
    std::array<uint64_t, kWords> w{};
    std::memcpy(w.data(), &v, sizeof(T));
    const uint32_t s = seq_.load(std::memory_order_relaxed);
    seq_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kWords; ++i) words_[i].store(w[i], std::memory_order_relaxed);
    seq_.store(s + 2, std::memory_order_release);
  }

  T load() const {
    std::array<uint64_t, kWords> w{};
    for (;;) {
      const uint32_t s = seq_.load(std::memory_order_acquire);
      if (s & 1) {
        std::this_thread::yield();  // the writer is in the middle of a store
        continue;
      }
      for (size_t i = 0; i < kWords; ++i) w[i] = words_[i].load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (seq_.load(std::memory_order_relaxed) == s) break;
    }
    T v{};
    std::memcpy(static_cast<void*>(&v), w.data(), sizeof(T));  // T is trivially copyable
    return v;
  }

 private:
  std::atomic<uint32_t> seq_{0};
  std::array<std::atomic<uint64_t>, kWords> words_{};
};
