#pragma once
// Compiles tablature text into the part table. One compiler lives as long as the main
// window: the voice symbols, the song, the metadata, the current section's fields, the
// sound of the last grid line and the tuplet divisor carry over from one compilation to
// the next, as a user who presses Play twice expects.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "padmap/PadMap.h"
#include "tablature/LinePatterns.h"
#include "tablature/PartTable.h"

namespace pulsewright {

inline constexpr std::string_view kMissingSectionMessage =
    "Error: Part needs a section line to define name and tempo and note size.";
inline constexpr std::string_view kUndefinedSymbolMessage = "Error: Part has an undifined symbol.";

// What a compilation reports while it runs. The window shows messages in a modal box;
// the command line prints them. The compilation goes on when message() returns.
class CompileListener {
 public:
  virtual ~CompileListener() = default;
  // lineNumber counts from 1.
  virtual void message(int lineNumber, std::string_view text) = 0;
  // Called for every line, in order, with the tests it passed.
  virtual void lineClassified(int lineNumber, const LineTests& tests) {
    (void)lineNumber;
    (void)tests;
  }
};

// Everything a compilation reads and writes besides the text and the pad map.
struct CompilerState {
  PartTable partTable;
  std::int16_t newPart = 0;
  std::string partName;
  std::string partTempo;
  std::string partNotes;
  std::string partProgram;
  std::vector<std::string> waveNames;  // index 0 is never written
  std::vector<std::string> waveFiles;
  std::vector<std::string> wavePans;
  std::int16_t haveWaves = 0;
  std::array<std::string, kVoiceCount> voiceSymbols;  // pad order, empty while unbound
  std::string songLine;
  std::string metaTitle;
  std::string metaAuthor;
  std::string metaArtist;
  std::string metaGenre;
  std::string metaDescription;
  std::string gridSymbol;
  std::string gridBody;
  std::string soundRef;
  std::int16_t tupletDivisor = 1;
  // Where each step and item of the part table came from; rebuilt by every compilation.
  SourceMap sourceMap;
};

class TablatureCompiler {
 public:
  TablatureCompiler();

  // Compiles the whole text, lines separated by CR LF. The pad map is read at each grid
  // line. The listener may be null.
  void compile(std::string_view text, const PadMap& padMap, CompileListener* listener);

  // Forgets what earlier compilations left behind: the next one reads the text as a
  // newly made compiler would, without compiling the patterns again.
  void reset();

  const CompilerState& state() const { return state_; }
  const PartTable& partTable() const { return state_.partTable; }
  const LineMatcher& matcher() const { return matcher_; }

  // Event strings stop growing once the whole table holds this many bytes, so that no
  // document can exhaust memory (a long sample path played on a long grid would).
  static constexpr std::size_t kEventBudgetBytes = std::size_t{256} << 20;

 private:
  void compileLine(std::string_view line, int lineNumber, const PadMap& padMap,
                   CompileListener* listener, bool& firstWaveSeen);
  void waveLine(std::string_view line, bool& firstWaveSeen);
  void sectionLine(std::string_view line, const LineTests& tests, int lineNumber);
  void expandGrid(const PadMap& padMap, std::string_view line, std::size_t bodyOffset,
                  int lineNumber);
  void lookUpSound(const PadMap& padMap);
  bool setUpStep(std::size_t n);
  // The duration of a step at the current tempo, note size and divisor; none when it
  // divides by zero or does not fit 16 bits.
  std::optional<std::int16_t> stepDuration() const;

  LineMatcher matcher_;
  CompilerState state_;
  std::size_t eventBytes_ = 0;
  // Numeric values of partTempo and partNotes, read once per section line.
  double tempoValue_ = 0.0;
  double notesValue_ = 0.0;
  // Wave name -> index of its last entry in this compilation's wave table.
  std::unordered_map<std::string, std::size_t> lastWaveEntry_;
};

}  // namespace pulsewright
