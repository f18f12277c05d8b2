#pragma once
// One document as every view and command sees it: its text, its pad map and how it is
// checked, compiled once per change. The problems list, the staff, the live edit, the
// exports and the commands all read the same compilation, so what they show is what the
// next Play does.
//
// Threads: setText(), setOptions(), keepStateOf() and forgetKeptState() may be called
// from any thread; the text is compiled on the session's worker thread, or on the
// caller's in compileNow(). The result listener runs on the thread that compiled.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "padmap/PadMap.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

// How a session compiles, besides its text.
struct SessionOptions {
  PadMap padMap = defaultPadMap();
  // Null skips checking sample files.
  std::function<std::string(const std::string& path)> sampleProblem = sampleFileProblem;
  // The document's folder: relative sample paths are looked for there first.
  std::string documentFolder;
  bool diagnose = true;
  // Each text's metadata (title, author, ...) is its own; false lets it carry over as one
  // compiler's does (the command line's files of one run).
  bool ownMetadata = true;
  // Texts at least kLargeText long are compiled by a compiler that goes with its thread
  // when the compilation ends, the memory given back to the system: a window lives on
  // after it, a command ends instead.
  bool largeTextsAside = true;
  // Such texts compile one at a time under this lock with the other large-document work
  // of the program; may be null.
  std::mutex* largeDocumentTurn = nullptr;
  // Hears the compiler's messages and line kinds as it reads, on the compiling thread
  // (the command line's compileNow()); may be null.
  CompileListener* listener = nullptr;
};

// One compilation, never changed once published.
struct SessionResult {
  std::uint64_t generation = 0;  // of the text and options it was compiled from
  // Lines joined by CR LF, as the compiler read it; shared with the session, not copied.
  std::shared_ptr<const std::string> source;
  const std::string& text() const { return *source; }
  PadMap padMap;
  CompiledDocument document;
  // What the compilation left behind: the next Play's compilation starts from it once
  // Play takes this result (DocumentSession::keepStateOf()).
  std::shared_ptr<const CompilerState> stateAfter;
  std::uint64_t keptEpoch = 0;  // which kept state it started from
};

// The diagnostics that keep an edit made while the song plays from taking over. A sample
// file that cannot be played is skipped as the song plays, so it does not.
std::vector<Diagnostic> whyEditCannotPlay(const CompiledDocument& document);

class DocumentSession {
 public:
  using ResultListener = std::function<void(const std::shared_ptr<const SessionResult>&)>;

  // Texts at least this long (bytes) are compiled by a compiler that goes with its
  // thread when the compilation ends, the memory given back to the system.
  static constexpr std::size_t kLargeText = std::size_t{1} << 20;

  explicit DocumentSession(SessionOptions options = {});
  // Waits for a compilation under way; a text still waiting is not compiled.
  ~DocumentSession();
  DocumentSession(const DocumentSession&) = delete;
  DocumentSession& operator=(const DocumentSession&) = delete;

  // Hears each result as it is published, on the thread that compiled it. Set it before
  // the first text; it must not call back into compileNow() or waitForGeneration().
  void setResultListener(ResultListener listener);

  // A new text (lines joined by CR LF) to compile on the worker, which starts with the
  // first; a text still waiting there is replaced. Returns its generation.
  std::uint64_t setText(std::string text);
  // New options: the text is compiled again with them. Returns the new generation.
  std::uint64_t setOptions(SessionOptions options);
  SessionOptions options() const;

  // The latest result published; null before the first.
  std::shared_ptr<const SessionResult> current() const;
  // Compiles the newest text on the caller's thread, publishes the result and returns
  // it; a compilation of it already published is returned as it is.
  std::shared_ptr<const SessionResult> compileNow();
  // `text` (and `options`) made the newest and compiled on the caller's thread, as
  // compileNow(); the worker is not started for it.
  std::shared_ptr<const SessionResult> compileNow(std::string text);
  std::shared_ptr<const SessionResult> compileNow(std::string text, SessionOptions options);
  // The result to play `text` from: the current one when it is of this text, these
  // options and the kept state as it is; otherwise `text` compiled now.
  std::shared_ptr<const SessionResult> resultFor(std::string_view text);
  // Blocks until a result of generation `generation` or later is published and its
  // listener has returned.
  void waitForGeneration(std::uint64_t generation);

  // What `result` left behind becomes what every later compilation starts from, as Play
  // takes it. With `recheck`, the newest text is compiled again from it, so the problems
  // list says what the next Play does.
  void keepStateOf(const std::shared_ptr<const SessionResult>& result, bool recheck);
  // Later compilations start from nothing, as a new compiler would.
  void forgetKeptState();
  // The result whose state is kept; null while none is.
  std::shared_ptr<const SessionResult> kept() const;
  // The song of the kept result: the one Play took last. Empty before any.
  std::shared_ptr<const Timeline> song() const;

  // Compilations made by this session, and by every session in the program.
  std::uint64_t compileCount() const { return compiles_.load(); }
  static std::uint64_t compilesEverywhere() { return everywhere_.load(); }

 private:
  struct Job {
    std::uint64_t generation;
    std::shared_ptr<const std::string> text;
    SessionOptions options;
    std::shared_ptr<const CompilerState> kept;
    std::uint64_t keptEpoch;
  };

  void run();
  // Takes the waiting job, if any; called with mutex_ held.
  std::optional<Job> takeJob();
  std::shared_ptr<const SessionResult> compile(Job job, TablatureCompiler& compiler);
  // Makes `result` the current one, under the compile turn; false when a newer is.
  bool install(const std::shared_ptr<const SessionResult>& result);
  // Tells the listener, after the turn is released.
  void announce(const std::shared_ptr<const SessionResult>& result);
  // A new generation for the worker; called with mutex_ held.
  std::uint64_t queueLocked();
  // A new generation compiled by the caller; called with mutex_ held.
  std::uint64_t bumpLocked();

  mutable std::mutex mutex_;           // guards everything below up to the thread
  std::condition_variable wake_;       // the worker: a job or quit
  std::condition_variable published_;  // waitForGeneration()
  std::shared_ptr<const std::string> text_;
  SessionOptions options_;
  std::uint64_t generation_ = 0;  // of the newest text and options
  bool waiting_ = false;          // the newest generation is for the worker to compile
  bool quit_ = false;
  std::shared_ptr<const SessionResult> current_;
  std::uint64_t announced_ = 0;  // the newest generation its listener has heard of
  std::shared_ptr<const SessionResult> kept_;
  std::uint64_t keptEpoch_ = 0;
  ResultListener listener_;
  std::mutex compiling_;        // one compilation at a time: results install in order
  std::mutex announcing_;       // one listener call at a time, never under compiling_
  TablatureCompiler compiler_;  // for texts below kLargeText, under compiling_
  std::atomic<std::uint64_t> compiles_{0};
  static std::atomic<std::uint64_t> everywhere_;
  std::thread::id workerId_;
  std::thread thread_;  // started by the first job for it
};

}  // namespace pulsewright
