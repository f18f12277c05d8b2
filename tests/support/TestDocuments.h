#pragma once
// Documents for tests: lines joined as the editor hands them over, and the songs they
// compile to.

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"
#include "playback/Sequencer.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

// Lines joined with CR LF, the separator the compiler splits at.
inline std::string doc(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

// The song `compiler` makes of `text`, starting from the state it already holds.
inline std::shared_ptr<const Song> compileSong(TablatureCompiler& compiler, const std::string& text,
                                               const PadMap& padMap = defaultPadMap()) {
  compiler.compile(text, padMap, nullptr);
  return makeSong(compiler.song());
}

// A part as compile's JSON shows it: every step's duration, tail steps included, and
// its items as text.
struct PartRecord {
  std::int16_t program = 0;
  std::string name;
  std::vector<std::int16_t> stepTimes;
  std::vector<std::string> stepEvents;
  bool hasSteps() const { return !stepTimes.empty(); }
};
using PartTable = std::vector<PartRecord>;

inline PartTable partTableOf(const Timeline& song) {
  PartTable table;
  for (const TimelinePart& part : song.parts()) {
    PartRecord r;
    r.program = part.program;
    r.name = part.name;
    for (const TimelineStep& step : part.steps) {
      r.stepTimes.push_back(step.duration);
      r.stepEvents.emplace_back();
      appendStepEvents(song, part, step, &r.stepEvents.back());
    }
    for (const std::int16_t d : part.tailDurations) {
      r.stepTimes.push_back(d);
      r.stepEvents.emplace_back();
    }
    table.push_back(std::move(r));
  }
  return table;
}

// The compiler's state with its song's parts as a table.
struct StateView : CompilerState {
  PartTable partTable;
};
inline StateView stateView(const TablatureCompiler& compiler) {
  StateView v{compiler.state(), partTableOf(*compiler.song())};
  return v;
}

// The song a fresh compiler makes of `text`.
inline std::shared_ptr<const Song> compileSong(const std::string& text) {
  TablatureCompiler compiler;
  return compileSong(compiler, text);
}

}  // namespace pulsewright
