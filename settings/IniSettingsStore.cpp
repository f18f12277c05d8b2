#include "settings/IniSettingsStore.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVariant>

#include "fileio/QtFileAccess.h"

namespace pulsewright {

namespace {

constexpr char kApplicationName[] = "Pulsewright";
// What an empty name escapes to: every other escaped name is empty or has two hex digits
// after each "%", so a lone "%" stands for nothing else.
constexpr char kEmptyName[] = "%";

}  // namespace

IniSettingsStore::IniSettingsStore() : filePath_(defaultFilePath()) {}

IniSettingsStore::IniSettingsStore(QString filePath) : filePath_(std::move(filePath)) {}

QString IniSettingsStore::defaultFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
         kApplicationName + '/' + kApplicationName + ".ini";
}

QString IniSettingsStore::escapeKey(const QString& key) {
  if (key.isEmpty()) return QString::fromLatin1(kEmptyName);
  // Percent-encoding of the UTF-8 bytes leaves only RFC 3986's unreserved characters and
  // "%": nothing QSettings treats as a separator, and plain names stay readable.
  return QString::fromLatin1(key.toUtf8().toPercentEncoding());
}

QString IniSettingsStore::unescapeKey(const QString& escaped) {
  if (escaped == QLatin1String(kEmptyName)) return QString();
  return QString::fromUtf8(QByteArray::fromPercentEncoding(escaped.toLatin1()));
}

// Every call opens the file afresh: a new QSettings re-reads it when another store (or
// another running copy of the program) has changed it, so the last write wins.

QString IniSettingsStore::GetSetting(const QString& section, const QString& key,
                                     const QString& defaultValue) const {
  QSettings file(filePath_, QSettings::IniFormat);
  file.beginGroup(escapeKey(section));
  const QVariant value = file.value(escapeKey(key));
  if (!value.isValid()) return defaultValue;
  // An unquoted value with commas in a hand-edited file reads as a list; give back the
  // text as it stands in the file.
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(',');
  if (!value.canConvert<QString>()) return defaultValue;
  return value.toString();
}

bool IniSettingsStore::SaveSetting(const QString& section, const QString& key,
                                   const QString& value) {
  return change([&](QSettings& file) {
    file.beginGroup(escapeKey(section));
    file.setValue(escapeKey(key), value);
    file.endGroup();
    return true;
  });
}

bool IniSettingsStore::DeleteSetting(const QString& section, const QString& key) {
  return change([&](QSettings& file) {
    file.beginGroup(escapeKey(section));
    const QString escaped = escapeKey(key);
    const bool found = file.contains(escaped);
    if (found) file.remove(escaped);
    file.endGroup();
    return found;
  });
}

bool IniSettingsStore::change(const std::function<bool(QSettings&)>& edit) {
  // QSettings works on a copy, and only a copy that reads back whole replaces the file:
  // this Qt's QSettings reports success after a write that stopped short (a full disk)
  // and leaves the file cut off.
  QTemporaryDir work;
  if (!work.isValid()) return false;
  const QString copy = work.filePath(QStringLiteral("settings.ini"));
  QByteArray bytes;
  if (QFileInfo::exists(filePath_) && (!readWholeFile(filePath_, kMaxFileBytes, &bytes).isEmpty() ||
                                       !writeWholeFile(copy, bytes).isEmpty())) {
    return false;
  }
  QMap<QString, QVariant> expected;
  {
    QSettings file(copy, QSettings::IniFormat);
    if (!edit(file)) return false;
    expected = contentsOf(file);  // QSettings shows its unwritten changes
    file.sync();
    if (file.status() != QSettings::NoError) return false;
  }
  // Read back under another name, which QSettings has no cached copy of.
  const QString check = work.filePath(QStringLiteral("check.ini"));
  if (!readWholeFile(copy, kMaxFileBytes, &bytes).isEmpty() ||
      !writeWholeFile(check, bytes).isEmpty() ||
      contentsOf(QSettings(check, QSettings::IniFormat)) != expected) {
    return false;
  }
  QDir().mkpath(QFileInfo(filePath_).absolutePath());
  return writeWholeFile(filePath_, bytes).isEmpty();
}

QMap<QString, QVariant> IniSettingsStore::contentsOf(const QSettings& file) {
  QMap<QString, QVariant> contents;
  for (const QString& key : file.allKeys()) contents.insert(key, file.value(key));
  return contents;
}

QStringList IniSettingsStore::keys(const QString& section) const {
  QSettings file(filePath_, QSettings::IniFormat);
  file.beginGroup(escapeKey(section));
  QStringList result;
  for (const QString& escaped : file.childKeys()) result << unescapeKey(escaped);
  return result;
}

}  // namespace pulsewright
