#pragma once
// MIDI clock to an open port of a MidiOutputService: ahead of time to a port that places
// messages by their time (JACK), at their time to one that sends at once (ALSA).

#include <atomic>

#include "platform/MidiOutput.h"
#include "playback/MidiClockSchedule.h"

namespace pulsewright {

class PortClockOutput : public ClockOutput {
 public:
  // `service` must outlive the output; `handle` is open on it.
  PortClockOutput(MidiOutputService& service, MidiHandle handle)
      : service_(service), handle_(handle), placesByTime_(service.placesByTime(handle)) {}
  void sendSystem(std::uint32_t word, DueTime due) override {
    if (service_.sendShortAt(handle_, word, due) != midi_result::kOk) failed_.store(true);
  }
  std::chrono::microseconds lookAhead() override;
  // Whether a send failed since the last call (the port went away).
  bool takeFailure() { return failed_.exchange(false); }

 private:
  MidiOutputService& service_;
  MidiHandle handle_;
  bool placesByTime_;
  std::atomic<bool> failed_{false};
};

}  // namespace pulsewright
