// Practice controls in the window: mute and solo from the Play menu and the drum keyboard,
// F6 toggling Pause, and the status line's bar:beat and speed.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>

#include "app/DrumKeyboard.h"
#include "app/Form1.h"
#include "app/Transport.h"
#include "tests/app/AppFixture.h"

namespace pulsewright {
namespace {

// Note-ons of `key` (any channel) among `sent`, from index `from`.
std::size_t hits(const std::vector<std::string>& sent, int key, std::size_t from = 0) {
  const std::string tail = " " + std::to_string(key) + " ";
  std::size_t n = 0;
  for (std::size_t i = from; i < sent.size(); ++i) {
    if (sent[i][0] == '9' && sent[i].find(tail) == 2 &&
        sent[i].substr(sent[i].rfind(' ')) != " 0") {
      ++n;
    }
  }
  return n;
}

// The index just after the `count`-th kick from `from`: past any step handed over while
// the change was being made.
std::size_t afterKicks(const std::vector<std::string>& sent, std::size_t from, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = from; i < sent.size(); ++i) {
    if (hits(sent, 36, i) > hits(sent, 36, i + 1) && ++seen == count) return i + 1;
  }
  return sent.size();
}

TEST(Form1, PlayMenuMutesADrumFromTheNextStepAndF6TogglesPause) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText(
      "k = kick\ns = snare\npart = A tempo = 600 notes = 8\nk |xxxxxx|\ns |xxxxxx|\nsong = A\n");
  form->action("LoopSong")->setChecked(true);
  EXPECT_EQ(form->action("PauseSong")->shortcut(), QKeySequence(Qt::Key_F6));
  const std::size_t start = f.midi.sent().size();
  form->action("PlaySong")->trigger();
  ASSERT_TRUE(waitFor([&] { return hits(f.sentSince(start), 38) >= 2; }));
  // The status line: the step, then its bar:beat from the part's bars (3/4 here).
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("Beat: 1:"); }))
      << form->Label1()->text().toStdString();

  form->action("MuteSnareDrum")->trigger();
  EXPECT_TRUE(form->action("MuteSnareDrum")->isChecked());
  const std::size_t muted = f.midi.sent().size() - start;
  ASSERT_TRUE(waitFor([&] { return hits(f.sentSince(start), 36, muted) >= 6; }));
  {
    const std::vector<std::string> sent = f.sentSince(start);
    EXPECT_EQ(hits(sent, 38, afterKicks(sent, muted, 2)), 0u);
  }
  // The drum keyboard marks the muted drum.
  DrumKeyboard* strip = form->keyboard();
  ASSERT_NE(strip, nullptr);
  EXPECT_TRUE(strip->key(1)->text().endsWith("M")) << strip->key(1)->text().toStdString();

  // F6 pauses, and F6 again goes on from there, the drum still muted.
  form->action("PauseSong")->trigger();
  EXPECT_TRUE(form->action("PlaySong")->isEnabled());
  EXPECT_TRUE(form->action("PauseSong")->isEnabled());
  const std::size_t paused = f.midi.sent().size() - start;
  form->action("PauseSong")->trigger();
  EXPECT_FALSE(form->action("PlaySong")->isEnabled());
  ASSERT_TRUE(waitFor([&] { return hits(f.sentSince(start), 36, paused) >= 4; }));
  EXPECT_EQ(hits(f.sentSince(start), 38, paused), 0u);

  // The strip's own menu lets the drum sound again, from the next step.
  QMenu* menu = strip->voiceMenu(1);
  QAction* mute = menu->findChild<QAction*>("MuteVoice");
  ASSERT_NE(mute, nullptr);
  EXPECT_TRUE(mute->isChecked());
  mute->trigger();
  delete menu;
  EXPECT_FALSE(form->action("MuteSnareDrum")->isChecked());
  const std::size_t unmuted = f.midi.sent().size() - start;
  ASSERT_TRUE(waitFor([&] { return hits(f.sentSince(start), 38, unmuted) >= 2; }));
  form->action("StopSong")->trigger();
}

TEST(Form1, TheSpeedTrainerLoopsTheSongFasterEachPass) {
  AppFixture f;
  auto form = f.start();
  form->Text1()->setPlainText("k = kick\npart = A tempo = 1200 notes = 8\nk |xx|\nsong = A\n");
  form->action("SpeedTrainer50")->trigger();
  EXPECT_TRUE(form->action("LoopSong")->isChecked());  // a ramp needs passes
  form->action("PlaySong")->trigger();
  ASSERT_TRUE(waitFor([&] { return form->Label1()->text().contains("Speed: 60%"); }))
      << form->Label1()->text().toStdString();
  form->action("StopSong")->trigger();
  form->action("SpeedTrainerOff")->trigger();
  form->action("PlaySong")->trigger();
  // Off again: no speed shown, and the scale from before the trainer.
  ASSERT_TRUE(waitFor([&] {
    const QString status = form->Label1()->text();
    return status.contains("Beat: 1:1") && !status.contains("Speed");
  }));
  EXPECT_DOUBLE_EQ(form->tempoScale(), 1.0);
  form->action("StopSong")->trigger();
}

}  // namespace
}  // namespace pulsewright
