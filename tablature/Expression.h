#pragma once
// What an item plays around its tick: the grace notes of a flam or a drag, the strokes
// of a buzz roll, the sound a cross-stick, rimshot, bell or edge asks of the kit, the cut
// of a choke or a half-open hi-hat, and the moves of humanize. Play, render and MIDI
// export all read it here, so they agree. Nothing in it allocates.

#include <array>
#include <cstddef>
#include <cstdint>

#include "tablature/Timeline.h"

namespace pulsewright {

// The General MIDI notes of the sounds the marks ask for.
inline constexpr int kCrossStickNote = 37;
inline constexpr int kRideBellNote = 53;
inline constexpr int kOpenHatNote = 46;
// A ride line's edge plays the key electronic kits send for it (GM's second ride).
inline constexpr int kRideNote = 51;
inline constexpr int kRideEdgeNote = 59;
// Timing of the marks, in milliseconds from the main note.
inline constexpr int kFlamGraceMs = 30;    // 25-35 before
inline constexpr int kDragGraceMs = 25;    // each grace 25 after the last
inline constexpr int kBuzzStrokeMs = 30;   // a press roll's stroke rate
inline constexpr int kHalfOpenCutMs = 60;  // the open hat is cut this late
inline constexpr int kMaxHumanizeMs = 50;
// How far before its tick an item's earliest event can come: two drag graces and the
// largest humanize.
inline constexpr int kExpressionLeadMs = 2 * kDragGraceMs + kMaxHumanizeMs;

struct ExpressionEvent {
  enum class Type : std::uint8_t {
    NoteOn,
    NoteOff,
    Cut,     // stop what `note` sounds: polyphonic aftertouch 127 then 0 on MIDI outputs
    Sample,  // the item's sample file at `volume`
  };
  Type type = Type::NoteOn;
  std::int32_t offsetMs = 0;  // from the tick; negative before it
  std::uint8_t note = 0;
  std::uint8_t velocity = 0;
  std::int16_t volume = 0;
};

// The events of one item, in the order they are sent (not always in time order).
class ExpressionEvents {
 public:
  // Room for a buzz roll of some 4 s at its stroke rate: a longer one spreads its strokes.
  static constexpr std::size_t kMax = 256;
  void clear() { count_ = 0; }
  void push(const ExpressionEvent& event) {
    if (count_ < kMax) events_[count_++] = event;
  }
  std::size_t size() const { return count_; }
  const ExpressionEvent* begin() const { return events_.data(); }
  const ExpressionEvent* end() const { return events_.data() + count_; }
  const ExpressionEvent& operator[](std::size_t i) const { return events_[i]; }

 private:
  std::array<ExpressionEvent, kMax> events_{};
  std::size_t count_ = 0;
};

// Where an item is played: humanize's seed, and how long a buzz roll lasts.
struct ExpressionPlace {
  int part = 0;
  int step = 0;
  int songPosition = 1;
  std::size_t item = 0;  // its index among the step's items
  std::int64_t stepMs = 0;
};

// Whether `item` plays anything but its plain note: an articulation, or a humanized
// part's hit. Other items are sent as they always were.
inline bool playsExpression(const TimelineItem& item, const TimelinePart& part) {
  return item.articulation != Articulation::None ||
         (part.humanizeMs > 0 && !item.isRest() && item.kind != TimelineItem::Kind::Skip);
}

// How much later than its straight place swing plays step `step` of `part`, in
// milliseconds: the second step of each swung pair is late, other steps are not.
int swingDelayMs(const TimelinePart& part, std::size_t step);

// The events of `item` of `part` at `place`, into `out` (cleared first).
void expandItem(const TimelineItem& item, const TimelinePart& part, const ExpressionPlace& place,
                ExpressionEvents* out);

}  // namespace pulsewright
