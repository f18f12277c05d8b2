#pragma once
// Standard MIDI Files of type 1 in musical time, so that a DAW shows the bars: track 0
// holds the tempo map and the song's text, track 1 the drums.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tablature/MusicalTime.h"

namespace pulsewright {

inline constexpr int kMidiFileTicksPerQuarter = 960;

struct MidiFileNote {
  int note = 0;
  int velocity = 0;
};

// A message of an expression mark, swing or humanize, at a time of its own: `offsetMs`
// from the step's start (negative before it). A note off is written shortly after its
// note on, so that a grace never overlaps the note it leads to.
struct MidiFileTimedEvent {
  double offsetMs = 0;
  std::uint8_t status = 0x90;  // 0x90 note on, 0x80 note off, 0xA0 polyphonic aftertouch
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;
};

// One step of the song as it plays.
struct MidiFileStep {
  double noteSize = 4;  // the step is a 1/noteSize note...
  int divisor = 1;      // ...shared by this many steps (tuplets)
  double tempo = 120;   // quarter notes per minute
  int program = -1;     // the part's program; none outside 0-127
  std::vector<MidiFileNote> notes;
  std::vector<MidiFileTimedEvent> timed;  // in the order they are sent
  int samples = 0;                        // sample hits, which a MIDI file cannot hold
  // A time signature that starts with this step (a part's first step); 0 for none.
  int metreBeats = 0;
  int metreUnit = 0;
  // The step's exact length in wholes, as the compiler gave it; none to work it out
  // from noteSize and divisor.
  std::optional<MusicalTime> length;
};

struct MidiFileSong {
  std::string title;
  std::string author;
  std::string artist;
  std::string genre;
  std::string description;
  std::vector<MidiFileStep> steps;
};

struct MidiFileSummary {
  std::size_t notes = 0;
  std::size_t samplesLeftOut = 0;
  std::int64_t lengthTicks = 0;
};

// A song's steps handed to `step` one at a time, in the order they play. A file is written
// from two walks (the drum track's length comes before its events), so a long song is never
// held as steps nor as bytes.
using MidiFileStepWalk = std::function<void(const std::function<void(const MidiFileStep&)>& step)>;
// Takes the file's bytes a piece at a time; false stops the writing.
using MidiFileSink = std::function<bool(std::string_view bytes)>;

// Writes the file into `sink`: the text fields of `text` (its steps are not read), the
// steps from `walk`. False when the sink refused a piece.
bool streamStandardMidiFile(const MidiFileSong& text, const MidiFileStepWalk& walk, int channel,
                            const MidiFileSink& sink, MidiFileSummary* summary = nullptr);

// The whole file. `channel` counts from 0 (9 is the General MIDI drum channel). A step
// of note size N and divisor D lasts 3840 / N / D ticks; each step's end is rounded,
// never its length, so that nothing drifts: while every step has an exact length, a
// step ends at its exact end times 3840, rounded. Note off after half the step, at most a
// sixteenth; a program change only where it differs from the last one written; a tempo
// event wherever the tempo changes; a time signature where a step starts one that differs
// from the one before (4/4 when the first step starts none). Notes outside 0-127 or of velocity 0
// are left out.
std::string writeStandardMidiFile(const MidiFileSong& song, int channel,
                                  MidiFileSummary* summary = nullptr);

}  // namespace pulsewright
