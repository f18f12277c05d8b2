#pragma once
// What every pulsewright-cli command shares: the streams it runs with, its exit status,
// the input reader and the pad-map options. A command is registered by a small function,
// add...Command(app, context), that binds its options to a struct and, once the line is
// parsed, runs a function taking that struct.

#include <csignal>
#include <cstddef>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"
#include "session/DocumentSession.h"
#include "tablature/TablatureCompiler.h"

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace pulsewright {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNothingToPlay = 1;  // export and render of a song with no step
inline constexpr int kExitError = 2;          // unusable arguments or an unreadable input
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl+C, as a shell reports it

// Largest document or pad-map file read; anything larger is refused.
inline constexpr std::size_t kMaxInputBytes = std::size_t{256} << 20;

struct CliContext {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  int status = kExitOk;  // set by the command that ran
};

// Reads a whole regular file ("-" is standard input). On failure returns false and a
// reason ("No such file or directory", "not a regular file", "larger than ...").
bool readInputBytes(const std::string& path, std::istream& stdinStream, std::string* bytes,
                    std::string* reason);

// "--preset 1|2" or "--padmap FILE.drm"; the default pad map when neither is given.
struct PadMapChoice {
  std::string preset;
  std::string file;
};
void addPadMapOptions(CLI::App& command, PadMapChoice& choice);
// False with *error set when the pad-map file cannot be read.
bool loadPadMap(const PadMapChoice& choice, std::istream& in, PadMap* padMap, std::string* error);

// What a command that compiles one document reads first: the pad map and the document,
// decoded, its lines joined with CR LF. False once the reason is printed.
bool loadDocument(const std::string& file, const PadMapChoice& choice, CliContext& io,
                  PadMap* padMap, std::string* text);

// The folder a document file stands in ("" for standard input or a bare name), where its
// relative sample paths are looked for first.
std::string documentFolderOf(const std::string& file);
// How every command compiles a document through its session: on the command's thread,
// `listener` (may be null) hearing the compiler; diagnostics only when asked.
SessionOptions commandSessionOptions(const PadMap& padMap, CompileListener* listener,
                                     bool diagnose);

// The one name that equals `wanted` (ignoring case), else the one that contains it: how
// --device, --input and --sound-device pick from what `devices` lists. Returns the index,
// -1 when none matches, -2 when several do.
int pickByName(const std::vector<std::string>& names, const std::string& wanted);
std::string lowerCase(std::string s);

// Set by main: the process ends when the command returns. What a command built last is
// then never taken apart (freeing a long song piece by piece costs as much as building
// it). Commands run in a test process, where this is not set, free everything.
void setProcessEndsAfterCommand(bool ends);
// Keeps `object` to the end of the process when it ends after the command; else frees it.
void keepUntilExit(std::shared_ptr<const void> object);
// Gives the heap transparent huge pages ahead of a command that builds a whole song, when
// the process ends after it.
void useHugeHeapPages();
// After useHugeHeapPages(): blocks of any size come from the heap grown ahead, so that a
// file's bytes and their copies are not faulted in 4 KB at a time either (for commands
// whose peak memory is a few times the input's, as import).
void keepLargeBlocksOnHeap();

// A number of seconds or decibels from `minimum` to `maximum`: NaN and infinities are no
// answer.
CLI::Validator finiteNumber(double minimum, double maximum);

// --max-length SECONDS of render and export: a song longer than this is refused before
// anything is written (a short song line can repeat a part for years).
inline constexpr double kDefaultMaxSongSeconds = 3600;
void addMaxLengthOption(CLI::App& command, double& maxSeconds);
// False, with the reason on `err` naming `file`, when `timeline` lasts longer than
// `maxSeconds`; `verb` is what raising the bound allows ("render", "export").
bool withinMaxLength(const Timeline& timeline, double maxSeconds, const std::string& file,
                     std::string_view verb, std::ostream& err);
// "1:02:03" or "2:03"; years and days for what no command should attempt.
std::string formatDuration(double seconds);

// While it lives, the signals given (SIGINT, SIGTERM and SIGHUP unless told) ask the
// command to stop instead of ending the process at once, so that it can finish cleanly:
// remove what it had not finished writing, or keep what was recorded. The previous
// handlers come back after. One at a time.
class StopSignals {
 public:
  explicit StopSignals(std::initializer_list<int> signals = {SIGINT, SIGTERM, SIGHUP});
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // The signal that came, 0 while none has.
  int caught() const;

 private:
  struct Saved;
  std::vector<Saved> previous_;
};

// The compiler's messages on standard error, as FILE:LINE: text.
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

// The commands, each in a file of its own.
void addCompileCommands(CLI::App& app, CliContext& context);  // compile and check
void addPlayCommand(CLI::App& app, CliContext& context);
void addDevicesCommand(CLI::App& app, CliContext& context);
void addRecordCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
