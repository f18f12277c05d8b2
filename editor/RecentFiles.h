#pragma once
// File > Recent: the eight files opened or saved last, newest first, kept in the
// settings section "Recent" (keys "File1" to "File8") so they survive a restart.

#include <QObject>
#include <QStringList>

class QMenu;

namespace pulsewright {

class SettingsStore;

inline constexpr char kRecentSection[] = "Recent";

class RecentFiles : public QObject {
  Q_OBJECT

 public:
  static constexpr int kCount = 8;

  explicit RecentFiles(SettingsStore& settings, QObject* parent = nullptr);

  QStringList files() const;
  // Puts `path` first (once), dropping the oldest beyond eight.
  void add(const QString& path);
  void remove(const QString& path);

  // Fills `menu` with the files each time it opens; choosing one emits openRequested.
  void attachMenu(QMenu* menu);

 signals:
  void openRequested(const QString& path);

 private:
  void store(const QStringList& files);

  SettingsStore& settings_;
};

}  // namespace pulsewright
