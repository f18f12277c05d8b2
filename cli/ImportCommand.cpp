#include "cli/ImportCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "fileio/OutputFile.h"
#include "tabimport/DrumTabImport.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingFound = 1;

struct ImportArguments {
  std::string input;
  std::string output;
  int tempo = 0;  // 0: as the tab says
};

int runImport(const ImportArguments& a, CliContext& io) {
  std::string bytes;
  std::string reason;
  if (!readInputBytes(a.input, io.in, &bytes, &reason)) {
    io.err << "pulsewright-cli: cannot read " << a.input << ": " << reason << "\n";
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
  if (a.output.empty()) {
    io.out << result.document;
    return kExitOk;
  }
  if (!writeOutputFile(a.output, result.document, {a.input}, &reason)) {
    io.err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
    return kExitError;
  }
  return kExitOk;
}

}  // namespace

void addImportCommand(CLI::App& app, CliContext& context) {
  auto a = std::make_shared<ImportArguments>();
  CLI::App* command = app.add_subcommand(
      "import", "turn a plain-text drum tab (HH|x-x-x-x-|) into a tablature document");
  command->add_option("TAB", a->input, "the drum tab, a text file")->required()->type_name("");
  command->add_option("-o,--output", a->output, "the document to write (default: standard output)")
      ->option_text("OUT.tab");
  command->add_option("--tempo", a->tempo, "tempo in beats a minute, instead of the tab's own")
      ->check(CLI::Range(kMinTabTempo, kMaxTabTempo))
      ->option_text("BPM");
  command->callback([a, &context] { context.status = runImport(*a, context); });
}

}  // namespace pulsewright
