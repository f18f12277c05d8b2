#include "tests/support/MemorySettingsStore.h"

namespace pulsewright {

QString MemorySettingsStore::GetSetting(const QString& section, const QString& key,
                                        const QString& defaultValue) const {
  auto it = values_.constFind({section, key});
  return it == values_.cend() ? defaultValue : *it;
}

bool MemorySettingsStore::SaveSetting(const QString& section, const QString& key,
                                      const QString& value) {
  if (failWrites_) return false;
  ++writeCount_;
  values_.insert({section, key}, value);
  return true;
}

bool MemorySettingsStore::DeleteSetting(const QString& section, const QString& key) {
  if (failWrites_) return false;
  ++writeCount_;
  return values_.remove({section, key}) > 0;
}

bool MemorySettingsStore::contains(const QString& section, const QString& key) const {
  return values_.contains({section, key});
}

QStringList MemorySettingsStore::keys(const QString& section) const {
  QStringList result;
  for (auto it = values_.cbegin(); it != values_.cend(); ++it) {
    if (it.key().first == section) result << it.key().second;
  }
  return result;
}

}  // namespace pulsewright
