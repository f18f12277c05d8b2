#include "settings/IniSettingsStore.h"

#include <QByteArray>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

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
  QSettings file(filePath_, QSettings::IniFormat);
  file.beginGroup(escapeKey(section));
  file.setValue(escapeKey(key), value);
  file.endGroup();
  file.sync();
  return file.status() == QSettings::NoError;
}

bool IniSettingsStore::DeleteSetting(const QString& section, const QString& key) {
  QSettings file(filePath_, QSettings::IniFormat);
  file.beginGroup(escapeKey(section));
  const QString escaped = escapeKey(key);
  if (!file.contains(escaped)) return false;
  file.remove(escaped);
  file.endGroup();
  file.sync();
  return file.status() == QSettings::NoError;
}

QStringList IniSettingsStore::keys(const QString& section) const {
  QSettings file(filePath_, QSettings::IniFormat);
  file.beginGroup(escapeKey(section));
  QStringList result;
  for (const QString& escaped : file.childKeys()) result << unescapeKey(escaped);
  return result;
}

}  // namespace pulsewright
