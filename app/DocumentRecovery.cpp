#include "app/DocumentRecovery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTimer>
#include <cerrno>

#include "editor/EditorText.h"
#include "fileio/QtFileAccess.h"

namespace pulsewright {

namespace {

constexpr qint64 kMaxRecoveryBytes = qint64{64} << 20;
// A copy starts with this line and the document's path; a copy without it (from earlier
// builds) is text only.
constexpr char kHeader[] = "# pulsewright recovery 1\n";
constexpr char kPathKey[] = "path ";
// A lock file with no copy, this old and free, belonged to a window that ended without
// unsaved text. Younger ones may be a window's that is just starting.
constexpr qint64 kStaleLockSeconds = 3600;

QString lockFileOf(const QString& copy) {
  return copy + ".lock";
}

// Takes the lock of `copy` without waiting: its descriptor, or -1 when another process
// holds it (or it cannot be made).
int tryLock(const QString& copy, int extraFlags = 0) {
  const QByteArray path = QFile::encodeName(lockFileOf(copy));
  const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | extraFlags, 0600);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

QByteArray encodeCopy(const QString& text, const QString& originalPath) {
  QByteArray bytes(kHeader);
  bytes += kPathKey + QFile::encodeName(originalPath).toPercentEncoding("/") + "\n\n";
  return bytes + text.toUtf8();
}

DocumentRecovery::Copy decodeCopy(const QString& file, const QByteArray& bytes) {
  DocumentRecovery::Copy copy{file, {}, {}};
  if (!bytes.startsWith(kHeader)) {
    copy.text = QString::fromUtf8(bytes);
    return copy;
  }
  qsizetype at = static_cast<qsizetype>(sizeof(kHeader) - 1);
  const qsizetype end = bytes.indexOf("\n\n", at);
  if (end < 0) return copy;
  for (const QByteArray& line : bytes.mid(at, end - at).split('\n')) {
    if (line.startsWith(kPathKey)) {
      copy.originalPath =
          QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(sizeof(kPathKey) - 1)));
    }
  }
  copy.text = QString::fromUtf8(bytes.mid(end + 2));
  return copy;
}

}  // namespace

DocumentRecovery::DocumentRecovery(QPlainTextEdit& editor, QString folder, int intervalMs,
                                   QObject* parent)
    : QObject(parent), editor_(editor), folder_(std::move(folder)), timer_(new QTimer(this)) {
  if (folder_.isEmpty()) return;
  QDir().mkpath(folder_);
  // A name of this window's own: the lock file is created, never shared.
  const QString stem = QStringLiteral("%1/window-%2-%3")
                           .arg(folder_)
                           .arg(::getpid())
                           .arg(QDateTime::currentMSecsSinceEpoch());
  for (int n = 0; n < 1000 && ownLock_ < 0; ++n) {
    ownFile_ = stem + QStringLiteral("-%1.tab").arg(n);
    ownLock_ = tryLock(ownFile_, O_EXCL);
    if (ownLock_ < 0 && errno != EEXIST) break;
  }
  if (ownLock_ < 0) {
    ownFile_.clear();  // a folder that cannot be written: no copy
    return;
  }
  timer_->setInterval(intervalMs);
  connect(timer_, &QTimer::timeout, this, &DocumentRecovery::keepNow);
  connect(&editor_, &QPlainTextEdit::modificationChanged, this, [this](bool changed) {
    if (changed) {
      timer_->start();
    } else {
      timer_->stop();
      discard();
    }
  });
}

DocumentRecovery::~DocumentRecovery() {
  releaseOffered();
  if (ownLock_ < 0) return;
  // The copy and its lock file stay when there is unsaved text (a signal): the next
  // start finds the lock free.
  if (!QFile::exists(ownFile_)) ::unlink(QFile::encodeName(lockFileOf(ownFile_)).constData());
  ::close(ownLock_);
}

void DocumentRecovery::setDocumentPath(std::function<QString()> path) {
  documentPath_ = std::move(path);
}

std::vector<DocumentRecovery::Copy> DocumentRecovery::leftBehind() {
  std::vector<Copy> copies;
  if (folder_.isEmpty()) return copies;
  const QDir dir(folder_);
  for (const QFileInfo& info :
       dir.entryInfoList({"*.tab"}, QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed)) {
    const QString file = info.absoluteFilePath();
    if (file == QFileInfo(ownFile_).absoluteFilePath() || offered_.count(file) != 0) continue;
    const int fd = tryLock(file);
    if (fd < 0) continue;  // a running window's
    QByteArray bytes;
    if (!QFileInfo::exists(file) || !readWholeFile(file, kMaxRecoveryBytes, &bytes).isEmpty()) {
      // Gone meanwhile (its window saved), or not readable: left as it is.
      offered_[file] = fd;
      unlock(file, !QFileInfo::exists(file));
      continue;
    }
    offered_[file] = fd;
    copies.push_back(decodeCopy(file, bytes));
  }
  // Lock files of windows that ended with nothing to keep.
  const QDateTime stale = QDateTime::currentDateTime().addSecs(-kStaleLockSeconds);
  for (const QFileInfo& info : dir.entryInfoList({"*.tab.lock"}, QDir::Files | QDir::Hidden)) {
    const QString copy = info.absoluteFilePath().chopped(5);
    if (info.lastModified() > stale || QFileInfo::exists(copy) || offered_.count(copy)) continue;
    const int fd = tryLock(copy);
    if (fd < 0) continue;
    offered_[copy] = fd;
    unlock(copy, true);
  }
  return copies;
}

void DocumentRecovery::take(const Copy& copy) {
  // Removed only once this window's own copy holds the text.
  const bool kept = QFileInfo::exists(ownFile_);
  if (kept) QFile::remove(copy.file);
  unlock(copy.file, kept);
}

void DocumentRecovery::decline(const Copy& copy) {
  QFile::remove(copy.file);
  unlock(copy.file, true);
}

void DocumentRecovery::releaseOffered() {
  while (!offered_.empty()) unlock(offered_.begin()->first, false);
}

void DocumentRecovery::unlock(const QString& file, bool removeLockFile) {
  const auto it = offered_.find(file);
  if (it == offered_.end()) return;
  // Removed while still held, so no other process can be holding it then.
  if (removeLockFile) ::unlink(QFile::encodeName(lockFileOf(file)).constData());
  ::close(it->second);
  offered_.erase(it);
}

bool DocumentRecovery::keepNow() {
  if (ownFile_.isEmpty() || !editor_.document()->isModified()) return true;
  QString path = documentPath_ ? documentPath_() : QString();
  // Absolute: the next start may be in another folder.
  if (!path.isEmpty()) path = QFileInfo(path).absoluteFilePath();
  // A text still loading is kept whole, as Save would write it.
  return writeWholeFile(ownFile_, encodeCopy(editorTextToRead(editor_), path)).isEmpty();
}

void DocumentRecovery::discard() {
  if (!ownFile_.isEmpty()) QFile::remove(ownFile_);
}

}  // namespace pulsewright
