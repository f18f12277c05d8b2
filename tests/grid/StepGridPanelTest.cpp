// The step grid panel on a real editor, offscreen: mouse and keys on the cells give
// exactly the expected text, each one undo step, and the panel draws what it shows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>

#include "grid/ui/StepGridPanel.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

// An editor and a grid over it, the grid given a compilation at every change as the
// window's session does.
struct GridOverEditor {
  explicit GridOverEditor(const QString& text) {
    editor.setPlainText(text);
    QObject::connect(&panel, &StepGridPanel::editRequested, [this](std::vector<TextChange> c) {
      applyToEditor(editor, panel.model().editorChanges(c));
    });
    QObject::connect(&editor, &QPlainTextEdit::textChanged, [this] { compile(); });
    panel.showPartAtLine(3);
    compile();
    panel.resize(700, 200);
    panel.show();
  }
  void compile() {
    TablatureCompiler compiler;
    CompileRequest request;
    request.sampleProblem = nullptr;
    request.diagnose = false;
    panel.setCompiled(
        compileDocument(compiler, joinLinesWithCrLf(editor.toPlainText().toStdString()), request)
            .song);
  }
  void click(int row, int step, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(panel.view(), button, {}, panel.view()->cellRect(row, step).center());
  }
  void drag(int row, int from, int to) {
    StepGridView* v = panel.view();
    auto send = [&](QEvent::Type type, int step, Qt::MouseButtons buttons) {
      const QPointF at = v->cellRect(row, step).center();
      const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
      QMouseEvent e(type, at, v->mapToGlobal(at), button, buttons, Qt::NoModifier);
      QApplication::sendEvent(v, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (int s = from + 1; s <= to; ++s) send(QEvent::MouseMove, s, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
  }
  void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(panel.view(), static_cast<Qt::Key>(key), modifiers);
  }
  QPlainTextEdit editor;
  StepGridPanel panel;
};

const QString kGroove =
    "k = kick\n"
    "s = snare\n"
    "part = A tempo = 120 notes = 8\n"
    "s |--x---x-|--x---x-|\n"
    "k |x---x---|x---x-x-|\n"
    "song = A\n";

TEST(StepGridPanel, ClicksDragsAndKeysGiveExactlyTheTextAndUndoRestoresIt) {
  GridOverEditor g(kGroove);
  ASSERT_EQ(g.panel.model().rows().size(), 2u);
  g.click(0, 0);    // rest -> x
  g.click(1, 0);    // x -> rest
  g.drag(1, 1, 3);  // paints x x x
  g.panel.view()->setFocus();
  g.panel.model().setCursor(0, 2);
  g.key(Qt::Key_7);  // x -> X
  g.key(Qt::Key_Right);
  g.key(Qt::Key_Right);
  g.key(Qt::Key_3);  // rest -> 3
  g.key(Qt::Key_Down);
  g.key(Qt::Key_Delete);  // k step 4: x -> rest
  g.key(Qt::Key_Space);   // and back
  g.key(Qt::Key_Space);
  const QString edited =
      "k = kick\n"
      "s = snare\n"
      "part = A tempo = 120 notes = 8\n"
      "s |x-X-3-x-|--x---x-|\n"
      "k |-xxx----|x---x-x-|\n"
      "song = A\n";
  EXPECT_EQ(g.editor.toPlainText(), edited);

  // Ctrl+D copies the cursor's bar after it, Insert puts a bar of rests before it.
  g.key(Qt::Key_D, Qt::ControlModifier);
  g.key(Qt::Key_Insert);
  const QString barred =
      "k = kick\n"
      "s = snare\n"
      "part = A tempo = 120 notes = 8\n"
      "s |--------|x-X-3-x-|x-X-3-x-|--x---x-|\n"
      "k |--------|-xxx----|-xxx----|x---x-x-|\n"
      "song = A\n";
  EXPECT_EQ(g.editor.toPlainText(), barred);
  EXPECT_EQ(g.panel.model().columnCount(), 32);

  // One undo step per edit, back to the text as it was.
  int undos = 0;
  while (g.editor.document()->isUndoAvailable() && g.editor.toPlainText() != kGroove) {
    g.editor.undo();
    ++undos;
  }
  EXPECT_EQ(g.editor.toPlainText(), kGroove);
  EXPECT_EQ(undos, 10);  // 2 clicks, 1 drag, 5 keys, 2 bar edits
}

// Ctrl+click cycles a cell through the marks its drum takes, a mark's key puts that mark
// at the hit's level, and the part's sticking shows as a lane under the rows.
TEST(StepGridPanel, CtrlClicksAndMarkKeysPutArticulations) {
  GridOverEditor g(
      "s = snare\nh = closed hat\nk = kick\npart = A tempo = 120 notes = 8\n"
      "s |--x---X-|\nh |x-x-x-x-|\nk |x---x---|\nst |R-L-R-L-|\nsong = A\n");
  ASSERT_EQ(g.panel.model().rows().size(), 3u);
  const auto ctrlClick = [&](int row, int step) {
    QTest::mouseClick(g.panel.view(), Qt::LeftButton, Qt::ControlModifier,
                      g.panel.view()->cellRect(row, step).center());
  };
  ctrlClick(0, 2);  // x -> f
  ctrlClick(0, 2);  // f -> d
  ctrlClick(2, 0);  // a kick takes no mark: x stays
  g.panel.view()->setFocus();
  g.panel.model().setCursor(0, 6);
  QTest::keyClick(g.panel.view(), 'r');  // X -> R, the accent kept
  g.panel.model().setCursor(1, 2);
  QTest::keyClick(g.panel.view(), 'h');
  g.panel.model().setCursor(1, 7);
  QTest::keyClick(g.panel.view(), '!');  // a choke on a rest
  EXPECT_EQ(g.editor.toPlainText(),
            "s = snare\nh = closed hat\nk = kick\npart = A tempo = 120 notes = 8\n"
            "s |--d---R-|\nh |x-h-x-x!|\nk |x---x---|\nst |R-L-R-L-|\nsong = A\n");
  EXPECT_EQ(g.panel.model().cell(0, 2).articulation, Articulation::Drag);
  EXPECT_EQ(g.panel.model().cell(1, 7).articulation, Articulation::Choke);
  EXPECT_EQ(g.panel.model().sticking(), "R-L-R-L-");
  EXPECT_EQ(g.panel.view()->sizeHint().height(),
            StepGridView::kRulerHeight + 5 * StepGridView::kRowHeight + 1);
}

TEST(StepGridPanel, ShowsWhyALineIsNoRowAndDrawsCellsPlayheadAndCursor) {
  GridOverEditor g(
      "k = kick\n"
      "s = snare\n"
      "part = A tempo = 120 notes = 8\n"
      "s |--x---X-|--3---x-|\n"
      "k |x---x---|x---\n"
      "h |x-x-x-x-|x-x-x-x-|  is hats\n"
      "song = A\n");
  EXPECT_TRUE(g.panel.noteLabel()->isVisibleTo(&g.panel));
  EXPECT_NE(g.panel.noteLabel()->text().indexOf("Line 6 is no grid line"), -1);
  EXPECT_EQ(g.panel.title()->text(), "Part A");
  g.panel.setPlaying(1, 5);
  g.panel.view()->setFocus();
  g.panel.model().setCursor(1, 2);
  const QImage image = g.panel.grab().toImage();
  std::filesystem::create_directories(PW_ARTIFACTS_DIR);
  image.save(QString(PW_ARTIFACTS_DIR) + "/step-grid-panel.png");
  // The accent on step 6 is darker than the ghost (level 3) on step 10, which is only
  // outlined; the missing steps of the kick line are hatched, so neither is blank.
  const QImage view = g.panel.view()->grab().toImage();
  auto ink = [&](int row, int step) {
    const QRect r = g.panel.view()->cellRect(row, step).adjusted(3, 3, -3, -3);
    int dark = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x) dark += qGray(view.pixel(x, y)) < 200;
    return dark;
  };
  EXPECT_GT(ink(0, 6), ink(0, 2));
  EXPECT_GT(ink(0, 2), ink(0, 10));
  EXPECT_GT(ink(1, 13), 0);
  g.panel.stopped();
  EXPECT_EQ(g.panel.model().playingStep(), -1);
}

}  // namespace
}  // namespace pulsewright
