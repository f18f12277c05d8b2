#include "tablature/Timeline.h"

#include <cmath>
#include <unordered_map>

#include "text/FileName.h"
#include "text/NumericValue.h"

namespace pulsewright {

namespace {

// Round half to even, as a whole MIDI value; -1 when outside 0-127 so that no malformed
// word is ever sent.
int midiDataByte(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= 0.0 && rounded <= 127.0)) return -1;
  return static_cast<int>(rounded);
}

std::int16_t toInt16OrZero(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) return 0;
  return static_cast<std::int16_t>(rounded);
}

// Steps a tick can play for tables of `length` entries: all but the two tail steps, and
// at least step 0 where there is one.
std::size_t playableSteps(std::size_t length) {
  if (length == 0) return 0;
  return length >= 3 ? length - 2 : 1;
}

class ItemReader {
 public:
  explicit ItemReader(std::vector<std::string>& files) : files_(files) {}

  // Reads one "sound,level" item of an event string.
  TimelineItem read(std::string_view item) {
    TimelineItem typed;
    const std::size_t comma = item.find(',');
    const std::string_view sound = item.substr(0, comma);
    std::string_view level;
    if (comma != std::string_view::npos) {
      level = item.substr(comma + 1);
      level = level.substr(0, level.find(','));
    }
    if (endsInWav(sound)) {
      // "pan#file": everything after the first "#" is the file, so a path that holds a
      // "#" still plays.
      const std::size_t hash = sound.find('#');
      typed.kind = TimelineItem::Kind::Sample;
      if (hash != std::string_view::npos) typed.file = fileIndex(sound.substr(hash + 1));
      typed.pan = toInt16OrZero(numericValue(sound.substr(0, hash)));
      typed.volume = toInt16OrZero(std::floor(numericValue(level) + 1.0));
      return typed;
    }
    const int note = midiDataByte(numericValue(sound));
    if (note < 0) return typed;
    typed.kind = note == 0 ? TimelineItem::Kind::Rest : TimelineItem::Kind::Note;
    typed.note = static_cast<std::uint8_t>(note);
    typed.velocity = static_cast<std::uint8_t>(velocityOfLevel(numericValue(level)));
    return typed;
  }

 private:
  std::int32_t fileIndex(std::string_view file) {
    const auto [it, added] =
        index_.try_emplace(std::string(file), static_cast<std::int32_t>(files_.size()));
    if (added) files_.emplace_back(file);
    return it->second;
  }
  std::vector<std::string>& files_;
  std::unordered_map<std::string, std::int32_t> index_;
};

}  // namespace

int velocityOfLevel(double level) {
  const double v = std::floor((level + 1.0) / 10.0 * 127.0);
  if (!(v >= 0.0)) return 0;
  if (v > 127.0) return 127;
  return static_cast<int>(v);
}

std::vector<std::string> songCharacters(std::string_view s) {
  std::vector<std::string> chars;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (i + len > s.size()) len = 1;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    }
    chars.emplace_back(s.substr(i, len));
    i += len;
  }
  return chars;
}

std::string statusText(const TimelineTick& tick, const TimelinePart& part) {
  return "Song Part:" + std::to_string(tick.songPosition) +
         "  Part: " + std::string(tick.character) + "  Beat: " + std::to_string(tick.step) +
         "  Program: " + std::to_string(part.program);
}

Timeline Timeline::build(const PartTable& table, const SourceMap& sources,
                         std::string_view songLine) {
  Timeline t;
  ItemReader reader(t.sampleFiles_);
  t.parts_.reserve(table.size());
  for (std::size_t r = 0; r < table.size(); ++r) {
    const PartRecord& record = table[r];
    const PartSource* source = r < sources.size() ? &sources[r] : nullptr;
    TimelinePart part;
    part.name = record.name;
    part.program = record.program;
    part.sectionLine = source != nullptr ? source->sectionLine : 0;
    const std::size_t count =
        playableSteps(std::min(record.stepTimes.size(), record.stepEvents.size()));
    part.steps.resize(count);
    // The n-th recorded position of a step belongs to its n-th item.
    std::vector<std::vector<SourcePosition>> positions;
    if (source != nullptr && !source->items.empty()) {
      positions.resize(count);
      for (const PartSource::Item& item : source->items) {
        if (item.step >= 0 && static_cast<std::size_t>(item.step) < count) {
          positions[static_cast<std::size_t>(item.step)].push_back(item.position);
        }
      }
    }
    for (std::size_t s = 0; s < count; ++s) {
      TimelineStep& step = part.steps[s];
      step.duration = record.stepTimes[s];
      if (source != nullptr && s < source->music.size()) step.music = source->music[s];
      step.firstItem = static_cast<std::uint32_t>(part.items.size());
      const std::string_view events = record.stepEvents[s];
      std::size_t start = 0;
      std::size_t n = 0;
      while (start < events.size()) {
        std::size_t bar = events.find('|', start);
        if (bar == std::string_view::npos) bar = events.size();
        const std::string_view item = events.substr(start, bar - start);
        start = bar + 1;
        if (item.empty()) continue;
        TimelineItem typed = reader.read(item);
        if (!positions.empty() && n < positions[s].size()) typed.source = positions[s][n];
        ++n;
        part.items.push_back(typed);
      }
      step.itemCount = static_cast<std::uint32_t>(part.items.size()) - step.firstItem;
    }
    t.parts_.push_back(std::move(part));
  }
  t.characters_ = pulsewright::songCharacters(songLine);

  // Step 0 of part 1 (the first part of the document, whatever the song begins with) gives
  // the wait before the first tick; 0 or less, or no part 1, cannot start.
  if (table.size() < 2 || !table[1].hasSteps() || table[1].stepTimes[0] <= 0) return t;
  std::int64_t interval = table[1].stepTimes[0];

  // The last record of a name wins; a character that names none keeps the part before.
  std::unordered_map<std::string_view, int> byName;
  for (std::size_t r = 0; r < t.parts_.size(); ++r) byName[t.parts_[r].name] = static_cast<int>(r);
  int part = 1;
  std::int64_t time = interval;
  // Past its end the song line names the placeholder; the song is over by then, except
  // for an empty song line, which plays one position.
  const std::size_t positions = std::max<std::size_t>(t.characters_.size(), 1);
  for (std::size_t p = 0; p < positions; ++p) {
    const std::string_view character =
        p < t.characters_.size() ? std::string_view(t.characters_[p]) : "";
    if (const auto found = byName.find(character); found != byName.end()) part = found->second;
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
