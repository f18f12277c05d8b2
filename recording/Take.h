#pragma once
// Writes what an electronic kit played into a part's grid lines: each hit snapped to the
// nearest step of the part's grid, its key mapped back to a drum voice and its velocity
// to a level, the rest of the document left as it was.

#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"

namespace pulsewright {

// A hi-hat key with the hi-hat pedal controller (controller 4) at or below this is the
// closed hat; above it, the open hat.
inline constexpr int kClosedHatPedalMax = 40;

struct TakeHit {
  // The loop pass the hit was played in, from 0. Replace keeps the hits of the highest
  // pass; overdub merges all passes, so a take may also give every hit pass 0 and the
  // time since the first pass began.
  int pass = 0;
  // From the onset of that pass's first step, in the song's own time (the tempo scale
  // undone) and with the latency already compensated; negative for a hit just before the
  // pass's first beat. Taken modulo the part's length, so a hit past the part's end lands
  // on its first steps; a hit of pass 0 more than half a step before the first beat was
  // played in the count-in and is left out, with a warning.
  double seconds = 0;
  int key = 0;            // MIDI key, 0-127
  int velocity = 0;       // 1-127
  int hiHatControl = -1;  // the latest controller 4 value before the hit; -1 when none came
};

enum class TakeMode {
  Overdub,  // what is written stays and the take is added; every pass is merged
  Replace,  // the voices the take played are cleared first; the last pass is kept
};

struct TakeResult {
  std::string error;                  // why nothing was written; empty on success
  std::string document;               // the new text, with the input's line endings
  std::vector<std::string> warnings;  // e.g. keys of no voice, each named once
  int hitsWritten = 0;                // grid characters written: one per voice and step
  bool changed = false;  // false when the document stays as it was (a take with no hits)

  bool ok() const { return error.empty(); }
};

// Writes `hits` into the grid lines of the part named `partName` (the last part of that
// name, the one the song plays). `document` is UTF-8 text with any line endings; the
// compilation is a fresh one with `padMap`, as when the file is opened. On an error the
// document comes back unchanged.
TakeResult writeTake(std::string_view document, std::string_view partName,
                     const std::vector<TakeHit>& hits, TakeMode mode, const PadMap& padMap);

}  // namespace pulsewright
