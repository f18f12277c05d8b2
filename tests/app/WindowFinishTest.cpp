// The main window's transport toolbar, status line, printing, remembered choices and the
// drum keyboard's names and held keys.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <algorithm>

#include "app/DrumKeyboard.h"
#include "app/PrintCommand.h"
#include "app/StatusLabel.h"
#include "app/TransportBar.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "padmap/ui/OptionsWindow.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

std::size_t noteOns(const std::vector<std::string>& sent) {
  return static_cast<std::size_t>(std::count_if(sent.begin(), sent.end(), [](const std::string& m) {
    return m[0] == '9' && m.substr(m.rfind(' ')) != " 0";
  }));
}

std::size_t noteOffs(const std::vector<std::string>& sent) {
  return static_cast<std::size_t>(
      std::count_if(sent.begin(), sent.end(), [](const std::string& m) { return m[0] == '8'; }));
}

TEST(TransportBar, BarBeatAndTapTempo) {
  auto at = [](int step, double size) {
    const BarBeat b = barBeatOf(step, size);
    return std::to_string(b.bar) + ":" + std::to_string(b.beat);
  };
  EXPECT_EQ(at(0, 8), "1:1");
  EXPECT_EQ(at(1, 8), "1:1");
  EXPECT_EQ(at(2, 8), "1:2");
  EXPECT_EQ(at(8, 8), "2:1");
  EXPECT_EQ(at(5, 16), "1:2");
  EXPECT_EQ(at(4, 4), "2:1");
  EXPECT_EQ(at(1, 2), "1:3");
  EXPECT_EQ(at(7, 0), "1:1");  // a step never timed

  using std::chrono::milliseconds;
  TapTempo tap;
  const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  EXPECT_FALSE(tap.tap(t0));
  EXPECT_DOUBLE_EQ(*tap.tap(t0 + milliseconds(500)), 120.0);
  EXPECT_DOUBLE_EQ(*tap.tap(t0 + milliseconds(1200)), 100.0);
  // A long pause starts again.
  EXPECT_FALSE(tap.tap(t0 + milliseconds(5000)));
  EXPECT_DOUBLE_EQ(*tap.tap(t0 + milliseconds(5250)), 240.0);
}

TEST(Form1, TransportToolbarPlaysAtTheTypedTempoAndShowsBarAndBeat) {
  AppFixture f;
  auto form = f.start();
  TransportBar* bar = form->transportBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisibleTo(form.get()));
  for (const char* name : {"PlaySong", "PauseSong", "StopSong", "LoopSong", "Metronome"}) {
    EXPECT_TRUE(bar->actions().contains(form->action(name))) << name;
  }
  EXPECT_FALSE(form->action("PauseSong")->isEnabled());
  // Desktops take Ctrl+Alt+L and Ctrl+Alt+arrows for themselves.
  EXPECT_EQ(form->action("LoopSong")->shortcut(), QKeySequence("Ctrl+Shift+L"));
  EXPECT_EQ(form->action("Faster")->shortcut(), QKeySequence("Ctrl+Shift+Up"));
  EXPECT_EQ(form->action("Slower")->shortcut(), QKeySequence("Ctrl+Shift+Down"));

  form->Text1()->setPlainText(
      "k = kick\npart = A tempo = 100 notes = 8\nk |x-x-x-x-x-x-x-x-|\nsong = A\n");
  bar->tempo()->setValue(150);  // the written tempo is not known before Play: 120
  EXPECT_DOUBLE_EQ(form->tempoScale(), 1.25);
  form->setTempoScale(1.0);
  form->action("LoopSong")->setChecked(true);
  form->action("PlaySong")->trigger();
  EXPECT_TRUE(form->action("StopSong")->isEnabled());
  EXPECT_FALSE(form->action("PlaySong")->isEnabled());
  ASSERT_TRUE(waitFor([&] { return bar->tempo()->value() == 100; }));
  ASSERT_TRUE(waitFor([&] { return bar->position()->text() == "1:3"; }));
  form->action("Faster")->trigger();
  EXPECT_EQ(bar->tempo()->value(), 105);
  bar->tempo()->setValue(50);
  EXPECT_DOUBLE_EQ(form->tempoScale(), 0.5);
  // F6 pauses, and plays on from the pause.
  form->action("PauseSong")->trigger();
  EXPECT_TRUE(form->action("PauseSong")->isEnabled());
  EXPECT_TRUE(form->action("PlaySong")->isEnabled());
  form->action("PauseSong")->trigger();
  EXPECT_FALSE(form->action("PlaySong")->isEnabled());
  form->action("StopSong")->trigger();
  EXPECT_EQ(bar->position()->text(), "");
  EXPECT_TRUE(form->action("PlaySong")->isEnabled());
}

TEST(Form1, StatusLineShowsTheWholeMessageAndClearsForANewDocument) {
  AppFixture f;
  auto form = f.start();
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  auto* label = qobject_cast<StatusLabel*>(form->Label1());
  ASSERT_NE(label, nullptr);
  // As wide as the window lets it be.
  EXPECT_GE(label->geometry().right() + form->twips(60) + 1, form->centralWidget()->width());
  const QString longText =
      "Export failed: nothing to play: the song has no part with a grid line, and this message "
      "goes on well past the edge of any window this size";
  label->setText(longText);
  EXPECT_EQ(label->toolTip(), longText);
  EXPECT_TRUE(label->shownText().endsWith(QChar(0x2026))) << label->shownText().toStdString();
  form->resize(4000, form->height());
  ASSERT_TRUE(waitFor([&] { return label->shownText() == longText; }));

  form->editor().documents().newDocument();
  EXPECT_EQ(label->text(), "");
  EXPECT_EQ(label->toolTip(), "");
  QTemporaryDir dir;
  const QString path = dir.filePath("song.tab");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("song = A\n");
  file.close();
  label->setText("Song Part:1  Part: A  Beat: 3");
  ASSERT_TRUE(form->editor().documents().openFile(path));
  EXPECT_EQ(label->text(), "");
}

TEST(Form1, PrintAlwaysAsksAndPrintsToAPdfFile) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText("k = kick\npart = A tempo = 100 notes = 8\nk |x-x-|\nsong = A\n");
  QTemporaryDir dir;
  int asked = 0;
  QString target = dir.filePath("song.pdf");
  form->printCommand().setAskPrinter([&](QPrinter& printer, QWidget*) {
    ++asked;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(target);
    return true;
  });
  form->action("Print")->trigger();
  EXPECT_EQ(asked, 1);
  QFile pdf(target);
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdf.read(5).startsWith("%PDF-"));
  EXPECT_EQ(form->Label1()->text(), "");

  target = dir.filePath("no such folder/song.pdf");
  form->button("PrintButton")->click();
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(form->Label1()->text().startsWith("Printing failed"))
      << form->Label1()->text().toStdString();

  // Cancelled: nothing printed, nothing said.
  form->Label1()->clear();
  form->printCommand().setAskPrinter([&](QPrinter&, QWidget*) { return false; });
  form->action("Print")->trigger();
  EXPECT_EQ(form->Label1()->text(), "");
}

TEST(Form1, RemembersDevicesAndThePlaceAcrossRestarts) {
  AppFixture f({"Port 0", "Port 1"});
  QRect place;
  {
    auto form = f.start();
    form->deviceMenu()->actions()[2]->trigger();
    form->channelMenu()->actions()[9]->trigger();
    form->AudioDevices()->setCurrentIndex(1);
    form->setGeometry(40, 50, form->width() + 30, form->height() + 20);
    place = form->geometry();
    form->close();
  }
  f.midi.setDevices({"New Port", "Port 0", "Port 1"});  // listed before the one used
  auto form = f.start();
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  EXPECT_TRUE(form->deviceMenu()->actions()[3]->isChecked());
  EXPECT_EQ(form->deviceMenu()->actions()[3]->text(), "Port 1");
  EXPECT_TRUE(form->channelMenu()->actions()[9]->isChecked());
  EXPECT_EQ(form->AudioDevices()->currentText(), "Headphones");
  EXPECT_EQ(form->geometry().size(), place.size());

  // A port that appears later shows when the menu opens; the choice stays.
  f.midi.setDevices({"New Port", "Port 0", "Port 1", "Late Port"});
  emit form->deviceMenu()->aboutToShow();
  EXPECT_TRUE(form->deviceMenu()->actions()[4]->isVisible());
  EXPECT_EQ(form->deviceMenu()->actions()[4]->text(), "Late Port");
  EXPECT_TRUE(form->deviceMenu()->actions()[3]->isChecked());
  EXPECT_TRUE(form->channelMenu()->actions()[9]->isChecked());
}

TEST(DrumKeyboard, KeysShowTheirDrumsAndAHeldKeyPlaysOnce) {
  AppFixture f;
  auto form = f.start();
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  DrumKeyboard* keys = form->keyboard();
  for (int i = 0; i < kKeyCount; ++i) {
    const QString name = keys->key(i)->drumName();
    EXPECT_FALSE(name.isEmpty()) << i;
    EXPECT_LE(keys->key(i)->fontMetrics().horizontalAdvance(name.section('\n', 0, 0)),
              keys->key(i)->width())
        << i;
  }
  EXPECT_TRUE(keys->key(1)->text().endsWith("\nS"));
  // The pad-map window names the General MIDI drum of each entry's note.
  auto* drum = form->options()->findChild<QLabel*>("GeneralMidi0");
  ASSERT_NE(drum, nullptr);
  form->options()->entryField(DrumVoice::BassDrum)->setText("36");
  EXPECT_EQ(drum->text(), "Bass Drum 1");
  form->options()->entryField(DrumVoice::BassDrum)->setText(" 46 ");
  EXPECT_EQ(drum->text(), "Open Hi-Hat");
  form->options()->entryField(DrumVoice::BassDrum)->setText("200");
  EXPECT_EQ(drum->text(), "");
  form->options()->entryField(DrumVoice::BassDrum)->setText("36");

  // The window system's auto-repeat as a release and a press with the same time stamp.
  keys->setFocus();
  const std::size_t mark = f.midi.sent().size();
  auto send = [&](QEvent::Type type, quint64 time) {
    QKeyEvent event(type, Qt::Key_Z, Qt::NoModifier, "z");
    event.setTimestamp(time);
    QApplication::sendEvent(keys, &event);
  };
  send(QEvent::KeyPress, 1000);
  for (quint64 t = 1660; t < 2000; t += 40) {
    send(QEvent::KeyRelease, t);
    send(QEvent::KeyPress, t);
  }
  send(QEvent::KeyRelease, 2100);
  ASSERT_TRUE(waitFor([&] { return !keys->key(0)->isChecked(); }));
  const auto sent = f.sentSince(mark);
  EXPECT_EQ(noteOns(sent), 1u);
  EXPECT_EQ(noteOffs(sent), 1u);
}

// Real key events from the X server, held past its auto-repeat delay (run under Xvfb).
TEST(DrumKeyboardOnX11, AKeyHeldDownPlaysOnce) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
  if (QStandardPaths::findExecutable("xdotool").isEmpty()) GTEST_SKIP() << "needs xdotool";
  AppFixture f;
  auto form = f.start(0);
  ASSERT_TRUE(waitFor([&] { return form->isVisible(); }));
  form->activateWindow();
  form->keyboard()->setFocus();
  ASSERT_TRUE(waitFor([&] { return form->isActiveWindow() && form->keyboard()->hasFocus(); }));
  QTest::qWait(200);
  const std::size_t mark = f.midi.sent().size();
  QProcess xdotool;
  xdotool.start("xdotool", {"keydown", "z", "sleep", "1.2", "keyup", "z"});
  ASSERT_TRUE(waitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 5000));
  ASSERT_TRUE(waitFor([&] { return !form->keyboard()->key(0)->isChecked(); }));
  QTest::qWait(100);
  const auto sent = f.sentSince(mark);
  EXPECT_EQ(noteOns(sent), 1u);
  EXPECT_EQ(noteOffs(sent), 1u);
}

}  // namespace
}  // namespace pulsewright
