#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "notation/ui/NotationFiles.h"
#include "notation/ui/StaffPanel.h"
#include "notation/ui/StaffView.h"
#include "tablature/TablatureCompiler.h"
#include "tests/support/ScriptedUserDialogs.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;

const char* const kGroove =
    "k = kick\n"
    "s = snare\n"
    "h = closed hat\n"
    "r = ride\n"
    "part = A tempo = 100 notes = 8\n"
    "h |xxxxxxxx|\n"
    "s |--X-2---|\n"
    "k |x---x-x-|\n"
    "part = B tempo = 90 notes = 4\n"
    "r |[xxx]x-x|\n"
    "k |[x--]---|\n"
    "song = AB\n";

struct Panel {
  QPlainTextEdit editor;
  StaffPanel* panel;
  Panel() {
    editor.setPlainText(kGroove);
    panel = new StaffPanel(editor, [] { return defaultPadMap(); });
    panel->resize(900, 400);
    panel->show();
    QApplication::processEvents();
  }
  ~Panel() { delete panel; }
  const Engraving& engraving() const { return panel->view()->engraving(); }
  void moveCursorToLine(int line) {
    QTextCursor c(editor.document()->findBlockByNumber(line - 1));
    editor.setTextCursor(c);
    QApplication::processEvents();
  }
};

std::vector<const EngravedHead*> headsAt(const Engraving& e, int staffPosition) {
  std::vector<const EngravedHead*> found;
  for (const EngravedHead& h : e.heads) {
    if (h.staffPosition == staffPosition) found.push_back(&h);
  }
  return found;
}

int strokes(const Engraving& e, StrokeKind kind) {
  return static_cast<int>(
      std::count_if(e.strokes.begin(), e.strokes.end(),
                    [kind](const EngravedStroke& s) { return s.kind == kind; }));
}

// The stem of a head: the stem stroke that starts or ends at its height beside it.
const EngravedStroke* stemOf(const Engraving& e, const EngravedHead& h) {
  for (const EngravedStroke& s : e.strokes) {
    if (s.kind == StrokeKind::Stem && std::abs(std::abs(s.x1 - h.x) - 0.6) < 1e-6 &&
        std::min(s.y1, s.y2) <= h.y + 1e-6 && std::max(s.y1, s.y2) >= h.y - 1e-6) {
      return &s;
    }
  }
  return nullptr;
}

TEST(StaffView, EngravesThePartUnderTheCursor) {
  Panel p;
  p.moveCursorToLine(6);  // a grid line of part A
  const Engraving& e = p.engraving();
  ASSERT_EQ(e.systemTops.size(), 1u);
  const double top = e.systemTops[0];
  // The hat in the space above the staff, x heads; the snare in the third space; the
  // kick in the first space.
  const auto hats = headsAt(e, 9);
  ASSERT_EQ(hats.size(), 8u);
  EXPECT_NEAR(hats[0]->y, top - 0.5, 1e-9);
  for (const EngravedHead* h : hats) EXPECT_EQ(h->head, Notehead::X);
  const auto snares = headsAt(e, 5);
  ASSERT_EQ(snares.size(), 2u);
  EXPECT_NEAR(snares[0]->y, top + 1.5, 1e-9);
  EXPECT_EQ(snares[0]->head, Notehead::Normal);
  EXPECT_TRUE(snares[0]->accent);
  EXPECT_TRUE(snares[1]->parentheses);
  const auto kicks = headsAt(e, 1);
  ASSERT_EQ(kicks.size(), 3u);
  EXPECT_NEAR(kicks[0]->y, top + 3.5, 1e-9);
  // Hands stem up on the right, feet down on the left.
  const EngravedStroke* up = stemOf(e, *hats[0]);
  ASSERT_NE(up, nullptr);
  EXPECT_GT(up->x1, hats[0]->x);
  EXPECT_LT(std::min(up->y1, up->y2), hats[0]->y);
  const EngravedStroke* down = stemOf(e, *kicks[0]);
  ASSERT_NE(down, nullptr);
  EXPECT_LT(down->x1, kicks[0]->x);
  EXPECT_GT(std::max(down->y1, down->y2), kicks[0]->y);
  // Eighths beamed by the beat: the hats make four beams; the kick, alone in its
  // beats, lasts to the beat's end: quarters, with no flag.
  EXPECT_EQ(strokes(e, StrokeKind::Beam), 4);
  EXPECT_EQ(strokes(e, StrokeKind::Flag), 0);
  EXPECT_EQ(strokes(e, StrokeKind::TupletBracket), 0);
  const auto time = std::find_if(e.texts.begin(), e.texts.end(), [](const EngravedText& t) {
    return t.kind == TextKind::TimeSignature;
  });
  ASSERT_NE(time, e.texts.end());
  EXPECT_EQ(time->text, "4");

  // Part B: a triplet under a bracket, and typing re-engraves at once.
  p.moveCursorToLine(10);
  EXPECT_EQ(p.panel->shownPart(), 2);
  EXPECT_EQ(strokes(p.engraving(), StrokeKind::TupletBracket), 3);
  EXPECT_TRUE(std::any_of(
      p.engraving().texts.begin(), p.engraving().texts.end(),
      [](const EngravedText& t) { return t.kind == TextKind::TupletNumber && t.text == "3"; }));
  EXPECT_EQ(headsAt(p.engraving(), 8).size(), 5u);  // the ride on the top line
  QTextCursor c = p.editor.textCursor();
  c.movePosition(QTextCursor::EndOfBlock);
  c.movePosition(QTextCursor::Left, QTextCursor::MoveAnchor, 2);
  c.movePosition(QTextCursor::Left, QTextCursor::KeepAnchor);
  c.insertText("x");  // the rest before the bar line becomes a hit
  QApplication::processEvents();
  EXPECT_EQ(headsAt(p.engraving(), 8).size(), 6u);
}

TEST(StaffView, MarksThePlayingStepAndGoesToAClickedNote) {
  Panel p;
  p.moveCursorToLine(7);  // part A's snare line
  StaffView* view = p.panel->view();
  p.panel->setPlayingStep(1, 1, 2);
  ASSERT_GE(view->playingColumn(), 0);
  EXPECT_EQ(p.engraving().columns[static_cast<std::size_t>(view->playingColumn())].partStep, 2);
  // Another part plays: the staff follows it, whatever the cursor does, with the playhead
  // at its step; Stop takes it back to the part at the cursor.
  p.panel->setPlayingStep(2, 2, 0);
  EXPECT_EQ(p.panel->shownPart(), 2);
  ASSERT_GE(view->playingColumn(), 0);
  EXPECT_EQ(p.engraving().columns[static_cast<std::size_t>(view->playingColumn())].partStep, 0);
  p.moveCursorToLine(6);
  EXPECT_EQ(p.panel->shownPart(), 2);
  p.panel->clearPlaying();
  EXPECT_EQ(p.panel->shownPart(), 1);
  EXPECT_EQ(view->playingColumn(), -1);
  p.moveCursorToLine(7);

  // A click on the accented snare puts the cursor on its "X".
  const auto snares = headsAt(p.engraving(), 5);
  ASSERT_FALSE(snares.empty());
  const double s = view->space();
  QTest::mouseClick(view, Qt::LeftButton, {},
                    QPoint(static_cast<int>(snares[0]->x * s), static_cast<int>(snares[0]->y * s)));
  const QTextCursor cursor = p.editor.textCursor();
  EXPECT_EQ(cursor.blockNumber(), 6);
  EXPECT_EQ(cursor.block().text().at(cursor.positionInBlock()), QChar('X'));

  // The whole song: both parts, each tick found by its song position.
  p.panel->wholeSong()->setChecked(true);
  EXPECT_EQ(p.panel->shownPart(), -1);
  p.panel->setPlayingStep(2, 2, 1);
  ASSERT_GE(view->playingColumn(), 0);
  EXPECT_EQ(p.engraving().columns[static_cast<std::size_t>(view->playingColumn())].songPosition, 2);
}

// The whole song with parts repeated: each play of a two-bar part between repeat bars
// finds the same columns, each play of a one-bar part its own bar (the simile bars
// too); the playhead far down a long song scrolls the staff to it.
TEST(StaffView, FollowsPlaybackThroughRepeatsAndScrolls) {
  Panel p;
  std::string text = kGroove;
  text.replace(text.find("song = AB"), std::string::npos,
               "part = D tempo = 100 notes = 8\nh |xxxxxxxx|x-x-x-x-|\nsong = DDDAAA");
  for (int i = 0; i < 20; ++i) text += "BA";
  p.editor.setPlainText(QString::fromStdString(text + "\n"));
  p.panel->resize(900, 200);
  p.panel->wholeSong()->setChecked(true);
  QApplication::processEvents();
  StaffView* view = p.panel->view();
  p.panel->setPlayingStep(3, 2, 11);  // the second bar of the second of three plays of D
  ASSERT_GE(view->playingColumn(), 0);
  const EngravedColumn& repeated =
      p.engraving().columns[static_cast<std::size_t>(view->playingColumn())];
  EXPECT_EQ(repeated.songPosition, 1);
  EXPECT_EQ(repeated.songPositions, 3);
  EXPECT_EQ(repeated.partStep, 11);
  p.panel->setPlayingStep(1, 5, 3);  // the second of three plays of A: a simile bar
  ASSERT_GE(view->playingColumn(), 0);
  const EngravedColumn& simile =
      p.engraving().columns[static_cast<std::size_t>(view->playingColumn())];
  EXPECT_EQ(simile.songPosition, 5);
  EXPECT_EQ(simile.songPositions, 1);
  EXPECT_EQ(simile.partStep, 3);
  auto* scroll = p.panel->findChild<QScrollArea*>();
  ASSERT_NE(scroll, nullptr);
  const int top = scroll->verticalScrollBar()->value();
  p.panel->setPlayingStep(1, 46, 0);  // the last A
  ASSERT_GE(view->playingColumn(), 0);
  EXPECT_EQ(p.engraving().columns[static_cast<std::size_t>(view->playingColumn())].songPosition,
            46);
  EXPECT_GT(scroll->verticalScrollBar()->value(), top + 200);
}

// A large text is compiled aside, its song before let go of meanwhile; a song handed
// over for the text as it is now (Play's) is engraved at once and outlives a compilation
// of an older text still running.
TEST(StaffView, ALargeTextIsCompiledAsideAndAHandedOverSongWins) {
  auto waitFor = [](auto done) {
    for (int i = 0; i < 3000 && !done(); ++i) QTest::qWait(10);
    return done();
  };
  Panel p;
  std::string large(kGroove);
  while (large.size() < StaffPanel::kCompileAsideFrom + 1000) large += "k |x-x-x-x-|\n";
  p.editor.setPlainText(QString::fromStdString(large));
  ASSERT_TRUE(waitFor([&] { return p.panel->song() == nullptr; }));  // on its way
  ASSERT_TRUE(waitFor([&] { return p.panel->song() != nullptr; }));
  EXPECT_GE(p.panel->song()->parts().size(), 3u);

  p.editor.appendPlainText("k |x---|");
  ASSERT_TRUE(waitFor([&] { return p.panel->song() == nullptr; }));
  TablatureCompiler compiler;
  compiler.compile(joinLinesWithCrLf(kGroove), defaultPadMap(), nullptr);
  const std::shared_ptr<const Timeline> played = compiler.song();
  p.panel->showCompiled(joinLinesWithCrLf(kGroove), defaultPadMap(), played, {});
  EXPECT_EQ(p.panel->song(), played);
  QTest::qWait(1000);  // the older text's compilation ends meanwhile
  EXPECT_EQ(p.panel->song(), played);
}

// Ink stands out from the paper in the light and in the dark scheme.
TEST(StaffView, IsReadableLightAndDark) {
  Panel p;
  fs::create_directories(PW_ARTIFACTS_DIR);
  for (const bool dark : {false, true}) {
    QPalette palette;
    palette.setColor(QPalette::Base, dark ? QColor(30, 30, 30) : Qt::white);
    palette.setColor(QPalette::Text, dark ? QColor(230, 230, 230) : Qt::black);
    p.panel->view()->setPalette(palette);
    const QImage image = p.panel->view()->grab().toImage();
    image.save(QString(PW_ARTIFACTS_DIR) +
               (dark ? "/staff-view-dark.png" : "/staff-view-light.png"));
    int ink = 0;
    const QColor text = palette.color(QPalette::Text);
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.lightness() - text.lightness()) < 40) ++ink;
      }
    }
    const QColor paper = image.pixelColor(image.width() - 2, 2);
    EXPECT_GT(std::abs(paper.lightness() - text.lightness()), 150) << dark;
    EXPECT_GT(ink, 500) << dark;
  }
}

// Rows of a grey image that are mostly dark: the staff lines, grouped.
std::vector<int> darkRowGroups(const std::string& pgm, int* width) {
  std::istringstream in(pgm);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  std::vector<int> groups;
  *width = w;
  if (magic != "P5") return groups;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h);
  in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  int last = -10;
  for (int y = 0; y < h; ++y) {
    int dark = 0;
    for (int x = 0; x < w; ++x) dark += pixels[static_cast<std::size_t>(y * w + x)] < 128 ? 1 : 0;
    if (dark > w / 3) {
      if (y > last + 1) groups.push_back(y);
      last = y;
    }
  }
  return groups;
}

TEST(StaffPrint, ExportsDrumStavesToAPdfFile) {
  const fs::path dir = fs::temp_directory_path() / ("pw-staff-print-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string pdf = (dir / "staves.pdf").string();
  std::string song = kGroove;
  song = "meta title = Printed groove\n" + song + "song = ABABABABABABABABABABABAB\n";
  ScriptedUserDialogs dialogs;
  const DocumentCompiler freshCompile = [](std::string_view text) {
    TablatureCompiler compiler;
    return compileDocument(compiler, text, {});
  };
  dialogs.exportFileNames.push_back(QString::fromStdString((dir / "staves").string()));
  ASSERT_TRUE(exportStavesPdf(nullptr, dialogs, "suggested.pdf", QString::fromStdString(song),
                              freshCompile));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  // Nothing to play: nothing written, and a message.
  dialogs.exportFileNames.push_back(QString::fromStdString((dir / "empty.pdf").string()));
  EXPECT_FALSE(exportStavesPdf(nullptr, dialogs, "", "just words", freshCompile));
  EXPECT_FALSE(fs::exists(dir / "empty.pdf"));
  EXPECT_EQ(dialogs.messages.size(), 1);
  std::ifstream file(pdf, std::ios::binary);
  std::string head(5, '\0');
  file.read(head.data(), 5);
  ASSERT_EQ(head, "%PDF-");
  const std::string command =
      "pdftoppm -r 100 -gray -f 1 -l 1 '" + pdf + "' '" + (dir / "page").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string pgm;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".pgm") {
      std::ifstream in(entry.path(), std::ios::binary);
      pgm.assign(std::istreambuf_iterator<char>(in), {});
    }
  }
  int width = 0;
  const std::vector<int> lines = darkRowGroups(pgm, &width);
  // Systems of five lines each, evenly spaced within a system.
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines.size() % 5, 0u);
  const int gap = lines[1] - lines[0];
  EXPECT_GT(gap, 1);
  for (int l = 1; l < 5; ++l)
    EXPECT_NEAR(lines[static_cast<std::size_t>(l)] - lines[static_cast<std::size_t>(l - 1)], gap,
                1);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pulsewright
