#pragma once
// The line patterns that most lines of a song go through, read by hand: grid lines,
// section lines and wave-sample lines. Each function answers exactly what its pattern
// answers on any line (the tests and the fuzz target hold them to the patterns), in one
// pass, linear in the line's length, without allocating. Beside them, how a line that
// passed no test falls short of a grid line.

#include <array>
#include <cstdint>
#include <string_view>

#include "tablature/Articulation.h"
#include "tablature/LinePatterns.h"

namespace pulsewright::line_scan {

// Character classes of the patterns: \s is the six blanks, \w is [0-9A-Za-z_] (one
// byte is one character), and the grid characters.
enum : std::uint8_t { kBlankClass = 1, kWordClass = 2, kGridClass = 4 };

inline constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (const char c : {' ', '\t', '\n', '\x0B', '\f', '\r'})
    classes[static_cast<unsigned char>(c)] |= kBlankClass;
  for (int c = 0; c < 256; ++c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')
      classes[static_cast<std::size_t>(c)] |= kWordClass;
  }
  for (const char c : {'[', ']', '-', '|', 'x', 'X', 'o', 'O'})
    classes[static_cast<unsigned char>(c)] |= kGridClass;
  for (char c = '0'; c <= '9'; ++c) classes[static_cast<unsigned char>(c)] |= kGridClass;
  return classes;
}();

inline bool isBlank(char c) {
  return (kCharClasses[static_cast<unsigned char>(c)] & kBlankClass) != 0;
}
inline bool isWord(char c) {
  return (kCharClasses[static_cast<unsigned char>(c)] & kWordClass) != 0;
}
inline bool isGrid(char c) {
  return (kCharClasses[static_cast<unsigned char>(c)] & kGridClass) != 0;
}

// The grid test; on success also its symbol and grid fields.
bool gridLine(std::string_view line, std::string_view* symbol, std::string_view* body);

// A grid line that holds expression marks (f d z c r b e h in either case, and !): the
// grid test turns such a line away, so no older document has one. The same fields as
// gridLine; true also for a line gridLine passes.
bool markedGridLine(std::string_view line, std::string_view* symbol, std::string_view* body);
inline bool isExpressionMark(char c) {
  return articulationOfMark(c).has_value();
}

// The symbol of a sticking line, "st |R-L-R-L-|", and its characters: R and L for the
// hands, B for both, lower case for a soft stroke, - for none.
inline constexpr std::string_view kStickingSymbol = "st";
inline bool isStickingChar(char c) {
  return c == 'R' || c == 'L' || c == 'B' || c == 'r' || c == 'l' || c == 'b' || c == '-';
}
// A sticking line: the symbol, "|", sticking characters, bar lines and brackets, with at
// least one hand (a body of rests alone is an ordinary grid line); `body` as gridLine's.
bool stickingLine(std::string_view line, std::string_view* body);

// A section line's "swing = 62" or "humanize = 8" item (`word` lower case; any case in
// the line, a blank before the word, a blank or the line's end after the number), which
// no older pattern reads: the first one, with `text` the number inside the line.
struct WrittenNumber {
  std::string_view text;
  double value = 0.0;
};
bool sectionNumberItem(std::string_view line, std::string_view word, WrittenNumber* number);

// The section keyword test.
bool sectionKeyword(std::string_view line);
// The section name field (and so the section name test).
bool sectionName(std::string_view line, std::string_view* name);
// The tempo, note size and program fields (and tests): the digits of the first
// "tempo = N" (or speed, bpm; notes, beats; program) anywhere in the line.
bool sectionTempo(std::string_view line, std::string_view* digits);
bool sectionNotes(std::string_view line, std::string_view* digits);
bool sectionProgram(std::string_view line, std::string_view* digits);

// A section line's metre item, " metre = N/D" (or "meter"; a blank before the word, a
// blank or the line's end after D), which no older pattern reads: the first one, with
// `text` the "N/D" inside the line. `valid` when N is 1-64 and D a power of two up to 64.
struct WrittenMetre {
  std::string_view text;
  int beats = 0;
  int unit = 0;
  bool valid = false;
};
bool sectionMetre(std::string_view line, WrittenMetre* metre);

// The wave-sample test.
bool waveTest(std::string_view line);
// The wave-sample file field: what stands between "wave" and the first "pan".
bool waveFile(std::string_view line, std::string_view* file);
// The pan field: the number after the first "pan" that has one.
bool wavePan(std::string_view line, std::string_view* pan);

// How a line that passed no test falls short of a grid line where a slip of one
// character would: what the problems list says of it.
struct GridNearMiss {
  enum class Kind {
    None,
    NoBarAfterSymbol,  // "h x-x-|": a defined symbol, then a grid without its "|"
    StrayInSymbol,     // "k. |x-x-|": one character in the symbol spoils it
    NoSymbol,          // "|x-x-|": a grid with no symbol before it
    StrayInGrid,       // "k |x-g-|": a character after the grid's run spoils it
  };
  Kind kind = Kind::None;
  std::size_t at = 0;    // the character it is about, as a byte offset in the line
  std::size_t size = 0;  // its bytes
  // StrayInGrid: the grid characters outnumber the others two to one.
  bool mostlyGrid = false;
};
// The word a line starts with, after its blanks.
std::string_view leadingWord(std::string_view line);
// `wordDefined`: the leading word is a symbol the document defines, so a line that goes
// on like a grid is surely meant as one, whatever else it holds.
GridNearMiss gridNearMiss(std::string_view line, bool wordDefined);

// The section fields of a line, read as its tests are: each one is its field's value
// where the line passed the field's test (the program: its program test).
struct SectionFields {
  std::string_view name;
  std::string_view tempo;
  std::string_view notes;
  std::string_view program;
};

// Every test of a line that holds "=", when no voice, meta or song test can pass it;
// false otherwise, and only the pattern set can tell. `fields` may be null.
bool classify(std::string_view line, LineTests* tests, SectionFields* fields = nullptr);

}  // namespace pulsewright::line_scan
