#pragma once
// Records what a kit plays while the player plays a part in a loop: every note reads
// against the song's own clock (the due times of the part's ticks), the latency of the
// output and the input taken off, so a hit played with what the drummer heard reads as
// played on that step. The player's listener calls mark where each pass starts.
//
// Threads: the player calls the listener functions on its thread; poll() runs on the
// recorder's own thread (start()) or, in tests, on the caller's. hits() may be called
// from any thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/MidiInput.h"
#include "playback/Player.h"

namespace pulsewright {

// One note the kit played, as the take writer reads it.
struct RecordedHit {
  int pass = 0;  // the loop pass, from 0
  // From the onset of that pass's first step, in song time (the tempo scale undone),
  // latency compensated; negative for a hit just before the pass's first beat.
  double seconds = 0;
  int key = 0;
  int velocity = 0;
  int hiHatControl = -1;  // the latest controller 4 value on the hit's channel; -1 for none
};

class TakeRecorder : public Player::Listener {
 public:
  struct Settings {
    double tempoScale = 1.0;  // the player's, fixed while recording
    // The latency of paths whose devices do not report it: from an event's due time to
    // its sound, plus from a hit to its arrival. Devices that report it (JACK) use theirs.
    std::chrono::microseconds latencyOffset{0};
    // The channel (0-15) the kit sounds on through the output while recording; -1 for
    // none.
    int thruChannel = -1;
  };
  // Passes a message on to the output, when the input cannot do it within its device.
  using ThruOutput = std::function<void(const std::uint8_t* bytes, int length)>;

  // `input` and `next` (may be null: the player's calls are passed on to it) must
  // outlive the recorder.
  TakeRecorder(MidiInput& input, Settings settings, ThruOutput thru, Player::Listener* next);
  ~TakeRecorder() override;

  // Reads the input every millisecond on a thread of its own until stop().
  void start();
  void stop();
  // Takes what the input holds now; true while the input is there.
  bool poll();
  bool inputGone() const { return inputGone_.load(); }
  // Whether the kit sounds within the device's cycle (no thread of ours in between).
  bool thruInDevice() const { return thruInDevice_; }
  // The latency taken off every hit.
  std::chrono::microseconds latency() const { return latency_; }
  // The played song is over: the time after which nothing belongs to the take any more
  // (half a step after the last pass's end); empty before the song ends.
  std::optional<DueTime> listenUntil() const;
  // How many of the take's bars have begun, the count-in's left out: each bar line that
  // passes adds one, so a view may show the take so far bar by bar.
  int barsStarted() const { return barsStarted_.load(); }
  // The take so far, in the order played: notes from half a step before the first pass
  // to half a step after the last pass's end.
  std::vector<RecordedHit> hits() const;
  // The notes played before the first pass's first beat (less half a step): in the
  // count-in, and so in no pass.
  int countInHits() const;

  void statusChanged(std::uint64_t generation, const std::string& text) override;
  void songEnded(std::uint64_t generation) override;
  void stepStarted(std::uint64_t generation, const Timeline& timeline, const TimelineTick& tick,
                   DueTime due) override;

 private:
  struct Note {
    DueTime time;  // compensated
    int key, velocity, hiHatControl;
  };

  MidiInput& input_;
  Settings settings_;
  ThruOutput thru_;
  Player::Listener* next_;
  bool thruInDevice_ = false;
  std::chrono::microseconds latency_{0};
  std::atomic<bool> inputGone_{false};
  int hiHatControl_[16];
  mutable std::mutex mutex_;
  std::vector<Note> notes_;
  std::vector<DueTime> passes_;  // each pass's first tick
  std::chrono::nanoseconds halfStep_{0};
  DueTime end_{};  // the latest tick's end
  bool ended_ = false;
  // The pass and bar of the latest step, for barsStarted().
  std::size_t latestPass_ = 0;
  int latestBar_ = 0;
  std::atomic<int> barsStarted_{0};
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

}  // namespace pulsewright
