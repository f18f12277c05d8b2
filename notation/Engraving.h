#pragma once
// The score laid out as drum staves: every line, head, rest and word with its place, in
// staff spaces from the top left. The staff view and the printed pages draw it as it is,
// so both show the same engraving.

#include <cstddef>
#include <string>
#include <vector>

#include "notation/Score.h"

namespace pulsewright {

struct EngravedHead {
  double x = 0, y = 0;  // centre
  Notehead head = Notehead::Normal;
  bool hollow = false;       // a half or whole note
  bool parentheses = false;  // a ghost note's
  bool accent = false;
  double accentY = 0;
  // How the hit is struck; a half-open hat, a choke and a cymbal's edge are marked at
  // markY, over the stem's end (beyond an accent) as accents are.
  Articulation articulation = Articulation::None;
  double markY = 0;
  bool grace = false;  // a small grace head before its note (a flam's or a drag's)
  bool dotted = false;
  double dotY = 0;
  int voice = 1;
  int staffPosition = 0;  // half spaces above the bottom line
  std::size_t column = 0;
  SourcePosition source;
};

enum class StrokeKind : std::uint8_t {
  StaffLine,
  LedgerLine,
  BarLine,
  ThickBarLine,
  RepeatDot,  // a dot: a stroke of no length with round ends
  Clef,
  Stem,
  Beam,
  Flag,
  TupletBracket,
  SimileSlash,  // the thick stroke of the one-bar repeat sign, between two RepeatDots
  GraceStem,    // a grace note's stem, slash and beam
  BuzzRoll,     // the "z" across the stem of a buzz roll
};
struct EngravedStroke {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  double width = 0.12;
  StrokeKind kind = StrokeKind::StaffLine;
};

struct EngravedRest {
  double x = 0, y = 0;  // centre
  int typeLog2 = -1;
  bool dotted = false;
  int voice = 1;
};

enum class TextKind : std::uint8_t {
  TimeSignature,
  PartName,
  Tempo,
  TupletNumber,
  MeasureNumber,
  RepeatCount,  // "×N" over a closing repeat bar line
  Title,
  Composer,
  PageNumber,
  Sticking,  // a hand of the sticking line, under the staff at its step
  Swing,     // "Swing 62:38" where a part's swing starts or changes
};
struct EngravedText {
  double x = 0, y = 0;  // the left end of the baseline; time signatures, tuplet numbers,
                        // titles and page numbers are centred on x (and the first two on y)
  std::string text;
  double size = 1.5;  // height in spaces
  TextKind kind = TextKind::PartName;
};

// The room one step takes: for the playing mark and for clicks.
struct EngravedColumn {
  double x0 = 0, x1 = 0, top = 0, bottom = 0;
  std::size_t measure = 0;
  int partStep = 0;
  int songPosition = 1;
  int songPositions = 1;  // a repeated part's columns stand for this many positions
};

// The approximate box of a text, for layout and for checks that nothing overlaps.
struct Box {
  double left = 0, top = 0, right = 0, bottom = 0;
};
Box textBox(const EngravedText& text);

struct Engraving {
  double width = 0, height = 0;
  std::vector<double> systemTops;  // y of each system's top staff line
  // Where each system's things begin in the lists below, and how far it reaches up and
  // down: pages are cut between systems.
  struct System {
    double top = 0, bottom = 0;
    std::size_t strokes = 0, heads = 0, rests = 0, texts = 0, columns = 0;
  };
  std::vector<System> systems;
  std::vector<EngravedStroke> strokes;
  std::vector<EngravedHead> heads;
  std::vector<EngravedRest> rests;
  std::vector<EngravedText> texts;
  std::vector<EngravedColumn> columns;
};

// Lays the score out in systems `width` spaces wide: measures as wide as their notes need,
// each full system stretched to the width, a measure too dense for one system carried
// on to the next.
Engraving engrave(const Score& score, double width);

// Staff spaces across a printed page inside its margins: a staff a little under 8 mm
// tall on A4, as printed drum charts have it.
constexpr double kPageSpacesAcross = 90.0;

// The score on pages of `width` x `height` spaces: a title block on the first, systems
// never cut, a page number at each foot.
std::vector<Engraving> engravePages(const Score& score, double width, double height);

}  // namespace pulsewright
