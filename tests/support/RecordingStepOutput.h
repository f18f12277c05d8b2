#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "playback/Sequencer.h"

namespace pulsewright {

// Keeps every message (status, data1, data2 on channel 0 unless set) and sample start.
class RecordingStepOutput : public StepOutput {
 public:
  struct Event {
    std::string text;  // "90 42 76" or "sample FILE VOLUME PAN"
    bool operator==(const Event&) const = default;
  };

  void sendChannelMessage(int kind, int data1, int data2, DueTime) override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02x %d %d", kind + channel, data1, data2);
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(buf);
  }
  void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                  DueTime) override {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back("sample " + file + " " + std::to_string(volume) + " " + std::to_string(pan));
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    out.swap(events);
    return out;
  }

  int channel = 0;
  std::mutex mutex;
  std::vector<std::string> events;
};

}  // namespace pulsewright
