// The step grid's logic without a window: what it lays out from a compilation, and the
// exact text each click, drag and key makes, read back by the compiler.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "grid/StepGridModel.h"
#include "tablature/CompiledDocument.h"
#include "tablature/GrooveEdit.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {
namespace {

const std::string kRock =
    "k = kick drum\r\n"
    "s = snare\r\n"
    "h = closed hi-hat\r\n"
    "part = A tempo = 120 notes = 8\r\n"
    "h |x-x-x-x-|x-x-x-x-|\r\n"
    "s |--x---x-|--X---x-|\r\n"
    "k |x---x---|x---x-x-|\r\n"
    "part = B tempo = 120 notes = 8\r\n"
    "h |--x---x-|\r\n"
    "k |x---2---|\r\n"
    "song = AB\r\n";

std::shared_ptr<const Timeline> compiled(const std::string& text) {
  TablatureCompiler compiler;
  CompileRequest request;
  request.sampleProblem = nullptr;
  request.diagnose = false;
  return compileDocument(compiler, text, request).song;
}

// A grid over `text`, that takes each edit into its text and is given the new
// compilation, as the window does.
struct Grid {
  explicit Grid(std::string t, int line = 5) : text(std::move(t)) {
    model.showPartAtLine(line);
    model.setCompiled(compiled(text));
  }
  void take(const std::vector<TextChange>& changes) { text = applyChanges(text, changes); }
  void recompile() { model.setCompiled(compiled(text)); }
  std::string text;
  StepGridModel model;
};

std::string rowMarks(const StepGridModel& m, int row) {
  std::string out;
  for (int s = 0; s < m.columnCount(); ++s) {
    const StepGridCell c = m.cell(row, s);
    out += c.missing ? '.' : c.mark;
  }
  return out;
}

TEST(StepGridModel, LaysOutThePartAtTheCursorWithBarsBeatsAndLevels) {
  Grid g(kRock);
  const StepGridModel& m = g.model;
  ASSERT_EQ(m.partName(), "A");
  ASSERT_EQ(m.rows().size(), 3u);
  EXPECT_EQ(m.rows()[0].symbol, "h");
  EXPECT_EQ(m.rows()[0].voiceName, "Closed Hat");
  EXPECT_EQ(m.rows()[1].voiceName, "Snare Drum");
  EXPECT_EQ(m.rows()[2].voiceName, "Bass Drum");
  ASSERT_EQ(m.columnCount(), 16);
  EXPECT_EQ(rowMarks(m, 1), "--x---x---X---x-");
  // Eighth notes in 4/4: a bar line every 8 steps, a beat every 2, every other beat shaded.
  std::string bars;
  std::string beats;
  for (const StepGridColumn& c : m.columns()) {
    bars += c.barStart ? '|' : '.';
    beats += c.beatStart ? (c.shaded ? 'B' : 'b') : (c.shaded ? ':' : '.');
  }
  EXPECT_EQ(bars, "|.......|.......");
  EXPECT_EQ(beats, "b.B:b.B:b.B:b.B:");
  EXPECT_TRUE(m.cell(1, 10).accent);
  EXPECT_EQ(m.cell(1, 10).level, 7);
  EXPECT_FALSE(m.cell(1, 2).accent);
  EXPECT_TRUE(m.note().empty());
  // The "+" row offers the voices the part has no row for.
  const std::vector<DrumVoice> add = m.voicesToAdd();
  EXPECT_EQ(add.size(), kVoiceCount - 3);
  EXPECT_EQ(std::count(add.begin(), add.end(), DrumVoice::SnareDrum), 0);

  // The cursor in part B shows B; playing shows the playing part until Stop.
  g.model.showPartAtLine(9);
  EXPECT_EQ(m.partName(), "B");
  EXPECT_TRUE(m.cell(1, 4).ghost);
  g.model.setPlaying(1, 3);
  EXPECT_EQ(m.partName(), "A");
  EXPECT_EQ(m.playingStep(), 3);
  g.model.showPartAtLine(9);
  EXPECT_EQ(m.partName(), "A");
  g.model.stopped();
  EXPECT_EQ(m.partName(), "B");
  EXPECT_EQ(m.playingStep(), -1);
}

TEST(StepGridModel, ClicksDragsWheelAndKeysChangeOnlyTheirCharacters) {
  Grid g(kRock);
  StepGridModel& m = g.model;
  // A click on a rest sets the default level; on a hit, a rest.
  g.take(m.toggle(1, 0));
  EXPECT_EQ(rowMarks(m, 1), "x-x---x---X---x-");
  g.take(m.toggle(2, 4));
  // The grid shows its edits before the text is compiled again, and edits on from them:
  // the same step clicked again is the text as it was.
  g.take(m.toggle(1, 0));
  std::string expected = kRock;
  expected.replace(expected.find("k |x---x---|") + 7, 1, "-");
  EXPECT_EQ(g.text, expected);

  g.recompile();
  // Digits set a level (5 and 7 as the letters), the wheel steps it, Delete clears.
  g.take(m.setLevel(0, 1, 3));
  g.take(m.setLevel(0, 2, 7));
  g.take(m.changeLevel(0, 4, 1));
  g.take(m.changeLevel(0, 6, -9));
  g.take(m.setMark(0, 8, '-'));
  EXPECT_TRUE(m.setLevel(0, 10, 5).empty());  // x is level 5 already
  expected.replace(expected.find("h |x-x-x-x-|x-x-x-x-|"), 21, "h |x3X-6---|--x-x-x-|");
  EXPECT_EQ(g.text, expected);

  // A drag across rests paints hits in one edit; one that starts on a hit erases.
  g.recompile();
  m.beginPaint(2, 1);
  m.paintOver(2, 2);
  m.paintOver(2, 3);
  EXPECT_EQ(m.cell(2, 3).mark, 'x');  // shown while it drags
  const std::vector<TextChange> painted = m.endDrag();
  EXPECT_EQ(painted.size(), 3u);
  g.take(painted);
  m.beginPaint(0, 12);
  m.paintOver(0, 13);
  m.paintOver(0, 14);
  g.take(m.endDrag());
  // Up and down on one step: its level.
  m.beginPaint(1, 2);
  m.dragLevel(2);
  EXPECT_EQ(m.cell(1, 2).level, 7);
  g.take(m.endDrag());
  expected.replace(expected.find("h |x3X-6---|--x-x-x-|"), 21, "h |x3X-6---|--x-----|");
  expected.replace(expected.find("s |--x---x-|"), 12, "s |--X---x-|");
  expected.replace(expected.find("k |x-------|"), 12, "k |xxxx----|");
  EXPECT_EQ(g.text, expected);
  g.recompile();
  EXPECT_EQ(g.model.compiled()->gridModel()->text(), expected);
}

TEST(StepGridModel, BarsAndVoicesAreAddedAsTheTextWouldHaveThem) {
  Grid g(kRock);
  StepGridModel& m = g.model;
  g.take(m.duplicateBar(9));  // the second bar
  EXPECT_TRUE(m.toggle(0, 0).empty()) << "no edit until the text is read again";
  g.recompile();
  EXPECT_EQ(m.columnCount(), 24);
  g.take(m.insertBar(0));
  g.recompile();
  g.take(m.addVoice(DrumVoice::OpenHat));
  g.recompile();
  ASSERT_EQ(m.rows().size(), 4u);
  EXPECT_EQ(m.rows()[3].voiceName, "Open Hat");
  g.take(m.toggle(3, 0));
  EXPECT_EQ(g.text,
            "k = kick drum\r\n"
            "s = snare\r\n"
            "h = closed hi-hat\r\n"
            "part = A tempo = 120 notes = 8\r\n"
            "h |--------|x-x-x-x-|x-x-x-x-|x-x-x-x-|\r\n"
            "s |--------|--x---x-|--X---x-|--X---x-|\r\n"
            "k |--------|x---x---|x---x-x-|x---x-x-|\r\n"
            "oh = Open Hat\r\n"
            "oh |x-------|--------|--------|--------|\r\n"
            "part = B tempo = 120 notes = 8\r\n"
            "h |--x---x-|\r\n"
            "k |x---2---|\r\n"
            "song = AB\r\n");
}

TEST(StepGridModel, ShortAndIgnoredLinesAreMarkedAndAClickExtendsTheShortOne) {
  Grid g(
      "k = kick\r\n"
      "s = snare\r\n"
      "part = A tempo = 120 notes = 8\r\n"
      "k |x---x---|x---x---|\r\n"
      "s |--x-|--x-|\r\n"
      "s2 |--x- a|\r\n"
      "song = A\r\n",
      4);
  StepGridModel& m = g.model;
  ASSERT_EQ(m.rows().size(), 2u);
  EXPECT_EQ(rowMarks(m, 1), "--x---x-........");
  EXPECT_TRUE(m.cell(1, 9).missing);
  EXPECT_TRUE(m.rows()[1].barsDiffer);
  EXPECT_NE(m.note().find("Line 6 is no grid line: ' ' stands in its grid"), std::string::npos)
      << m.note();
  // A rest on a missing step changes nothing; a hit lengthens the line with rests first.
  EXPECT_TRUE(m.setMark(1, 9, '-').empty());
  g.take(m.toggle(1, 10));
  EXPECT_EQ(m.cell(1, 10).mark, 'x');
  g.recompile();
  EXPECT_EQ(rowMarks(m, 1), "--x---x---x.....");
  EXPECT_NE(g.text.find("\r\ns |--x-|--x-|--x|\r\n"), std::string::npos) << g.text;
}

TEST(StepGridModel, EditsWaitWhileTheTextChangedElsewhereAndTabFindsTheStep) {
  Grid g(
      "k = kick\r\n"
      "part = Grüße tempo = 120 notes = 8\r\n"
      "k |x---x---|\r\n"
      "song = Grüße\r\n",
      3);
  StepGridModel& m = g.model;
  ASSERT_EQ(m.partName(), "Grüße");
  m.textChangedElsewhere();
  EXPECT_TRUE(m.toggle(0, 1).empty());
  EXPECT_FALSE(m.lastError().empty());
  g.recompile();
  // Where the editor puts a new line: after the part's last grid line, with LF.
  const std::vector<TextChange> changes = m.addVoice(DrumVoice::SnareDrum);
  ASSERT_EQ(changes.size(), 1u);
  const std::vector<EditorChange> placed = m.editorChanges(changes);
  ASSERT_EQ(placed.size(), 1u);
  EXPECT_EQ(placed[0].line, 3);
  EXPECT_EQ(placed[0].column, 12);
  EXPECT_EQ(placed[0].endColumn, 12);
  EXPECT_EQ(placed[0].text, "\nsd = Snare Drum\nsd |--------|");
  // The cursor goes to the text's step and back.
  g.recompile();
  m.setCursor(0, 4);
  EXPECT_EQ(m.textPositionOfCursor(), (std::pair<int, std::size_t>{3, 7}));
  ASSERT_TRUE(m.placeCursorAtText(3, 5));
  EXPECT_EQ(m.cursorStep(), 2);
}

}  // namespace
}  // namespace pulsewright
