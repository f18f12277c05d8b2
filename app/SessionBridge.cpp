#include "app/SessionBridge.h"

#include <QMetaObject>
#include <QThread>
#include <mutex>
#include <utility>

#include "editor/TablatureEditor.h"
#include "text/DocumentText.h"

namespace pulsewright {

// What the session's worker posts through: null once the bridge has gone, so that a
// result published meanwhile is never posted to it.
struct SessionBridge::Guard {
  std::mutex mutex;
  SessionBridge* bridge = nullptr;
};

SessionBridge::SessionBridge(DocumentSession& session, TablatureEditor& editor, Receiver receiver,
                             QObject* parent)
    : QObject(parent),
      session_(session),
      editor_(editor),
      receiver_(std::move(receiver)),
      guard_(std::make_shared<Guard>()) {
  guard_->bridge = this;
  session_.setResultListener([guard = guard_](const std::shared_ptr<const SessionResult>& result) {
    const std::lock_guard lock(guard->mutex);
    if (guard->bridge == nullptr) return;
    SessionBridge* bridge = guard->bridge;
    QMetaObject::invokeMethod(
        bridge, [bridge, result] { bridge->deliver(result); }, Qt::QueuedConnection);
  });
  editor_.checkThrough(
      [this](const QString& text, qint64 revision, bool now) { take(text, revision, now); });
}

SessionBridge::~SessionBridge() {
  const std::lock_guard lock(guard_->mutex);
  guard_->bridge = nullptr;
}

void SessionBridge::assertOwnThread() const {
  // The editor and the window's views are touched here: only on the window's thread.
  Q_ASSERT_X(QThread::currentThread() == thread(), "SessionBridge",
             "results are handed on only on the window's thread");
}

void SessionBridge::take(const QString& text, qint64 revision, bool now) {
  assertOwnThread();
  if (revision != latestRevision_ || latest_ == 0) {
    latest_ = session_.setText(joinLinesWithCrLf(text.toStdString()));
    latestRevision_ = revision;
    revisions_[latest_] = revision;
  }
  if (now) deliver(session_.compileNow());
}

void SessionBridge::setOptions(SessionOptions options) {
  assertOwnThread();
  latest_ = session_.setOptions(std::move(options));
  revisions_[latest_] = latestRevision_;
}

void SessionBridge::deliver(const std::shared_ptr<const SessionResult>& result) {
  assertOwnThread();
  if (result->generation <= delivered_) return;  // a newer one was handed on first
  delivered_ = result->generation;
  // The editor's revision of the text this result is of: the one handed over last at or
  // before its generation (Play's own compilations count from there too).
  auto at = revisions_.upper_bound(result->generation);
  if (at != revisions_.begin()) {
    --at;
    editor_.showDiagnostics(at->second, result->document.diagnostics);
    revisions_.erase(revisions_.begin(), at);
  }
  if (receiver_) receiver_(result);
}

}  // namespace pulsewright
