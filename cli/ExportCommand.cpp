#include "cli/ExportCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "fileio/OutputFile.h"
#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"
#include "padmap/PadMap.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingToPlay = 1;
constexpr int kDrumChannel = 10;

struct ExportArguments;
using FileWriter = std::string (*)(const ExportArguments&, const Timeline&, const CompilerState&,
                                   std::ostream& err);

std::string midiFileBytes(const ExportArguments& a, const Timeline& timeline,
                          const CompilerState& state, std::ostream& err);

// The file kinds export writes, by the output's ending (lower case). A name with no
// ending is a MIDI file.
struct ExportFormat {
  std::string_view ending;
  FileWriter write;
};
constexpr ExportFormat kExportFormats[] = {
    {"", midiFileBytes},
    {".mid", midiFileBytes},
    {".midi", midiFileBytes},
};

const ExportFormat* formatFor(const std::string& path) {
  const std::string ending = fileEnding(path);
  for (const ExportFormat& format : kExportFormats) {
    if (format.ending == ending) return &format;
  }
  return nullptr;
}

// ".mid or .midi"
std::string writtenEndings() {
  std::vector<std::string_view> endings;
  for (const ExportFormat& format : kExportFormats) {
    if (!format.ending.empty()) endings.push_back(format.ending);
  }
  std::string list;
  for (std::size_t i = 0; i < endings.size(); ++i) {
    if (i > 0) list += i + 1 == endings.size() ? " or " : ", ";
    list += endings[i];
  }
  return list;
}

struct ExportArguments {
  std::string input;
  std::string output;
  int channel = kDrumChannel;
  PadMapChoice padMap;
};

std::string midiFileBytes(const ExportArguments& a, const Timeline& timeline,
                          const CompilerState& state, std::ostream& err) {
  const MidiFileSong song = midiFileSongOf(timeline, state);
  MidiFileSummary summary;
  std::string bytes = writeStandardMidiFile(song, a.channel - 1, &summary);
  if (summary.samplesLeftOut > 0) {
    err << "pulsewright-cli: " << summary.samplesLeftOut
        << " sample hits left out: a MIDI file cannot hold samples\n";
  }
  return bytes;
}

int runExport(const ExportArguments& a, CliContext& io) {
  std::ostream& err = io.err;
  const ExportFormat* format = formatFor(a.output);
  if (format == nullptr) {
    err << "pulsewright-cli: cannot write " << a.output << ": \"" << fileEnding(a.output)
        << "\" is no format written here: name the file " << writtenEndings() << "\n";
    return kExitError;
  }
  PadMap padMap;
  std::string text;
  if (!loadDocument(a.input, a.padMap, io, &padMap, &text)) return kExitError;
  TablatureCompiler compiler;
  CompileMessages messages(err, a.input);
  compiler.compile(text, padMap, &messages);
  const CompilerState& state = compiler.state();
  const Timeline timeline = Timeline::build(state.partTable, state.sourceMap, state.songLine);
  if (!timeline.playable()) {
    err << "pulsewright-cli: " << a.input << ": nothing to play\n";
    return kExitNothingToPlay;
  }
  const std::string file = format->write(a, timeline, state, err);
  std::string reason;
  if (!writeOutputFile(a.output, file, {a.input, a.padMap.file}, &reason)) {
    err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
    return kExitError;
  }
  return kExitOk;
}

}  // namespace

void addExportCommand(CLI::App& app, CliContext& context) {
  auto a = std::make_shared<ExportArguments>();
  CLI::App* command =
      app.add_subcommand("export", "write the song of FILE as a Standard MIDI File (.mid)");
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
