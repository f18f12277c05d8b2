#pragma once
// A MIDI input for tests: messages pushed with their times, an input that can be made to
// vanish, and a record of what thru was asked for.

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/MidiInput.h"

namespace pulsewright {

class FakeMidiInput : public MidiInput {
 public:
  void push(std::chrono::steady_clock::time_point time, std::uint8_t status, std::uint8_t data1,
            std::uint8_t data2) {
    MidiInputEvent event;
    event.time = time;
    event.bytes[0] = status;
    event.bytes[1] = data1;
    event.bytes[2] = data2;
    event.length = 3;
    std::lock_guard lock(mutex_);
    queue_.push_back(event);
  }
  void vanish() {
    std::lock_guard lock(mutex_);
    gone_ = true;
  }
  // Whether thru happens within the "device", and the output latency it reports.
  bool thruInDevice = false;
  std::optional<std::chrono::microseconds> reportedLatency;
  int thruChannel = -1;

  bool read(MidiInputEvent* event) override {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    *event = queue_.front();
    queue_.pop_front();
    return true;
  }
  bool gone() override {
    std::lock_guard lock(mutex_);
    return gone_ && queue_.empty();
  }
  bool setThru(int channel) override {
    if (!thruInDevice) return false;
    thruChannel = channel;
    return true;
  }
  std::optional<std::chrono::microseconds> outputLatency() override { return reportedLatency; }

 private:
  std::mutex mutex_;
  std::deque<MidiInputEvent> queue_;
  bool gone_ = false;
};

}  // namespace pulsewright
