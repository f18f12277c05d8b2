#pragma once
// MIDI input: what a kit played, each channel message with the moment it was played on
// the steady clock (the clock the player's due times are on).

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pulsewright {

struct MidiInputEvent {
  // When it was played: the arrival as the device stamped it, less the input latency the
  // device reports.
  std::chrono::steady_clock::time_point time;
  std::uint8_t bytes[3] = {};
  int length = 0;
};

class MidiInput {
 public:
  virtual ~MidiInput() = default;
  // Takes the oldest message not yet read; false when none waits. One reader at a time.
  virtual bool read(MidiInputEvent* event) = 0;
  // The port it reads from has gone (unplugged, its program ended, the server stopped):
  // nothing more will come.
  virtual bool gone() = 0;
  // Passes every message that comes in to the output this input shares its device cycle
  // with, at the frame it came in, on `channel` (0-15); -1 stops. False when the input
  // has no such output: the caller then passes the messages on itself.
  virtual bool setThru(int channel) {
    (void)channel;
    return false;
  }
  // How long after its due time an event sent to the paired output is heard, when the
  // device knows; empty otherwise (the user's latency setting stands in).
  virtual std::optional<std::chrono::microseconds> outputLatency() { return std::nullopt; }
  // Lets MIDI clock through as well (clock, Start, Continue, Stop, Song Position
  // Pointer), for a song that follows it; false where the input cannot.
  virtual bool takeClock(bool on) {
    (void)on;
    return false;
  }
  // Messages that came in and were lost because nobody read them in time.
  virtual std::uint64_t dropped() const { return 0; }
};

// The system's MIDI inputs: the ports a kit may be read from, by name.
class MidiInputService {
 public:
  virtual ~MidiInputService() = default;
  // Reads the list afresh.
  virtual std::vector<std::string> inputNames() = 0;
  // Opens the input named `name` (as inputNames lists it); null and a result code
  // (platform/MidiOutput.h) on failure.
  virtual std::unique_ptr<MidiInput> openInput(const std::string& name, int* resultCode) = 0;
};

}  // namespace pulsewright
