#pragma once
// Turns a Standard MIDI File into a tablature document: the drum notes of one channel,
// each key on its drum voice, quantised bar by bar to the grid that explains the bar's
// onsets with the fewest steps. A part starts wherever the tempo, the time signature or
// the drums' program changes; bars that come out the same are one part, which the song
// line repeats. A time signature that the bars' steps do not tell (6/8 against 3/4) is
// written in the section line ("metre = 6/8").

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/DrumVoice.h"
#include "tablature/ImportWriter.h"

namespace pulsewright {

// The note sizes a bar may be written in, fewest steps first: eighths, triplet eighths,
// sixteenths, triplet sixteenths, thirty-seconds and triplet thirty-seconds.
inline constexpr std::array<int, 6> kMidiImportGrids = {8, 12, 16, 24, 32, 48};

// Each voice's grid symbol as an imported document writes it (a recorded take gives a
// voice the document lacks the same one), and the grid lines' order top to bottom: those
// of the one writer of imported documents.
inline constexpr const auto& kImportVoiceSymbols = kImportedVoiceSymbols;
inline constexpr const auto& kImportLineOrder = kImportedLineOrder;

// Tempi beyond this are written as this; a step must last at least a millisecond.
inline constexpr int kMaxImportTempo = 1000;

// Longer songs are refused.
inline constexpr int kMaxImportBars = 1'000'000;

struct MidiImportOptions {
  int channel = 10;  // the drums' channel, 1-16
  int grid = 0;      // 0: the best grid bar by bar; else every bar in this note size
  // Bars that differ from an earlier part only by one level up or down at some hits (as
  // played by hand) are that part, at its levels.
  bool foldLevels = false;
};

struct MidiImportResult {
  std::string error;     // why nothing was imported; empty on success
  std::string document;  // lines end in LF
  std::vector<std::string> warnings;
  std::array<std::size_t, 16> notesPerChannel{};  // of the whole file, channel 1 first

  bool ok() const { return error.empty(); }
};

MidiImportResult importMidiFile(std::string_view bytes, const MidiImportOptions& options = {});

// The level whose velocity is nearest to `velocity` (the louder one of two as near).
int levelOfVelocity(int velocity);

}  // namespace pulsewright
