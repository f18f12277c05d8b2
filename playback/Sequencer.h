#pragma once
// The step sequencer: plays a song's timeline one tick at a time. It knows nothing of
// clocks or threads; the player calls tick() at each deadline and waits for the interval
// it returns.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tablature/PartTable.h"
#include "tablature/Timeline.h"

namespace pulsewright {

class VoiceFilter;

// When an event is meant to sound, on the steady clock.
using DueTime = std::chrono::steady_clock::time_point;

// What a compilation hands to the player: the typed song. Built completely before it is
// handed over and never changed afterwards, so the playing thread may read it without a
// lock.
struct Song {
  explicit Song(std::shared_ptr<const Timeline> song) : model(std::move(song)), timeline(*model) {}
  std::shared_ptr<const Timeline> model;  // never null
  const Timeline& timeline;
};

std::shared_ptr<const Song> makeSong(std::shared_ptr<const Timeline> timeline);

// Where a step's messages and samples go. Each call carries the time the event is meant
// to sound; it comes lookAhead() before that time.
class StepOutput {
 public:
  virtual ~StepOutput() = default;
  // Packs kind + the port's channel + data1 * 256 + data2 * 65536 and sends it.
  virtual void sendChannelMessage(int kind, int data1, int data2, DueTime due) = 0;
  virtual void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                          DueTime due) = 0;
  // How long before their time events are handed over. Outputs that place events inside
  // a buffer of their own want them early; an output that sends at once wants 0.
  virtual std::chrono::microseconds lookAhead() { return std::chrono::microseconds(0); }
  // Pause: silence what still sounds.
  virtual void silence(DueTime now) { (void)now; }
  // Whether the device stopped taking messages since the last call (it went away while
  // the song played); clears what it reports.
  virtual bool takeDeviceFailure() { return false; }
};

class Sequencer {
 public:
  struct TickResult {
    std::string status;     // the text for the status line ("" once the song is over)
    bool songOver = false;  // Stop has been performed
    TimelineTick tick;      // what was played
  };

  // Play: position at the first tick, the interval before it from step 0 of part 1.
  // Returns false, leaving the sequencer stopped, when the song cannot start (no part 1,
  // or a first duration of 0).
  bool play(std::shared_ptr<const Song> song);
  // Play from a song position and step (after Pause); the first tick is due at once.
  // Returns false when that position is not played.
  bool playFrom(std::shared_ptr<const Song> song, int songPosition, int step);

  // Goes on with another song from where this one stands, the next tick coming from
  // `song` (see continueAt()). False, leaving the sequencer stopped, when the new song has
  // nothing there.
  bool continueWith(std::shared_ptr<const Song> song);
  // Whether the next tick stands on a bar line of its part (a part's first step is one).
  bool atBarLine() const;

  // One step; the next tick is due interval() milliseconds after this one. Items the
  // filter keeps quiet are not sent.
  // Expression events never go before `notBefore`.
  TickResult tick(StepOutput& output, DueTime due = DueTime{}, const VoiceFilter* filter = nullptr,
                  DueTime notBefore = DueTime::min());

  // Stop: the interval drops to 0, the position goes back to part 1, step 0. The song
  // position is kept (Play resets it).
  void stop();

  bool running() const { return interval_ > 0; }
  int interval() const { return static_cast<int>(interval_); }
  // The position of the next tick.
  int currentPart() const { return currentPart_; }
  int currentStep() const { return currentStep_; }
  int songPosition() const { return songPosition_; }
  const std::shared_ptr<const Song>& song() const { return song_; }
  // The tick that comes next, without moving on; false when there is none.
  bool peek(TimelineTick* tick) const {
    Timeline::Cursor copy = cursor_;
    return running() && copy.next(tick);
  }

 private:
  std::shared_ptr<const Song> song_;
  Timeline::Cursor cursor_;
  int currentPart_ = 1;
  int currentStep_ = 0;
  int songPosition_ = 1;
  std::int64_t interval_ = 0;  // milliseconds; 0 while stopped
};

// Where a song that replaces another while it plays goes on, when the next tick of the
// playing song would have been step `step` of part `partName` at `songPosition`: the same
// position and step when the new song plays that part there, else the nearest position
// that plays it (the first after, else the last before); a part the new song lacks, or
// that no longer has that step, goes on at the next position's first step (at that
// position itself when `step` is 0). False when the new song plays nothing there.
bool continueAt(const Timeline& song, const std::string& partName, int songPosition, int step,
                int* newPosition, int* newStep);

// Sends one tick's program change and items to `output`, due at `due`; with a filter,
// only the items it lets sound. The events of expression marks and humanize go around
// `due` (tablature/Expression.h), never before `notBefore`: the song's start.
void playTick(const Timeline& timeline, const TimelineTick& tick, StepOutput& output, DueTime due,
              const VoiceFilter* filter = nullptr, DueTime notBefore = DueTime::min());

}  // namespace pulsewright
