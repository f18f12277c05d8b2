#include "cli/ExportCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "cli/OutputFile.h"
#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"
#include "padmap/PadMap.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingToPlay = 1;
constexpr int kDrumChannel = 10;

struct ExportArguments {
  std::string input;
  std::string output;
  int channel = kDrumChannel;
  PadMapChoice padMap;
};

int runExport(const ExportArguments& a, CliContext& io) {
  std::ostream& err = io.err;
  PadMap padMap;
  std::string text;
  if (!loadDocument(a.input, a.padMap, io, &padMap, &text)) return kExitError;
  TablatureCompiler compiler;
  CompileMessages messages(err, a.input);
  CompileRequest request;
  request.padMap = padMap;
  request.listener = &messages;
  request.diagnose = false;
  const CompiledDocument compiled = compileDocument(compiler, text, request);
  const Timeline& timeline = *compiled.song;
  if (!timeline.playable()) {
    err << "pulsewright-cli: " << a.input << ": nothing to play\n";
    return kExitNothingToPlay;
  }
  const MidiFileSong song = midiFileSongOf(timeline, compiled.metadata);
  MidiFileSummary summary;
  const std::string file = writeStandardMidiFile(song, a.channel - 1, &summary);
  std::string reason;
  if (!writeFileReplacing(a.output, file, &reason)) {
    err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
    return kExitError;
  }
  if (summary.samplesLeftOut > 0) {
    err << "pulsewright-cli: " << summary.samplesLeftOut
        << " sample hits left out: a MIDI file cannot hold samples\n";
  }
  return kExitOk;
}

}  // namespace

void addExportCommand(CLI::App& app, CliContext& context) {
  auto a = std::make_shared<ExportArguments>();
  CLI::App* command =
      app.add_subcommand("export", "write the song of FILE as a Standard MIDI File");
  command->add_option("FILE", a->input, "tablature document")->required()->type_name("");
  command->add_option("-o,--output", a->output, "the MIDI file to write")
      ->required()
      ->option_text("OUT.mid");
  command->add_option("--channel", a->channel, "MIDI channel of the drums (default 10)")
      ->check(CLI::Range(1, 16))
      ->option_text("1-16");
  addPadMapOptions(*command, a->padMap);
  command->callback([a, &context] { context.status = runExport(*a, context); });
}

}  // namespace pulsewright
