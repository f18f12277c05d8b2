#include "playback/Sequencer.h"

#include <algorithm>

#include "platform/ShortMessage.h"
#include "playback/Practice.h"
#include "tablature/Expression.h"

namespace pulsewright {

std::shared_ptr<const Song> makeSong(std::shared_ptr<const Timeline> timeline) {
  if (!timeline) timeline = std::make_shared<const Timeline>();
  return std::make_shared<const Song>(std::move(timeline));
}

namespace {

// The events of one item, each at its time, as StepOutput calls.
void sendExpressionEvents(const Timeline& timeline, const TimelineItem& item,
                          const ExpressionEvents& events, StepOutput& output, DueTime due,
                          DueTime notBefore) {
  for (const ExpressionEvent& event : events) {
    const DueTime at = std::max(due + std::chrono::milliseconds(event.offsetMs), notBefore);
    switch (event.type) {
      case ExpressionEvent::Type::NoteOn:
        output.sendChannelMessage(kNoteOn, event.note, event.velocity, at);
        break;
      case ExpressionEvent::Type::NoteOff:
        output.sendChannelMessage(kNoteOff, event.note, 0, at);
        break;
      case ExpressionEvent::Type::Cut:
        // As electronic kits send a choke: the pressure on the key, then its release.
        output.sendChannelMessage(kPolyPressure, event.note, 127, at);
        output.sendChannelMessage(kPolyPressure, event.note, 0, at);
        break;
      case ExpressionEvent::Type::Sample:
        output.playSample(timeline.sampleFile(item.file), event.volume, item.pan, at);
        break;
    }
  }
}

}  // namespace

void playTick(const Timeline& timeline, const TimelineTick& tick, StepOutput& output, DueTime due,
              const VoiceFilter* filter, DueTime notBefore) {
  const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(tick.part)];
  // A program change on every step of a part that has a program MIDI can carry.
  if (part.sendsProgram()) output.sendChannelMessage(kProgramChange, part.program, 0, due);
  if (tick.data == nullptr) return;
  std::size_t index = 0;
  for (const TimelineItem& item : part.itemsOf(*tick.data)) {
    const std::size_t itemIndex = index++;
    if (filter != nullptr && !filter->sounds(item)) continue;
    if (playsExpression(item, part)) {
      ExpressionEvents events;
      expandItem(
          item, part,
          ExpressionPlace{tick.part, tick.step, tick.songPosition, itemIndex, tick.intervalMs},
          &events);
      sendExpressionEvents(timeline, item, events, output, due, notBefore);
      continue;
    }
    switch (item.kind) {
      case TimelineItem::Kind::Note:
      case TimelineItem::Kind::Rest:
        // A note lasts no time: the instrument plays its sound on the note on.
        output.sendChannelMessage(kNoteOn, item.note, item.velocity, due);
        output.sendChannelMessage(kNoteOff, item.note, 0, due);
        break;
      case TimelineItem::Kind::Sample:
        output.playSample(timeline.sampleFile(item.file), item.volume, item.pan, due);
        break;
      case TimelineItem::Kind::Skip: break;
    }
  }
}

bool Sequencer::play(std::shared_ptr<const Song> song) {
  song_ = song ? std::move(song) : makeSong(nullptr);
  cursor_ = song_->timeline.begin();
  currentPart_ = 1;
  currentStep_ = 0;
  songPosition_ = 1;
  // The wait before the first tick: step 0 of part 1.
  TimelineTick first;
  Timeline::Cursor peek = cursor_;
  interval_ = peek.next(&first) ? first.timeMs : 0;
  if (interval_ <= 0) {
    stop();
    return false;
  }
  return true;
}

bool Sequencer::playFrom(std::shared_ptr<const Song> song, int songPosition, int step) {
  song_ = song ? std::move(song) : makeSong(nullptr);
  cursor_ = song_->timeline.at(songPosition, step);
  TimelineTick first;
  Timeline::Cursor peek = cursor_;
  if (!peek.next(&first)) {
    stop();
    return false;
  }
  currentPart_ = first.part;
  currentStep_ = first.step;
  songPosition_ = first.songPosition;
  interval_ = std::max<std::int64_t>(first.intervalMs, 1);
  return true;
}

namespace {

// The part played at `songPosition`, -1 when none is.
int partAt(const Timeline& song, int songPosition) {
  Timeline::Cursor cursor = song.at(songPosition, 0);
  TimelineTick tick;
  return cursor.next(&tick) ? tick.part : -1;
}

// Whether `step` of the part at `songPosition` is played.
bool playsStep(const Timeline& song, int songPosition, int step) {
  return song.timeOf(songPosition, step) >= 0;
}

}  // namespace

bool continueAt(const Timeline& song, const std::string& partName, int songPosition, int step,
                int* newPosition, int* newStep) {
  const int length = song.songLength();
  auto named = [&](int position) {
    const int part = partAt(song, position);
    return part >= 0 && song.parts()[static_cast<std::size_t>(part)].name == partName;
  };
  int found = -1;
  if (songPosition >= 1 && songPosition <= length && named(songPosition)) found = songPosition;
  for (int p = songPosition + 1; found < 0 && p <= length; ++p) {
    if (named(p)) found = p;
  }
  for (int p = std::min(songPosition - 1, length); found < 0 && p >= 1; --p) {
    if (named(p)) found = p;
  }
  if (found >= 0 && playsStep(song, found, step)) {
    *newPosition = found;
    *newStep = step;
    return true;
  }
  // The part is gone, or shorter than the step: on with the next position. Where the
  // part is gone and its first step was next, that position holds what comes next.
  int next = songPosition + 1;
  if (found >= 0) {
    next = found + 1;
  } else if (step == 0) {
    next = songPosition;
  }
  if (next < 1 || next > length) return false;
  *newPosition = next;
  *newStep = 0;
  return true;
}

bool Sequencer::continueWith(std::shared_ptr<const Song> song) {
  if (!song) song = makeSong(nullptr);
  TimelineTick next;
  int position = songPosition_;
  int step = currentStep_;
  std::string name;
  if (peek(&next)) {
    position = next.songPosition;
    step = next.step;
    name = song_->timeline.parts()[static_cast<std::size_t>(next.part)].name;
  }
  int newPosition = 0;
  int newStep = 0;
  if (!continueAt(song->timeline, name, position, step, &newPosition, &newStep)) {
    song_ = std::move(song);
    stop();
    return false;
  }
  return playFrom(std::move(song), newPosition, newStep);
}

bool Sequencer::atBarLine() const {
  TimelineTick next;
  if (!peek(&next)) return false;
  if (next.step == 0) return true;
  const std::vector<std::int32_t>& bars =
      song_->timeline.parts()[static_cast<std::size_t>(next.part)].bars;
  return std::binary_search(bars.begin(), bars.end(), next.step);
}

void Sequencer::stop() {
  interval_ = 0;
  currentPart_ = 1;
  currentStep_ = 0;
}

Sequencer::TickResult Sequencer::tick(StepOutput& output, DueTime due, const VoiceFilter* filter,
                                      DueTime notBefore) {
  TickResult result;
  if (!song_ || !cursor_.next(&result.tick)) {
    stop();
    result.songOver = true;
    return result;
  }
  const TimelineTick& t = result.tick;
  const Timeline& timeline = song_->timeline;
  const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(t.part)];
  result.status = statusText(t, part);
  playTick(timeline, t, output, due, filter, notBefore);

  currentPart_ = t.part;
  interval_ = t.intervalMs;
  // The last step of a part moves the song on.
  const int ticks = part.steps.empty() ? 1 : static_cast<int>(part.steps.size());
  if (t.step + 1 < ticks) {
    currentStep_ = t.step + 1;
  } else {
    currentStep_ = 0;
    songPosition_ = t.songPosition + 1;
  }
  if (t.last) {
    stop();
    result.songOver = true;
    result.status.clear();
  }
  return result;
}

}  // namespace pulsewright
