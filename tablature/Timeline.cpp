#include "tablature/Timeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#include "text/NumericValue.h"
#include "text/Utf8.h"

namespace pulsewright {

int velocityOfLevel(double level) {
  const double v = std::floor((level + 1.0) / 10.0 * 127.0);
  if (!(v >= 0.0)) return 0;
  if (v > 127.0) return 127;
  return static_cast<int>(v);
}

std::optional<Metre> metreOfBar(double notes, double noteSize) {
  if (!(noteSize >= 1.0) || !(notes > 0.0) || noteSize > 1024.0 || notes > 1024.0) {
    return std::nullopt;
  }
  auto whole = [](double v) { return std::abs(v - std::round(v)) < 1e-6; };
  if (!whole(notes) || !whole(noteSize)) return std::nullopt;
  const double quarters = notes * 4.0 / noteSize;
  Metre m;
  m.fromBars = true;
  // Six or more quarters in threes of eighths or shorter notes read as compound time.
  const bool compound = whole(quarters) && noteSize >= 8.0 &&
                        static_cast<long>(std::round(quarters)) % 3 == 0 && quarters >= 6.0;
  if (whole(quarters) && !compound) {
    m.beats = static_cast<int>(std::round(quarters));
    m.beatUnit = 4;
  } else if (whole(quarters * 2.0)) {
    m.beats = static_cast<int>(std::round(quarters * 2.0));
    m.beatUnit = 8;
  } else {
    m.beats = static_cast<int>(std::round(notes));
    m.beatUnit = static_cast<int>(std::round(noteSize));
  }
  return m;
}

std::optional<MusicalTime> exactLengthOf(const StepMusic& music) {
  const double noteSize = music.noteSize;
  if (!(noteSize > 0.0) || !std::isfinite(noteSize) || music.tupletDivisor < 1) {
    return std::nullopt;
  }
  if (noteSize == std::floor(noteSize) && noteSize <= static_cast<double>(std::int64_t{1} << 40)) {
    return MusicalTime{1, static_cast<std::int64_t>(noteSize) * music.tupletDivisor};
  }
  // A note size as read from text: a whole number, or one with a short binary fraction
  // (6.5), which a double holds exactly.
  std::int64_t scale = 1;
  double scaled = noteSize;
  while (scaled != std::floor(scaled) && scale < (std::int64_t{1} << 20)) {
    scaled *= 2.0;
    scale *= 2;
  }
  if (scaled != std::floor(scaled) || scaled > static_cast<double>(std::int64_t{1} << 40)) {
    return std::nullopt;
  }
  return MusicalTime::of(scale, static_cast<std::int64_t>(scaled) * music.tupletDivisor);
}

const PositionRun* TimelinePart::positionRunOf(std::size_t step) const {
  if (step >= steps.size()) return nullptr;
  const auto after =
      std::upper_bound(laterPositionRuns.begin(), laterPositionRuns.end(), step,
                       [](std::size_t s, const PositionRun& run) { return s < run.firstStep; });
  return after == laterPositionRuns.begin() ? &firstPositionRun : &*std::prev(after);
}

std::optional<StepPosition> TimelinePart::positionOf(std::size_t step) const {
  auto offsetOf = [this](std::size_t s) -> std::optional<MusicalTime> {
    const PositionRun* run = positionRunOf(s);
    if (run == nullptr || !run->exactStart || !run->exactLength) return std::nullopt;
    const std::optional<MusicalTime> within =
        run->length * static_cast<std::int64_t>(s - run->firstStep);
    return within ? run->start + *within : std::nullopt;
  };
  const std::optional<MusicalTime> offset = offsetOf(step);
  if (!offset) return std::nullopt;
  const PositionRun& run = *positionRunOf(step);
  StepPosition position;
  position.fromPart = *offset;
  position.length = run.length;
  position.ownLength = run.ownLength;
  // The bar lines inside the grid, when it has any; the opening one stands before step 0.
  const auto firstInner = std::upper_bound(bars.begin(), bars.end(), 0);
  if (firstInner != bars.end() && static_cast<std::size_t>(*firstInner) < steps.size()) {
    const auto after = std::upper_bound(firstInner, bars.end(), static_cast<std::int32_t>(step));
    position.bar = static_cast<int>(after - firstInner);
    const std::size_t barStep = after == firstInner ? 0 : static_cast<std::size_t>(*(after - 1));
    const std::optional<MusicalTime> barStart = offsetOf(barStep);
    const std::optional<MusicalTime> fromBar =
        barStart ? *offset - *barStart : std::optional<MusicalTime>();
    if (!fromBar) return std::nullopt;
    position.fromBar = *fromBar;
    return position;
  }
  // Otherwise bars of the metre, from the part's first step.
  const bool metreValid = metre.beats > 0 && metre.beatUnit > 0;
  const MusicalTime barLength =
      *MusicalTime::of(metreValid ? metre.beats : 4, metreValid ? metre.beatUnit : 4);
  const WideInt bar = static_cast<WideInt>(offset->num) * barLength.den /
                      (static_cast<WideInt>(offset->den) * barLength.num);
  if (bar < 0 || bar > std::numeric_limits<int>::max()) return std::nullopt;
  const std::optional<MusicalTime> barStart = barLength * static_cast<std::int64_t>(bar);
  const std::optional<MusicalTime> fromBar =
      barStart ? *offset - *barStart : std::optional<MusicalTime>();
  if (!fromBar) return std::nullopt;
  position.bar = static_cast<int>(bar);
  position.fromBar = *fromBar;
  return position;
}

std::vector<std::string> songCharacters(std::string_view s) {
  std::vector<std::string> chars;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t len = characterBytes(s, i);
    chars.emplace_back(s.substr(i, len));
    i += len;
  }
  return chars;
}

namespace {
// The level of each grid character slot.
constexpr std::array<std::uint8_t, 15> kSlotLevels = {0, 5, 7, 5, 7, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
}  // namespace

TimelineItem TimelineItems::markOf(const TimelineItem& hit, std::uint32_t slot) {
  // Velocities by level, worked out once.
  static const std::array<std::uint8_t, 10> kVelocities = [] {
    std::array<std::uint8_t, 10> v{};
    for (int l = 0; l < 10; ++l) v[l] = static_cast<std::uint8_t>(velocityOfLevel(l));
    return v;
  }();
  static constexpr std::array<char, 15> kMarks = {'-', 'x', 'X', 'o', 'O', '0', '1', '2',
                                                  '3', '4', '5', '6', '7', '8', '9'};

  if (slot == 0) {
    // A rest keeps only the line's symbol.
    TimelineItem rest;
    rest.kind = TimelineItem::Kind::Rest;
    rest.symbol = hit.symbol;
    rest.velocity = kVelocities[0];
    return rest;
  }
  TimelineItem item = hit;
  const std::uint8_t level = kSlotLevels[slot];
  item.level = static_cast<std::int8_t>(level);
  item.mark = kMarks[slot];
  if (item.kind == TimelineItem::Kind::Sample) {
    item.volume = static_cast<std::int16_t>(level + 1);
  } else if (item.kind != TimelineItem::Kind::Skip) {
    item.velocity = kVelocities[level];
  }
  return item;
}

std::uint32_t TimelineItems::addShape(const TimelineItem& item) {
  if (shapes_.size() >= kMaxShapes) throw std::length_error("too many item shapes in a part");
  TimelineItem shape = item;
  shape.source.utf16 = item.source.utf16 - item.source.column;
  shape.source.column = 0;
  shapes_.push_back(shape);
  return static_cast<std::uint32_t>(shapes_.size() - 1);
}

void TimelineItems::push_back(const TimelineItem& item) {
  std::uint32_t shape = 0;
  const TimelineItem* last = shapes_.empty() ? nullptr : &shapes_.back();
  // The last shape may be a grid line's hit, which is a whole item as well.
  if (last != nullptr && last->kind == item.kind && last->voice == item.voice &&
      last->mark == item.mark && last->level == item.level &&
      last->articulation == item.articulation && last->note == item.note &&
      last->velocity == item.velocity && last->volume == item.volume && last->pan == item.pan &&
      last->file == item.file && last->symbol == item.symbol && last->sound == item.sound &&
      last->source.line == item.source.line &&
      last->source.utf16 == item.source.utf16 - item.source.column) {
    shape = static_cast<std::uint32_t>(shapes_.size() - 1);
  } else {
    shape = addShape(item);
  }
  packed_.push_back(
      Packed{(shape << kSlotBits) | kWholeItem, static_cast<std::uint32_t>(item.source.column)});
}

std::string statusText(const TimelineTick& tick, const TimelinePart& part) {
  // Steps count from 1, as the bars and beats do; a part with no program sends none.
  std::string text = "Song Part:" + std::to_string(tick.songPosition) +
                     "  Part: " + std::string(tick.character) +
                     "  Step: " + std::to_string(tick.step + 1);
  if (part.program >= 0) text += "  Program: " + std::to_string(part.program);
  return text;
}

void appendStepEvents(const Timeline& song, const TimelinePart& part, const TimelineStep& step,
                      std::string* out) {
  // Read from the packed items: a whole item per character costs more than the text.
  const TimelineItems& items = part.items;
  const TimelineStep* const steps = part.steps.data();
  const std::less<const TimelineStep*> before;
  if (before(&step, steps) || !before(&step, steps + part.steps.size())) return;
  const auto index = static_cast<std::size_t>(&step - steps);
  const std::size_t end = index + 1 < part.steps.size() ? steps[index + 1].firstItem : items.size();
  for (std::size_t i = step.firstItem; i < end; ++i) {
    const TimelineItems::Packed p = items.packed_[i];
    const std::uint32_t slot = p.shape & TimelineItems::kSlotMask;
    const std::uint32_t shape = p.shape >> TimelineItems::kSlotBits;
    std::int32_t sound = 0;
    int level = 0;
    if (slot == TimelineItems::kWholeItem) {
      const TimelineItem& item = items.shapes_[shape];
      if (item.isRest()) {
        *out += "0,0|";
        continue;
      }
      sound = item.sound;
      level = static_cast<unsigned char>(item.level);
      if (item.articulation != Articulation::None) {
        // The mark as a third field, only where there is one: older output is unchanged.
        *out += song.sounds()[static_cast<std::size_t>(sound)];
        *out += ',';
        *out += static_cast<char>('0' + level);
        *out += ',';
        *out += item.mark;
        *out += '|';
        continue;
      }
    } else {
      if (slot == 0) {
        *out += "0,0|";
        continue;
      }
      const TimelineItems::GridShapes& grid = *items.grid_;
      sound = grid.hits[grid.lines[shape].hit].sound;
      level = kSlotLevels[slot];
    }
    *out += song.sounds()[static_cast<std::size_t>(sound)];
    *out += ',';
    *out += static_cast<char>('0' + level);
    *out += '|';
  }
}

SongPartPicker::SongPartPicker(const std::vector<TimelinePart>& parts,
                               const std::vector<std::string_view>& characters) {
  byName_.emplace(std::string_view(), -1);
  for (const std::string_view character : characters) byName_.emplace(character, -1);
  // The last record of a name wins.
  for (std::size_t r = 0; r < parts.size(); ++r) {
    if (const auto named = byName_.find(parts[r].name); named != byName_.end())
      named->second = static_cast<int>(r);
  }
}

Timeline Timeline::build(SongParts parts, std::string songLine) {
  Timeline t;
  t.parts_ = std::move(parts.parts);
  t.sampleFiles_ = std::move(parts.sampleFiles);
  t.symbols_ = std::move(parts.symbols);
  t.sounds_ = std::move(parts.sounds);
  t.grid_ = std::move(parts.grid);
  t.songLine_ = std::move(songLine);
  t.characters_ = pulsewright::songCharacters(t.songLine_);

  // Step 0 of part 1 (the first part of the document, whatever the song begins with) gives
  // the wait before the first tick; 0 or less, or no part 1, cannot start.
  if (t.parts_.size() < 2 || !t.parts_[1].hasSteps() || t.parts_[1].steps[0].duration <= 0) {
    return t;
  }
  std::int64_t interval = t.parts_[1].steps[0].duration;

  const SongPartPicker picker(
      t.parts_, std::vector<std::string_view>(t.characters_.begin(), t.characters_.end()));
  int part = 1;
  std::int64_t time = interval;
  // Past its end the song line names the placeholder; the song is over by then, except
  // for an empty song line, which plays one position.
  const std::size_t positions = std::max<std::size_t>(t.characters_.size(), 1);
  for (std::size_t p = 0; p < positions; ++p) {
    const std::string_view character =
        p < t.characters_.size() ? std::string_view(t.characters_[p]) : "";
    picker.pick(character, part);
    Segment segment;
    segment.part = part;
    segment.startMs = time;
    segment.intervalIn = interval;
    const TimelinePart& played = t.parts_[static_cast<std::size_t>(part)];
    // Without a song line the song is over after its first tick.
    const int ticks =
        played.steps.empty() || t.characters_.empty() ? 1 : static_cast<int>(played.steps.size());
    bool over = false;
    int s = 0;
    for (; s < ticks; ++s) {
      if (!played.steps.empty()) {
        const std::int16_t duration = played.steps[static_cast<std::size_t>(s)].duration;
        if (duration >= 0) interval = duration;
      }
      t.lastTickMs_ = time;
      if (interval <= 0) {
        over = true;
        ++s;
        break;
      }
      time += interval;
    }
    segment.steps = s;
    t.segments_.push_back(segment);
    if (over) break;
  }
  return t;
}

Timeline Timeline::withSongLine(std::string songLine) const {
  return build(SongParts{parts_, sampleFiles_, symbols_, sounds_, grid_}, std::move(songLine));
}

const std::string& Timeline::sampleFile(std::int32_t index) const {
  static const std::string kNone;
  return index >= 0 && static_cast<std::size_t>(index) < sampleFiles_.size()
             ? sampleFiles_[static_cast<std::size_t>(index)]
             : kNone;
}

std::string_view Timeline::characterAt(std::size_t segment) const {
  return segment < characters_.size() ? std::string_view(characters_[segment]) : std::string_view();
}

Timeline::Cursor Timeline::begin() const {
  Cursor c;
  c.timeline_ = this;
  if (!segments_.empty()) {
    c.timeMs_ = segments_[0].startMs;
    c.interval_ = segments_[0].intervalIn;
  }
  return c;
}

Timeline::Cursor Timeline::at(int songPosition, int step) const {
  Cursor c;
  c.timeline_ = this;
  if (songPosition < 1 || static_cast<std::size_t>(songPosition) > segments_.size()) {
    c.segment_ = segments_.size();
    return c;
  }
  c.segment_ = static_cast<std::size_t>(songPosition - 1);
  const Segment& segment = segments_[c.segment_];
  c.interval_ = segment.intervalIn;
  if (step < 0 || step >= segment.steps) step = 0;
  // The interval in force before that step follows from the steps before it.
  const TimelinePart& part = parts_[static_cast<std::size_t>(segment.part)];
  for (int s = 0; s < step && !part.steps.empty(); ++s) {
    const std::int16_t duration = part.steps[static_cast<std::size_t>(s)].duration;
    if (duration >= 0) c.interval_ = duration;
  }
  c.step_ = step;
  c.timeMs_ = 0;
  return c;
}

std::int64_t Timeline::timeOf(int songPosition, int step) const {
  if (songPosition < 1 || static_cast<std::size_t>(songPosition) > segments_.size()) return -1;
  const Segment& segment = segments_[static_cast<std::size_t>(songPosition - 1)];
  if (step < 0 || step >= segment.steps) return -1;
  const TimelinePart& part = parts_[static_cast<std::size_t>(segment.part)];
  std::int64_t time = segment.startMs;
  std::int64_t interval = segment.intervalIn;
  for (int s = 0; s < step && !part.steps.empty(); ++s) {
    const std::int16_t duration = part.steps[static_cast<std::size_t>(s)].duration;
    if (duration >= 0) interval = duration;
    time += interval;
  }
  return time;
}

bool Timeline::Cursor::next(TimelineTick* tick) {
  if (timeline_ == nullptr || segment_ >= timeline_->segments_.size()) return false;
  const Segment& segment = timeline_->segments_[segment_];
  const TimelinePart& part = timeline_->parts_[static_cast<std::size_t>(segment.part)];
  tick->timeMs = timeMs_;
  tick->songPosition = static_cast<int>(segment_) + 1;
  tick->character = timeline_->characterAt(segment_);
  tick->part = segment.part;
  tick->step = step_;
  tick->data = part.steps.empty() ? nullptr : &part.steps[static_cast<std::size_t>(step_)];
  tick->music = tick->data == nullptr ? nullptr : &part.musicOf(*tick->data);
  if (tick->data != nullptr && tick->data->duration >= 0) interval_ = tick->data->duration;
  tick->intervalMs = interval_;
  const bool lastOfSegment = step_ + 1 >= segment.steps;
  tick->last = lastOfSegment && segment_ + 1 >= timeline_->segments_.size();
  timeMs_ += interval_;
  if (lastOfSegment) {
    ++segment_;
    step_ = 0;
  } else {
    ++step_;
  }
  return true;
}

}  // namespace pulsewright
