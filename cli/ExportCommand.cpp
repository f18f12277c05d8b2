#include "cli/ExportCommand.h"

#include <algorithm>
#include <ostream>

#include "cli/CliApp.h"
#include "cli/OutputFile.h"
#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"
#include "padmap/PadMap.h"
#include "tablature/DocumentText.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"

namespace pulsewright {

namespace {

constexpr int kExitNothingToPlay = 1;
constexpr int kExitError = 2;
constexpr int kDrumChannel = 10;

struct ExportArguments {
  std::string input;
  std::string output;
  int channel = kDrumChannel;
  PadMap padMap = defaultPadMap();
};

bool parse(const std::vector<std::string>& args, std::istream& in, std::ostream& err,
           ExportArguments* a) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string error;
    if (parsePadMapOption(args, &i, in, &a->padMap, &error)) continue;
    if (!error.empty()) {
      err << "pulsewright-cli: " << error << "\n";
      return false;
    }
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if ((arg == "-o" || arg == "--output") && hasValue) {
      a->output = args[++i];
    } else if (arg == "--channel" && hasValue) {
      const std::string& v = args[++i];
      int c = 0;
      if (v.empty() || v.size() > 2 || !std::all_of(v.begin(), v.end(), ::isdigit) ||
          (c = std::stoi(v)) < 1 || c > 16) {
        err << "pulsewright-cli: --channel takes 1 to 16\n";
        return false;
      }
      a->channel = c;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      err << "pulsewright-cli: unknown or incomplete option " << arg << "\n";
      return false;
    } else if (a->input.empty()) {
      a->input = arg;
    } else {
      err << "pulsewright-cli: export takes one file\n";
      return false;
    }
  }
  if (a->input.empty() || a->output.empty()) {
    err << "pulsewright-cli: export needs a file and -o OUT.mid\n";
    return false;
  }
  return true;
}

class CompileMessages : public CompileListener {
 public:
  CompileMessages(std::ostream& err, std::string file) : err_(err), file_(std::move(file)) {}
  void message(int lineNumber, std::string_view text) override {
    err_ << file_ << ":" << lineNumber << ": " << text << "\n";
  }

 private:
  std::ostream& err_;
  std::string file_;
};

}  // namespace

int runExportCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err) {
  (void)out;
  ExportArguments a;
  if (!parse(args, in, err, &a)) {
    err << "usage: pulsewright-cli " << kExportUsage;
    return kExitError;
  }
  std::string bytes;
  std::string reason;
  if (!readInputBytes(a.input, in, &bytes, &reason)) {
    err << "pulsewright-cli: cannot read " << a.input << ": " << reason << "\n";
    return kExitError;
  }
  TablatureCompiler compiler;
  CompileMessages messages(err, a.input);
  compiler.compile(joinLinesWithCrLf(decodeDocumentBytes(bytes)), a.padMap, &messages);
  const CompilerState& state = compiler.state();
  const Timeline timeline = Timeline::build(state.partTable, state.sourceMap, state.songLine);
  if (!timeline.playable()) {
    err << "pulsewright-cli: " << a.input << ": nothing to play\n";
    return kExitNothingToPlay;
  }
  MidiFileSong song = midiFileSongOf(timeline);
  song.title = state.metaTitle;
  song.author = state.metaAuthor;
  song.artist = state.metaArtist;
  song.genre = state.metaGenre;
  song.description = state.metaDescription;
  MidiFileSummary summary;
  const std::string file = writeStandardMidiFile(song, a.channel - 1, &summary);
  if (!writeFileReplacing(a.output, file, &reason)) {
    err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
    return kExitError;
  }
  if (summary.samplesLeftOut > 0) {
    err << "pulsewright-cli: " << summary.samplesLeftOut
        << " sample hits left out: a MIDI file cannot hold samples\n";
  }
  return 0;
}

}  // namespace pulsewright
