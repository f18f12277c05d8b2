#pragma once
// What the step grid beside the text shows and does, without a window: one part of a
// compiled document as rows of voices and columns of steps, and each click, drag, wheel
// turn or key as a groove edit of the text. It lays out the shown part only, from the
// compilation it is given, and compiles nothing for display.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "padmap/DrumVoice.h"
#include "padmap/PadMap.h"
#include "tablature/GrooveEdit.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// One row: the grid lines of one symbol in the part.
struct StepGridRow {
  std::string symbol;
  std::string voiceName;  // "Snare Drum", "Sample clap.wav", ...
  ItemVoice voice;
  int firstLine = 0;  // of its grid lines, from 1
  // Per column: the mark, or '\0' for a step the row's lines do not reach.
  std::string marks;
  bool barsDiffer = false;  // its bar lines stand elsewhere than the longest line's
};

struct StepGridColumn {
  bool barStart = false;  // a bar line stands before the step
  int bar = 0;            // from 0
  int beat = 0;           // within the bar, from 0
  bool beatStart = false;
  bool shaded = false;  // every other beat
};

// A cell's level and how it is drawn.
struct StepGridCell {
  char mark = '-';
  int level = 0;
  bool hit = false;
  bool accent = false;  // X, O or a level of 7 or more
  bool ghost = false;   // a hit of level 3 or less
  bool missing = false;
  // How the hit is struck: its mark's letter (or "!" for a choke) is drawn on the cell.
  Articulation articulation = Articulation::None;
};

// A text change where an editor holds it: lines from 1, columns in UTF-16 units, the
// text with LF line ends.
struct EditorChange {
  int line = 1;
  int column = 0;
  int endLine = 1;
  int endColumn = 0;
  std::string text;
};

class StepGridModel {
 public:
  static constexpr char kDefaultMark = 'x';

  explicit StepGridModel(PadMap padMap = defaultPadMap());
  ~StepGridModel();
  StepGridModel(const StepGridModel&) = delete;
  StepGridModel& operator=(const StepGridModel&) = delete;

  // A compilation of the text as it now stands; the grid draws from it until the next.
  // A song without a grid model shows nothing.
  void setCompiled(std::shared_ptr<const Timeline> song);
  const std::shared_ptr<const Timeline>& compiled() const { return song_; }
  // The text changed elsewhere since the compilation: no edit until the next one.
  void textChangedElsewhere() { stale_ = true; }
  bool stale() const { return stale_; }

  // The part whose section line stands nearest above text line `line` (from 1).
  void showPartAtLine(int line);
  // While a song plays, the playing part and its step are shown.
  void setPlaying(int part, int step);
  void stopped();
  int part() const { return part_; }  // -1 for none
  int playingStep() const { return playing_ ? playingStep_ : -1; }

  const std::string& partName() const { return partName_; }
  const std::vector<StepGridRow>& rows() const { return rows_; }
  const std::vector<StepGridColumn>& columns() const { return columns_; }
  int columnCount() const { return static_cast<int>(columns_.size()); }
  // Why some lines of the part are not rows, or why nothing shows; empty when all is well.
  const std::string& note() const { return note_; }
  // The voices the "+" row can add: those with no row in the part.
  std::vector<DrumVoice> voicesToAdd() const;

  StepGridCell cell(int row, int step) const;

  // The keyboard cursor; row rows().size() is the "+" row.
  int cursorRow() const { return cursorRow_; }
  int cursorStep() const { return cursorStep_; }
  void moveCursor(int rows, int steps);
  void setCursor(int row, int step);
  // The text position of the cursor's cell: line from 1, byte column from 0; for a
  // missing step, the end of its row's grid.
  std::pair<int, std::size_t> textPositionOfCursor() const;
  // Puts the cursor on the cell at that text position when it is one of the part's.
  bool placeCursorAtText(int line, std::size_t byteColumn);

  // Each edit below gives the changes of the text it makes (none when it changes nothing
  // or cannot be made; lastError() then says why).
  std::vector<TextChange> toggle(int row, int step);
  std::vector<TextChange> setMark(int row, int step, char mark);
  std::vector<TextChange> setLevel(int row, int step, int level);
  std::vector<TextChange> changeLevel(int row, int step, int by);
  // Puts the articulation of mark `mark` (f d z c r b e h !, either case) on the cell at
  // its hit's level, a hit of level 5 on a rest; the same articulation again takes it
  // off, leaving a plain hit.
  std::vector<TextChange> putArticulation(int row, int step, char mark);
  // The next articulation the row's drum takes (after the last, none again).
  std::vector<TextChange> cycleArticulation(int row, int step);
  // The articulation marks the row's drum takes, in the order a cycle goes.
  std::string articulationsOf(int row) const;
  // The part's sticking line, a hand per step ('-' none); empty when it has none.
  const std::string& sticking() const { return sticking_; }
  std::vector<TextChange> insertBar(int step);     // a bar of rests before the step's bar
  std::vector<TextChange> duplicateBar(int step);  // a copy after it
  std::vector<TextChange> addVoice(DrumVoice voice);
  // A drag across cells: the first cell decides whether it paints hits or rests; the
  // cells are shown changed at once and become one edit when it ends.
  void beginPaint(int row, int step);
  void paintOver(int row, int step);
  // A drag up or down on the first cell instead: its level, shown at once.
  void dragLevel(int by);
  std::vector<TextChange> endDrag();
  bool dragging() const { return drag_.has_value(); }

  // The changes of an edit just made, as an editor of the text places them.
  std::vector<EditorChange> editorChanges(const std::vector<TextChange>& changes);

  const std::string& lastError() const { return error_; }
  // The text the changes apply to: the compiled text with the grid's own edits since.
  const std::string& text() const;

 private:
  struct Drag {
    int row = 0;
    int step = 0;
    bool paintsHits = true;
    int levelBy = 0;
    std::map<std::pair<int, int>, char> cells;
  };
  void layOut();
  int partAt(int line) const;
  char markAt(int row, int step) const;  // with the edits not yet compiled
  GrooveDocument& document();
  // The change that sets a reached step to `mark` in place; none for no change.
  std::optional<TextChange> inPlace(int row, int step, char mark);
  // Gives the document the marks set since the compilation, before an edit that moves text.
  void flushPending();
  std::vector<TextChange> reshape(const GrooveEdit& edit);
  bool editable();
  bool isCell(int row, int step) const;
  char markOfLevel(int row, int step, int level) const;

  PadMap padMap_;
  std::shared_ptr<const Timeline> song_;
  std::unique_ptr<GrooveDocument> document_;  // made at the first edit after a compile
  bool stale_ = false;
  bool reshaped_ = false;  // an edit moved lines or steps: no more until the next compile
  int lineAsked_ = 1;
  int part_ = -1;
  bool playing_ = false;
  int playingPart_ = -1;
  int playingStep_ = -1;
  std::string partName_;
  std::string sticking_;
  std::vector<StepGridRow> rows_;
  std::vector<StepGridColumn> columns_;
  std::string note_;
  // Marks the grid set that the compiled text does not have yet, by row and step.
  struct Pending {
    char mark = '-';
    std::size_t offset = 0;  // of the mark in the text
  };
  std::map<std::pair<int, int>, Pending> pending_;
  std::vector<std::vector<std::size_t>> rowLines_;  // per row, into the grid model's lines
  std::optional<Drag> drag_;
  int cursorRow_ = 0;
  int cursorStep_ = 0;
  std::string error_;
};

}  // namespace pulsewright
