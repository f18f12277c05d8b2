#pragma once
// MIDI input from the ALSA sequencer through RtMidi. The sequencer stamps each message as
// it arrives; RtMidi hands over the time since the previous one, which this turns back
// into times on the steady clock.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MidiInput.h"

class RtMidiIn;

namespace pulsewright {

// The sequencer's readable ports (what may be read from), by RtMidi's names; empty
// without a sequencer.
std::vector<std::string> listAlsaMidiInputs(const std::string& clientName);

// Turns the sequencer's time stamps, counted from the first message, into the steady
// clock: the offset is the smallest seen between a message's arrival in this program and
// its stamp, the one least delayed on its way here.
class SequencerTimes {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  // A message `sinceFirst` seconds (on the sequencer's clock) after the first one came
  // in at `arrival`; returns when the sequencer stamped it.
  TimePoint stamp(double sinceFirst, TimePoint arrival);

 private:
  bool started_ = false;
  TimePoint origin_{};  // the first message's stamp on the steady clock
};

class AlsaMidiInput : public MidiInput {
 public:
  // Reads the readable port named `source` (a name listAlsaMidiInputs gave). Null and a
  // result code (platform/MidiOutput.h) on failure.
  static std::unique_ptr<AlsaMidiInput> open(const std::string& clientName,
                                             const std::string& source, int* resultCode);
  ~AlsaMidiInput() override;

  bool read(MidiInputEvent* event) override;
  // Asks the sequencer at most four times a second whether the port is still listed.
  bool gone() override;
  bool takeClock(bool on) override;
  std::uint64_t dropped() const override;

 private:
  AlsaMidiInput() = default;
  static void onMessage(double delta, std::vector<unsigned char>* message, void* self);

  std::string clientName_;
  std::string source_;
  std::unique_ptr<RtMidiIn> in_;
  std::atomic<bool> clock_{false};
  mutable std::mutex mutex_;  // the queue and the times, shared with RtMidi's thread
  std::deque<MidiInputEvent> queue_;
  SequencerTimes times_;
  double sinceFirst_ = 0;
  std::uint64_t dropped_ = 0;
  std::chrono::steady_clock::time_point checked_{};
  bool gone_ = false;
};

}  // namespace pulsewright
