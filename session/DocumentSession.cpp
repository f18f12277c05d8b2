#include "session/DocumentSession.h"

#include <algorithm>
#include <cassert>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace pulsewright {

std::atomic<std::uint64_t> DocumentSession::everywhere_{0};

std::vector<Diagnostic> whyEditCannotPlay(const CompiledDocument& document) {
  std::vector<Diagnostic> reasons;
  for (const Diagnostic& d : document.diagnostics) {
    const bool sampleFile =
        d.text.rfind("sample file '", 0) == 0 && d.text.find("' cannot be played: ") != d.text.npos;
    if ((d.severity == Severity::Error && !sampleFile) || d.unfinished) reasons.push_back(d);
  }
  if (reasons.empty() && !document.song->playable()) {
    Diagnostic nothing;
    nothing.severity = Severity::Error;
    nothing.text = "nothing plays: the song needs a first part with steps";
    reasons.push_back(nothing);
  }
  return reasons;
}

DocumentSession::DocumentSession(SessionOptions options)
    : text_(std::make_shared<const std::string>()), options_(std::move(options)) {}

DocumentSession::~DocumentSession() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DocumentSession::setResultListener(ResultListener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

std::uint64_t DocumentSession::queueLocked() {
  ++generation_;
  waiting_ = true;
  // A command that only compiles now never starts the thread.
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  wake_.notify_one();
  return generation_;
}

std::uint64_t DocumentSession::bumpLocked() {
  ++generation_;
  waiting_ = true;  // compileNow() takes it before the worker can
  return generation_;
}

std::uint64_t DocumentSession::setText(std::string text) {
  auto shared = std::make_shared<const std::string>(std::move(text));
  std::lock_guard lock(mutex_);
  text_ = std::move(shared);
  return queueLocked();
}

std::uint64_t DocumentSession::setOptions(SessionOptions options) {
  std::lock_guard lock(mutex_);
  options_ = std::move(options);
  return queueLocked();
}

SessionOptions DocumentSession::options() const {
  std::lock_guard lock(mutex_);
  return options_;
}

std::shared_ptr<const SessionResult> DocumentSession::current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

std::shared_ptr<const SessionResult> DocumentSession::kept() const {
  std::lock_guard lock(mutex_);
  return kept_;
}

std::shared_ptr<const Timeline> DocumentSession::song() const {
  std::lock_guard lock(mutex_);
  return kept_ ? kept_->document.song : std::make_shared<const Timeline>();
}

std::optional<DocumentSession::Job> DocumentSession::takeJob() {
  if (!waiting_) return std::nullopt;
  waiting_ = false;
  // The text is shared with the result, not copied: a large one is held once.
  return Job{generation_, text_, options_, kept_ ? kept_->stateAfter : nullptr, keptEpoch_};
}

void DocumentSession::run() {
  {
    std::lock_guard lock(mutex_);
    workerId_ = std::this_thread::get_id();
  }
  while (true) {
    std::optional<Job> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || waiting_; });
      if (quit_) return;
      job = takeJob();
    }
    std::shared_ptr<const SessionResult> result;
    {
      std::lock_guard turn(compiling_);
      {
        // compileNow() may have published this generation or a later one meanwhile.
        std::lock_guard lock(mutex_);
        if (current_ && current_->generation >= job->generation) continue;
      }
      result = compile(std::move(*job), compiler_);
      if (!install(result)) continue;
    }
    announce(result);
  }
}

std::shared_ptr<const SessionResult> DocumentSession::compile(Job job,
                                                              TablatureCompiler& compiler) {
  auto result = std::make_shared<SessionResult>();
  result->generation = job.generation;
  result->padMap = job.options.padMap;
  result->keptEpoch = job.keptEpoch;
  CompileRequest request;
  request.padMap = job.options.padMap;
  request.sampleProblem = job.options.sampleProblem;
  request.documentFolder = job.options.documentFolder;
  request.diagnose = job.options.diagnose;
  request.listener = job.options.listener;
  auto compileWith = [&](TablatureCompiler& c) {
    if (job.kept) {
      c.restore(*job.kept);
    } else {
      c.reset();
    }
    // Metadata is not music: the staff, an export and a print header show the text's own.
    if (job.options.ownMetadata) c.forgetMetadata();
    result->document = compileDocument(c, *job.text, request);
    result->stateAfter = std::make_shared<const CompilerState>(c.state());
    ++compiles_;
    ++everywhere_;
  };
  if (job.text->size() < kLargeText || !job.options.largeTextsAside) {
    compileWith(compiler);
  } else {
    // A compiler keeps everything its last text compiled to: for a large document as much
    // as the song itself. This one goes with its thread.
    std::unique_lock<std::mutex> turn;
    if (job.options.largeDocumentTurn != nullptr) {
      turn = std::unique_lock(*job.options.largeDocumentTurn);
    }
    std::thread([&] {
      TablatureCompiler large;
      compileWith(large);
    }).join();
#ifdef __GLIBC__
    // The thread's heap is kept for reuse by the C library unless asked to give it back.
    malloc_trim(0);
#endif
  }
  result->source = std::move(job.text);
  return result;
}

bool DocumentSession::install(const std::shared_ptr<const SessionResult>& result) {
  std::lock_guard lock(mutex_);
  if (current_ && current_->generation >= result->generation) return false;
  current_ = result;
  return true;
}

void DocumentSession::announce(const std::shared_ptr<const SessionResult>& result) {
  // Outside the compile turn: a listener may take a lock that a caller of compileNow()
  // holds. One at a time, oldest first; one overtaken by a newer announcement is dropped.
  std::lock_guard announcing(announcing_);
  ResultListener listener;
  {
    std::lock_guard lock(mutex_);
    if (announced_ >= result->generation) return;
    listener = listener_;
  }
  if (listener) listener(result);
  {
    // Only once the listener has it: a waiting test then sees what the listener saw.
    std::lock_guard lock(mutex_);
    announced_ = result->generation;
  }
  published_.notify_all();
}

std::shared_ptr<const SessionResult> DocumentSession::compileNow() {
  std::optional<Job> job;
  {
    std::lock_guard lock(mutex_);
    // The worker waits for what it runs, so it must not wait for itself.
    assert(std::this_thread::get_id() != workerId_ && "compileNow() from a result listener");
  }
  std::shared_ptr<const SessionResult> result;
  {
    std::lock_guard turn(compiling_);
    {
      std::lock_guard lock(mutex_);
      if (current_ && current_->generation == generation_) return current_;
      waiting_ = true;  // taken here: the worker finds nothing left to do
      job = takeJob();
    }
    result = compile(std::move(*job), compiler_);
    install(result);  // the newest: only compilations under the turn install
  }
  announce(result);
  return result;
}

std::shared_ptr<const SessionResult> DocumentSession::compileNow(std::string text) {
  auto shared = std::make_shared<const std::string>(std::move(text));
  {
    std::lock_guard lock(mutex_);
    text_ = std::move(shared);
    bumpLocked();
  }
  return compileNow();
}

std::shared_ptr<const SessionResult> DocumentSession::compileNow(std::string text,
                                                                 SessionOptions options) {
  auto shared = std::make_shared<const std::string>(std::move(text));
  {
    std::lock_guard lock(mutex_);
    text_ = std::move(shared);
    options_ = std::move(options);
    bumpLocked();
  }
  return compileNow();
}

std::shared_ptr<const SessionResult> DocumentSession::resultFor(std::string_view text) {
  bool sameText = false;
  {
    std::lock_guard lock(mutex_);
    sameText = *text_ == text;
    if (sameText && !waiting_ && current_ && current_->generation == generation_ &&
        current_->keptEpoch == keptEpoch_) {
      return current_;
    }
    // The same text again, from the kept state as it now is.
    if (sameText && !waiting_) bumpLocked();
  }
  return sameText ? compileNow() : compileNow(std::string(text));
}

void DocumentSession::waitForGeneration(std::uint64_t generation) {
  std::unique_lock lock(mutex_);
  assert(std::this_thread::get_id() != workerId_ && "waitForGeneration() from a result listener");
  published_.wait(lock, [&] { return announced_ >= generation; });
}

void DocumentSession::keepStateOf(const std::shared_ptr<const SessionResult>& result,
                                  bool recheck) {
  std::lock_guard lock(mutex_);
  kept_ = result;
  ++keptEpoch_;
  if (recheck) queueLocked();
}

void DocumentSession::forgetKeptState() {
  std::lock_guard lock(mutex_);
  kept_.reset();
  ++keptEpoch_;
}

}  // namespace pulsewright
