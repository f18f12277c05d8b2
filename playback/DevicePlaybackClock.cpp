#include "playback/DevicePlaybackClock.h"

#include <algorithm>
#include <chrono>

namespace pulsewright {

namespace {

// A wait looks at the device's estimate again this often, as its pace is learned.
constexpr std::chrono::milliseconds kLongestWait{20};

}  // namespace

DevicePlaybackClock::DevicePlaybackClock(AudioEngine& engine)
    : engine_(engine), latest_(TimePoint::min().time_since_epoch().count()) {
  engine_.setDevicePaced(true);
}

DevicePlaybackClock::~DevicePlaybackClock() {
  engine_.setDevicePaced(false);
}

PlaybackClock::TimePoint DevicePlaybackClock::now() {
  const TimePoint::rep estimate =
      engine_.deviceTimeAt(std::chrono::steady_clock::now()).time_since_epoch().count();
  TimePoint::rep latest = latest_.load();
  while (estimate > latest && !latest_.compare_exchange_weak(latest, estimate)) {
  }
  return TimePoint(TimePoint::duration(std::max(estimate, latest)));
}

void DevicePlaybackClock::waitUntil(std::unique_lock<std::mutex>& lock,
                                    std::condition_variable& wake, TimePoint deadline) {
  const auto steadyNow = std::chrono::steady_clock::now();
  wake.wait_until(lock, std::min(engine_.steadyTimeOf(deadline), steadyNow + kLongestWait));
}

}  // namespace pulsewright
