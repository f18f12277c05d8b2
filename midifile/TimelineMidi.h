#pragma once
// The song of a timeline as a MIDI file's steps: the ticks in the order they play, each
// with its musical values, its notes and the samples the file must leave out.

#include <functional>

#include "midifile/StandardMidiFile.h"
#include "tablature/CompiledDocument.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// Hands `step` the steps of every tick the timeline plays, in order, one at a time;
// `keepGoing`, when given, is asked before each, and the walk ends once it says no.
void forEachMidiFileStep(const Timeline& timeline,
                         const std::function<void(const MidiFileStep&)>& step,
                         const std::function<bool()>& keepGoing = {});
// The text fields of a song: the title and the other meta lines; no steps.
MidiFileSong midiFileTextOf(const SongMetadata& metadata);
// The steps of every tick the timeline plays; the text fields are left empty.
MidiFileSong midiFileSongOf(const Timeline& timeline);
// The same, with the title and the other meta lines of the compilation it came from.
MidiFileSong midiFileSongOf(const Timeline& timeline, const SongMetadata& metadata);

}  // namespace pulsewright
