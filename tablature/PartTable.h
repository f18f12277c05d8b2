#pragma once
// The compiled song: what the sequencer plays.

#include <cstdint>
#include <string>
#include <vector>

namespace pulsewright {

// One part. The two step tables always have the same length; both are empty while the
// part has no step tables yet (a section line with no grid line under it). Once made
// they hold at least one step. An event string lists items "sound,level", each
// followed by "|": "36,7|42,5|".
struct PartRecord {
  std::int16_t program = 0;  // MIDI program, -1 for none
  std::string name;
  std::vector<std::int16_t> stepTimes;  // milliseconds
  std::vector<std::string> stepEvents;

  bool hasSteps() const { return !stepTimes.empty(); }
};

// Index 0 is a placeholder that collects grid lines standing above every section line.
using PartTable = std::vector<PartRecord>;

// Where a character of the document stands: the line (from 1), the column in code points
// (from 1, as compilers print it) and the offset from the line's start in UTF-16 units
// (from 0, as the editor counts).
struct SourcePosition {
  int line = 0;
  int column = 0;
  int utf16 = 0;
  bool operator==(const SourcePosition&) const = default;
};

// The musical values a step's duration was worked out from.
struct StepMusic {
  double tempo = 0;
  double noteSize = 0;
  int tupletDivisor = 1;
};

// What the compiler records beside one part record while it expands grids.
struct PartSource {
  int sectionLine = 0;  // the section line that made the record; 0 for the placeholder
  // Parallel to the record's step tables: the values its duration came from (all zero
  // while it was never timed).
  std::vector<StepMusic> music;
  // One entry per item added to a step's event string, in the order they were added, so
  // the n-th entry of a step names the grid character of that step's n-th item.
  struct Item {
    std::int32_t step;
    SourcePosition position;
  };
  std::vector<Item> items;
};

// Parallel to the part table.
using SourceMap = std::vector<PartSource>;

}  // namespace pulsewright
