#include "cli/RenderCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "cli/Command.h"
#include "playback/SongRenderer.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingToPlay = 1;

struct RenderArguments {
  std::string file;
  std::string output;
  int rate = 44100;
  PadMapChoice padMap;
};

int runRender(const RenderArguments& o, CliContext& io) {
  std::ostream& err = io.err;
  PadMap padMap;
  std::string text;
  if (!loadDocument(o.file, o.padMap, io, &padMap, &text)) return kExitError;
  TablatureCompiler compiler;
  CompileMessages messages(err, o.file);
  CompileRequest request;
  request.padMap = padMap;
  request.listener = &messages;
  request.diagnose = false;
  const std::shared_ptr<const Song> song = makeSong(compileDocument(compiler, text, request).song);

  RenderSettings settings;
  settings.sampleRate = o.rate;
  const RenderResult result = renderSong(*song, o.output, settings);
  for (const std::string& note : result.notes) err << "pulsewright-cli: " << note << "\n";
  switch (result.status) {
    case RenderResult::Status::kDone: return kExitOk;
    case RenderResult::Status::kNothingToPlay:
      err << "pulsewright-cli: " << o.file << ": " << result.message << "\n";
      return kExitNothingToPlay;
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
  addPadMapOptions(*command, o->padMap);
  command->callback([o, &context] { context.status = runRender(*o, context); });
}

}  // namespace pulsewright
