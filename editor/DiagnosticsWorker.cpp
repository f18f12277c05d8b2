#include "editor/DiagnosticsWorker.h"

#include <memory>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "platform/qt/LargeDocumentTurn.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

// Texts at least this long are checked on a thread of their own that ends with the
// check.
constexpr std::size_t kLargeText = std::size_t{1} << 20;

}  // namespace

// The check keeps a compiler for each thread it runs on, and with it everything the
// last text compiled to: for a large document as much as the window holds again when it
// plays. A large text is checked on a thread that ends right after, taking that with it;
// a short one reuses the thread's compiler, which is quicker to keep than to make.
std::vector<Diagnostic> diagnoseAndRelease(const std::string& text,
                                           const DiagnosticOptions& options) {
  if (text.size() < kLargeText) return diagnose(text, options);
  std::vector<Diagnostic> found;
  std::thread([&] { found = diagnose(text, options); }).join();
#ifdef __GLIBC__
  // The thread's heap is kept for reuse by the C library unless asked to give it back.
  malloc_trim(0);
#endif
  return found;
}

DiagnosticsWorker::DiagnosticsWorker(QObject* receiver, Deliver deliver)
    : receiver_(receiver), deliver_(std::move(deliver)), thread_([this] { run(); }) {}

DiagnosticsWorker::~DiagnosticsWorker() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void DiagnosticsWorker::submit(QString text, qint64 revision, DiagnosticOptions options) {
  {
    std::lock_guard lock(mutex_);
    job_ = Job{std::move(text), revision, std::move(options)};
  }
  wake_.notify_one();
}

void DiagnosticsWorker::run() {
  while (true) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return quit_ || job_.has_value(); });
    if (quit_) return;
    Job job = std::move(*job_);
    job_.reset();
    lock.unlock();
    // The text is let go of here: a large document is not held twice meanwhile.
    std::string text = joinLinesWithCrLf(std::exchange(job.text, QString()).toStdString());
    std::unique_lock<std::mutex> turn(largeDocumentTurn(), std::defer_lock);
    if (text.size() >= kLargeText) turn.lock();
    auto found = std::make_shared<std::vector<Diagnostic>>(diagnoseAndRelease(text, job.options));
    if (turn.owns_lock()) turn.unlock();
    text = std::string();
    QMetaObject::invokeMethod(
        receiver_,
        [deliver = deliver_, revision = job.revision, found] {
          deliver(revision, std::move(*found));
        },
        Qt::QueuedConnection);
  }
}

}  // namespace pulsewright
