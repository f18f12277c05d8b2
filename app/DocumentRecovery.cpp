#include "app/DocumentRecovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTimer>

#include "editor/EditorText.h"
#include "files/FileAccess.h"

namespace pulsewright {

namespace {
constexpr qint64 kMaxRecoveryBytes = qint64{64} << 20;
}

DocumentRecovery::DocumentRecovery(QPlainTextEdit& editor, QString filePath, int intervalMs,
                                   QObject* parent)
    : QObject(parent), editor_(editor), filePath_(std::move(filePath)), timer_(new QTimer(this)) {
  if (filePath_.isEmpty()) return;
  timer_->setInterval(intervalMs);
  connect(timer_, &QTimer::timeout, this, &DocumentRecovery::keepNow);
  connect(editor_.document(), &QTextDocument::modificationChanged, this, [this](bool changed) {
    if (changed) {
      timer_->start();
    } else {
      timer_->stop();
      discard();
    }
  });
}

std::optional<QString> DocumentRecovery::leftBehind() const {
  if (filePath_.isEmpty() || !QFileInfo::exists(filePath_)) return std::nullopt;
  QByteArray bytes;
  if (!readRegularFile(filePath_, kMaxRecoveryBytes, &bytes).isEmpty()) return std::nullopt;
  return QString::fromUtf8(bytes);
}

bool DocumentRecovery::keepNow() {
  if (filePath_.isEmpty() || !editor_.document()->isModified()) return true;
  QDir().mkpath(QFileInfo(filePath_).absolutePath());
  return writeWholeFile(filePath_, editorText(editor_).toUtf8()).isEmpty();
}

void DocumentRecovery::discard() {
  if (!filePath_.isEmpty()) QFile::remove(filePath_);
}

}  // namespace pulsewright
