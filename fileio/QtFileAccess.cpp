#include "fileio/QtFileAccess.h"

#include <QFile>
#include <algorithm>
#include <string>

#include "fileio/InputFile.h"
#include "fileio/OutputFile.h"

namespace pulsewright {

QString writeWholeFile(const QString& path, const QByteArray& bytes, const QStringList& inputs) {
  std::vector<std::string> inputNames;
  for (const QString& input : inputs) inputNames.push_back(QFile::encodeName(input).toStdString());
  std::string reason;
  if (writeOutputFile(QFile::encodeName(path).toStdString(),
                      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                      inputNames, &reason)) {
    return {};
  }
  return QString::fromLocal8Bit(reason);
}

QString readWholeFile(const QString& path, qint64 maxBytes, QByteArray* bytes) {
  bytes->clear();
  std::string read;
  std::string reason;
  if (!readRegularFile(QFile::encodeName(path).toStdString(),
                       static_cast<std::size_t>(std::max<qint64>(maxBytes, 0)), &read, &reason)) {
    return QString::fromLocal8Bit(reason);
  }
  *bytes = QByteArray(read.data(), static_cast<qsizetype>(read.size()));
  return {};
}

}  // namespace pulsewright
