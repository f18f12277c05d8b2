#include "files/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace pulsewright {

namespace {

// Qt's own text for a failed buffered write is often "Unknown error"; errno, taken at
// once, holds the system's reason.
QString reasonOf(int error, const QFileDevice& file) {
  if (error != 0) return QString::fromLocal8Bit(std::strerror(error));
  const QString text = file.errorString();
  return text.isEmpty() ? QStringLiteral("write error") : text;
}

}  // namespace

QString writeWholeFile(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  errno = 0;
  // Unbuffered, so each write's failure is seen when it happens: this Qt's commit()
  // reports success after a buffered write failed, leaving an empty file.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return reasonOf(errno, file);
  qint64 done = 0;
  while (done < bytes.size()) {
    errno = 0;
    const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
    if (n <= 0) {
      const int error = errno;
      file.cancelWriting();
      return reasonOf(error, file);
    }
    done += n;
  }
  errno = 0;
  if (!file.flush() || file.error() != QFileDevice::NoError) {
    const int error = errno;
    file.cancelWriting();
    return reasonOf(error, file);
  }
  errno = 0;
  if (!file.commit()) return reasonOf(errno, file);
  return {};
}

QString readRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes) {
  bytes->clear();
  // Non-blocking, so opening a FIFO with no writer returns at once.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
  struct stat info {};
  QString reason;
  if (::fstat(fd, &info) != 0) {
    reason = QString::fromLocal8Bit(std::strerror(errno));
  } else if (!S_ISREG(info.st_mode)) {
    reason = QStringLiteral("not a regular file");
  } else if (info.st_size > maxBytes) {
    reason = QStringLiteral("larger than %1 MB").arg(maxBytes >> 20);
  } else {
    bytes->resize(static_cast<qsizetype>(info.st_size));
    qint64 done = 0;
    while (done < bytes->size()) {
      const ssize_t n = ::read(fd, bytes->data() + done, static_cast<size_t>(bytes->size() - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        break;
      }
      if (n == 0) break;  // shrank while being read
      done += n;
    }
    bytes->truncate(static_cast<qsizetype>(done));
  }
  ::close(fd);
  if (!reason.isEmpty()) bytes->clear();
  return reason;
}

}  // namespace pulsewright
