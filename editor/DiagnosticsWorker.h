#pragma once
// Checks the editor's text on a thread of its own, so that typing never waits: a newer
// text replaces one still waiting, and each result is handed to the receiver's thread as
// a queued call. A large text is checked one at a time with the other large-document
// work (largeDocumentTurn()).

#include <QObject>
#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tablature/Diagnostics.h"

namespace pulsewright {

// Checks `text` on this thread. A large text is checked on a thread that ends with the
// check, so that what its compiler held goes with it.
std::vector<Diagnostic> diagnoseAndRelease(const std::string& text,
                                           const DiagnosticOptions& options);

class DiagnosticsWorker {
 public:
  // `revision` names the text that was checked.
  using Deliver = std::function<void(qint64 revision, std::vector<Diagnostic> found)>;

  // `deliver` runs on `receiver`'s thread; a result still on its way when `receiver` goes
  // is dropped with it.
  DiagnosticsWorker(QObject* receiver, Deliver deliver);
  // Waits for a check under way; a text still waiting is not checked.
  ~DiagnosticsWorker();
  DiagnosticsWorker(const DiagnosticsWorker&) = delete;
  DiagnosticsWorker& operator=(const DiagnosticsWorker&) = delete;

  void submit(QString text, qint64 revision, DiagnosticOptions options);

 private:
  struct Job {
    QString text;
    qint64 revision;
    DiagnosticOptions options;
  };

  void run();

  QObject* receiver_;
  Deliver deliver_;
  std::mutex mutex_;  // guards job_ and quit_
  std::condition_variable wake_;
  std::optional<Job> job_;
  bool quit_ = false;
  std::thread thread_;  // last: starts when everything it uses exists
};

}  // namespace pulsewright
