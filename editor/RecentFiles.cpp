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

namespace {
// One name per file: links and "dir/../" resolved while the file exists, else the
// absolute path.
QString canonicalOf(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}
}  // namespace

RecentFiles::RecentFiles(SettingsStore& settings, QObject* parent)
    : QObject(parent), settings_(settings) {}

QStringList RecentFiles::files() const {
  QStringList list;
  for (int i = 0; i < kCount; ++i) {
    const QString path = settings_.GetSetting(kRecentFilesSection, keyOf(i), QString());
    if (path.isEmpty()) continue;
    const QString file = canonicalOf(path);
    if (!list.contains(file)) list << file;
  }
  return list;
}

void RecentFiles::add(const QString& path) {
  if (path.isEmpty()) return;
  const QString file = canonicalOf(path);
  QStringList list = files();
  list.removeAll(file);
  list.prepend(file);
  store(list);
}

void RecentFiles::remove(const QString& path) {
  QStringList list = files();
  list.removeAll(canonicalOf(path));
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
