#pragma once
// The line patterns of the tablature language: 47 tests (the 46 a line goes through,
// in the compiler's order, plus the program item of a section line) and 49 field
// extractions. They are kept in the source as the language defines them (ECMAScript
// syntax) and rewritten for RE2 when compiled.

#include <array>
#include <bitset>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/DrumVoice.h"

namespace pulsewright {

enum class VoiceForm { VoiceFirst, SymbolFirst };

struct VoiceAssignment {
  VoiceForm form;
  DrumVoice voice;
};

// The order in which a line's voice assignments are tried; a later one of the same
// voice overrides an earlier one.
extern const std::array<VoiceAssignment, 34> kVoiceAssignmentOrder;

// Metadata keys in the order the compiler tries them.
enum class MetaKey { Author, Description, Artist, Genre, Title };
inline constexpr std::array<std::string_view, 5> kMetaKeyWords = {"author", "description", "artist",
                                                                  "genre", "title"};

// Test numbers, in the order the compiler applies them.
namespace line_test {
inline constexpr int kWave = 0;
inline constexpr int kMetaFirst = 1;   // + MetaKey
inline constexpr int kVoiceFirst = 6;  // + position in kVoiceAssignmentOrder
inline constexpr int kSong = 40;
inline constexpr int kSectionKeyword = 41;
inline constexpr int kSectionName = 42;
inline constexpr int kSectionTempo = 43;
inline constexpr int kSectionNotes = 44;
inline constexpr int kGrid = 45;
inline constexpr int kProgram = 46;
inline constexpr int kCount = 47;
}  // namespace line_test

// Field extractions.
enum class LineField {
  WaveSymbol,
  WaveFile,
  WavePan,
  MetaFirst,                   // + MetaKey, five in all
  VoiceFirst = MetaFirst + 5,  // + position in kVoiceAssignmentOrder, 34 in all
  Song = VoiceFirst + 34,
  SectionName,
  SectionTempo,
  SectionNotes,
  SectionProgram,
  GridSymbol,
  GridBody,
  Count
};
inline constexpr int kFieldCount = static_cast<int>(LineField::Count);

constexpr LineField metaField(MetaKey key) {
  return static_cast<LineField>(static_cast<int>(LineField::MetaFirst) + static_cast<int>(key));
}
constexpr LineField voiceField(int position) {
  return static_cast<LineField>(static_cast<int>(LineField::VoiceFirst) + position);
}

struct LinePatternSources {
  std::array<std::string, line_test::kCount> tests;
  std::array<std::string, kFieldCount> fields;
};

// The patterns as the language writes them.
const LinePatternSources& linePatternSources();

// Rewrites an ECMAScript pattern for RE2 without changing what it matches on a line:
// RE2's \s lacks the vertical tab and its . matches CR, so \s becomes the six blanks
// and . outside a class becomes [^\n\r].
std::string toEngineSyntax(std::string_view pattern);

// Which tests a line passed.
using LineTests = std::bitset<line_test::kCount>;

// True when every one of the four section tests passed.
bool isSectionLine(const LineTests& tests);

// The characters a grid is written with: bar lines, brackets, rests, hits and levels.
bool isGridChar(char c);

// The kinds a line was recognised as, in words ("wave sample", "meta title",
// "voice Bass Drum (symbol first)", "song", "section", "grid"); empty for a line of
// no kind.
std::vector<std::string> describeLineKinds(const LineTests& tests);

// All patterns compiled once. Matching is linear in the line's length whatever it holds.
class LineMatcher {
 public:
  LineMatcher();
  ~LineMatcher();
  LineMatcher(const LineMatcher&) = delete;
  LineMatcher& operator=(const LineMatcher&) = delete;

  // Runs every test on the line in one pass.
  LineTests classify(std::string_view line) const;

  // The first capture of the field's pattern at its first match; false when the
  // pattern is not found in the line. The section and wave-sample fields are read by
  // hand, with the same answer.
  bool extract(LineField field, std::string_view line, std::string_view* value) const;
  // The same read by the field's pattern alone.
  bool patternExtract(LineField field, std::string_view line, std::string_view* value) const;

  // The grid test without the regular-expression engine; the same answer on every line
  // (the tests and the fuzz target hold it to the pattern).
  static bool isGridLine(std::string_view line);

  // The symbol and grid fields of a line that passed the grid test, read without a
  // second pattern run. Exact for such lines: blanks can never be word characters or
  // grid characters, so the leading blanks, the symbol's whole word run, the first "|"
  // and the trailing blanks are where the patterns put them.
  static void gridFields(std::string_view line, std::string_view* symbol, std::string_view* body);

  // The symbol field of a wave-sample line whose file field was found (the two field
  // patterns are the same pattern with the capture in another place): the word run
  // after the leading blanks.
  static std::string_view waveSymbol(std::string_view line);

  // Runs one test on its own (the slow path, also used when the one-pass set gives up).
  bool test(int testNumber, std::string_view line) const;

 private:
  struct Compiled;
  std::unique_ptr<Compiled> compiled_;
};

}  // namespace pulsewright
