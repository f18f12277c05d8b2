#pragma once
// A playback clock whose time jumps to each deadline at once, so a song plays through in
// no real time.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "playback/PlaybackClock.h"

namespace pulsewright {

class JumpingClock : public PlaybackClock {
 public:
  explicit JumpingClock(TimePoint start = {}) : now_(start) {}
  TimePoint now() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void waitUntil(std::unique_lock<std::mutex>&, std::condition_variable&,
                 TimePoint deadline) override {
    std::lock_guard lock(mutex_);
    if (deadline > now_) now_ = deadline;
  }
  void advance(std::chrono::milliseconds ms) {
    std::lock_guard lock(mutex_);
    now_ += ms;
  }

 private:
  std::mutex mutex_;
  TimePoint now_;
};

}  // namespace pulsewright
