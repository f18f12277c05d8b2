#pragma once
// The song as drum notation: the song order written out measure by measure, each measure
// a bar of one part's grid with its steps as note values, and the hits of every step
// with the drum that plays them. The MusicXML writer and the staff view both read it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/DrumVoice.h"
#include "padmap/PadMap.h"
#include "tablature/Articulation.h"
#include "tablature/CompiledDocument.h"
#include "tablature/PartTable.h"

namespace pulsewright {

class Timeline;
struct SongMetadata;

// Where a drum sits on a five-line percussion staff and how its head looks.
enum class Notehead : std::uint8_t { Normal, X, CircleX, Diamond, Triangle, Slashed };
struct DrumPlacement {
  char step = 'C';  // display step and octave, as on a treble staff
  int octave = 5;
  Notehead head = Notehead::Normal;
  bool foot = false;  // played with a foot: voice 2, stem down
  std::string_view name;
};
// A drum of the kit; nullopt for a hit whose drum is not known (a plain note number).
DrumPlacement placementOf(std::optional<DrumVoice> voice);
// Staff position counted in half spaces from the bottom line (E4 = 0, F4 = 1, C5 = 5).
int staffPosition(const DrumPlacement& placement);

struct ScoreHit {
  std::optional<DrumVoice> voice;
  int key = 0;    // the MIDI note played
  int level = 5;  // 0-9
  Articulation articulation = Articulation::None;
  SourcePosition source;
};
// Grace notes written before a hit: one for a flam, two for a drag.
int graceNotesOf(Articulation articulation);
// How the hit's head looks: a cross-stick, rimshot or bell shows on its own head.
Notehead noteheadOf(const ScoreHit& hit);

// A beam level at a note: MusicXML's begin/continue/end, and hooks for a note beamed on
// its own at that level.
enum class Beam : std::uint8_t { None, Begin, Continue, End, ForwardHook, BackwardHook };
constexpr int kBeamLevels = 4;

// One grid step of a measure and the hits it plays.
struct ScoreStep {
  int duration = 0;             // in the score's divisions
  int partStep = 0;             // the step of the part it is
  std::vector<ScoreHit> hands;  // voice 1
  std::vector<ScoreHit> feet;   // voice 2
  char sticking = '-';          // the sticking line's hand for the step; '-' none
  const std::vector<ScoreHit>& hits(int voice) const { return voice == 1 ? hands : feet; }
};

// A note, chord or rest of one voice as written: it lasts to the next hit in its voice or
// to its beat's end, whichever makes a note value.
struct ScoreNote {
  int start = 0;  // divisions from the measure's start
  int duration = 0;
  int typeLog2 = -1;  // the written value: 2^typeLog2 quarters (0 quarter, -1 eighth)
  bool dotted = false;
  int actualNotes = 1;  // a tuplet: actualNotes in the time of normalNotes
  int normalNotes = 1;
  bool tupletStart = false;
  bool tupletStop = false;
  bool measureRest = false;  // the whole measure's rest
  bool hidden = false;       // time a voice leaves empty, written as no rest
  std::size_t step = 0;      // the measure's step it starts at
  Beam beams[kBeamLevels] = {Beam::None, Beam::None, Beam::None, Beam::None};
  std::vector<ScoreHit> hits;  // none: a rest
  bool rest() const { return hits.empty(); }
  int beamLevels() const;  // beams or flags its value has
};

struct ScoreMeasure {
  int beats = 4;
  int beatType = 4;
  double tempo = 0;      // quarter notes per minute
  std::string partName;  // set on the first measure of a song position
  int songPosition = 1;  // from 1
  // Played this many times over: the measures from one with repeatStart to one with
  // repeatTimes > 1 stand between repeat bar lines (the part repeats at song positions
  // songPosition to songPosition + repeatTimes - 1).
  bool repeatStart = false;
  int repeatTimes = 1;
  int repeatedPositions = 1;  // song positions this measure stands for
  // The bar before played again, engraved as the one-bar repeat sign: its steps and
  // notes are those of the bar it repeats, so readers still play them.
  bool simile = false;
  // The part's swing: pairs of 2^swingTypeLog2 quarters split swingPercent:100-swingPercent
  // (50 straight).
  int swingPercent = 50;
  int swingTypeLog2 = -1;
  std::vector<ScoreStep> steps;
  std::vector<ScoreNote> voices[2];  // voice 1 and voice 2, spelled from the steps
  int duration() const;
  bool hasFeet() const;
  bool hasHands() const;
  const std::vector<ScoreNote>& voice(int v) const { return voices[v == 1 ? 0 : 1]; }
};

struct Score {
  std::string title;
  std::string author;
  int divisions = 1;  // per quarter note
  std::vector<ScoreMeasure> measures;
  int samplesLeftOut = 0;
  std::vector<std::string> warnings;
  // Why no MusicXML can hold the score; "" when one can.
  std::string unwritable;
};

// What the score is made of: the compiled song and its metadata, and the document text it
// was compiled from (lines joined by CR LF). A part whose grid lines disagree is barred
// as the first of them, as the song's grid model has it; without the model, in fours.
struct ScoreSource {
  const Timeline& timeline;
  const SongMetadata& metadata;
  std::string_view text;
};

// The whole song in playing order.
Score buildScore(const ScoreSource& source);
// The same, its measures handed to `measure` one at a time in order instead of kept: the
// score returned holds everything else. A long song's score is never held whole. Once
// `measure` returns false no more measures are made (a stopped export ends at once).
Score buildScore(const ScoreSource& source,
                 const std::function<bool(const ScoreMeasure&)>& measure);
// One part (index into the timeline's parts) played once, as the staff view shows it.
Score buildPartScore(const ScoreSource& source, int part);

// The whole song's score of a compilation of `text` (lines joined by CR LF); an empty
// score when the song does not play.
Score scoreOfCompiled(const CompiledDocument& compiled, std::string_view text,
                      bool* playable = nullptr);
// The same from a fresh compilation of `text`.
Score scoreOfDocument(std::string_view text, const PadMap& padMap, bool* playable = nullptr);

// The written values there are names for: a 1024th to a breve.
inline constexpr int kShortestType = -8;
inline constexpr int kLongestType = 3;

// "quarter", "eighth", ... for 2^typeLog2 quarters.
std::string_view noteTypeName(int typeLog2);

}  // namespace pulsewright
