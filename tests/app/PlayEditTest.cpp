// Typing into the editor while the song plays: the edit is heard from the next bar line,
// and an edit that does not play leaves the song as it was and says why.

#include <gtest/gtest.h>

#include <QAction>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <QTreeWidget>

#include "editor/ProblemsPanel.h"
#include "notation/ui/StaffPanel.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

constexpr int kBarSteps = 4;

TEST(PlayEdit, TypingWhilePlayingIsHeardFromTheNextBarLine) {
  AppFixture f;
  auto form = f.start();
  // One grid line, so every step sends one note and its note-off (a rest sends note 0).
  form->Text1()->setPlainText(
      "k = kick\ns = snare\npart = A tempo = 1500 notes = 16\nk |x-x-|x---|\nsong = A\n");
  form->action("LoopSong")->setChecked(true);
  const std::size_t start = f.midi.sent().size();
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return f.sentSince(start).size() >= 2 * 6; }));
  EXPECT_FALSE(form->Text1()->isReadOnly());
  // The staff engraves the song that plays: one compilation, held once.
  EXPECT_EQ(form->staff()->song(), form->compiler().song());
  EXPECT_EQ(form->staff()->shownPart(), 1);

  // The kick line becomes a snare line, typed over its symbol mid-song.
  QTextCursor cursor(form->Text1()->document()->findBlockByNumber(3));
  cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
  form->Text1()->setTextCursor(cursor);
  const std::size_t typedAt = f.sentSince(start).size() / 2;
  QTest::keyClicks(form->Text1(), "s");
  auto snareHeard = [&] {
    for (const std::string& m : f.sentSince(start)) {
      if (m.rfind("90 38 ", 0) == 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(waitFor(snareHeard));
  EXPECT_EQ(form->staff()->song(), form->compiler().song());

  // Half a line typed: not played, and the problems list says why.
  QTextCursor end(form->Text1()->document()->findBlockByNumber(3));
  end.movePosition(QTextCursor::EndOfBlock);
  form->Text1()->setTextCursor(end);
  QTest::keyClick(form->Text1(), Qt::Key_Return);
  QTest::keyClicks(form->Text1(), "k |x-");
  auto notPlayedShown = [&] {
    return !form->problems()->findItems("not played", Qt::MatchExactly, 2).isEmpty();
  };
  ASSERT_TRUE(waitFor(notPlayedShown));
  const std::size_t brokenAt = f.sentSince(start).size() / 2;
  ASSERT_TRUE(waitFor([&] { return f.sentSince(start).size() / 2 >= brokenAt + 2 * kBarSteps; }));
  form->button("Stopb")->click();
  EXPECT_FALSE(notPlayedShown());

  // Step by step: the kick until a bar line, the snare from there on, always on the grid.
  std::vector<std::string> sent;
  for (const std::string& m : f.sentSince(start)) {
    if (m.rfind("90 ", 0) == 0 || m.rfind("80 ", 0) == 0) sent.push_back(m);
  }
  const char* kick[] = {"90 36 76", "90 0 12", "90 36 76", "90 0 12",
                        "90 36 76", "90 0 12", "90 0 12",  "90 0 12"};
  std::size_t changedAt = 0;
  for (std::size_t i = 0; i + 1 < sent.size(); i += 2) {
    const std::size_t tick = i / 2;
    std::string expected = kick[tick % 8];
    if (changedAt == 0 && sent[i].rfind("90 38 ", 0) == 0) changedAt = tick;
    if (changedAt != 0 && expected != "90 0 12") expected = "90 38 76";
    EXPECT_EQ(sent[i], expected) << "step " << tick;
    EXPECT_EQ(sent[i + 1].substr(0, 2), "80") << "step " << tick;
  }
  EXPECT_EQ(changedAt % kBarSteps, 0u) << changedAt;
  EXPECT_GE(changedAt, typedAt);
}

}  // namespace
}  // namespace pulsewright
