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

namespace pulsewright {

// The note sizes a bar may be written in, fewest steps first: eighths, triplet eighths,
// sixteenths, triplet sixteenths, thirty-seconds and triplet thirty-seconds.
inline constexpr std::array<int, 6> kMidiImportGrids = {8, 12, 16, 24, 32, 48};

// Each voice's grid symbol as an imported document writes it (a recorded take gives a
// voice the document lacks the same one), in the order of DrumVoice.
inline constexpr std::array<std::string_view, kVoiceCount> kImportVoiceSymbols = {
    "k", "s", "h", "p", "o", "t1", "t2", "t3", "t4", "r", "b", "c", "c2", "p1", "p2", "cp", "cb"};

// Grid lines top to bottom in a part: cymbals and hats, toms, snare and hand percussion,
// the kick.
inline constexpr std::array<DrumVoice, kVoiceCount> kImportLineOrder = {
    DrumVoice::Crash1,  DrumVoice::Crash2,    DrumVoice::Ride,     DrumVoice::Bell,
    DrumVoice::OpenHat, DrumVoice::ClosedHat, DrumVoice::PedalHat, DrumVoice::Tom1,
    DrumVoice::Tom2,    DrumVoice::Tom3,      DrumVoice::Tom4,     DrumVoice::SnareDrum,
    DrumVoice::Claps,   DrumVoice::CowBell,   DrumVoice::Perc1,    DrumVoice::Perc2,
    DrumVoice::BassDrum};

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
