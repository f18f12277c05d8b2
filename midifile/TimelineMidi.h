#pragma once
// The song of a timeline as a MIDI file's steps: the ticks in the order they play, each
// with its musical values, its notes and the samples the file must leave out.

#include "midifile/StandardMidiFile.h"
#include "tablature/CompiledDocument.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// The steps of every tick the timeline plays; the text fields are left empty.
MidiFileSong midiFileSongOf(const Timeline& timeline);
// The same, with the title and the other meta lines of the compilation it came from.
MidiFileSong midiFileSongOf(const Timeline& timeline, const SongMetadata& metadata);

}  // namespace pulsewright
