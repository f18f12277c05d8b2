// Pulsewright: the drum-tablature editor and player.

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include "app/Form1.h"
#include "platform/FluidSynthOutput.h"
#include "platform/MidiRouter.h"
#include "platform/SdlSoundOutput.h"
#include "platform/SystemMidiPorts.h"
#include "platform/qt/QtUserDialogs.h"
#include "playback/PlaybackClock.h"
#include "settings/IniSettingsStore.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);  // the icons and the splash picture live in a static library
  QApplication::setApplicationName("Pulsewright");
  QApplication::setOrganizationName("Pulsewright");

  using namespace pulsewright;
  SdlSoundOutput sound;
  FluidSynthOutput synth(&sound);  // the "MIDI Mapper": drums rendered into the sound output
  SystemMidiPorts ports;
  MidiRouter midi(synth, ports);
  IniSettingsStore settings;
  QtUserDialogs dialogs;
  SteadyPlaybackClock clock;
  const QString padMaps =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/padmaps";
  QDir().mkpath(padMaps);

  Form1 form(AppServices{midi, sound, settings, dialogs, clock, padMaps});
  form.startUp();
  return QApplication::exec();
}
