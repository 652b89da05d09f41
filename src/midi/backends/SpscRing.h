// A fixed-size single-producer, single-consumer ring of trivially copyable items. Push
// and Pop never block and never allocate, so the producer or the consumer may be a
// realtime thread. The consumer looks at the oldest item with Front and removes it with
// Pop only once it is done with it, so an item that could not be handled stays first.
//
// Exactly one thread may act as producer and one as consumer at a time. A role may move
// to another thread only through a synchronising hand-over (a mutex, a joined thread, or
// a sequentially consistent flag that the old holder is known to have seen).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>

template <typename T, std::size_t Capacity>
class SpscRing {
  static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "capacity is a power of two");
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  SpscRing() = default;
  SpscRing(const SpscRing&) = delete;
  SpscRing& operator=(const SpscRing&) = delete;

  static constexpr std::size_t capacity() { return Capacity; }

  // Producer. False when the ring is full; nothing is stored then.
  bool Push(const T& item) {
    const std::size_t write = m_write.load(std::memory_order_relaxed);
    if (write - m_read.load(std::memory_order_acquire) == Capacity) return false;
    m_slots[write & (Capacity - 1)] = item;
    m_write.store(write + 1, std::memory_order_release);
    return true;
  }
  // Producer. True when a Push would fail.
  bool Full() const {
    return m_write.load(std::memory_order_relaxed) - m_read.load(std::memory_order_acquire) ==
           Capacity;
  }

  // Consumer. The oldest item, or null when the ring is empty. Valid until Pop.
  const T* Front() const {
    const std::size_t read = m_read.load(std::memory_order_relaxed);
    if (read == m_write.load(std::memory_order_acquire)) return nullptr;
    return &m_slots[read & (Capacity - 1)];
  }
  // Consumer. Removes the oldest item; false when the ring is empty.
  bool Pop() {
    const std::size_t read = m_read.load(std::memory_order_relaxed);
    if (read == m_write.load(std::memory_order_acquire)) return false;
    m_read.store(read + 1, std::memory_order_release);
    return true;
  }
  // Consumer. Copies out and removes the oldest item.
  bool Pop(T& item) {
    const T* front = Front();
    if (!front) return false;
    item = *front;
    return Pop();
  }

  // Either side; exact only while the other side is idle.
  std::size_t Size() const {
    return m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire);
  }

 private:
  // Producer and consumer counters on separate cache lines: the realtime side should not
  // stall on the other side's writes.
  alignas(64) std::atomic<std::size_t> m_write{0};
  alignas(64) std::atomic<std::size_t> m_read{0};
  alignas(64) std::array<T, Capacity> m_slots{};
};
