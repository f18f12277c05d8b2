#pragma once
// The windows' adapter over the reads and writes of InputFile.h and OutputFile.h: Qt
// names and bytes for their files (documents, pad maps, settings, recovery copies).
// Failures come back as the system's reason ("No space left on device"), never as
// success. It is built only with the windows, in its own library, so the rest of
// fileio/ stays free of Qt.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pulsewright {

// Writes `bytes` to a temporary file next to `path`, checks every write and the flush,
// then renames it over `path`, so a failure leaves the old file whole. A symbolic link is
// followed; a device or a FIFO is written directly; an output that is one of `inputs`, a
// folder or a read-only file is refused. Empty on success, else the reason.
QString writeWholeFile(const QString& path, const QByteArray& bytes,
                       const QStringList& inputs = {});

// Reads the regular file `path` of at most `maxBytes` into `bytes` (readRegularFile). A
// FIFO, a device or a folder is refused without waiting on it. Empty on success, else the
// reason.
QString readWholeFile(const QString& path, qint64 maxBytes, QByteArray* bytes);

}  // namespace pulsewright
