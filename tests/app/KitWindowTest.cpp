// Settings > Kit on a tiny kit made here: chosen (and remembered), loaded off the window's
// thread into the sampled kit's player, auditioned, a voice remapped and kept beside the
// pad maps, the mixer edited as one undo step, and what the kit lacks in the problems list.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

#include "app/KitWindow.h"
#include "editor/EditorText.h"
#include "editor/ProblemsPanel.h"
#include "editor/TablatureEditor.h"
#include "kits/KitVoiceFile.h"
#include "platform/FluidSynthOutput.h"
#include "tests/app/AppFixture.h"
#include "tests/support/TinyKit.h"
#include "tests/support/TinySoundFont.h"

namespace pulsewright {
namespace {

// The largest sample of one block the player renders.
float loudestOfBlock(KitVoices& voices) {
  std::vector<float> block(2 * 256, 0.0f);
  voices.render(block.data(), 256);
  float peak = 0;
  for (float s : block) peak = std::max(peak, std::abs(s));
  return peak;
}

TEST(KitWindow, ChoosesAuditionsRemapsAndMixesAsOneUndoStep) {
  QTemporaryDir kits;
  test::makeTinyKit((kits.path() + "/tiny").toStdString());
  ::setenv(kKitsVariable, kits.path().toUtf8().constData(), 1);
  KitVoices voices;
  AppFixture f;
  f.kitVoices = &voices;
  auto form = f.start();
  form->action("Kit")->trigger();
  KitWindow* w = form->kitWindow();
  ASSERT_TRUE(w->isVisible());
  QComboBox* chooser = w->kitChooser();
  ASSERT_GE(chooser->count(), 2);
  EXPECT_EQ(chooser->itemText(0), "General MIDI");
  EXPECT_EQ(chooser->currentIndex(), 0);
  const int tiny = chooser->findText("Tiny Test Kit");
  ASSERT_GT(tiny, 0);
  EXPECT_TRUE(chooser->itemData(tiny, Qt::ToolTipRole)
                  .toString()
                  .startsWith("Tiny Test Kit: Hydrogen kit, 6 instruments, 8 layers, licence CC0"));

  // Chosen: remembered, loaded off the window's thread, then handed to the player.
  chooser->setCurrentIndex(tiny);
  emit chooser->activated(tiny);
  EXPECT_EQ(f.settings.GetSetting("Kit", "Name", ""), "Tiny Test Kit");
  ASSERT_TRUE(waitFor([&] { return voices.kit() != nullptr; }));
  EXPECT_EQ(voices.kit()->name, "Tiny Test Kit");
  ASSERT_EQ(w->instrumentTable()->rowCount(), 6);
  // What it left out is in the problems list.
  EXPECT_TRUE(form->problems()->kitWarnings().join("\n").contains("Tom Hi: tom-gone.wav left out"))
      << form->problems()->kitWarnings().join("\n").toStdString();

  // An audition plays the instrument once, in the next block.
  EXPECT_EQ(loudestOfBlock(voices), 0.0f);
  auto* audition = w->instrumentTable()->findChild<QPushButton*>("Audition1");
  ASSERT_NE(audition, nullptr);
  audition->click();
  EXPECT_GT(loudestOfBlock(voices), 0.01f);

  // The snare remapped to the kick: kept beside the pad maps, and the kit loads with it.
  const std::shared_ptr<const KitSound> before = voices.kit();
  QComboBox* snare = w->instrumentChooser(DrumVoice::SnareDrum);
  EXPECT_EQ(snare->currentText(), "Test Snare");
  emit snare->activated(snare->findText("Test Kick"));
  const KitInfo* kit = form->kitSettings().current();
  ASSERT_NE(kit, nullptr);
  EXPECT_EQ(readKitVoiceChoices(f.padMaps.path().toStdString(), *kit)[index(DrumVoice::SnareDrum)],
            0);
  ASSERT_TRUE(waitFor([&] { return voices.kit() != before; }));
  EXPECT_EQ(form->kitSettings().voiceMap()[index(DrumVoice::SnareDrum)], 0);
  EXPECT_EQ(w->instrumentChooser(DrumVoice::SnareDrum)->currentText(), "Test Kick");

  // The mixer edits the document's mix line, each change one undo step.
  TablatureEditor& editor = *form->tablatureEditor();
  setEditorText(editor, "k = kick\npart = A notes = 4\nk |x---|\nsong = A\n");
  const QString original = editorText(editor);
  w->gain(DrumVoice::SnareDrum)->setValue(-6);
  w->mute(DrumVoice::Ride)->setChecked(true);
  EXPECT_TRUE(editorText(editor).startsWith("meta mix = Snare Drum -6 dB; Ride mute\n"))
      << editorText(editor).toStdString();
  editor.undo();
  EXPECT_TRUE(editorText(editor).startsWith("meta mix = Snare Drum -6 dB\n"));
  EXPECT_FALSE(w->mute(DrumVoice::Ride)->isChecked());  // the mixer follows the text
  editor.undo();
  EXPECT_EQ(editorText(editor), original);
  EXPECT_EQ(w->gain(DrumVoice::SnareDrum)->value(), 0.0);

  // Play names the voices the kit leaves to the synthesiser in the problems list, in the
  // words the CLI uses.
  setEditorText(editor, "r = ride\npart = A tempo = 240 notes = 4\nr |x---|\nsong = A\n");
  form->Play_Click();
  form->Stopb_Click();
  EXPECT_TRUE(form->problems()->kitWarnings().contains(
      "Tiny Test Kit has no instrument for Ride: the General MIDI synthesiser plays it"))
      << form->problems()->kitWarnings().join("\n").toStdString();
  form->kitWindow()->hide();
  ::unsetenv(kKitsVariable);
}

// An SF2 kit chosen in the window puts the synthesiser on its font and preset, and back on
// the General MIDI font for General MIDI; Export Audio renders on the document's kit with
// its mixer, as Play plays it.
TEST(KitWindow, AnSf2KitPlaysOnTheSynthesiserAndExportAudioTakesTheKitAndTheMix) {
  QTemporaryDir kits;
  const std::string font = (kits.path() + "/tiny.sf2").toStdString();
  test::writeTinySoundFont(font, "Tiny SF2 Kit", 500);
  ::setenv(kKitsVariable, kits.path().toUtf8().constData(), 1);
  const std::string generalMidi = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  FluidSynthOutput synth(nullptr, {generalMidi});
  ASSERT_TRUE(synth.loadSoundFont());
  AppFixture f;
  f.synth = &synth;
  auto form = f.start();
  form->action("Kit")->trigger();
  QComboBox* chooser = form->kitWindow()->kitChooser();
  const int tiny = chooser->findText("Tiny SF2 Kit");
  ASSERT_GT(tiny, 0);
  chooser->setCurrentIndex(tiny);
  emit chooser->activated(tiny);
  EXPECT_EQ(synth.soundFont(), font);
  chooser->setCurrentIndex(0);
  emit chooser->activated(0);
  EXPECT_EQ(synth.soundFont(), generalMidi);

  // The document names the kit and mutes the hat: the snare plays the kit's tone alone.
  QTemporaryDir dir;
  const QString wav = dir.filePath("kit.wav");
  form->Text1()->setPlainText(
      "meta kit = Tiny SF2 Kit\nmeta mix = Closed Hat mute\nh = closed hat\ns = snare\n"
      "part = A tempo = 120 notes = 4\nh |x-x-|\ns |-x--|\nsong = A\n");
  form->exportAudio(wav);
  ASSERT_TRUE(form->audioExport());
  ASSERT_TRUE(waitFor([&] { return !form->audioExport()->running(); }, 20000));
  SF_INFO info{};
  SNDFILE* in = sf_open(wav.toUtf8().constData(), SFM_READ, &info);
  ASSERT_NE(in, nullptr);
  std::vector<float> audio(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(in, audio.data(), info.frames);
  sf_close(in);
  auto left = [&](long frame) {
    return frame < info.frames ? audio[static_cast<std::size_t>(frame * info.channels)] : 0.0f;
  };
  const long beat = info.samplerate / 2;
  double hat = 0;
  for (long i = 0; i < beat - 500; ++i) hat = std::max(hat, double(std::abs(left(i))));
  EXPECT_LT(hat, 1e-4);
  double best = 0;
  for (long lag = -400; lag < 400; ++lag) {
    double xy = 0, xx = 0, yy = 0;
    for (long i = 0; i < info.samplerate / 10; ++i) {
      const double x = left(beat + lag + i),
                   y = test::tinySoundFontTone(500, double(i) / info.samplerate);
      xy += x * y, xx += x * x, yy += y * y;
    }
    if (xx > 0) best = std::max(best, xy / std::sqrt(xx * yy));
  }
  EXPECT_GT(best, 0.9);
  ::unsetenv(kKitsVariable);
}

}  // namespace
}  // namespace pulsewright
