#include "midifile/TimelineMidi.h"

namespace pulsewright {

MidiFileSong midiFileSongOf(const Timeline& timeline) {
  MidiFileSong song;
  if (!timeline.playable()) return song;
  Timeline::Cursor cursor = timeline.begin();
  TimelineTick tick;
  StepMusic music;
  while (cursor.next(&tick)) {
    MidiFileStep step;
    const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(tick.part)];
    // A tick with no step of its own waits the interval before, so it lasts as long as
    // the step before it did.
    if (tick.music != nullptr && tick.music->noteSize > 0) music = *tick.music;
    step.tempo = music.tempo;
    step.noteSize = music.noteSize;
    step.divisor = music.tupletDivisor;
    step.program = part.sendsProgram() ? part.program : -1;
    if (tick.step == 0) {
      step.metreBeats = part.metre.beats;
      step.metreUnit = part.metre.beatUnit;
    }
    if (tick.data != nullptr) {
      for (const TimelineItem& item : part.itemsOf(*tick.data)) {
        if (item.kind == TimelineItem::Kind::Note) {
          step.notes.push_back({item.note, item.velocity});
        } else if (item.kind == TimelineItem::Kind::Sample) {
          ++step.samples;
        }
      }
    }
    song.steps.push_back(std::move(step));
  }
  return song;
}

MidiFileSong midiFileSongOf(const Timeline& timeline, const SongMetadata& metadata) {
  MidiFileSong song = midiFileSongOf(timeline);
  song.title = metadata.title;
  song.author = metadata.author;
  song.artist = metadata.artist;
  song.genre = metadata.genre;
  song.description = metadata.description;
  return song;
}

}  // namespace pulsewright
