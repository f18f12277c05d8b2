#pragma once
// Edits of a groove by what it means (a step's mark, a bar, a voice line, a part), each
// worked out on the compiler's grid-line model as the smallest changes of the text that
// compile to the intended song. Every other byte stays as it was: comments, spacing,
// line ends, and the lines of a document that does not compile cleanly. The window's
// editor can apply the changes as one undo step.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "padmap/DrumVoice.h"
#include "padmap/PadMap.h"
#include "tablature/GridModel.h"
#include "tablature/Timeline.h"

namespace pulsewright {

class TablatureCompiler;

// Replace `length` bytes at `offset` with `text`.
struct TextChange {
  std::size_t offset = 0;
  std::size_t length = 0;
  std::string text;
  bool operator==(const TextChange&) const = default;
};

// A step whose mark an edit changes, where it stands once the edit is applied.
struct StepChange {
  int line = 0;    // from 1
  int column = 0;  // from 1
  std::string symbol;
  char from = '-';
  char to = '-';
};

struct GrooveEdit {
  // In text order, none overlapping; offsets into the text before the edit.
  std::vector<TextChange> changes;
  std::vector<StepChange> steps;
  std::string error;  // why the edit cannot be made; nothing changes then
  bool ok() const { return error.empty(); }
};

// The changes applied to `text`.
std::string applyChanges(std::string_view text, const std::vector<TextChange>& changes);

// A drum voice by its caption ("Snare Drum") or a name a voice line may give it ("kick",
// "closed hi-hat"), in any case.
std::optional<DrumVoice> drumVoiceNamed(std::string_view name);

// A document's text and the grid model of its fresh compilation.
class GrooveDocument {
 public:
  // `text` is UTF-8 with any line ends (CR LF, LF, a lone CR), as read from a file.
  explicit GrooveDocument(std::string text, const PadMap& padMap = defaultPadMap());
  // The text `song` was compiled from, taken with that compilation, so that no edit
  // compiles it again before it changes; `song` has a grid model.
  explicit GrooveDocument(std::shared_ptr<const Timeline> song,
                          const PadMap& padMap = defaultPadMap());
  ~GrooveDocument();
  // How the document's texts (lines joined by CR LF) are compiled, each from nothing; by
  // default with a compiler of the document's own. The command line's session gives its.
  using Compile = std::function<std::shared_ptr<const Timeline>(std::string_view text)>;
  void compileThrough(Compile compile) {
    compile_ = std::move(compile);
    song_.reset();
  }
  GrooveDocument(const GrooveDocument&) = delete;
  GrooveDocument& operator=(const GrooveDocument&) = delete;

  const std::string& text() const { return text_; }
  const Timeline& song() const;
  const GridModel& model() const;

  // The part of that name the song plays (the last of the name); -1 for none.
  int partNamed(std::string_view name) const;
  // The grid lines of `part` that play `voice`, a grid line's symbol or a drum voice's
  // name, as indices into model().lines().
  std::vector<std::size_t> linesOfVoice(int part, std::string_view voice) const;
  // Where byte `column` of line `line` (from 1) of the compiled text stands in text().
  std::size_t offsetOf(int line, std::size_t column) const;
  // The line (from 1) and byte column (from 0) of byte `offset` of text().
  std::pair<int, std::size_t> positionOf(std::size_t offset) const;

  // Sets step `step` (from 0, across bars) of `voice` in `part` to `mark` (x X o O, a
  // digit, or - for a rest). A line shorter than the step is lengthened with rests as the
  // part's lines are barred; a voice with no grid line in the part gets one.
  GrooveEdit setStep(int part, std::string_view voice, std::uint32_t step, char mark) const;
  GrooveEdit clearStep(int part, std::string_view voice, std::uint32_t step) const {
    return setStep(part, voice, step, '-');
  }
  // Bar `bar` (from 0) of the part's bar lines, in every grid line of the part.
  GrooveEdit insertBar(int part, std::size_t bar) const;  // a bar of rests before it
  GrooveEdit deleteBar(int part, std::size_t bar) const;
  GrooveEdit duplicateBar(int part, std::size_t bar) const;
  // A grid line of rests for `voice`, barred as the part's longest line, after the part's
  // last grid line (or before its first, where the lines there would time it otherwise);
  // with a voice line for it where its symbol cannot be used.
  GrooveEdit addVoiceLine(int part, std::string_view voice) const;
  // A copy of the part, its section line naming it `name`, after the part.
  GrooveEdit duplicatePart(int part, std::string_view name) const;

  // Applies an edit that is ok() and reads the text again.
  void apply(const GrooveEdit& edit);

 private:
  enum class BarEdit { Insert, Delete, Duplicate };
  GrooveEdit barEdit(int part, std::size_t bar, BarEdit kind) const;
  GrooveEdit newVoiceLine(int part, std::string_view voice, std::optional<std::uint32_t> step,
                          char mark) const;
  struct StepTiming {
    std::int16_t duration = 0;
    double tempo = 0;
    double noteSize = 0;
    int divisor = 1;
    bool operator==(const StepTiming&) const = default;
  };
  std::vector<StepTiming> timingOf(int part) const;
  // Whether part `part` of the text with the changes made has steps timed as `expected`.
  bool timedAs(const std::vector<TextChange>& changes, int part,
               const std::vector<StepTiming>& expected) const;
  // Whether part `part` keeps the timing of its steps with the changes made.
  bool keepsTiming(int part, const std::vector<TextChange>& changes) const;
  std::string_view lineText(int line) const;  // without its line end
  std::string_view lineEnd(int line) const;   // "" for the last line without one
  std::string_view usualLineEnd() const;
  bool partExists(int part, GrooveEdit* edit) const;
  void read();
  void compiled() const;  // compiles the text where it changed since

  std::string text_;
  PadMap padMap_;
  std::unique_ptr<TablatureCompiler> compiler_;
  Compile compile_;
  mutable std::shared_ptr<const Timeline> song_;  // null until compiled
  std::shared_ptr<const Timeline> compileText(const std::string& crlfText) const;
  std::vector<std::size_t> lineStarts_;  // into text_, one per line
};

}  // namespace pulsewright
