// Pulsewright: the drum-tablature editor and player.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cstdio>
#include <string_view>

#include "app/Form1.h"
#include "app/StartUpSequence.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "platform/FluidSynthOutput.h"
#include "platform/MidiRouter.h"
#include "platform/SdlSoundOutput.h"
#include "platform/SystemMidiPorts.h"
#include "platform/qt/QtUserDialogs.h"
#include "playback/PlaybackClock.h"
#include "settings/IniSettingsStore.h"

namespace {

const QCommandLineOption kNoSplash("no-splash", "Start without the splash window.");

void describeOptions(QCommandLineParser& parser) {
  // No organisation name: the data folder is then ~/.local/share/Pulsewright.
  QCoreApplication::setApplicationName("Pulsewright");
  QCoreApplication::setApplicationVersion(PULSEWRIGHT_VERSION);
  parser.setApplicationDescription("The drum-tablature editor and player.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(kNoSplash);
  parser.addPositionalArgument("FILE", "The tablature file to open.", "[FILE]");
}

// --help and --version answer without a display: the window system is not needed for them.
void answerWithoutWindows(int argc, char** argv) {
  bool asked = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    asked = asked || arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" ||
            arg == "-v" || arg == "--version";
  }
  if (!asked) return;
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  describeOptions(parser);
  parser.process(app);  // prints and exits
}

}  // namespace

int main(int argc, char** argv) {
  answerWithoutWindows(argc, argv);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);  // the icons and the splash picture live in a static library
  QCommandLineParser parser;
  describeOptions(parser);
  parser.process(app);
  if (parser.positionalArguments().size() > 1) {
    qWarning("%s", qPrintable(parser.helpText()));
    return 2;
  }

  using namespace pulsewright;
  IniSettingsStore settings;
  QtUserDialogs dialogs;
  SdlSoundOutput sound;
  // The "MIDI Mapper": drums rendered into the sound output, from the sound font the
  // settings name or else the system's.
  FluidSynthOutput synth(
      &sound, defaultSoundFonts(settings.GetSetting("Sound", "SoundFont", "").toStdString()));
  if (!synth.loadSoundFont()) {
    const std::string missing = synth.missingSoundFontMessage();
    std::fprintf(stderr, "pulsewright: %s\n", missing.c_str());
    dialogs.message(nullptr, QString::fromStdString(missing));
  }
  synth.setNotice(
      [](const std::string& text) { std::fprintf(stderr, "pulsewright: %s\n", text.c_str()); });
  SystemMidiPorts ports;
  MidiRouter midi(synth, ports);
  SteadyPlaybackClock clock;
  const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  const QString padMaps = dataFolder + "/padmaps";
  QDir().mkpath(padMaps);

  AppServices services{midi, sound, settings, dialogs, clock, padMaps, 6000, {}};
  if (parser.isSet(kNoSplash)) services.splashMilliseconds = 0;
  services.midiInput = &ports;
  services.kitVoices = &synth.kitVoices();
  services.synth = &synth;
  // One copy per running window; the single copy of earlier builds joins them.
  services.recoveryFolder = dataFolder + "/recovery";
  QDir().mkpath(services.recoveryFolder);
  if (QFile::exists(dataFolder + "/recovery.tab")) {
    QFile::rename(dataFolder + "/recovery.tab", services.recoveryFolder + "/earlier.tab");
  }
  Form1 form(services);
  if (!parser.positionalArguments().isEmpty()) {
    form.editor().documents().openFile(parser.positionalArguments().first());
  }
  return StartUpSequence::run(form);
}
