#pragma once
// Where a playing song's steps go, for the window and `pulsewright-cli play` alike: its
// notes to the MIDI port, its samples to the sample player. Either may be missing (a
// silent play): messages are then only packed, samples dropped.

#include <chrono>
#include <cstdint>
#include <string>

#include "midi/MidiPort.h"
#include "playback/Sequencer.h"

namespace pulsewright {

class SamplePlayer;

// How far ahead of their time events go to an output that places them by time.
inline constexpr std::chrono::milliseconds kPortLookAhead{30};

class PortStepOutput : public StepOutput {
 public:
  // `port` and `samples` (either may be null) must outlive the output. Without a port,
  // messages are packed on `channel` (0-15).
  PortStepOutput(MidiPort* port, SamplePlayer* samples, int channel = 0)
      : port_(port), samples_(samples), channel_(channel) {}

  void sendChannelMessage(int kind, int data1, int data2, DueTime due) override {
    send(kind, data1, data2, due);
  }
  // Sends as sendChannelMessage does; returns the word sent (or packed, without a port).
  std::uint32_t send(int kind, int data1, int data2, DueTime due);
  void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                  DueTime due) override;
  std::chrono::microseconds lookAhead() override;
  // All sound off, then all notes off.
  void silence(DueTime now) override;
  bool takeDeviceFailure() override;

 private:
  MidiPort* port_;
  SamplePlayer* samples_;
  int channel_;
};

}  // namespace pulsewright
