#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <algorithm>
#include <future>

#include "app/AudioExport.h"
#include "app/DocumentRecovery.h"
#include "app/DrumKeyboard.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/LargeTextPreview.h"
#include "editor/ProblemsPanel.h"
#include "editor/TablatureEditor.h"
#include "midi/LiveKeyboard.h"
#include "tablature/Timeline.h"
#include "templates/TemplatesController.h"
#include "templates/TemplatesWindow.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

TEST(Form1, StartsUpInTheDescribedState) {
  AppFixture f;
  auto form = f.start(50);
  EXPECT_EQ(form->windowTitle(), "Pulsewright!");
  EXPECT_FALSE(form->isVisible());  // the splash first
  ASSERT_NE(form->splash(), nullptr);
  EXPECT_TRUE(form->splash()->isVisible());
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  EXPECT_EQ(form->splash(), nullptr);

  EXPECT_TRUE(form->button("Play")->isEnabled());
  EXPECT_FALSE(form->button("Pause")->isEnabled());
  EXPECT_FALSE(form->button("Stopb")->isEnabled());
  EXPECT_TRUE(form->Text1()->isEnabled());
  EXPECT_EQ(form->Label1()->text(), "");
  EXPECT_EQ(form->AudioDevices()->count(), 2);
  EXPECT_EQ(form->AudioDevices()->currentIndex(), 0);

  // No MIDI devices: the mapper alone, open and checked; channel "1" checked.
  const auto devices = form->deviceMenu()->actions();
  ASSERT_EQ(devices.size(), 11);
  EXPECT_EQ(devices[0]->text(), "MIDI Mapper");
  EXPECT_TRUE(devices[0]->isChecked());
  for (int i = 1; i < 11; ++i) EXPECT_FALSE(devices[i]->isVisible());
  EXPECT_EQ(form->midiPort().deviceId(), -1);
  const auto channels = form->channelMenu()->actions();
  ASSERT_EQ(channels.size(), 16);
  EXPECT_EQ(channels[15]->text(), "16");
  EXPECT_TRUE(channels[0]->isChecked());

  // The first preset in the hidden Options window, the velocity at the top.
  ASSERT_NE(form->options(), nullptr);
  EXPECT_FALSE(form->options()->isVisible());
  EXPECT_EQ(form->options()->chooser()->currentText(), "Boss Dr.Rythm DR-670");
  EXPECT_EQ(form->options()->entry(DrumVoice::CowBell), "56");
  EXPECT_EQ(form->liveKeyboard().liveVelocity(), 127);

  // Menus with their shortcuts.
  EXPECT_EQ(form->action("New")->shortcut(), QKeySequence("Ctrl+N"));
  EXPECT_EQ(form->action("SelectNone")->shortcut(), QKeySequence("Ctrl+D"));
  EXPECT_EQ(form->action("SaveAs")->text(), "Save As ...");
  EXPECT_EQ(form->action("Options")->text(), "Pad Assignment");

  // The editor grows with the window; the keyboard stays visible under it.
  const QSize editor = form->Text1()->size();
  form->resize(form->width() + 100, form->height() + 80);
  QApplication::processEvents();
  EXPECT_EQ(form->Text1()->width(), editor.width() + 100);
  EXPECT_EQ(form->Text1()->height(), editor.height() + 80);
  EXPECT_GE(form->keyboard()->geometry().top(), form->Text1()->geometry().bottom());
  EXPECT_LE(form->keyboard()->geometry().bottom(), form->centralWidget()->height());
  // So does it when the status bar first appears (at the first Play) and takes its height.
  form->statusBar()->showMessage("shown");
  QApplication::processEvents();
  EXPECT_LT(form->Text1()->height(), editor.height() + 80);
  EXPECT_LE(form->keyboard()->geometry().bottom(), form->centralWidget()->height());
}

TEST(Form1, TheEditorsConveniencesAreInTheWindow) {
  AppFixture f;
  auto form = f.start();
  EXPECT_EQ(form->action("Open")->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(form->action("Undo")->shortcut(), QKeySequence(QKeySequence::Undo));
  ASSERT_NE(form->findChild<QMenu*>("Recent"), nullptr);
  EXPECT_EQ(static_cast<QPlainTextEdit*>(form->tablatureEditor()), form->Text1());

  // Typing: the title shows the change, Undo takes it back.
  EXPECT_FALSE(form->action("Undo")->isEnabled());
  form->Text1()->insertPlainText("k = kick\npart = A tempo = 120 notes = 8\nq |x-|\nsong = A");
  EXPECT_EQ(form->windowTitle(), "Untitled* - Pulsewright!");
  // The undefined symbol reaches the problems list a moment later.
  ASSERT_TRUE(waitFor([&] { return form->problems()->topLevelItemCount() == 1; }));
  EXPECT_EQ(form->problems()->topLevelItem(0)->text(0), "3");
  ASSERT_TRUE(form->action("Undo")->isEnabled());
  form->action("Undo")->trigger();
  EXPECT_EQ(form->Text1()->toPlainText(), "");
  EXPECT_EQ(form->windowTitle(), "Pulsewright!");
  ASSERT_TRUE(waitFor([&] { return form->problems()->topLevelItemCount() == 0; }));

  // Each key names its drum; the velocity bar has a label.
  EXPECT_TRUE(form->keyboard()->key(0)->toolTip().startsWith("Bass Drum"));
  EXPECT_TRUE(form->keyboard()->key(1)->toolTip().startsWith("Snare Drum"));
  EXPECT_TRUE(form->keyboard()->velocityLabel()->text().startsWith("Vel"));
  EXPECT_TRUE(form->keyboard()->velocityLabel()->isVisibleTo(form->keyboard()));
  EXPECT_EQ(form->keyboard()->vol()->accessibleName(), "Velocity");
}

TEST(Form1, ListsTenDevicesAtMostAndReportsAFailedOpen) {
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back("Port " + std::to_string(i));
  AppFixture f(names);
  auto form = f.start();
  const auto devices = form->deviceMenu()->actions();
  for (int i = 1; i <= 10; ++i) {
    EXPECT_TRUE(devices[i]->isVisible());
    EXPECT_EQ(devices[i]->text(), QString("Port %1").arg(i - 1));
  }
  f.midi.failOpen(3, 4);
  devices[4]->trigger();
  EXPECT_EQ(f.dialogs.messages.back(), "Couldn't open midi out, rc = 4");
  EXPECT_TRUE(form->deviceMenu()->actions()[4]->isChecked());
  EXPECT_FALSE(form->deviceMenu()->actions()[0]->isChecked());
}

TEST(Form1, KeyboardSendsThePadNotesOnTheChosenChannel) {
  AppFixture f;
  auto form = f.start();
  DrumKeyboard* keys = form->keyboard();
  std::size_t mark = f.midi.sent().size();

  QTest::mousePress(keys->key(0), Qt::LeftButton);
  EXPECT_TRUE(keys->key(0)->isChecked());
  QTest::mouseRelease(keys->key(0), Qt::LeftButton);
  EXPECT_FALSE(keys->key(0)->isChecked());
  EXPECT_EQ(f.sentSince(mark), (std::vector<std::string>{"90 36 127", "80 36 0"}));

  // The bar at the bottom, channel "10", a changed snare entry, typed keys.
  keys->vol()->setValue(keys->vol()->maximum());
  form->channelMenu()->actions()[9]->trigger();
  form->options()->entryField(DrumVoice::SnareDrum)->setText("40");
  mark = f.midi.sent().size();
  keys->setFocus();
  QTest::keyPress(keys, Qt::Key_S);
  QTest::keyPress(keys, Qt::Key_S, Qt::NoModifier, -1);  // held: no second note on
  QTest::keyRelease(keys, Qt::Key_S);
  EXPECT_EQ(f.sentSince(mark), (std::vector<std::string>{"99 40 0", "89 40 0"}));

  // Entries that are no note: letters play the note before; 200 sends nothing.
  form->options()->entryField(DrumVoice::BassDrum)->setText("kick");
  form->options()->entryField(DrumVoice::Claps)->setText("200");
  mark = f.midi.sent().size();
  form->StartNote(0);
  form->StopNote(0);
  form->StartNote(2);
  form->StopNote(2);
  EXPECT_EQ(f.sentSince(mark), (std::vector<std::string>{"99 40 0", "89 40 0"}));
  // Typing in the editor never plays a pad.
  mark = f.midi.sent().size();
  form->Text1()->setFocus();
  QTest::keyClicks(form->Text1(), "zsx");
  EXPECT_TRUE(f.sentSince(mark).empty());
}

TEST(Form1, PlaysTheEditorsSongAndReturnsToRest) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText(
      "k = kick\nh = closed hat\npart = A tempo = 1500 notes = 4 program = 5\nk |x-|\nh |-X|\nsong "
      "= AA\n");
  const std::size_t mark = f.midi.sent().size();
  form->button("Play")->click();
  EXPECT_FALSE(form->Text1()->isReadOnly());  // edits made while it plays are played
  EXPECT_FALSE(form->button("Play")->isEnabled());
  EXPECT_TRUE(form->button("Pause")->isEnabled());
  ASSERT_TRUE(waitFor([&] { return form->button("Play")->isEnabled() && !form->isPlaying(); }));
  EXPECT_TRUE(form->Text1()->isEnabled());
  EXPECT_FALSE(form->button("Stopb")->isEnabled());
  EXPECT_EQ(form->Label1()->text(), "");
  const auto sent = f.sentSince(mark);
  ASSERT_EQ(sent.size(), 20u);  // 4 steps: program change and two note pairs each
  EXPECT_EQ(sent[0], "c0 5 0");
  EXPECT_EQ(sent[1], "90 36 76");
  EXPECT_EQ(sent[8], "90 42 101");

  // A grid above every section line, on a fresh start, is reported once per line.
  AppFixture g;
  auto other = g.start();
  other->Text1()->setPlainText("k = kick\nk |x-|\nk |x-|\n");
  other->button("Play")->click();
  EXPECT_EQ(g.dialogs.messages.size(), 2);
  EXPECT_EQ(g.dialogs.messages[0],
            "Error: Part needs a section line to define name and tempo and note size.");
  ASSERT_TRUE(waitFor([&] { return other->button("Play")->isEnabled(); }));
}

TEST(Form1, TheProblemsListDescribesWhatPlayWillPlay) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText(
      "k = kick\npart = G tempo = 1500 notes = 4\nk |x-|\npart = A tempo = 1500 notes = 4\n"
      "k |-x|\nsong = GGA\n");
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return form->button("Play")->isEnabled() && !form->isPlaying(); }));

  // A new text with no song line: Play keeps the song line and the voice of the one
  // before, and the problems list says so instead of saying that nothing plays.
  form->Text1()->setPlainText("part = G tempo = 1500 notes = 4\nk |x-|\n");
  auto rowsSay = [&](const QString& phrase) {
    for (int i = 0; i < form->problems()->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = form->problems()->topLevelItem(i);
      for (int c = 0; c < row->columnCount(); ++c) {
        if (row->text(c).contains(phrase)) return true;
      }
    }
    return false;
  };
  ASSERT_TRUE(waitFor([&] { return rowsSay("Play uses the song line kept"); }));
  EXPECT_TRUE(rowsSay("`GGA`"));
  EXPECT_FALSE(rowsSay("nothing plays"));
  const std::size_t mark = f.midi.sent().size();
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return form->button("Play")->isEnabled() && !form->isPlaying(); }));
  EXPECT_FALSE(f.sentSince(mark).empty());

  // The score is what Play played: the kept song line GGA, three plays of the one bar
  // (engraved once, repeated), not "nothing to play".
  QTemporaryDir dir;
  f.dialogs.exportFileNames = {dir.filePath("kept.musicxml")};
  form->action("ExportMusicXml")->trigger();
  QFile score(dir.filePath("kept.musicxml"));
  ASSERT_TRUE(score.open(QIODevice::ReadOnly)) << f.dialogs.messages.join('\n').toStdString();
  const QByteArray xml = score.readAll();
  EXPECT_EQ(xml.count("<measure "), 1);
  EXPECT_TRUE(xml.contains("times=\"3\"")) << xml.toStdString();
}

TEST(Form1, PauseStopsAtTheStepAndPlayGoesOnFromThere) {
  AppFixture f;
  auto form = f.start();
  // Levels 0-9 over and over: a note's velocity tells its step.
  std::string grid;
  for (int i = 0; i < 400; ++i) grid += static_cast<char>('0' + i % 10);
  form->Text1()->setPlainText(QString::fromStdString(
      "k = kick\npart = A tempo = 1500 notes = 4\nk |" + grid + "|\nsong = A\n"));
  const std::size_t start = f.midi.sent().size();
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return f.sentSince(start).size() >= 20; }));
  form->button("Pause")->click();
  EXPECT_FALSE(form->isPlaying());
  EXPECT_TRUE(form->button("Play")->isEnabled());
  EXPECT_FALSE(form->button("Pause")->isEnabled());
  EXPECT_TRUE(form->button("Stopb")->isEnabled());
  EXPECT_FALSE(form->Text1()->isReadOnly());  // the text may be edited while paused
  const std::vector<std::string> before = f.sentSince(start);
  int played = 0;
  for (const std::string& m : before) played += m.rfind("90 36 ", 0) == 0 ? 1 : 0;
  const std::size_t paused = f.midi.sent().size();
  QTest::qWait(50);
  EXPECT_EQ(f.midi.sent().size(), paused);
  EXPECT_EQ(before.back(), "b0 123 0");  // what sounds is silenced

  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return f.sentSince(paused).size() >= 2; }));
  const std::string velocity = std::to_string(velocityOfLevel(played % 10));
  EXPECT_EQ(f.sentSince(paused)[0], "90 36 " + velocity);
  form->button("Stopb")->click();
  EXPECT_FALSE(form->isPlaying());

  // Edited while paused so that the paused position is gone: the song starts again.
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return form->isPlaying(); }));
  form->button("Pause")->click();
  form->Text1()->setPlainText("k = kick\npart = A tempo = 1500 notes = 4\nk |5-|\nsong = A\n");
  const std::size_t edited = f.midi.sent().size();
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return !form->isPlaying() && form->button("Play")->isEnabled(); }));
  EXPECT_EQ(f.sentSince(edited)[0], "90 36 " + std::to_string(velocityOfLevel(5)));
}

TEST(Form1, PlayMenuLoopsThePartAtTheCursorAtAChosenTempo) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText(
      "k = kick\ns = snare\npart = A tempo = 1500 notes = 4\nk |x-|\n"
      "part = B tempo = 1500 notes = 4\ns |x-|\nsong = AB\n");
  QTextCursor cursor = form->Text1()->textCursor();
  cursor.setPosition(form->Text1()->document()->findBlockByNumber(5).position());
  form->Text1()->setTextCursor(cursor);
  form->action("LoopPart")->trigger();
  form->action("Slower")->trigger();
  EXPECT_DOUBLE_EQ(form->tempoScale(), 0.95);
  form->action("NormalTempo")->trigger();
  EXPECT_DOUBLE_EQ(form->tempoScale(), 1.0);
  const std::size_t start = f.midi.sent().size();
  form->action("PlaySong")->trigger();
  // Part B alone, past the end of its song of one character: only the snare plays.
  ASSERT_TRUE(waitFor([&] { return f.sentSince(start).size() >= 12; }));
  EXPECT_TRUE(form->isPlaying());
  form->action("StopSong")->trigger();
  EXPECT_FALSE(form->isPlaying());
  for (const std::string& m : f.sentSince(start)) {
    if (m.rfind("90 ", 0) == 0 && m != "90 0 12") {
      EXPECT_EQ(m.substr(0, 6), "90 38 ") << m;
    }
  }
}

TEST(Form1, ThePlayingStepIsShownInEveryGridLineOfThePart) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText(
      "k = kick\ns = snare\npart = A tempo = 300 notes = 4\nk |x-x-|\ns |-x-x|\nsong = A\n");
  // The characters of one step: one per grid line, in the same column.
  auto playing = [&] {
    std::vector<std::pair<int, int>> at;  // block, column
    for (const QTextEdit::ExtraSelection& s : form->Text1()->extraSelections()) {
      if (s.cursor.selectionEnd() - s.cursor.selectionStart() != 1) continue;
      const QTextBlock block = form->Text1()->document()->findBlock(s.cursor.selectionStart());
      at.emplace_back(block.blockNumber(), s.cursor.selectionStart() - block.position());
    }
    std::sort(at.begin(), at.end());
    return at;
  };
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return playing().size() == 2; }));
  const auto first = playing();
  EXPECT_EQ(first[0].first, 3);
  EXPECT_EQ(first[1].first, 4);
  EXPECT_EQ(first[0].second, first[1].second);
  EXPECT_GE(first[0].second, 3);
  // It moves on with the song, and is cleared when the song ends.
  ASSERT_TRUE(
      waitFor([&] { return playing().size() == 2 && playing()[0].second == first[0].second + 1; }));
  ASSERT_TRUE(waitFor([&] { return !form->isPlaying() && form->button("Play")->isEnabled(); }));
  EXPECT_TRUE(playing().empty());
}

TEST(Form1, ADeviceThatGoesAwayStopsTheSongAndSaysSo) {
  AppFixture f;
  auto form = f.start();
  std::string grid(400, 'x');
  form->Text1()->setPlainText(QString::fromStdString(
      "k = kick\npart = A tempo = 1500 notes = 4\nk |" + grid + "|\nsong = A\n"));
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return !form->Label1()->text().isEmpty(); }));
  f.midi.failSends(midi_result::kNoDevice);
  ASSERT_TRUE(waitFor([&] { return !form->isPlaying(); }));
  EXPECT_TRUE(form->button("Play")->isEnabled());
  EXPECT_EQ(form->Label1()->text(), "The MIDI device stopped answering: the song was stopped.");
}

TEST(Form1, ExitClosesThePortAndTheWindows) {
  AppFixture f;
  auto form = f.start();
  form->show();
  QPointer<OptionsWindow> options = form->options();
  form->action("Exit")->trigger();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(options, nullptr);
  EXPECT_EQ(f.midi.openHandles(), 0);
}

}  // namespace
}  // namespace pulsewright

namespace pulsewright {
namespace {

TEST(Form1, ClosingWithChangedTextAsksFirst) {
  AppFixture f;
  auto form = f.start();
  form->show();
  form->Text1()->insertPlainText("k = kick\n");  // typed, so changed since the last save
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Cancel};
  form->close();
  EXPECT_TRUE(form->isVisible());  // Cancel keeps the window and the text
  EXPECT_EQ(form->Text1()->toPlainText(), "k = kick\n");
  EXPECT_GT(f.midi.openHandles(), 0);
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Cancel};
  form->action("Exit")->trigger();
  EXPECT_TRUE(form->isVisible());
  EXPECT_NE(form->options(), nullptr);  // a cancelled Exit unloads nothing
  f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(f.midi.openHandles(), 0);
}

TEST(Form1, SettingsMenuOpensItsWindows) {
  AppFixture f;
  auto form = f.start();
  form->action("Options")->trigger();
  EXPECT_TRUE(form->options()->isVisible());
  form->action("Templates")->trigger();
  ASSERT_NE(form->templates().templatesWindow(), nullptr);
  EXPECT_TRUE(form->templates().templatesWindow()->isVisible());
}

}  // namespace
}  // namespace pulsewright

namespace pulsewright {
namespace {

TEST(Form1, ExportAudioWritesTheSongOrNothingAndSaysSo) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  form->Text1()->setPlainText(
      "h = closed hat\npart = A tempo = 120 notes = 4\nh |x-x-|\nsong = A\n");
  const QString wav = dir.filePath("song.wav");
  form->exportAudio(wav);
  ASSERT_TRUE(form->audioExport());
  ASSERT_TRUE(waitFor([&] { return !form->audioExport()->running(); }, 20000));
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().startsWith("Exported"); }));
  EXPECT_GT(QFileInfo(wav).size(), 44100 * 4);  // the window stayed responsive meanwhile

  // Nothing to play, and a folder that cannot take the file: said, and no file left.
  form->Text1()->setPlainText("no song here\n");
  form->exportAudio(dir.filePath("empty.wav"));
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("nothing to play"); }));
  form->Text1()->setPlainText(
      "h = closed hat\npart = A tempo = 120 notes = 4\nh |x-x-|\nsong = A\n");
  form->exportAudio(dir.filePath("song.wav/inside.wav"));
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("song.wav/inside.wav"); }));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"song.wav"});
}

TEST(Form1, EachHeldKeyReleasesItsOwnNoteAndLosingTheFocusReleasesAll) {
  AppFixture f;
  auto form = f.start();
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  DrumKeyboard* keys = form->keyboard();
  keys->setFocus();
  std::size_t mark = f.midi.sent().size();
  QTest::keyPress(keys, Qt::Key_Z);
  QTest::keyPress(keys, Qt::Key_S);
  QTest::keyRelease(keys, Qt::Key_S);
  QTest::keyRelease(keys, Qt::Key_Z);
  EXPECT_EQ(f.sentSince(mark),
            (std::vector<std::string>{"90 36 127", "90 38 127", "80 38 0", "80 36 0"}));

  // The focus moves on while Z is held: its note ends and the key no longer shows pressed.
  mark = f.midi.sent().size();
  QTest::keyPress(keys, Qt::Key_Z);
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(keys, &out);
  EXPECT_FALSE(keys->key(0)->isChecked());
  QTest::keyRelease(keys, Qt::Key_Z);  // a late release sends nothing more
  EXPECT_EQ(f.sentSince(mark), (std::vector<std::string>{"90 36 127", "80 36 0"}));
}

// The recovery copies in `folder`.
QStringList recoveryCopies(const QString& folder) {
  return QDir(folder).entryList({"*.tab"}, QDir::Files);
}

TEST(Form1, ASignalKeepsUnsavedTextForTheNextStart) {
  QTemporaryDir data;
  const QString folder = data.filePath("recovery");
  {
    AppFixture f;
    f.recoveryFolder = folder;
    auto form = f.start();
    ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
    form->Text1()->insertPlainText("k = kick\nk |x-x-|");
    form->quitWithoutAsking();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(f.dialogs.saveQuestions.isEmpty());  // nothing asked
  }
  ASSERT_EQ(recoveryCopies(folder).size(), 1);
  const QString copy = folder + "/" + recoveryCopies(folder).first();
  {
    // Declined: gone for good.
    QFile::copy(copy, copy + ".spare");
    AppFixture f;
    f.recoveryFolder = folder;
    auto form = f.start();
    ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
    EXPECT_EQ(f.dialogs.yesNoQuestions.size(), 1);
    EXPECT_TRUE(form->Text1()->toPlainText().isEmpty());
    EXPECT_TRUE(recoveryCopies(folder).isEmpty());
    QFile::rename(copy + ".spare", copy);
  }
  {
    // Restored: changed, unsaved text; a clean exit removes the copy.
    AppFixture f;
    f.recoveryFolder = folder;
    f.dialogs.yesNoAnswers = {true};
    auto form = f.start(0);
    EXPECT_TRUE(form->isVisible());  // no splash
    EXPECT_EQ(form->Text1()->toPlainText(), "k = kick\nk |x-x-|");
    EXPECT_TRUE(form->Text1()->document()->isModified());
    f.dialogs.saveChoices = {UserDialogs::SaveChoice::Discard};
    form->close();
    EXPECT_TRUE(recoveryCopies(folder).isEmpty());
  }
}

TEST(Form1, EachWindowKeepsItsOwnCopyUnderTheFileItCameFrom) {
  QTemporaryDir data;
  const QString folder = data.filePath("recovery");
  const QString song = data.filePath("song.tab");
  QFile file(song);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("k = kick\r\n");
  file.close();

  AppFixture first, second;
  first.recoveryFolder = second.recoveryFolder = folder;
  auto typed = first.start(0);
  ASSERT_TRUE(typed->editor().documents().openFile(song));
  typed->Text1()->moveCursor(QTextCursor::End);
  typed->Text1()->insertPlainText("\nk |x-x-|");
  typed->quitWithoutAsking();  // ended by a signal; its lock goes with its process
  auto other = second.start(0);
  other->Text1()->insertPlainText("other text");
  // A window that still runs keeps its copy to itself: nothing is offered.
  EXPECT_TRUE(second.dialogs.yesNoQuestions.isEmpty());
  other->quitWithoutAsking();
  EXPECT_EQ(recoveryCopies(folder).size(), 2);
  other.reset();

  // An untouched window that exits removes nobody's copy (and declines none here).
  {
    AppFixture f;
    f.recoveryFolder = folder;
    f.dialogs.yesNoAnswers = {false};
    auto form = f.start(0);
    EXPECT_EQ(f.dialogs.yesNoQuestions.size(), 1);  // the other window's copy, declined
    form->close();
  }
  ASSERT_EQ(recoveryCopies(folder).size(), 1);
  typed.reset();

  // Restored under its file; Save asks before it writes there.
  AppFixture f;
  f.recoveryFolder = folder;
  f.dialogs.yesNoAnswers = {true, true};
  auto form = f.start(0);
  ASSERT_EQ(f.dialogs.yesNoQuestions.size(), 1);
  EXPECT_TRUE(f.dialogs.yesNoQuestions[0].contains("song.tab"));
  EXPECT_EQ(form->Text1()->toPlainText(), "k = kick\nk |x-x-|");
  EXPECT_EQ(form->editor().documents().currentFileName(), song);
  EXPECT_TRUE(form->windowTitle().contains("song.tab"));
  ASSERT_TRUE(form->editor().documents().save());
  EXPECT_EQ(f.dialogs.yesNoQuestions.size(), 2);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "k = kick\r\nk |x-x-|\r\n");  // as the file was written
  EXPECT_TRUE(recoveryCopies(folder).isEmpty());          // saved: no copy left
}

TEST(DocumentRecovery, KeepsACopyOnTimeWhileChangedAndDropsItWhenSaved) {
  QTemporaryDir data;
  const QString folder = data.filePath("sub/recovery");
  QPlainTextEdit editor;
  auto recovery = std::make_unique<DocumentRecovery>(editor, folder, 20);
  recovery->setDocumentPath([] { return QString("/music/a\nb.tab"); });
  editor.insertPlainText("typed");
  ASSERT_TRUE(waitFor([&] { return QFile::exists(recovery->ownFile()); }, 2000));
  QPlainTextEdit otherEditor;
  DocumentRecovery other(otherEditor, folder);
  // Another window sees it only once this one is gone.
  EXPECT_TRUE(other.leftBehind().empty());
  editor.document()->setModified(false);  // saved
  EXPECT_TRUE(recoveryCopies(folder).isEmpty());

  editor.document()->setModified(true);
  ASSERT_TRUE(recovery->keepNow());
  recovery.reset();
  const std::vector<DocumentRecovery::Copy> copies = other.leftBehind();
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].text, "typed");
  EXPECT_EQ(copies[0].originalPath, "/music/a\nb.tab");
}

// A copy names its document's file absolutely, wherever the window was started; one
// whose folder has gone, or an earlier build's relative name, comes back untitled.
TEST(Form1, RecoveryNeverSavesIntoAnotherFolder) {
  QTemporaryDir data;
  const QString folder = data.filePath("recovery");
  {
    QPlainTextEdit editor;
    DocumentRecovery recovery(editor, folder);
    recovery.setDocumentPath([] { return QString("ms.tab"); });
    editor.insertPlainText("typed");
    ASSERT_TRUE(recovery.keepNow());
    QPlainTextEdit otherEditor;
    DocumentRecovery other(otherEditor, folder);
    EXPECT_TRUE(other.leftBehind().empty());  // still this window's
  }
  {
    QPlainTextEdit editor;
    DocumentRecovery other(editor, folder);
    const std::vector<DocumentRecovery::Copy> copies = other.leftBehind();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].originalPath, QDir::current().absoluteFilePath("ms.tab"));
    other.decline(copies[0]);
  }

  auto leave = [&](const QByteArray& path, const QByteArray& text) {
    QDir().mkpath(folder);
    QFile copy(folder + "/left.tab");
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write("# pulsewright recovery 1\npath " + path + "\n\n" + text);
  };
  for (const QByteArray& path :
       {QFile::encodeName(data.filePath("gone/ms.tab")), QByteArray("ms.tab")}) {
    leave(path, "k = kick");
    AppFixture f;
    f.recoveryFolder = folder;
    f.dialogs.yesNoAnswers = {true};
    auto form = f.start(0);
    EXPECT_EQ(form->Text1()->toPlainText(), "k = kick");
    EXPECT_TRUE(form->Text1()->document()->isModified());
    EXPECT_EQ(form->editor().documents().currentFileName(), "") << path.toStdString();
    ASSERT_EQ(f.dialogs.messages.size(), 1);
    EXPECT_TRUE(f.dialogs.messages[0].contains(QFile::decodeName(path)))
        << f.dialogs.messages[0].toStdString();
    // Save asks for a name: nothing is written beside the window's folder.
    f.dialogs.saveFileNames = {data.filePath("chosen.tab")};
    ASSERT_TRUE(form->editor().documents().save());
    EXPECT_TRUE(QFile::exists(data.filePath("chosen.tab")));
    EXPECT_FALSE(QFile::exists(QDir::current().absoluteFilePath("ms.tab")));
    QFile::remove(data.filePath("chosen.tab"));
  }
}

// A restored text large enough to load aside: kept whole and still unsaved once it has
// loaded, so that a signal then (the "Save it over?" question open) keeps it for the next
// start.
TEST(Form1, ALargeRestoredTextIsKeptUntilItIsSaved) {
  QTemporaryDir data;
  const QString folder = data.filePath("recovery");
  QString text = "k = kick\npart = A tempo = 120 notes = 8\n";
  while (text.size() <= TablatureEditor::kLoadAsideFrom) text += "k |x-x-x-x-|\n";
  text += "song = A";
  {
    QDir().mkpath(folder);
    QFile copy(folder + "/left.tab");
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write("# pulsewright recovery 1\npath " +
               QFile::encodeName(data.filePath("big.tab")).toPercentEncoding("/") + "\n\n" +
               text.toUtf8());
  }
  {
    AppFixture f;
    f.recoveryFolder = folder;
    f.dialogs.yesNoAnswers = {true};
    auto form = f.start(0);
    ASSERT_TRUE(waitFor([&] { return !form->tablatureEditor()->isLoading(); }, 20000));
    EXPECT_TRUE(form->Text1()->document()->isModified());
    form->quitWithoutAsking();
  }
  AppFixture f;
  f.recoveryFolder = folder;
  f.dialogs.yesNoAnswers = {true};
  auto form = f.start(0);
  ASSERT_EQ(f.dialogs.yesNoQuestions.size(), 1);
  ASSERT_TRUE(waitFor([&] { return !form->tablatureEditor()->isLoading(); }, 20000));
  EXPECT_TRUE(form->Text1()->toPlainText() == text);
  // Saved: only then is the copy gone.
  f.dialogs.yesNoAnswers = {true};
  ASSERT_TRUE(form->editor().documents().save());
  EXPECT_TRUE(QFile::exists(data.filePath("big.tab")));
  EXPECT_TRUE(recoveryCopies(folder).isEmpty());
}

TEST(Form1, AClickOnTheSplashEndsItEarly) {
  AppFixture f;
  auto form = f.start(60000);
  ASSERT_NE(form->splash(), nullptr);
  QTest::mouseClick(form->splash(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }, 2000));
  EXPECT_EQ(form->splash(), nullptr);
}

// While a large document loads aside, Play plays the whole of it at once, without waiting
// for the editor, and a key typed into it is refused with a message in the status bar.
TEST(Form1, PlaysALargeDocumentWhileItLoads) {
  AppFixture f;
  auto form = f.start();
  QTemporaryDir dir;
  QByteArray bytes = "k = kick drum\r\n";
  while (bytes.size() < TablatureEditor::kLoadAsideFrom + TablatureEditor::kLoadAsideFrom / 10) {
    bytes += "A remark, a line of no kind.\r\n";
  }
  // Only the whole text has a part to play.
  bytes += "part = A tempo = 240 notes = 4\r\nk |x---|\r\nsong = A\r\n";
  const QString path = dir.filePath("large.tab");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
  }
  TablatureEditor* editor = form->tablatureEditor();
  struct Hold {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ~Hold() { release.set_value(); }
  } hold;
  editor->setLoadStartHook([released = hold.released] { released.wait(); });
  ASSERT_TRUE(form->editor().documents().openFile(path));

  const std::size_t before = f.midi.sent().size();
  form->Play_Click();
  EXPECT_TRUE(editor->isLoading());
  ASSERT_TRUE(waitFor([&] { return !form->isPlaying(); }));
  const auto sent = f.sentSince(before);
  EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [](const std::string& m) {
    return m.starts_with("90 36 ");
  })) << ::testing::PrintToString(sent);
  ASSERT_NE(editor->preview(), nullptr);
  QTest::keyClick(editor->preview(), Qt::Key_Z);
  EXPECT_TRUE(form->statusBar()->currentMessage().startsWith("Loading the document"));
  EXPECT_TRUE(editor->isLoading());
}

// Settings > Sync: the MIDI clock port chosen there, and Follow JACK Transport, are
// remembered; at the next start the port is open again, and Play sends it Start, 24
// clocks a quarter and Stop.
TEST(Form1, SyncMenuRemembersItsChoicesAndPlaySendsClockToThePort) {
  AppFixture f({"Drum Machine", "Sound Module"});
  {
    auto form = f.start();
    QMenu* clockOut = form->findChild<QMenu*>("ClockOutMenu");
    ASSERT_NE(clockOut, nullptr);
    emit clockOut->aboutToShow();
    ASSERT_EQ(clockOut->actions().size(), 3);
    EXPECT_TRUE(clockOut->actions()[0]->isChecked());  // None
    clockOut->actions()[1]->trigger();
    EXPECT_EQ(f.settings.GetSetting("Sync", "ClockOut", ""), "Drum Machine");
    form->findChild<QAction*>("FollowJackTransport")->trigger();
    EXPECT_EQ(f.settings.GetSetting("Sync", "JackTransport", ""), "1");
  }
  auto form = f.start();
  QMenu* clockOut = form->findChild<QMenu*>("ClockOutMenu");
  emit clockOut->aboutToShow();
  EXPECT_TRUE(clockOut->actions()[1]->isChecked());
  EXPECT_TRUE(form->findChild<QAction*>("FollowJackTransport")->isChecked());
  form->Text1()->setPlainText("k = kick\npart = A tempo = 1500 notes = 4\nk |x-|\nsong = AA\n");
  const std::size_t mark = f.midi.sent().size();
  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return form->button("Play")->isEnabled() && !form->isPlaying(); }));
  std::string clock;
  int clocks = 0;
  for (const std::string& m : f.sentSince(mark)) {
    if (m == "f8 0 0") {
      ++clocks;
    } else if (m[0] == 'f') {
      clock += m.substr(0, 2) + " ";
    }
  }
  EXPECT_EQ(clock, "fa fc ");
  EXPECT_EQ(clocks, 4 * 24);  // four quarter steps
}

}  // namespace
}  // namespace pulsewright
