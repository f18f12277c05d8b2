#pragma once
// MIDI clock for a playing song: 24 clocks a quarter note at the song's own times, Start
// when it plays from its beginning, Song Position Pointer and Continue when it plays from
// elsewhere, Stop when it stops. The player feeds it each step as it hands the step over
// (its due time, the next step's due time and its exact length), so the clocks follow
// tempo changes and the tempo scale exactly as the notes do; it keeps the messages due
// until the player hands them to a ClockOutput.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "playback/Sequencer.h"
#include "tablature/MusicalTime.h"

namespace pulsewright {

inline constexpr std::uint32_t kMidiClock = 0xF8;
inline constexpr std::uint32_t kMidiStart = 0xFA;
inline constexpr std::uint32_t kMidiContinue = 0xFB;
inline constexpr std::uint32_t kMidiStop = 0xFC;
inline constexpr std::uint32_t kMidiSongPosition = 0xF2;
inline constexpr int kClocksPerQuarter = 24;

// Where MIDI clock messages go; each carries its due time and comes lookAhead() before it.
class ClockOutput {
 public:
  virtual ~ClockOutput() = default;
  // One packed system message (status in bits 0-7, data bytes above).
  virtual void sendSystem(std::uint32_t word, DueTime due) = 0;
  virtual std::chrono::microseconds lookAhead() { return std::chrono::microseconds(0); }
};

// A Song Position Pointer: `sixteenths` since the song's start, kept within 14 bits.
std::uint32_t songPositionWord(std::int64_t sixteenths);

// The song's musical position (whole notes since its start) at the tick of
// `songPosition` and `step`, from the steps' exact lengths; 0 when it is not played.
MusicalTime musicalPositionOf(const Timeline& song, int songPosition, int step);

// The first tick at or after the musical position `at` (whole notes since the song's
// start): where a song located by a Song Position Pointer goes on. False past its end.
bool tickAtOrAfter(const Timeline& song, MusicalTime at, int* songPosition, int* step);

class MidiClockSchedule {
 public:
  struct Message {
    std::uint32_t word = 0;
    DueTime due{};
    std::int64_t clock = -1;  // a clock's index; -1 for the other messages
  };

  // The song starts at `from` (whole notes since its start) with its first step due at
  // `due`: Start there from the beginning, else Song Position Pointer and Continue.
  void start(MusicalTime from, DueTime due);
  // One step handed over: due at `due`, the next at `next`, `length` whole notes long
  // (none: as long as the step before). Queues the clocks that fall inside it.
  void addStep(DueTime due, DueTime next, std::optional<MusicalTime> length);
  // The step after the one handed over, as it is expected (`next` from its own interval
  // at the tempo scale now), so that its clocks can go ahead of time to an output that
  // wants them earlier than the step itself is handed over. confirmStep() then says how
  // it came: the clocks not yet taken are placed again where it differs (a tempo scale
  // changed, a new version of the song took over).
  void previewStep(DueTime due, DueTime next, std::optional<MusicalTime> length);
  void confirmStep(DueTime next, std::optional<MusicalTime> length);
  bool previewed() const { return preview_.valid; }
  // Stop at `due`, after what is queued.
  void stop(DueTime due);
  // Forgets what is queued (Pause, Stop).
  void clear() {
    queue_.clear();
    preview_.valid = false;
  }
  // Moves what is queued by `by` (a song that started late).
  void shift(std::chrono::nanoseconds by);

  bool empty() const { return queue_.empty(); }
  const Message& front() const { return queue_.front(); }
  void pop() { queue_.pop_front(); }

 private:
  std::deque<Message> queue_;
  MusicalTime position_;           // of the next step
  MusicalTime lastLength_{1, 16};  // for a step with no length of its own
  std::int64_t nextClock_ = 0;     // index of the next clock (1/96 of a whole each)
  struct Preview {
    bool valid = false;
    DueTime due{};
    DueTime next{};
    MusicalTime position;  // where the step starts
    MusicalTime length;
    std::int64_t firstClock = 0;
  } preview_;
};

}  // namespace pulsewright
