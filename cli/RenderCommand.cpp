#include "cli/RenderCommand.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>

#include "cli/Command.h"
#include "cli/KitOptions.h"
#include "cli/VoiceOptions.h"
#include "playback/SongRenderer.h"
#include "tablature/CompiledDocument.h"
#include "tablature/DocumentMix.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

// A render that takes longer than this on a terminal shows how far it is.
constexpr auto kQuietTime = std::chrono::seconds(2);

struct RenderArguments {
  std::string file;
  std::string output;
  int rate = 44100;
  double gainDb = 0;
  bool normalize = false;
  double maxSeconds = kDefaultMaxSongSeconds;
  PadMapChoice padMap;
  VoiceChoice voices;
  std::string kit;
};

int runRender(const RenderArguments& o, CliContext& io) {
  std::ostream& err = io.err;
  PadMap padMap;
  std::string text;
  if (!loadDocument(o.file, o.padMap, io, &padMap, &text)) return kExitError;
  DocumentSession session;
  CompileMessages messages(err, o.file);
  const std::shared_ptr<const SessionResult> compiledResult =
      session.compileNow(std::move(text), commandSessionOptions(padMap, &messages, false));
  std::shared_ptr<const Timeline> compiled = compiledResult->document.song;
  const std::optional<VoiceMask> mask = voiceMaskOf(o.voices, o.file, *compiled, err);
  if (!mask) return kExitError;
  if (!mask->empty()) {
    compiled = std::make_shared<const Timeline>(withoutSilencedVoices(*compiled, *mask));
  }
  const DocumentMix mix = documentMix(compiledResult->text());
  if (!mix.plain()) {
    compiled = std::make_shared<const Timeline>(withoutMixSilencedVoices(*compiled, mix));
  }
  const std::shared_ptr<const Song> song = makeSong(std::move(compiled));
  if (!withinMaxLength(song->timeline, o.maxSeconds, o.file, "render", err)) return kExitError;

  RenderSettings settings;
  settings.sampleRate = o.rate;
  settings.gainDb = o.gainDb;
  settings.normalize = o.normalize;
  settings.inputs = {o.file, o.padMap.file};
  settings.documentFolder = documentFolderOf(o.file);
  if (const int status =
          chooseKit(o.kit, compiledResult->text(), padMap, o.rate, err, &settings.kit);
      status != kExitOk) {
    return status;
  }
  settings.kit.setMix(mix, padMap);
  reportMissingVoices(settings.kit, song->timeline, padMap, err);
  const StopSignals stopSignals;
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const auto started = std::chrono::steady_clock::now();
  auto shown = started;
  bool showing = false;
  const RenderResult result = renderSong(*song, o.output, settings, [&](double fraction) {
    if (stopSignals.caught() != 0) return false;
    const auto now = std::chrono::steady_clock::now();
    if (terminal && now - started > kQuietTime && now - shown > std::chrono::milliseconds(250)) {
      shown = now;
      showing = true;
      const double spent = std::chrono::duration<double>(now - started).count();
      const double left = fraction > 0 ? spent / fraction - spent : 0;
      err << "\rrendering " << o.output << ": " << static_cast<int>(fraction * 100) << "%, "
          << formatDuration(left) << " left  " << std::flush;
    }
    return true;
  });
  if (showing) err << "\n";
  for (const std::string& note : result.notes) err << "pulsewright-cli: " << note << "\n";
  switch (result.status) {
    case RenderResult::Status::kDone: return kExitOk;
    case RenderResult::Status::kNothingToPlay:
      err << "pulsewright-cli: " << o.file << ": " << result.message << "\n";
      return kExitNothingToPlay;
    case RenderResult::Status::kCancelled:
      err << "pulsewright-cli: stopped: " << o.output << " was not written\n";
      return 128 + stopSignals.caught();
    default: err << "pulsewright-cli: " << result.message << "\n"; return kExitError;
  }
}

}  // namespace

void addRenderCommand(CLI::App& app, CliContext& context) {
  auto o = std::make_shared<RenderArguments>();
  CLI::App* command = app.add_subcommand(
      "render", "render FILE to an audio file (WAV, or FLAC or Ogg by the name's ending)");
  command->add_option("FILE", o->file, "tablature document")->required()->type_name("");
  command->add_option("-o,--output", o->output, "the audio file to write")
      ->required()
      ->option_text("OUT.wav|.flac|.ogg");
  command->add_option("--rate", o->rate, "sample rate (default 44100)")
      ->check(CLI::IsMember({44100, 48000}))
      ->option_text("44100|48000");
  CLI::Option* gain =
      command->add_option("--gain", o->gainDb, "change the level by DB decibels (default 0)")
          ->check(finiteNumber(-100, 60))
          ->option_text("DB");
  command
      ->add_flag("--normalize", o->normalize,
                 "raise or lower the level so that the loudest peak is at -1 dBFS")
      ->excludes(gain);
  addMaxLengthOption(*command, o->maxSeconds);
  addPadMapOptions(*command, o->padMap);
  addVoiceOptions(*command, o->voices, true);
  addKitOption(*command, o->kit);
  command->callback([o, &context] { context.status = runRender(*o, context); });
}

}  // namespace pulsewright
