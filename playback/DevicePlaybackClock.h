#pragma once
// The clock of a sound device's frames, for a song that plays only through the audio
// engine (the built-in synthesiser and samples). Its hits then land on the frames their
// times name: their spacing in what the device plays is exact, whatever the device's pace
// against the system's clock, which the engine's estimate only needs to follow closely
// enough to hand each hit over in time. A song that also plays through a MIDI port keeps
// the steady clock, which that port's events are timed by.

#include <atomic>

#include "platform/AudioEngine.h"
#include "playback/PlaybackClock.h"

namespace pulsewright {

class DevicePlaybackClock : public PlaybackClock {
 public:
  // Paces `engine`'s timed events by its device while the clock lives.
  explicit DevicePlaybackClock(AudioEngine& engine);
  ~DevicePlaybackClock() override;
  DevicePlaybackClock(const DevicePlaybackClock&) = delete;
  DevicePlaybackClock& operator=(const DevicePlaybackClock&) = delete;

  // Never goes back, though the estimate may (a device that stalled or was changed: the
  // song then waits for its frames).
  TimePoint now() override;
  void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                 TimePoint deadline) override;

 private:
  AudioEngine& engine_;
  std::atomic<TimePoint::rep> latest_;
};

}  // namespace pulsewright
