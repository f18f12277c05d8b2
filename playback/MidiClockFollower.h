#pragma once
// Follows MIDI clock from outside (a sequencer, a drum machine): Start, Stop, Continue and
// Song Position Pointer say what the song does; the clocks say when each position is due.
// The tempo is a straight line fitted to the latest beat of clocks, so a jittery source is
// smoothed and a tempo change is followed within a beat. A position is known at most one
// clock ahead of the latest clock: a source that stalls holds the song, and when it goes
// on the song goes on with it, its notes never bunched.

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>

#include "playback/Sequencer.h"

namespace pulsewright {

// Musical time from outside: each tick waits until the source says when its position is
// due. Called on the playback thread.
class ExternalTime {
 public:
  virtual ~ExternalTime() = default;
  // When the position `clocks` (24 a quarter since the song's start) is due; false while
  // the source has not come that far, or is stopped.
  virtual bool dueOf(double clocks, DueTime* due) = 0;
};

class MidiClockFollower : public ExternalTime {
 public:
  enum class Command { kNone, kStart, kContinue, kStop };

  // One message from the source, with the time it came; what the song is to do.
  Command take(const std::uint8_t* bytes, int length, DueTime at);
  bool dueOf(double clocks, DueTime* due) override;
  // Where a Continue goes on: the pointer's position, or where the clock stopped.
  double positionClocks() const;
  // Quarter notes a minute by the fitted line; 0 before it has two clocks.
  double tempo() const;
  bool running() const;
  // No clock came for `quiet` while running.
  bool silentFor(std::chrono::nanoseconds quiet, DueTime now) const;

 private:
  struct Pulse {
    double index;  // song clocks
    double seconds;
  };
  // Least squares over the pulses kept: seconds = a + b × index.
  bool fit(double* a, double* b) const;

  mutable std::mutex mutex_;
  bool running_ = false;
  std::int64_t nextPulse_ = 0;  // the position the next clock stands for
  std::deque<Pulse> pulses_;    // the latest beat's
  double period_ = 0;           // seconds a clock, the latest fitted; 0 before any
  DueTime lastPulse_{};
};

}  // namespace pulsewright
