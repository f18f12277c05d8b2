#pragma once
// A settings store held in memory, for tests: nothing reaches the disk. Writes can be
// made to fail, to check how callers report it.

#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

#include "settings/SettingsStore.h"

namespace pulsewright {

class MemorySettingsStore : public SettingsStore {
 public:
  QString GetSetting(const QString& section, const QString& key,
                     const QString& defaultValue) const override;
  bool SaveSetting(const QString& section, const QString& key, const QString& value) override;
  bool DeleteSetting(const QString& section, const QString& key) override;

  bool contains(const QString& section, const QString& key) const;
  QStringList keys(const QString& section) const;
  // While set, SaveSetting and DeleteSetting change nothing and return false.
  void setFailWrites(bool fail) { failWrites_ = fail; }
  int writeCount() const { return writeCount_; }

 private:
  QMap<QPair<QString, QString>, QString> values_;
  bool failWrites_ = false;
  int writeCount_ = 0;
};

}  // namespace pulsewright
