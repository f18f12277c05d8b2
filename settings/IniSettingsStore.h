#pragma once
// The settings store on disk: an INI file in the user's configuration folder,
// <config>/Pulsewright/Pulsewright.ini, read and written through QSettings.
//
// QSettings gives "/" in a key the meaning of a group separator, ignores empty keys and
// treats "\" specially, so sections and keys are escaped here before QSettings sees them
// (see escapeKey). Every write is flushed to the disk before it returns, and a write that
// did not reach the disk is reported.

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

#include "settings/SettingsStore.h"

class QSettings;

namespace pulsewright {

class IniSettingsStore : public SettingsStore {
 public:
  // The per-user file: QStandardPaths' GenericConfigLocation/Pulsewright/Pulsewright.ini
  // (so QStandardPaths' test mode keeps tests away from the user's own file).
  IniSettingsStore();
  // A file of the caller's choosing.
  explicit IniSettingsStore(QString filePath);

  // A settings file larger than this is not read back for checking.
  static constexpr qint64 kMaxFileBytes = qint64{64} << 20;

  static QString defaultFilePath();
  const QString& filePath() const { return filePath_; }

  QString GetSetting(const QString& section, const QString& key,
                     const QString& defaultValue) const override;
  bool SaveSetting(const QString& section, const QString& key, const QString& value) override;
  bool DeleteSetting(const QString& section, const QString& key) override;

  // The keys stored in a section, unescaped, in no particular order.
  QStringList keys(const QString& section) const;

  // The reversible escaping of section and key names. The result holds only ASCII
  // letters, digits, "-", ".", "_", "~" and "%", never "/" or "\", and is never empty.
  static QString escapeKey(const QString& key);
  static QString unescapeKey(const QString& escaped);

 private:
  // Applies `edit` (false: nothing to write) and writes the file; false when the file
  // on the disk does not hold the result afterwards, in which case it is put back.
  bool change(const std::function<bool(QSettings&)>& edit);
  static QMap<QString, QVariant> contentsOf(const QSettings& file);

  QString filePath_;
};

}  // namespace pulsewright
