#pragma once
// The clock the playback thread sleeps on. Tests use a clock whose time jumps to each
// deadline, so a song plays through in no real time.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pulsewright {

class PlaybackClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~PlaybackClock() = default;
  virtual TimePoint now() = 0;
  // Waits, with `lock` released, until `deadline` or until `wake` is notified, whichever
  // comes first (spurious returns are allowed; the caller checks again).
  virtual void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                         TimePoint deadline) = 0;
};

class SteadyPlaybackClock : public PlaybackClock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                 TimePoint deadline) override {
    wake.wait_until(lock, deadline);
  }
};

}  // namespace pulsewright
