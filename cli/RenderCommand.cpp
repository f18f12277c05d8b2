#include "cli/RenderCommand.h"

#include <ostream>

#include "cli/CliApp.h"
#include "padmap/PadMap.h"
#include "playback/PlaybackSession.h"
#include "playback/SongRenderer.h"
#include "tablature/DocumentText.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

namespace {

constexpr int kExitNothing = 1;
constexpr int kExitError = 2;

struct RenderArguments {
  std::string file;
  std::string output;
  int rate = 44100;
  PadMap padMap = defaultPadMap();
};

bool parse(const std::vector<std::string>& args, std::istream& in, std::ostream& err,
           RenderArguments* o) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string error;
    if (parsePadMapOption(args, &i, in, &o->padMap, &error)) continue;
    if (!error.empty()) {
      err << "pulsewright-cli: " << error << "\n";
      return false;
    }
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if ((a == "-o" || a == "--output") && hasValue) {
      o->output = args[++i];
    } else if (a == "--rate" && hasValue) {
      const std::string& v = args[++i];
      if (v != "44100" && v != "48000") {
        err << "pulsewright-cli: --rate takes 44100 or 48000\n";
        return false;
      }
      o->rate = std::stoi(v);
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      err << "pulsewright-cli: unknown or incomplete option " << a << "\n";
      return false;
    } else if (o->file.empty()) {
      o->file = a;
    } else {
      err << "pulsewright-cli: render takes one file\n";
      return false;
    }
  }
  if (o->file.empty() || o->output.empty()) {
    err << "pulsewright-cli: render needs a file and -o OUT\n";
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

int runRenderCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err) {
  (void)out;
  RenderArguments o;
  if (!parse(args, in, err, &o)) {
    err << "usage: pulsewright-cli " << kRenderUsage;
    return kExitError;
  }
  std::string bytes;
  std::string reason;
  if (!readInputBytes(o.file, in, &bytes, &reason)) {
    err << "pulsewright-cli: cannot read " << o.file << ": " << reason << "\n";
    return kExitError;
  }
  TablatureCompiler compiler;
  CompileMessages messages(err, o.file);
  compiler.compile(joinLinesWithCrLf(decodeDocumentBytes(bytes)), o.padMap, &messages);
  const CompilerState& state = compiler.state();
  const std::shared_ptr<const Song> song =
      makeSong(state.partTable, state.songLine, state.sourceMap);

  RenderSettings settings;
  settings.sampleRate = o.rate;
  const RenderResult result = renderSong(*song, o.output, settings);
  for (const std::string& note : result.notes) err << "pulsewright-cli: " << note << "\n";
  switch (result.status) {
    case RenderResult::Status::kDone: return 0;
    case RenderResult::Status::kNothingToPlay:
      err << "pulsewright-cli: " << o.file << ": " << result.message << "\n";
      return kExitNothing;
    default: err << "pulsewright-cli: " << result.message << "\n"; return kExitError;
  }
}

}  // namespace pulsewright
