#include "editor/RecentFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "settings/SettingsStore.h"

namespace pulsewright {

namespace {
const QString kRecentFilesSection = QString::fromLatin1(kRecentSection);
QString keyOf(int i) {
  return QStringLiteral("File%1").arg(i + 1);
}
}  // namespace

RecentFiles::RecentFiles(SettingsStore& settings, QObject* parent)
    : QObject(parent), settings_(settings) {}

QStringList RecentFiles::files() const {
  QStringList list;
  for (int i = 0; i < kCount; ++i) {
    const QString path = settings_.GetSetting(kRecentFilesSection, keyOf(i), QString());
    if (!path.isEmpty() && !list.contains(path)) list << path;
  }
  return list;
}

void RecentFiles::add(const QString& path) {
  if (path.isEmpty()) return;
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList list = files();
  list.removeAll(absolute);
  list.prepend(absolute);
  store(list);
}

void RecentFiles::remove(const QString& path) {
  QStringList list = files();
  list.removeAll(QFileInfo(path).absoluteFilePath());
  list.removeAll(path);
  store(list);
}

void RecentFiles::store(const QStringList& list) {
  for (int i = 0; i < kCount; ++i) {
    if (i < list.size()) {
      settings_.SaveSetting(kRecentFilesSection, keyOf(i), list[i]);
    } else {
      settings_.DeleteSetting(kRecentFilesSection, keyOf(i));
    }
  }
}

void RecentFiles::attachMenu(QMenu* menu) {
  connect(menu, &QMenu::aboutToShow, this, [this, menu] {
    menu->clear();
    const QStringList list = files();
    for (int i = 0; i < list.size(); ++i) {
      const QString path = list[i];
      // "&1 song.tab" with the full path as the tip.
      QAction* a = menu->addAction(
          QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName().replace('&', "&&")));
      a->setToolTip(QDir::toNativeSeparators(path));
      a->setStatusTip(QDir::toNativeSeparators(path));
      connect(a, &QAction::triggered, this, [this, path] { emit openRequested(path); });
    }
    if (list.isEmpty()) menu->addAction(tr("(none)"))->setEnabled(false);
  });
}

}  // namespace pulsewright
