#include "midifile/TimelineMidi.h"

#include "tablature/Expression.h"

namespace pulsewright {

void forEachMidiFileStep(const Timeline& timeline,
                         const std::function<void(const MidiFileStep&)>& visit,
                         const std::function<bool()>& keepGoing) {
  if (!timeline.playable()) return;
  Timeline::Cursor cursor = timeline.begin();
  TimelineTick tick;
  StepMusic music;
  std::optional<MusicalTime> length;  // of `music`
  MidiFileStep step;                  // one, its notes' room reused from step to step
  ExpressionEvents events;
  while (cursor.next(&tick)) {
    if (keepGoing && !keepGoing()) return;
    step.notes.clear();
    step.samples = 0;
    step.metreBeats = 0;
    step.metreUnit = 0;
    const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(tick.part)];
    // A tick with no step of its own waits the interval before, so it lasts as long as
    // the step before it did.
    if (tick.music != nullptr && tick.music->noteSize > 0) {
      music = *tick.music;
      // The compiler's exact length, where it has one: no step then drifts.
      const PositionRun* run = part.positionRunOf(static_cast<std::size_t>(tick.step));
      length = run != nullptr && run->ownLength && run->exactLength
                   ? std::optional<MusicalTime>(run->length)
                   : std::nullopt;
    }
    step.length = length;
    step.tempo = music.tempo;
    step.noteSize = music.noteSize;
    step.divisor = music.tupletDivisor;
    step.program = part.sendsProgram() ? part.program : -1;
    if (tick.step == 0) {
      step.metreBeats = part.metre.beats;
      step.metreUnit = part.metre.beatUnit;
    }
    step.timed.clear();
    if (tick.data != nullptr) {
      // A swung step keeps its musical place in the file; its notes are played late.
      const int delayMs = swingDelayMs(part, static_cast<std::size_t>(tick.step));
      std::size_t index = 0;
      for (const TimelineItem& item : part.itemsOf(*tick.data)) {
        const std::size_t itemIndex = index++;
        if (item.kind == TimelineItem::Kind::Sample) {
          ++step.samples;
          continue;
        }
        if (!playsExpression(item, part) && delayMs == 0) {
          if (item.kind == TimelineItem::Kind::Note)
            step.notes.push_back({item.note, item.velocity});
          continue;
        }
        if (item.kind != TimelineItem::Kind::Note && item.articulation != Articulation::Choke)
          continue;
        expandItem(
            item, part,
            ExpressionPlace{tick.part, tick.step, tick.songPosition, itemIndex, tick.intervalMs},
            &events);
        for (const ExpressionEvent& e : events) {
          const double at = e.offsetMs + delayMs;
          switch (e.type) {
            case ExpressionEvent::Type::NoteOn:
              step.timed.push_back({at, 0x90, e.note, e.velocity});
              break;
            case ExpressionEvent::Type::Cut:
              step.timed.push_back({at, 0xA0, e.note, 127});
              step.timed.push_back({at, 0xA0, e.note, 0});
              break;
            default: break;  // note offs are the writer's; samples have no place in the file
          }
        }
      }
    }
    visit(step);
  }
}

MidiFileSong midiFileSongOf(const Timeline& timeline) {
  MidiFileSong song;
  forEachMidiFileStep(timeline, [&song](const MidiFileStep& step) { song.steps.push_back(step); });
  return song;
}

MidiFileSong midiFileTextOf(const SongMetadata& metadata) {
  MidiFileSong song;
  song.title = metadata.title;
  song.author = metadata.author;
  song.artist = metadata.artist;
  song.genre = metadata.genre;
  song.description = metadata.description;
  return song;
}

MidiFileSong midiFileSongOf(const Timeline& timeline, const SongMetadata& metadata) {
  MidiFileSong song = midiFileTextOf(metadata);
  song.steps = midiFileSongOf(timeline).steps;
  return song;
}

}  // namespace pulsewright
