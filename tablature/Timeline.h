#pragma once
// The song as it will be played: every step of every part with its items typed once
// (no event string is read again while playing), and the song order with the exact time
// of every tick, its musical position and the grid characters behind its items.
//
// The times are those of the step sequencer: the first tick comes one duration of step 0
// of the document's first part after Play; each tick plays one step of the part that the
// song character names and waits that step's duration. A duration of 0 ends the song
// after its step; a negative one keeps the interval before.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "padmap/DrumVoice.h"
#include "tablature/Articulation.h"
#include "tablature/MusicalTime.h"
#include "tablature/PartTable.h"

namespace pulsewright {

// Which sound a grid line's symbol stands for: one of the seventeen drum voices, a
// wave-sample line's sample, or nothing the document has defined yet.
struct ItemVoice {
  enum class Kind : std::uint8_t { Drum, Sample, None };
  Kind kind = Kind::None;
  std::uint8_t drum = 0;  // index of the DrumVoice when kind is Drum

  DrumVoice drumVoice() const { return static_cast<DrumVoice>(drum); }
  bool operator==(const ItemVoice&) const = default;
};

class Timeline;
struct TimelinePart;
struct TimelineStep;

// One grid character of a step: what it is as written and what it sends.
struct TimelineItem {
  enum class Kind : std::uint8_t {
    Note,    // note-on `note` at `velocity`, then its note-off
    Rest,    // a rest: note 0, sent as a note so that outputs hear what they always did
    Sample,  // the sample file `file` at `volume` (level + 1) and `pan`
    Skip,    // a note number no MIDI message can carry: nothing is sent
  };
  Kind kind = Kind::Skip;
  // The voice of the grid line's symbol. A symbol that names nothing plays the sound of
  // the grid line before it, and so has that line's voice.
  ItemVoice voice;
  char mark = '-';        // the grid character: x X o O, a digit, or - for a rest
  std::int8_t level = 0;  // 0-9: x and o are 5, X and O are 7, a rest is 0
  Articulation articulation = Articulation::None;
  std::uint8_t note = 0;
  std::uint8_t velocity = 0;
  std::int16_t volume = 0;
  std::int16_t pan = 0;
  std::int32_t file = -1;    // index into Timeline::sampleFiles(); -1 for no file
  std::int32_t symbol = -1;  // index into Timeline::symbols(): the grid line's symbol
  std::int32_t sound = -1;   // index into Timeline::sounds(): the pad-map entry or "pan#file"
  // The grid character (one character long); line 0 when not known.
  SourcePosition source;

  bool isRest() const { return mark == '-'; }
};

// Eight bytes, as a 10 MB grid line has millions of steps. A step's items run from its
// firstItem to the next step's (the part's last step: to the end of the part's items),
// so they are asked of the part: TimelinePart::itemsOf.
struct TimelineStep {
  std::int16_t duration = 0;  // milliseconds
  // Index into the part's musics(): the values are stored once per change, not per step.
  // A part has one tempo and note size and at most 32768 tuplet divisors, so 16 bits do.
  std::uint16_t music = 0;
  std::uint32_t firstItem = 0;
};

// A part's items, stored packed: per item only its column and what it is made from.
// A grid line's items are made from the line (its number and position) and the line's
// hit, which its grid characters vary by level; other items from a whole item less its
// column, shared by consecutive items that are alike. A 10 MB grid line then costs 8
// bytes per item, and a grid line of a long document 12 bytes beside its items, instead
// of a whole TimelineItem per character it uses. Reading gives whole TimelineItem values.
class TimelineItems {
 public:
  std::size_t size() const { return packed_.size(); }
  bool empty() const { return packed_.empty(); }
  TimelineItem operator[](std::size_t i) const {
    const Packed p = packed_[i];
    const std::uint32_t slot = p.shape & kSlotMask;
    const std::uint32_t index = p.shape >> kSlotBits;
    if (slot == kWholeItem) {
      TimelineItem item = shapes_[index];
      // A shape keeps the UTF-16 offset less the column, which a grid line's items share.
      item.source.utf16 += static_cast<int>(p.column);
      item.source.column = static_cast<int>(p.column);
      return item;
    }
    const LineShape& line = grid_->lines[index];
    TimelineItem item = markOf(grid_->hits[line.hit], slot);
    item.source = SourcePosition{line.line, static_cast<int>(p.column),
                                 line.utf16LessColumn + static_cast<int>(p.column)};
    return item;
  }
  // Any item; one whose shape is that of the item before costs no new shape.
  void push_back(const TimelineItem& item);
  void reserve(std::size_t n) { packed_.reserve(n); }
  void clear() {
    packed_.clear();
    shapes_.clear();
    grid_.reset();
  }

  class Iterator {
   public:
    using value_type = TimelineItem;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Iterator(const TimelineItems* items, std::size_t i) : items_(items), i_(i) {}
    TimelineItem operator*() const { return (*items_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++i_;
      return before;
    }
    bool operator==(const Iterator& other) const { return i_ == other.i_; }

   private:
    const TimelineItems* items_ = nullptr;
    std::size_t i_ = 0;
  };
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, size()); }

  class Range;
  Range range(std::size_t first, std::size_t count) const;

 private:
  friend class TablatureCompiler;
  friend void appendStepEvents(const Timeline& song, const TimelinePart& part,
                               const TimelineStep& step, std::string* out);
  // The low bits of Packed::shape: a grid character's slot (0 a rest, 1-4 x X o O, 5-14
  // the digits 0-9), whose item is made from a line shape, or kWholeItem for a shape
  // that is a whole item. The high bits index grid_->lines or shapes_.
  static constexpr std::uint32_t kSlotBits = 4;
  static constexpr std::uint32_t kSlotMask = (1U << kSlotBits) - 1;
  static constexpr std::uint32_t kWholeItem = kSlotMask;
  static constexpr std::size_t kMaxShapes = std::size_t{1} << (32 - kSlotBits);
  struct Packed {
    // Left unset, so that the compiler can size a line's items before writing them once.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init,hicpp-member-init)
    Packed() {}
    Packed(std::uint32_t shape, std::uint32_t column) : shape(shape), column(column) {}
    std::uint32_t shape;
    std::uint32_t column;
  };
  // A grid line: its number, the UTF-16 offset of its characters less their column, and
  // its hit, what an x of the line sends, its level and mark aside.
  struct LineShape {
    std::int32_t line;
    std::int32_t utf16LessColumn;
    std::uint32_t hit;  // index into GridShapes::hits
  };
  // The grid lines of a whole compilation, which every part it made shares: a part then
  // allocates nothing for them. Never changed once the compilation is over.
  struct GridShapes {
    std::vector<TimelineItem> hits;
    std::vector<LineShape> lines;
  };
  // The item of grid character slot `slot` (not kWholeItem) of a line whose hit is `hit`;
  // its source is left to the caller.
  static TimelineItem markOf(const TimelineItem& hit, std::uint32_t slot);
  // `item` less its column, as a shape; returns its index.
  std::uint32_t addShape(const TimelineItem& item);
  std::vector<Packed> packed_;
  std::vector<TimelineItem> shapes_;
  std::shared_ptr<const GridShapes> grid_;  // null until a grid line's item is added
};

// Consecutive items of a part, read as TimelineItem values.
class TimelineItems::Range {
 public:
  using Iterator = TimelineItems::Iterator;
  Range(const TimelineItems* items, std::size_t first, std::size_t count)
      : items_(items), first_(first), count_(count) {}
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  TimelineItem operator[](std::size_t i) const { return (*items_)[first_ + i]; }
  Iterator begin() const { return Iterator(items_, first_); }
  Iterator end() const { return Iterator(items_, first_ + count_); }

 private:
  const TimelineItems* items_;
  std::size_t first_;
  std::size_t count_;
};

inline TimelineItems::Range TimelineItems::range(std::size_t first, std::size_t count) const {
  return Range(this, first, count);
}

// The durations of a part's tail steps, of which there are at most two: held in place,
// as a long document has thousands of parts.
class TailDurations {
 public:
  static constexpr std::size_t kMax = 2;
  TailDurations() = default;
  TailDurations(std::initializer_list<std::int16_t> durations) {
    for (const std::int16_t d : durations) push_back(d);
  }
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  std::int16_t operator[](std::size_t i) const { return values_[i]; }
  const std::int16_t* begin() const { return values_.data(); }
  const std::int16_t* end() const { return values_.data() + count_; }
  // A third duration has no tail step to go to.
  void push_back(std::int16_t duration) {
    if (count_ == kMax) throw std::length_error("a part has at most two tail steps");
    values_[count_++] = duration;
  }

 private:
  std::array<std::int16_t, kMax> values_{};
  std::uint8_t count_ = 0;
};

// A time signature: `beats` notes of 1/`beatUnit` to the bar.
struct Metre {
  int beats = 4;
  int beatUnit = 4;
  // False when the grid lines did not say (no bar lines, or lines that disagree): the
  // part is then taken as 4/4.
  bool fromBars = false;
  bool operator==(const Metre&) const = default;
};

// Whether a section line's `metre =` can say it: 1 to 64 beats of 1, 2, 4, 8, 16, 32 or 64
// (a time signature such as 9/9 or 4/3, read from a foreign file, cannot be written).
constexpr bool isWritableMetre(int beats, int beatUnit) {
  return beats >= 1 && beats <= 64 && beatUnit >= 1 && beatUnit <= 64 &&
         (beatUnit & (beatUnit - 1)) == 0;
}

// The metre of a bar of `notes` steps of 1/`noteSize` (a tuplet step counts its share):
// 8 eighths are 4/4, 6 eighths 3/4, 12 eighths 12/8. None when they make no metre.
std::optional<Metre> metreOfBar(double notes, double noteSize);

// The exact length of a step of `music`: a 1/noteSize note shared by tupletDivisor steps,
// 1 / (noteSize × divisor) of a whole. None for a note size of 0 or less (the step keeps
// the length before, as it keeps the interval before) or one no small fraction holds.
std::optional<MusicalTime> exactLengthOf(const StepMusic& music);

// Where a step stands in musical time, in fractions of a whole note.
struct StepPosition {
  int bar = 0;           // from 0
  MusicalTime fromPart;  // since the part's first step
  MusicalTime fromBar;   // since its bar's first step
  MusicalTime length;
  // False when the step's music gives no length: it lasts as long as the step before it,
  // and `length` is that step's.
  bool ownLength = true;
};

// Consecutive steps of a part with one music, and so one length: a part has a few, as
// only tuplet brackets change the music within a part. Made by the compiler as it reads.
struct PositionRun {
  std::uint32_t firstStep = 0;
  // As StepPosition::ownLength: false when the steps last as long as the step before.
  bool ownLength = true;
  bool exactLength = true;  // false: a length no fraction holds, or none before to keep
  bool exactStart = true;   // false: a start past 64-bit fractions, or after an inexact run
  MusicalTime start;        // of its first step, since the part's first step
  MusicalTime length;       // of each of its steps
};

struct TimelinePart {
  std::string name;
  std::int16_t program = -1;  // sent before every step when 0-127
  int sectionLine = 0;
  // The steps a tick can play: the part's steps without the two tail steps that only
  // carry a duration. Empty for a part with no grid line.
  std::vector<TimelineStep> steps;
  TimelineItems items;
  // The musical values steps refer to; index 0 is that of a step no grid line timed.
  std::vector<StepMusic> musics{StepMusic{}};
  // Durations of the tail steps after `steps` (compile's JSON shows them).
  TailDurations tailDurations;
  // The bar lines of the part's grid lines, as the step index each stands before
  // (the grid's opening bar line is 0, a closing one is the number of steps).
  std::vector<std::int32_t> bars;
  Metre metre;
  // Expression of the section line: swing splits each pair of steps at the part's note
  // value P:100-P (50 is straight); humanize moves hits by up to this many milliseconds.
  std::int8_t swingPercent = 50;
  std::int16_t humanizeMs = 0;
  // The swing as written (66.7 for a triplet feel); swingPercent is it rounded. The
  // step durations are already swung by it.
  double swingExactPercent = 50.0;
  // Whether any item plays more than its note (a mark or humanize): players then hand
  // its ticks over early enough for grace notes.
  bool expressive = false;
  // The sticking line's character for each step ('-' for none); empty without one.
  std::string sticking;
  // The steps' exact positions, run by run from step 0: the first run in place (most
  // parts have only it), then the others. A part with no steps has none.
  PositionRun firstPositionRun;
  std::vector<PositionRun> laterPositionRuns;

  // The run that holds step `step`; null when there is none.
  const PositionRun* positionRunOf(std::size_t step) const;
  // The exact musical position of step `step`; none past the steps or where no exact
  // length is known. Its bar follows the part's bar lines where the grid has any inside,
  // otherwise bars of the part's metre.
  std::optional<StepPosition> positionOf(std::size_t step) const;

  // `step` is one of `steps`.
  TimelineItems::Range itemsOf(const TimelineStep& step) const {
    const TimelineStep* first = steps.data();
    const std::less<const TimelineStep*> before;
    if (before(&step, first) || !before(&step, first + steps.size())) return items.range(0, 0);
    const auto index = static_cast<std::size_t>(&step - first);
    const std::size_t end = index + 1 < steps.size() ? steps[index + 1].firstItem : items.size();
    return items.range(step.firstItem, end > step.firstItem ? end - step.firstItem : 0);
  }
  const StepMusic& musicOf(const TimelineStep& step) const {
    return step.music < musics.size() ? musics[step.music] : musics.front();
  }
  bool sendsProgram() const { return program >= 0 && program <= 127; }
  bool hasSteps() const { return !steps.empty(); }
};

// The parts as the compiler read them, before the song line orders them. Index 0 is a
// placeholder that collects grid lines standing above every section line.
class Timeline;
class GridModel;
struct SongParts {
  std::vector<TimelinePart> parts;
  std::vector<std::string> sampleFiles;
  std::vector<std::string> symbols;
  std::vector<std::string> sounds;
  // The grid lines the parts were read from; null for parts made otherwise.
  std::shared_ptr<const GridModel> grid;
};

// One tick of the song.
struct TimelineTick {
  std::int64_t timeMs = 0;             // since Play
  int songPosition = 1;                // from 1
  std::string_view character;          // the song character ("" past the end)
  int part = 0;                        // index into Timeline::parts() (and the part table)
  int step = 0;                        // the step number, from 0 ("Step: 1")
  const TimelineStep* data = nullptr;  // null when the part has no such step
  const StepMusic* music = nullptr;    // the musical values of `data`; null with it
  std::int64_t intervalMs = 0;         // until the next tick
  bool last = false;                   // the song is over after this tick
};

// MIDI velocity of a grid level: floor((L + 1) / 10 * 127), kept within 0-127.
int velocityOfLevel(double level);

// The characters of a song line: one per code point, so a part named "é" can be named.
std::vector<std::string> songCharacters(std::string_view songLine);

// Which part each song character plays: the last record of the part it names, or, for
// a character that names none, the part the character before it played (part 1 at
// first). Only the names of `characters` (and "", past the song line's end) are known.
class SongPartPicker {
 public:
  SongPartPicker(const std::vector<TimelinePart>& parts,
                 const std::vector<std::string_view>& characters);
  // The part `character` plays after `part`; false when it names none (and `part` stays).
  bool pick(std::string_view character, int& part) const {
    const auto found = byName_.find(character);
    if (found == byName_.end() || found->second < 0) return false;
    part = found->second;
    return true;
  }

 private:
  std::unordered_map<std::string_view, int> byName_;
};

// A step's items as the text compile's JSON shows ("36,7|0,0|-20#clap.wav,5|"),
// appended to `out`.
void appendStepEvents(const Timeline& song, const TimelinePart& part, const TimelineStep& step,
                      std::string* out);

// "Song Part:1  Part: A  Step: 1  Program: 0", the status line of a tick; no program
// when the part has none.
std::string statusText(const TimelineTick& tick, const TimelinePart& part);

class Timeline {
 public:
  Timeline() = default;
  // Orders the parts the compiler read by the song line and times every tick.
  static Timeline build(SongParts parts, std::string songLine);
  // The same parts in the order of another song line.
  Timeline withSongLine(std::string songLine) const;

  // Whether the song starts at all: it needs a first part with steps and a first
  // duration above 0.
  bool playable() const { return !segments_.empty(); }
  const std::vector<TimelinePart>& parts() const { return parts_; }
  const std::vector<std::string>& sampleFiles() const { return sampleFiles_; }
  const std::string& sampleFile(std::int32_t index) const;
  // The grid symbols and sound texts items refer to, each once.
  const std::vector<std::string>& symbols() const { return symbols_; }
  const std::vector<std::string>& sounds() const { return sounds_; }
  // The grid lines the compiler read the parts from; null when the parts were not
  // compiled from a document (or were changed since).
  const GridModel* gridModel() const { return grid_.get(); }
  const std::shared_ptr<const GridModel>& sharedGridModel() const { return grid_; }
  // The song line the song order was made from.
  const std::string& songLine() const { return songLine_; }
  // Song characters, one per code point.
  const std::vector<std::string>& songCharacters() const { return characters_; }
  // Time of the last tick.
  std::int64_t lastTickMs() const { return lastTickMs_; }
  // Number of song positions that are played (the song may end before its line does).
  int songLength() const { return static_cast<int>(segments_.size()); }

  // Walks the ticks in order.
  class Cursor {
   public:
    // False once the song is over.
    bool next(TimelineTick* tick);

   private:
    friend class Timeline;
    const Timeline* timeline_ = nullptr;
    std::size_t segment_ = 0;
    int step_ = 0;
    std::int64_t timeMs_ = 0;
    std::int64_t interval_ = 0;
  };
  Cursor begin() const;
  // From song position `songPosition` (from 1), step `step`, as if the song had been
  // played up to there; times count from that tick's time. A position that is not played
  // gives a cursor with no ticks; a step past the part's steps starts the position.
  Cursor at(int songPosition, int step) const;
  // The time of the tick at `songPosition` and `step`; -1 when no such tick is played.
  std::int64_t timeOf(int songPosition, int step) const;

 private:
  struct Segment {
    int part = 0;
    std::int64_t startMs = 0;
    std::int64_t intervalIn = 0;  // the interval in force before its first tick
    int steps = 1;                // ticks played at this position
  };
  std::string_view characterAt(std::size_t segment) const;
  int ticksAt(const Segment& segment) const;

  std::vector<TimelinePart> parts_;
  std::vector<std::string> sampleFiles_;
  std::vector<std::string> symbols_;
  std::vector<std::string> sounds_;
  std::shared_ptr<const GridModel> grid_;
  std::string songLine_;
  std::vector<std::string> characters_;
  std::vector<Segment> segments_;
  std::int64_t lastTickMs_ = 0;
};

}  // namespace pulsewright
