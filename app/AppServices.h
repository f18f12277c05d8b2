#pragma once
// What the main window is built on: the devices, the settings store and the dialogs.
// main() gives it the real ones; the window tests give it fakes.

#include <QString>

namespace pulsewright {

class FluidSynthOutput;
class KitVoices;
class MidiInputService;
class MidiOutputService;
class PlaybackClock;
class SettingsStore;
class SoundOutput;
class UserDialogs;

struct AppServices {
  MidiOutputService& midi;
  SoundOutput& sound;
  SettingsStore& settings;
  UserDialogs& dialogs;
  PlaybackClock& clock;
  QString padMapFolder;                   // stands for the folder of pad-map files
  int splashMilliseconds = 6000;          // how long the splash window stays; 0: no splash
  QString recoveryFolder;                 // where unsaved text is kept; empty: nowhere
  MidiInputService* midiInput = nullptr;  // the kits Record listens to; null: none
  KitVoices* kitVoices = nullptr;         // the sampled drum kit's player; null: none
  FluidSynthOutput* synth = nullptr;      // the built-in synthesiser; null: SF2 kits not played
};

}  // namespace pulsewright
