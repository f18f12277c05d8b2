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

}  // namespace pulsewright
