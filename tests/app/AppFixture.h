#pragma once
// A main window on fake devices: a recording MIDI output, a sound output that plays
// nothing, settings in memory, scripted dialogs and a temporary pad-map folder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <memory>

#include "app/Form1.h"
#include "playback/PlaybackClock.h"
#include "tests/support/FakeMidiOutput.h"
#include "tests/support/MemorySettingsStore.h"
#include "tests/support/NullSoundOutput.h"
#include "tests/support/ScriptedUserDialogs.h"

namespace pulsewright {

struct AppFixture {
  explicit AppFixture(std::vector<std::string> midiDevices = {})
      : midi(std::move(midiDevices)), sound({"Speakers", "Headphones"}) {}

  std::unique_ptr<Form1> start(int splashMs = 1) {
    auto form =
        std::make_unique<Form1>(AppServices{midi, sound, settings, dialogs, clock, padMaps.path(),
                                            splashMs, recoveryFolder, midiInput, kitVoices, synth});
    form->startUp();
    return form;
  }

  // The short messages sent so far, as "status data1 data2" in hex and decimal.
  std::vector<std::string> sentSince(std::size_t from) const {
    std::vector<std::string> out;
    const auto all = midi.sent();
    for (std::size_t i = from; i < all.size(); ++i) {
      const std::uint32_t w = all[i].word;
      char buf[32];
      std::snprintf(buf, sizeof buf, "%02x %u %u", w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF);
      out.emplace_back(buf);
    }
    return out;
  }

  FakeMidiOutput midi;
  NullSoundOutput sound;
  MemorySettingsStore settings;
  ScriptedUserDialogs dialogs;
  SteadyPlaybackClock clock;
  QTemporaryDir padMaps;
  QString recoveryFolder;                 // empty: no recovery copy
  MidiInputService* midiInput = nullptr;  // the kits Record may listen to; null: none
  KitVoices* kitVoices = nullptr;         // the sampled kit's player; null: none
  FluidSynthOutput* synth = nullptr;      // the built-in synthesiser; null: none
};

// Runs the event loop until `done` holds or the time is up.
template <typename F>
bool waitFor(F done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace pulsewright
