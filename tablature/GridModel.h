#pragma once
// The grid lines of a document as the compiler read them: each line's part, symbol and
// the voice it binds, where it stands in the text, its bar lines, brackets and steps.
// Made while the compiler reads (the grammar of a grid line is known there only), so
// that what shows or changes a groove never parses grid text again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/DrumVoice.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// The grid marks: a hit (x X o O, a digit 0-9) or a rest (-); brackets and bar lines
// make no step.
bool isGridMark(char c);
// The level a mark plays: x and o 5, X and O 7, a digit its value, a rest 0.
int levelOfGridMark(char c);

struct GridStep {
  char mark = '-';
  int level = 0;
  std::uint32_t column = 0;  // byte offset from the line's start, from 0
  std::uint32_t index = 0;   // the step of the part, from 0
};

// "[" ... "]": byte offsets from the line's start; close is kNoClose when the line has no
// "]" after the "[" (the rest of the line is then outside brackets).
struct GridBracket {
  static constexpr std::uint32_t kNoClose = 0xFFFFFFFFU;
  std::uint32_t open = 0;
  std::uint32_t close = kNoClose;
};

class GridModel;

struct GridLine {
  std::size_t offset = 0;    // of the line's first byte in the compiled text (lines CR LF)
  int part = 0;              // index into Timeline::parts()
  int line = 0;              // from 1
  std::uint32_t length = 0;  // bytes, its line end aside
  std::uint32_t symbolColumn = 0;
  std::int32_t symbolId = -1;    // index into Timeline::symbols()
  std::uint32_t bodyColumn = 0;  // of the grid's first character, after the opening "|"
  std::uint32_t bodyLength = 0;  // without the trailing blanks
  std::uint32_t stepCount = 0;
  ItemVoice voice;             // what the line plays
  bool symbolDefined = false;  // false: the line plays the sound of the grid line before
  // The last of bars() is the grid's last character, a "|" the compiler never reads.
  bool closedByLastCharacter = false;

  const std::string& symbol(const GridModel& model) const;
  // The bar lines as the step each stands before, the opening one (0) first, as the
  // compiler counts them (repeated "|" at one step are one).
  std::vector<std::int32_t> bars(const GridModel& model) const;
  // Every "|" of the line, the opening one first, as byte offsets from its start.
  std::vector<std::uint32_t> barColumns(const GridModel& model) const;
  std::vector<GridBracket> brackets(const GridModel& model) const;
  std::vector<GridStep> steps(const GridModel& model) const;
  // Step `index` of the line (index < stepCount).
  GridStep step(const GridModel& model, std::uint32_t index) const;
  // The grid's last character, which the compiler never reads.
  std::uint32_t lastColumn() const { return bodyColumn + bodyLength - 1; }

 private:
  friend class TablatureCompiler;
  friend class GridModel;
  // Kept small, as a long document has a hundred thousand grid lines.
  std::uint32_t firstSkip_ = 0;  // into GridModel::skips_: its bar lines and brackets
  std::uint32_t skipCount_ = 0;
  std::uint32_t firstBracket_ = 0;  // into GridModel::brackets_
  std::uint32_t bracketCount_ = 0;
};
static_assert(sizeof(GridLine) <= 64);

// A line that binds a symbol to a drum voice.
struct VoiceBinding {
  int line = 0;
  DrumVoice voice = DrumVoice::BassDrum;
  std::string symbol;
};

// A part's section line; index 0 (the grid lines above every section line) has none.
struct GridSection {
  int line = 0;  // 0 for none
  std::size_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t nameColumn = 0;  // the part's name in the line
  std::uint32_t nameLength = 0;
};

class GridModel {
 public:
  // In line order.
  const std::vector<GridLine>& lines() const { return lines_; }
  const std::vector<VoiceBinding>& bindings() const { return bindings_; }
  // Indexed as Timeline::parts().
  const std::vector<GridSection>& sections() const { return sections_; }
  // The symbols of the wave-sample lines.
  const std::vector<std::string>& sampleSymbols() const { return sampleSymbols_; }
  // The grid of `line` as it was read (up to the trailing blanks).
  std::string_view body(const GridLine& line) const {
    return std::string_view(text_).substr(line.offset + line.bodyColumn, line.bodyLength);
  }
  // The grid line on line `lineNumber` (from 1); null for none.
  const GridLine* lineAt(int lineNumber) const;
  // The grid lines of part `part`, in line order, as indices into lines().
  std::vector<std::size_t> linesOfPart(int part) const;
  // The text the model was read from, lines joined by CR LF.
  const std::string& text() const { return text_; }

 private:
  friend class TablatureCompiler;
  friend struct GridLine;
  // Empty, its memory kept.
  void clear() {
    lines_.clear();
    bindings_.clear();
    sections_.clear();
    sampleSymbols_.clear();
    text_.clear();
    skips_.clear();
    brackets_.clear();
    symbols_.clear();
  }
  std::vector<GridLine> lines_;
  std::vector<VoiceBinding> bindings_;
  std::vector<GridSection> sections_;
  std::vector<std::string> sampleSymbols_;
  std::string text_;  // the compiled text: one copy costs less than one per line
  // Body offsets of the examined bar lines and brackets of every line, in line order.
  std::vector<std::uint32_t> skips_;
  std::vector<GridBracket> brackets_;
  std::vector<std::string> symbols_;  // the song's symbols
};

}  // namespace pulsewright
