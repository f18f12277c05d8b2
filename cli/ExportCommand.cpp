#include "cli/ExportCommand.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <memory>
#include <ostream>

#include "cli/OutputFile.h"
#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"
#include "notation/MusicXml.h"
#include "notation/Score.h"
#include "padmap/PadMap.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingToPlay = 1;
constexpr int kDrumChannel = 10;

// The output's ending chooses the format, compared without regard to case.
bool endsWith(const std::string& path, std::string_view ending) {
  if (path.size() < ending.size()) return false;
  for (std::size_t i = 0; i < ending.size(); ++i) {
    const char c = path[path.size() - ending.size() + i];
    if (std::tolower(static_cast<unsigned char>(c)) != ending[i]) return false;
  }
  return true;
}

bool isMusicXmlName(const std::string& path) {
  return endsWith(path, ".musicxml") || endsWith(path, ".xml");
}

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
  MidiFileSummary summary;
  std::string file;
  if (isMusicXmlName(a.output)) {
    const Score score = buildScore({timeline, compiled.metadata, text});
    for (const std::string& warning : score.warnings) {
      err << "pulsewright-cli: " << a.input << ": " << warning << "\n";
    }
    summary.samplesLeftOut = score.samplesLeftOut;
    file = writeMusicXml(score, a.channel);
  } else {
    file =
        writeStandardMidiFile(midiFileSongOf(timeline, compiled.metadata), a.channel - 1, &summary);
  }
  std::string reason;
  if (!writeFileReplacing(a.output, file, &reason)) {
    err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
    return kExitError;
  }
  if (summary.samplesLeftOut > 0) {
    err << "pulsewright-cli: " << summary.samplesLeftOut
        << " sample hits left out: " << (isMusicXmlName(a.output) ? "a drum score" : "a MIDI file")
        << " cannot hold samples\n";
  }
  return kExitOk;
}

}  // namespace

void addExportCommand(CLI::App& app, CliContext& context) {
  auto a = std::make_shared<ExportArguments>();
  CLI::App* command =
      app.add_subcommand("export",
                         "write the song of FILE as a Standard MIDI File (.mid) or as a "
                         "MusicXML drum score (.musicxml, .xml)");
  command->add_option("FILE", a->input, "tablature document")->required()->type_name("");
  command->add_option("-o,--output", a->output, "the file to write; its ending chooses the format")
      ->required()
      ->option_text("OUT.mid|OUT.musicxml");
  command->add_option("--channel", a->channel, "MIDI channel of the drums (default 10)")
      ->check(CLI::Range(1, 16))
      ->option_text("1-16");
  addPadMapOptions(*command, a->padMap);
  command->callback([a, &context] { context.status = runExport(*a, context); });
}

}  // namespace pulsewright
