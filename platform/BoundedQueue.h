#pragma once
// A bounded lock-free queue for many producers and one consumer (Vyukov's array queue):
// push and pop never block, never allocate and never take a lock, so the audio thread may
// use either side.

#include <atomic>
#include <cstddef>
#include <memory>

namespace pulsewright {

template <typename T>
class BoundedQueue {
 public:
  // `capacity` is rounded up to a power of two.
  explicit BoundedQueue(std::size_t capacity) {
    std::size_t size = 2;
    while (size < capacity) size *= 2;
    mask_ = size - 1;
    cells_ = std::make_unique<Cell[]>(size);
    for (std::size_t i = 0; i < size; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
  }
  BoundedQueue(const BoundedQueue&) = delete;
  BoundedQueue& operator=(const BoundedQueue&) = delete;

  std::size_t capacity() const { return mask_ + 1; }

  // Any thread. False when the queue is full.
  bool push(const T& value) {
    std::size_t pos = enqueue_.load(std::memory_order_relaxed);
    Cell* cell;
    for (;;) {
      cell = &cells_[pos & mask_];
      const std::size_t seq = cell->sequence.load(std::memory_order_acquire);
      const auto diff = static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos);
      if (diff == 0) {
        if (enqueue_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
      } else if (diff < 0) {
        return false;
      } else {
        pos = enqueue_.load(std::memory_order_relaxed);
      }
    }
    cell->value = value;
    cell->sequence.store(pos + 1, std::memory_order_release);
    return true;
  }

  // The one consumer. False when nothing is there.
  bool pop(T& value) {
    const std::size_t pos = dequeue_;
    Cell& cell = cells_[pos & mask_];
    const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
    if (static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos + 1) < 0) return false;
    value = cell.value;
    cell.sequence.store(pos + mask_ + 1, std::memory_order_release);
    dequeue_ = pos + 1;
    return true;
  }

 private:
  struct Cell {
    std::atomic<std::size_t> sequence{0};
    T value{};
  };
  std::unique_ptr<Cell[]> cells_;
  std::size_t mask_ = 0;
  alignas(64) std::atomic<std::size_t> enqueue_{0};
  alignas(64) std::size_t dequeue_ = 0;
};

}  // namespace pulsewright
