#include "playback/Sequencer.h"

#include <algorithm>

#include "platform/ShortMessage.h"
#include "playback/Practice.h"

namespace pulsewright {

std::shared_ptr<const Song> makeSong(std::shared_ptr<const Timeline> timeline) {
  if (!timeline) timeline = std::make_shared<const Timeline>();
  return std::make_shared<const Song>(std::move(timeline));
}

void playTick(const Timeline& timeline, const TimelineTick& tick, StepOutput& output, DueTime due,
              const VoiceFilter* filter) {
  const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(tick.part)];
  // A program change on every step of a part that has a program MIDI can carry.
  if (part.sendsProgram()) output.sendChannelMessage(kProgramChange, part.program, 0, due);
  if (tick.data == nullptr) return;
  for (const TimelineItem& item : part.itemsOf(*tick.data)) {
    if (filter != nullptr && !filter->sounds(item)) continue;
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

void Sequencer::stop() {
  interval_ = 0;
  currentPart_ = 1;
  currentStep_ = 0;
}

Sequencer::TickResult Sequencer::tick(StepOutput& output, DueTime due, const VoiceFilter* filter) {
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
  playTick(timeline, t, output, due, filter);

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
