#pragma once
// Plays a song on its own thread, on absolute deadlines: every tick comes at the time
// of Play plus the sum of the durations before it, whatever each tick costs, so the
// tempo heard is the tempo written.
//
// Threads: play(), stop() and playing() belong to the user-interface thread. The
// listener is called on the playback thread and must not touch widgets: it posts to the
// thread that owns them.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "playback/PlaybackClock.h"
#include "playback/Sequencer.h"

namespace pulsewright {

class Player {
 public:
  class Listener {
   public:
    virtual ~Listener() = default;
    // The status line's new text, after every tick of the play() that returned
    // `generation`.
    virtual void statusChanged(std::uint64_t generation, const std::string& text) = 0;
    // That song is over and Stop has been performed (called after its last status). A
    // later play() may already have started another song: compare the generation.
    virtual void songEnded(std::uint64_t generation) = 0;
  };

  // `output`, `clock` and `listener` (which may be null) must outlive the player.
  Player(StepOutput& output, PlaybackClock& clock, Listener* listener);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Starts `song` from its beginning, also while another song plays (Play after
  // Pause); the first tick comes one step duration later. Returns false, playing
  // nothing, when the song cannot start (no part 1, or a first duration of 0).
  bool play(std::shared_ptr<const Song> song);
  // Counts the calls of play(); the listener's calls carry the count of their song.
  std::uint64_t generation() const;
  // Stops at once; nothing more is sent. Samples that sound go on to their end.
  void stop();
  bool playing() const;
  // When the latest play() started.
  PlaybackClock::TimePoint playStartedAt() const;
  // A snapshot of the sequencer's position.
  Sequencer sequencerState() const;

 private:
  void run();

  StepOutput& output_;
  PlaybackClock& clock_;
  Listener* listener_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  Sequencer sequencer_;
  PlaybackClock::TimePoint started_{};
  PlaybackClock::TimePoint deadline_{};
  std::uint64_t generation_ = 0;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace pulsewright
