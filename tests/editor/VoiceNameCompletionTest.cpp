// Drum names offered while a voice line is typed: where the rule offers them, which
// names, and the popup in a real editor that puts the chosen name in place.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCompleter>
#include <QTest>

#include "editor/TablatureEditor.h"
#include "editor/VoiceNameCompletion.h"

namespace pulsewright {
namespace {

TEST(VoiceNameCompletion, OffersNamesOnlyWhileANameIsTypedAfterSymbolEquals) {
  auto typed = [](const QString& line) {
    const auto at = VoiceNameCompletion::typedAt(line, static_cast<int>(line.size()));
    return at ? QString::number(at->start) + ":" + at->text : QStringLiteral("none");
  };
  EXPECT_EQ(typed("k = sna"), "4:sna");
  EXPECT_EQ(typed("  hh=closed hi-"), "5:closed hi-");
  EXPECT_EQ(typed("t1 = tom 1"), "5:tom 1");
  for (const char* line : {"k = ", "k sna", "part = A tem", "song = AB", "meta title = Sna",
                           "metatitle = Sna", "w = wave cl", "k = 1", "h |x-x", "k = sn|"}) {
    EXPECT_EQ(typed(line), "none") << line;
  }
  // Only at the end of what the line holds.
  EXPECT_FALSE(VoiceNameCompletion::typedAt("k = sna x", 7));
  EXPECT_TRUE(VoiceNameCompletion::typedAt("k = sna  ", 7));
}

TEST(VoiceNameCompletion, NamesStartingWithTheTypedTextComeFirst) {
  EXPECT_EQ(VoiceNameCompletion::candidates("SNA"), (QStringList{"snare", "snare drum"}));
  const QStringList hats = VoiceNameCompletion::candidates("hat");
  EXPECT_TRUE(hats.contains("closed hi-hat"));
  EXPECT_TRUE(hats.contains("open hat"));
  EXPECT_TRUE(hats.contains("pedal hi-hat"));
  EXPECT_EQ(VoiceNameCompletion::candidates("drum").first(), "bass drum");
  EXPECT_TRUE(VoiceNameCompletion::candidates("xylophone").isEmpty());
  // Every voice can be completed to.
  EXPECT_TRUE(VoiceNameCompletion::names().contains("cow bell"));
  EXPECT_TRUE(VoiceNameCompletion::names().contains("hand clap"));
}

TEST(VoiceNameCompletion, ThePopupFollowsTypingAndEnterPutsTheNameInPlace) {
  TablatureEditor editor;
  editor.resize(600, 300);
  editor.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
  editor.setFocus();
  QTest::keyClicks(&editor, "k = cl");
  VoiceNameCompleter& names = editor.voiceNames();
  ASSERT_TRUE(names.popupVisible());
  QAbstractItemView* popup = names.completer()->popup();
  EXPECT_EQ(popup->model()->index(0, 0).data().toString(), "closed");
  QTest::keyClicks(&editor, "osed h");
  ASSERT_TRUE(names.popupVisible());
  EXPECT_EQ(popup->model()->rowCount(), 3);  // closed hat, closed hi-hat, closed hi hat
  // Down to the second name, Enter: the name replaces what was typed, and no line break.
  QTest::keyClick(popup, Qt::Key_Down);
  QTest::keyClick(popup, Qt::Key_Return);
  EXPECT_EQ(editor.toPlainText(), "k = closed hi-hat");
  EXPECT_FALSE(names.popupVisible());

  // Escape closes the offer and keeps the text; a grid line offers nothing.
  QTest::keyClick(&editor, Qt::Key_Return);
  QTest::keyClicks(&editor, "s = sn");
  ASSERT_TRUE(names.popupVisible());
  QTest::keyClick(popup, Qt::Key_Escape);
  EXPECT_FALSE(names.popupVisible());
  EXPECT_EQ(editor.toPlainText(), "k = closed hi-hat\ns = sn");
  QTest::keyClick(&editor, Qt::Key_Return);
  QTest::keyClicks(&editor, "k |x-x-");
  EXPECT_FALSE(names.popupVisible());

  // A name typed whole, offered beside longer ones: Enter ends the line.
  editor.clear();
  QTest::keyClicks(&editor, "k = kick");
  ASSERT_TRUE(names.popupVisible());
  ASSERT_EQ(popup->currentIndex().data().toString(), "kick");
  QTest::keyClick(popup, Qt::Key_Return);
  QTest::keyClicks(&editor, "s = snare");
  EXPECT_EQ(editor.toPlainText(), "k = kick\ns = snare");
}

}  // namespace
}  // namespace pulsewright
