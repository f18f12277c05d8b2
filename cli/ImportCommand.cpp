#include "cli/ImportCommand.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>
#include <ostream>

#include "fileio/OutputFile.h"
#include "midifile/MidiImport.h"
#include "midifile/StandardMidiFileReader.h"
#include "tabimport/DrumTabImport.h"
#include "tabimport/ForeignImport.h"
#include "tabimport/GrooveScribe.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingFound = 1;

struct ImportArguments {
  std::string input;
  std::string output;
  int tempo = 0;    // 0: as the tab says
  int channel = 0;  // 0: the General MIDI drum channel
  std::string grid = "auto";
  bool foldLevels = false;
};

int writeDocument(const ImportArguments& a, const std::string& document, CliContext& io) {
  if (a.output.empty()) {
    io.out << document;
    return kExitOk;
  }
  std::string reason;
  if (!writeOutputFile(a.output, document, {a.input}, &reason)) {
    io.err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
    return kExitError;
  }
  return kExitOk;
}

int runMidiImport(const ImportArguments& a, std::string_view bytes, CliContext& io) {
  if (a.tempo > 0) {
    io.err << "pulsewright-cli: " << a.input << ": --tempo applies to drum tabs, not MIDI files\n";
    return kExitError;
  }
  MidiImportOptions options;
  if (a.channel > 0) options.channel = a.channel;
  options.grid = a.grid == "auto" ? 0 : std::stoi(a.grid);
  options.foldLevels = a.foldLevels;
  const MidiImportResult result = importMidiFile(bytes, options);
  if (!result.ok()) {
    io.err << "pulsewright-cli: " << a.input << ": " << result.error << "\n";
    return kExitError;
  }
  for (const std::string& w : result.warnings) io.err << a.input << ": warning: " << w << "\n";
  return writeDocument(a, result.document, io);
}

// Options of MIDI files and drum tabs; "" when none of them is given.
std::string foreignOption(const ImportArguments& a) {
  if (a.tempo > 0) return "--tempo";
  if (a.channel > 0) return "--channel";
  if (a.grid != "auto") return "--grid";
  if (a.foldLevels) return "--fold-levels";
  return {};
}

// A link, a Hydrogen file or a MusicXML score: `name` is what warnings point into.
int runForeignImport(const ImportArguments& a, std::string_view name, ForeignFormat format,
                     std::string_view bytes, CliContext& io) {
  if (const std::string option = foreignOption(a); !option.empty()) {
    io.err << "pulsewright-cli: " << name << ": " << option
           << " applies to MIDI files and drum tabs, not " << foreignFormatName(format) << "\n";
    return kExitError;
  }
  const ForeignImport result = importForeign(format, bytes);
  for (const TabWarning& w : result.warnings) io.err << formatTabWarning(name, w) << "\n";
  if (!result.ok()) {
    io.err << "pulsewright-cli: " << name << ": " << result.error << "\n";
    return kExitError;
  }
  return writeDocument(a, result.document, io);
}

int runImport(const ImportArguments& a, CliContext& io) {
  // An importer reads the file into many small blocks (an XML tree, a grid per part)
  // and the process ends after it: faulting that memory in 4 KB at a time took more than
  // the import itself.
  useHugeHeapPages();
  keepLargeBlocksOnHeap();
  std::string bytes;
  std::string reason;
  // A link given in place of a file (no file of that name).
  std::error_code missing;
  if (a.input != "-" && looksLikeGrooveScribeLink(a.input) &&
      !std::filesystem::exists(a.input, missing)) {
    return runForeignImport(a, "link", ForeignFormat::kGrooveScribeLink, a.input, io);
  }
  if (!readInputBytes(a.input, io.in, &bytes, &reason)) {
    io.err << "pulsewright-cli: cannot read " << a.input << ": " << reason << "\n";
    return kExitError;
  }
  if (looksLikeMidiFile(bytes)) return runMidiImport(a, bytes, io);
  if (hasMidiFileName(a.input)) {
    io.err << "pulsewright-cli: " << a.input
           << ": not a Standard MIDI File: it does not start with MThd\n";
    return kExitError;
  }
  if (const ForeignFormat format = foreignFormatOf(fileEnding(a.input), bytes);
      format != ForeignFormat::kNone) {
    return runForeignImport(a, a.input, format, bytes, io);
  }
  if (a.channel > 0 || a.grid != "auto" || a.foldLevels) {
    io.err << "pulsewright-cli: " << a.input
           << ": --channel, --grid and --fold-levels apply to MIDI files, not drum tabs\n";
    return kExitError;
  }
  TabImportOptions options;
  if (a.tempo > 0) options.tempo = a.tempo;
  const TabImportResult result = importDrumTab(bytes, options);
  for (const TabWarning& w : result.warnings) io.err << formatTabWarning(a.input, w) << "\n";
  if (!result.found) {
    io.err << "pulsewright-cli: " << a.input << ": no drum tab lines found\n";
    return kExitNothingFound;
  }
  return writeDocument(a, result.document, io);
}

}  // namespace

void addImportCommand(CLI::App& app, CliContext& context) {
  auto a = std::make_shared<ImportArguments>();
  CLI::App* command = app.add_subcommand(
      "import",
      "turn a Standard MIDI File, a plain-text drum tab (HH|x-x-x-x-|), a GrooveScribe link "
      "(or a file holding one), a Hydrogen song or pattern (.h2song, .h2pattern) or a MusicXML "
      "drum score (.musicxml, .xml, .mxl) into a tablature document");
  command
      ->add_option(
          "FILE", a->input,
          "a MIDI file (told by its MThd header), a drum tab, a link, a Hydrogen or MusicXML file")
      ->required()
      ->type_name("");
  command->add_option("-o,--output", a->output, "the document to write (default: standard output)")
      ->option_text("OUT.tab");
  command->add_option("--tempo", a->tempo, "tempo in beats a minute, instead of the tab's own")
      ->check(CLI::Range(kMinTabTempo, kMaxTabTempo))
      ->option_text("BPM");
  command->add_option("--channel", a->channel, "MIDI files: the drums' channel (default 10)")
      ->check(CLI::Range(1, 16))
      ->option_text("1-16");
  command
      ->add_option("--grid", a->grid,
                   "MIDI files: the note size of every bar, or auto to choose the best for each "
                   "bar (default)")
      ->check(CLI::IsMember({"auto", "8", "12", "16", "24", "32", "48"}))
      ->option_text("auto|8|16|32|12|24|48");
  command->add_flag("--fold-levels", a->foldLevels,
                    "MIDI files: a bar that differs from an earlier part only by one level up or "
                    "down at some hits (as played by hand) is played as that part");
  command->callback([a, &context] { context.status = runImport(*a, context); });
}

}  // namespace pulsewright
