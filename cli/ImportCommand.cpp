#include "cli/ImportCommand.h"

#include <algorithm>
#include <ostream>

#include "cli/CliApp.h"
#include "cli/OutputFile.h"
#include "tabimport/DrumTabImport.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingFound = 1;
constexpr int kExitError = 2;

struct ImportArguments {
  std::string input;
  std::string output;
  TabImportOptions options;
};

bool parse(const std::vector<std::string>& args, std::ostream& err, ImportArguments* a) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if ((arg == "-o" || arg == "--output") && hasValue) {
      a->output = args[++i];
    } else if (arg == "--tempo" && hasValue) {
      const std::string& v = args[++i];
      if (v.empty() || v.size() > 3 || !std::all_of(v.begin(), v.end(), ::isdigit) ||
          std::stoi(v) < kMinTabTempo) {
        err << "pulsewright-cli: --tempo takes " << kMinTabTempo << " to " << kMaxTabTempo << "\n";
        return false;
      }
      a->options.tempo = std::stoi(v);
    } else if (arg.size() > 1 && arg[0] == '-') {
      err << "pulsewright-cli: unknown or incomplete option " << arg << "\n";
      return false;
    } else if (a->input.empty()) {
      a->input = arg;
    } else {
      err << "pulsewright-cli: import takes one file\n";
      return false;
    }
  }
  if (a->input.empty()) {
    err << "pulsewright-cli: import needs a file\n";
    return false;
  }
  return true;
}

}  // namespace

int runImportCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err) {
  ImportArguments a;
  if (!parse(args, err, &a)) {
    err << "usage: pulsewright-cli " << kImportUsage;
    return kExitError;
  }
  std::string bytes;
  std::string reason;
  if (!readInputBytes(a.input, in, &bytes, &reason)) {
    err << "pulsewright-cli: cannot read " << a.input << ": " << reason << "\n";
    return kExitError;
  }
  const TabImportResult result = importDrumTab(bytes, a.options);
  for (const TabWarning& w : result.warnings) err << formatTabWarning(a.input, w) << "\n";
  if (!result.found) {
    err << "pulsewright-cli: " << a.input << ": no drum tab lines found\n";
    return kExitNothingFound;
  }
  if (a.output.empty()) {
    out << result.document;
    out.flush();
    return 0;
  }
  if (!writeFileReplacing(a.output, result.document, &reason)) {
    err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
    return kExitError;
  }
  return 0;
}

}  // namespace pulsewright
