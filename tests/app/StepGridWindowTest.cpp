// The step grid in the main window (run offscreen and under Xvfb): clicks and keys on it
// give exactly the expected text, Undo takes each back, Tab goes to the text and back,
// and while the song plays the grid follows the playing part and its edits are heard
// from the next bar line.

#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <filesystem>

#include "grid/ui/StepGridPanel.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

void putCursorOnLine(QPlainTextEdit* editor, int line) {
  QTextCursor cursor(editor->document()->findBlockByNumber(line - 1));
  editor->setTextCursor(cursor);
}

StepGridPanel* shownGrid(Form1& form) {
  form.action("ShowStepGrid")->trigger();
  return form.stepGrid();
}

TEST(StepGridWindow, ClicksAndKeysEditTheTextUndoTakesThemBackAndTabGoesToTheText) {
  AppFixture f;
  auto form = f.start(0);
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  EXPECT_EQ(form->action("ShowStepGrid")->shortcut(), QKeySequence("Ctrl+G"));
  const QString text =
      "k = kick\n"
      "s = snare\n"
      "part = A tempo = 120 notes = 8\n"
      "s |--x---x-|--x---x-|\n"
      "k |x---x---|x---x-x-|\n"
      "part = B tempo = 120 notes = 8\n"
      "k |x-x-x-x-|\n"
      "song = AB\n";
  form->Text1()->setPlainText(text);
  putCursorOnLine(form->Text1(), 7);
  StepGridPanel* grid = shownGrid(*form);
  ASSERT_TRUE(waitFor([&] { return grid->isVisible() && grid->model().partName() == "B"; }));
  putCursorOnLine(form->Text1(), 4);
  ASSERT_EQ(grid->model().partName(), "A");
  ASSERT_EQ(grid->model().rows().size(), 2u);

  StepGridView* view = grid->view();
  QTest::mouseClick(view, Qt::LeftButton, {}, view->cellRect(0, 0).center());
  ASSERT_TRUE(waitFor([&] { return !grid->model().stale(); }));
  view->setFocus();
  grid->model().setCursor(1, 15);
  QTest::keyClick(view, Qt::Key_9);
  QTest::keyClick(view, Qt::Key_Left);
  QTest::keyClick(view, Qt::Key_Delete);
  const QString edited =
      "k = kick\n"
      "s = snare\n"
      "part = A tempo = 120 notes = 8\n"
      "s |x-x---x-|--x---x-|\n"
      "k |x---x---|x---x--9|\n"
      "part = B tempo = 120 notes = 8\n"
      "k |x-x-x-x-|\n"
      "song = AB\n";
  EXPECT_EQ(form->Text1()->toPlainText(), edited);
  std::filesystem::create_directories(PW_ARTIFACTS_DIR);
  form->grab().save(QString(PW_ARTIFACTS_DIR) + "/step-grid-window.png");

  // Tab: the text cursor on the step's character, and Tab there back to the grid.
  QTest::keyClick(view, Qt::Key_Tab);
  EXPECT_EQ(form->Text1()->textCursor().blockNumber(), 4);
  EXPECT_EQ(form->Text1()->textCursor().positionInBlock(), 18);
  QTextCursor onStep = form->Text1()->textCursor();
  onStep.setPosition(onStep.block().position() + 5);
  form->Text1()->setTextCursor(onStep);
  QTest::keyClick(form->Text1(), Qt::Key_Tab);
  EXPECT_EQ(grid->model().cursorRow(), 1);
  EXPECT_EQ(grid->model().cursorStep(), 2);
  EXPECT_EQ(form->Text1()->toPlainText(), edited) << "no tab typed";

  // Each edit is one step of the editor's undo.
  for (int i = 0; i < 3; ++i) form->action("Undo")->trigger();
  EXPECT_EQ(form->Text1()->toPlainText(), text);
}

TEST(StepGridWindow, FollowsThePlayingPartAndAnEditIsHeardFromTheNextBarLine) {
  AppFixture f;
  auto form = f.start();
  // One grid line a part, so every step sends one note and its note-off.
  form->Text1()->setPlainText(
      "k = kick\n"
      "part = A tempo = 1500 notes = 16\n"
      "k |x---|x---|\n"
      "part = B tempo = 1500 notes = 16\n"
      "k |x---|\n"
      "song = AB\n");
  putCursorOnLine(form->Text1(), 3);
  StepGridPanel* grid = shownGrid(*form);
  ASSERT_TRUE(waitFor([&] { return grid->model().rows().size() == 1; }));
  form->action("LoopSong")->setChecked(true);
  const std::size_t start = f.midi.sent().size();
  form->button("Play")->click();
  // B plays after A, with the cursor still in A.
  ASSERT_TRUE(waitFor([&] { return grid->model().partName() == "B"; }));
  ASSERT_TRUE(
      waitFor([&] { return grid->model().partName() == "A" && grid->model().playingStep() >= 0; }));
  ASSERT_EQ(grid->model().rows().size(), 1u);

  // Part A's step 2 gets a kick while it plays.
  const std::size_t clickedAt = f.sentSince(start).size() / 2;
  QTest::mouseClick(grid->view(), Qt::LeftButton, {}, grid->view()->cellRect(0, 2).center());
  EXPECT_EQ(form->Text1()->document()->findBlockByNumber(2).text(), "k |x-x-|x---|");
  auto kicks = [&] {
    std::vector<std::string> on;
    for (const std::string& m : f.sentSince(start)) {
      if (m.rfind("90 ", 0) == 0) on.push_back(m);
    }
    return on;
  };
  // Heard twice (once the edited text is compiled and handed over at a bar line), so a
  // bar of A that has it was played whole.
  ASSERT_TRUE(waitFor([&] {
    const std::vector<std::string> on = kicks();
    int heard = 0;
    for (std::size_t tick = clickedAt; tick < on.size(); ++tick) {
      if (tick % 12 == 2 && on[tick] == "90 36 76") ++heard;
    }
    return heard >= 2;
  }));
  form->button("Stopb")->click();
  EXPECT_EQ(grid->model().playingStep(), -1);
  EXPECT_EQ(grid->model().partName(), "A");

  // The song is A (8 steps) then B (4): the new kick, once heard, is in every play of A.
  const std::vector<std::string> on = kicks();
  const char* before[] = {"90 36 76", "90 0 12", "90 0 12",  "90 0 12", "90 36 76", "90 0 12",
                          "90 0 12",  "90 0 12", "90 36 76", "90 0 12", "90 0 12",  "90 0 12"};
  std::size_t changedAt = 0;
  for (std::size_t tick = 0; tick < on.size(); ++tick) {
    const std::size_t at = tick % 12;
    std::string expected = before[at];
    // The new kick is step 2 of A's first bar (the text says so).
    if (changedAt == 0 && at == 2 && on[tick] == "90 36 76") changedAt = tick;
    if (changedAt != 0 && at == 2) expected = "90 36 76";
    EXPECT_EQ(on[tick], expected) << "tick " << tick;
  }
  EXPECT_GT(changedAt, 0u);
  EXPECT_GE(changedAt, clickedAt);
}

}  // namespace
}  // namespace pulsewright
