#pragma once
// The one writer of imported documents: every importer hands it parts as hits on steps
// and it writes the voice lines, one part per distinct part, and the song line, in the
// grid grammar the compiler reads. Alike parts are written once and named once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "padmap/DrumVoice.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// Each voice's grid symbol in an imported document, in the order of DrumVoice.
inline constexpr std::array<std::string_view, kVoiceCount> kImportedVoiceSymbols = {
    "k", "s", "h", "p", "o", "t1", "t2", "t3", "t4", "r", "b", "c", "c2", "p1", "p2", "cp", "cb"};

// Grid lines top to bottom: cymbals and hats, toms, snare and hand percussion, the kick.
inline constexpr std::array<DrumVoice, kVoiceCount> kImportedLineOrder = {
    DrumVoice::Crash1,  DrumVoice::Crash2,    DrumVoice::Ride,     DrumVoice::Bell,
    DrumVoice::OpenHat, DrumVoice::ClosedHat, DrumVoice::PedalHat, DrumVoice::Tom1,
    DrumVoice::Tom2,    DrumVoice::Tom3,      DrumVoice::Tom4,     DrumVoice::SnareDrum,
    DrumVoice::Claps,   DrumVoice::CowBell,   DrumVoice::Perc1,    DrumVoice::Perc2,
    DrumVoice::BassDrum};

struct ImportedHit {
  std::uint32_t step = 0;  // of the part, from 0
  DrumVoice voice = DrumVoice::BassDrum;
  std::uint8_t level = 5;                          // 0-9
  Articulation articulation = Articulation::None;  // written as its mark
};

struct ImportedPart {
  int tempo = 120;
  int notes = 16;                       // the note size of a step
  std::vector<std::uint32_t> barSteps;  // steps of each bar; none: one bar of `steps`
  std::uint32_t steps = 0;              // used when barSteps is empty
  std::optional<Metre> metre;           // written where the steps tell another
  std::vector<ImportedHit> hits;        // any order; one voice twice on a step: the louder
  // These voices' lines first, in this order (a tab's own order), the others after them
  // in kImportedLineOrder.
  std::vector<DrumVoice> lineOrder;
  // A part of rests only: its rests on this voice; else on the first voice used.
  std::optional<DrumVoice> restVoice;
  int swingPercent = 50;  // written as `swing = P` when not 50
  std::string sticking;   // a hand per step ('-' none): a sticking line
};

// The level whose velocity (0-127) is nearest, the louder of two as near.
int levelOfImportedVelocity(int velocity);

// Part names in the order importers give them: A-Z, a-z, 0-9, then ideographs and
// syllables, one character each. Empty past the last.
std::string importedPartName(std::size_t n);

// The ` metre = B/U` item of a part whose bars of `barSteps` steps of 1/`notes` make
// `metre`, where the steps alone would tell another metre; empty for a bar of another
// length and for a metre no section line can say.
std::string metreItem(const Metre& metre, std::uint32_t barSteps, int notes);

class ImportWriter {
 public:
  // `captions` name the voices in the voice lines ("k = Bass Drum"); `partName` gives
  // the n-th name parts may have, "" past the last.
  explicit ImportWriter(const std::array<std::string_view, kVoiceCount>& captions = kVoiceCaptions,
                        std::string (*partName)(std::size_t) = importedPartName)
      : captions_(captions), partName_(partName) {}
  void meta(std::string_view key, std::string_view value);  // title, author, ...
  // Plays `part` `times` times; a part alike to one played before is that part. False
  // when the part names have run out (nothing is played then).
  bool play(const ImportedPart& part, int times = 1);
  // The name of `part`, written the first time: `wanted` where no part has it yet, else
  // the first name free; "" when the names have run out. Plays nothing.
  std::string name(const ImportedPart& part, std::string_view wanted = {});
  // Plays the part `name` gave `times` times.
  void playNamed(const std::string& name, int times);
  std::size_t partCount() const { return names_.size(); }
  std::size_t songLength() const { return songLength_; }
  // Hits that fell on a step holding the same voice already (each pair plays once, at
  // the louder level), counted once per part played.
  std::size_t mergedHits() const { return merged_; }
  // The document, lines ending in LF; empty when nothing was played.
  std::string document() const;

 private:
  // The part's text after its name, with the hits merged on one step counted.
  std::string body(const ImportedPart& part, std::size_t* merged,
                   std::array<bool, kVoiceCount>* voices) const;

  const std::array<std::string_view, kVoiceCount>& captions_;
  std::string (*partName_)(std::size_t);
  std::string meta_;
  std::string parts_;
  // The song as runs of one part, written out only in the document: a part repeated a
  // million times costs nothing until then.
  std::vector<std::pair<std::string, std::size_t>> song_;
  std::size_t songLength_ = 0;
  std::size_t merged_ = 0;
  std::unordered_map<std::string, std::string> names_;  // part body -> name
  std::unordered_set<std::string> taken_;               // the names given
  std::size_t nextName_ = 0;                            // no name before it is free
  std::array<bool, kVoiceCount> used_{};
};

}  // namespace pulsewright
