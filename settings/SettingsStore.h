#pragma once
// The per-user store of named text values that survives between runs: the editor's
// appearance (section "LookAndFeel") and the templates (section "Templates"). Every call
// uses the application name "Pulsewright". Only the user-interface thread uses it.

#include <QString>

namespace pulsewright {

inline constexpr char kLookAndFeelSection[] = "LookAndFeel";
inline constexpr char kTemplatesSection[] = "Templates";

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, or `defaultValue` when the key or its section does not exist (a
  // key stored with an empty text reads back empty).
  virtual QString GetSetting(const QString& section, const QString& key,
                             const QString& defaultValue) const = 0;
  // Stores the text, replacing any earlier value. False when it could not be written.
  virtual bool SaveSetting(const QString& section, const QString& key, const QString& value) = 0;
  // Removes one key. False when there was none or it could not be removed.
  virtual bool DeleteSetting(const QString& section, const QString& key) = 0;
};

}  // namespace pulsewright
