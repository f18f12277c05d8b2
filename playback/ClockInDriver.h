#pragma once
// A song that follows MIDI clock from an input: the input's messages go to a
// MidiClockFollower, whose Start, Continue and Stop start, locate and pause the song on a
// playback session, and whose clocks say when each tick is due. The command line and the
// window poll it from their own threads; it names what a caller must tell the user: the
// source went away (the song is stopped, what sounds silenced) or stalled (the song waits).

#include <chrono>
#include <memory>

#include "platform/MidiInput.h"
#include "playback/MidiClockFollower.h"
#include "playback/PlaybackSession.h"

namespace pulsewright {

class ClockInDriver {
 public:
  // A source silent this long while running has stalled.
  static constexpr std::chrono::milliseconds kStallAfter{500};

  struct News {
    bool started = false;  // a Start or Continue played the song
    bool stopped = false;  // a Stop paused it
    bool gone = false;     // the source went away: the song was stopped, once
    bool stalled = false;  // the source has just stopped sending clocks
    bool resumed = false;  // ...and has just begun again
  };

  // `input` and `session` must outlive the driver; the session's player follows the
  // driver's clock from its next play() until the driver goes.
  ClockInDriver(MidiInput& input, PlaybackSession& session);
  ~ClockInDriver();
  ClockInDriver(const ClockInDriver&) = delete;
  ClockInDriver& operator=(const ClockInDriver&) = delete;

  // The song a Start or Continue plays, with these options.
  void arm(std::shared_ptr<const Song> song, const PlayOptions& options);
  // Reads what came in and acts on it; `now` on the steady clock.
  News poll(std::chrono::steady_clock::time_point now);
  const MidiClockFollower& follower() const { return follower_; }

 private:
  MidiInput& input_;
  PlaybackSession& session_;
  MidiClockFollower follower_;
  std::shared_ptr<const Song> song_;
  PlayOptions options_;
  bool stalled_ = false;
  bool gone_ = false;
};

}  // namespace pulsewright
