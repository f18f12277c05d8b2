// Start-up figure: from the start of main() to every subsystem ready (the devices listed,
// the patterns compiled, the mapper's sound font loaded, the Options window with its
// preset, the appearance applied), not counting the splash window's wait, and the
// resident memory then. Runs the real window offscreen on the real devices.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "app/Form1.h"
#include "platform/FluidSynthOutput.h"
#include "platform/MidiRouter.h"
#include "platform/SdlSoundOutput.h"
#include "platform/SystemMidiPorts.h"
#include "platform/qt/QtUserDialogs.h"
#include "playback/PlaybackClock.h"
#include "settings/IniSettingsStore.h"

namespace {
long residentKilobytes() {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').front().toLong();
  }
  return -1;
}
}  // namespace

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  using namespace pulsewright;
  QTemporaryDir home;
  SdlSoundOutput sound;
  FluidSynthOutput synth(&sound);
  SystemMidiPorts ports;
  MidiRouter midi(synth, ports);
  IniSettingsStore settings(home.filePath("settings.ini"));
  QtUserDialogs dialogs;
  SteadyPlaybackClock clock;
  {
    Form1 form(
        AppServices{midi, sound, settings, dialogs, clock, home.filePath("padmaps"), 6000, {}});
    form.startUp();
    const auto ready = std::chrono::steady_clock::now();
    std::printf("start-up to ready: %.1f ms (sound font %s)\n",
                std::chrono::duration<double, std::milli>(ready - start).count(),
                synth.soundFont().empty() ? "not loaded" : synth.soundFont().c_str());
    std::printf("resident memory: %.1f MB\n", residentKilobytes() / 1024.0);
  }
  return 0;
}
