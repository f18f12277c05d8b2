#include "playback/MidiClockSchedule.h"

#include <algorithm>

namespace pulsewright {

namespace {

constexpr std::int64_t kClocksPerWhole = 4 * kClocksPerQuarter;

// ceil(t × units), t at or above 0.
std::int64_t unitsAtOrAfter(const MusicalTime& t, std::int64_t units) {
  const WideInt scaled = static_cast<WideInt>(t.num) * units;
  WideInt q = scaled / t.den;
  if (q * t.den < scaled) ++q;
  return static_cast<std::int64_t>(q);
}

}  // namespace

std::uint32_t songPositionWord(std::int64_t sixteenths) {
  const auto beats = static_cast<std::uint32_t>(std::clamp<std::int64_t>(sixteenths, 0, 16383));
  return kMidiSongPosition | (beats & 0x7F) << 8 | (beats >> 7) << 16;
}

MusicalTime musicalPositionOf(const Timeline& song, int songPosition, int step) {
  MusicalTime at;
  MusicalTime last{1, 16};
  Timeline::Cursor cursor = song.begin();
  TimelineTick tick;
  while (cursor.next(&tick)) {
    if (tick.songPosition == songPosition && tick.step == step) return at;
    if (tick.songPosition > songPosition) break;
    if (tick.music != nullptr) {
      if (const std::optional<MusicalTime> length = exactLengthOf(*tick.music)) last = *length;
    }
    const std::optional<MusicalTime> next = at + last;
    if (!next) break;
    at = *next;
  }
  return tick.songPosition == songPosition && tick.step == step ? at : MusicalTime{};
}

bool tickAtOrAfter(const Timeline& song, MusicalTime at, int* songPosition, int* step) {
  MusicalTime position;
  MusicalTime last{1, 16};
  Timeline::Cursor cursor = song.begin();
  TimelineTick tick;
  while (cursor.next(&tick)) {
    if (!(position < at)) {
      *songPosition = tick.songPosition;
      *step = tick.step;
      return true;
    }
    if (tick.music != nullptr) {
      if (const std::optional<MusicalTime> length = exactLengthOf(*tick.music)) last = *length;
    }
    const std::optional<MusicalTime> next = position + last;
    if (!next) return false;
    position = *next;
  }
  return false;
}

void MidiClockSchedule::start(MusicalTime from, DueTime due) {
  queue_.clear();
  position_ = from.num > 0 ? from : MusicalTime{};
  nextClock_ = unitsAtOrAfter(position_, kClocksPerWhole);
  if (position_.num == 0) {
    queue_.push_back({kMidiStart, due});
    return;
  }
  // A receiver goes on from the pointer's sixteenth with the first clock after Continue.
  const std::int64_t sixteenths =
      static_cast<std::int64_t>(static_cast<WideInt>(position_.num) * 16 / position_.den);
  queue_.push_back({songPositionWord(sixteenths), due});
  queue_.push_back({kMidiContinue, due});
}

void MidiClockSchedule::addStep(DueTime due, DueTime next, std::optional<MusicalTime> length) {
  if (length && length->num > 0) lastLength_ = *length;
  const MusicalTime step = lastLength_;
  const std::optional<MusicalTime> end = position_ + step;
  if (!end) return;  // past 64-bit fractions: no clock is placed wrong, only none at all
  const auto span = std::chrono::duration<long double, std::nano>(next - due).count();
  // Clock k lies at k / 96 of a whole: (k / 96 - position) / length of the way through.
  const WideInt endNum = static_cast<WideInt>(end->num) * kClocksPerWhole;
  for (std::int64_t k = nextClock_; static_cast<WideInt>(k) * end->den < endNum; ++k) {
    const long double into =
        static_cast<long double>(static_cast<WideInt>(k) * position_.den -
                                 static_cast<WideInt>(position_.num) * kClocksPerWhole) *
        step.den / (static_cast<long double>(position_.den) * kClocksPerWhole * step.num);
    const auto offset = std::chrono::nanoseconds(
        static_cast<std::int64_t>(std::max<long double>(0, into) * span + 0.5L));
    queue_.push_back({kMidiClock, due + offset, k});
    nextClock_ = k + 1;
  }
  position_ = *end;
}

void MidiClockSchedule::previewStep(DueTime due, DueTime next, std::optional<MusicalTime> length) {
  preview_.valid = true;
  preview_.due = due;
  preview_.next = next;
  preview_.position = position_;
  preview_.firstClock = nextClock_;
  addStep(due, next, length);
  preview_.length = lastLength_;
}

void MidiClockSchedule::confirmStep(DueTime next, std::optional<MusicalTime> length) {
  if (!preview_.valid) return;
  preview_.valid = false;
  const MusicalTime actual = length && length->num > 0 ? *length : preview_.length;
  if (next == preview_.next && actual == preview_.length) return;
  // The step's clocks still queued go again, placed by what the step is.
  std::int64_t from = nextClock_;
  while (!queue_.empty() && queue_.back().clock >= preview_.firstClock) {
    from = queue_.back().clock;
    queue_.pop_back();
  }
  position_ = preview_.position;
  lastLength_ = preview_.length;
  const std::int64_t taken = from;
  nextClock_ = preview_.firstClock;
  std::deque<Message> kept;
  kept.swap(queue_);
  addStep(preview_.due, next, actual);
  // Those already taken were sent: only the rest are queued again.
  while (!queue_.empty() && queue_.front().clock >= 0 && queue_.front().clock < taken) {
    queue_.pop_front();
  }
  kept.insert(kept.end(), queue_.begin(), queue_.end());
  queue_.swap(kept);
}

void MidiClockSchedule::stop(DueTime due) {
  if (!queue_.empty()) due = std::max(due, queue_.back().due);
  queue_.push_back({kMidiStop, due});
}

void MidiClockSchedule::shift(std::chrono::nanoseconds by) {
  for (Message& m : queue_) m.due += by;
  preview_.due += by;
  preview_.next += by;
}

}  // namespace pulsewright
