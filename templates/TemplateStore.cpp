#include "templates/TemplateStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>

#include "settings/SettingsStore.h"

namespace pulsewright {

namespace {

const QString kSection = QString::fromLatin1(kTemplatesSection);
const QString kListKey = QString::fromLatin1(kTemplateListKey);

// The names of a stored list: every piece before a comma, and a last piece that lacks its
// comma (a hand-edited file) when it is not empty.
QStringList namesOf(const QString& list) {
  QStringList pieces = list.split(',');
  if (pieces.last().isEmpty()) pieces.removeLast();
  return pieces;
}

QString listOf(const QStringList& names) {
  QString list;
  for (const QString& name : names) list += name + ',';
  return list;
}

// The value of a document's first "meta title" line, as the compiler reads it.
QString titleOf(const QString& text) {
  static const QRegularExpression title(
      QStringLiteral(R"(^\s*meta\s*title\s*=\s*([^\n\r]*?)\s*$)"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
  return title.match(text).captured(1);
}

// A shipped template is a small document; anything larger is not one.
constexpr qint64 kMaxShippedBytes = 1 << 20;

}  // namespace

QStringList shippedTemplateFolders() {
  QStringList folders{QStringLiteral(":/pulsewright/templates")};
  folders += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                       QStringLiteral("pulsewright/templates"),
                                       QStandardPaths::LocateDirectory);
  return folders;
}

void TemplateStore::setShippedFolders(const QStringList& folders) {
  shipped_.clear();
  for (const QString& folder : folders) {
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.tab")}, QDir::Files, QDir::Name);
    for (const QFileInfo& info : files) {
      QFile file(info.filePath());
      if (info.size() > kMaxShippedBytes || !file.open(QIODevice::ReadOnly)) continue;
      QString text = QString::fromUtf8(file.readAll());
      text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      QString name = titleOf(text);
      if (name.isEmpty()) name = info.completeBaseName();
      // A name the store could not hold could not be edited either.
      if (!refusal(name).isEmpty() || shipped(name) != nullptr) continue;
      text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
      shipped_.push_back({name, text});
    }
  }
  // Alphabetical whatever the case and the machine's locale, so every machine lists alike.
  std::sort(shipped_.begin(), shipped_.end(), [](const Shipped& a, const Shipped& b) {
    const int folded = QString::compare(a.name, b.name, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a.name < b.name;
  });
}

const TemplateStore::Shipped* TemplateStore::shipped(const QString& name) const {
  const auto it = std::find_if(shipped_.begin(), shipped_.end(),
                               [&name](const Shipped& s) { return s.name == name; });
  return it == shipped_.end() ? nullptr : &*it;
}

QStringList TemplateStore::shippedNames() const {
  QStringList names;
  const QStringList stored = namesOf(storedList());
  for (const Shipped& s : shipped_) {
    if (!stored.contains(s.name)) names << s.name;
  }
  return names;
}

bool TemplateStore::isShipped(const QString& name) const {
  return shipped(name) != nullptr && !contains(name);
}

QStringList TemplateStore::listEntries() const {
  const QString list = storedList();
  if (list.isEmpty()) return {};
  return list.split(',');
}

QString TemplateStore::storedList() const {
  return settings_.GetSetting(kSection, kListKey, {});
}

QString TemplateStore::text(const QString& name) const {
  if (const Shipped* s = shipped(name); s != nullptr && !contains(name)) return s->text;
  return settings_.GetSetting(kSection, name, {});
}

QString TemplateStore::refusal(const QString& name) {
  if (name.contains(',')) {
    return QStringLiteral("A template name cannot contain a comma: \"%1\".").arg(name);
  }
  if (name == kListKey) {
    return QStringLiteral(
               "\"%1\" is the name of the template list itself and cannot name a "
               "template.")
        .arg(name);
  }
  return {};
}

QString TemplateStore::listWithout(const QString& list, const QString& name) {
  QStringList names = namesOf(list);
  names.removeAll(name);
  return listOf(names);
}

QString TemplateStore::listWith(const QString& list, const QString& name) {
  QStringList names = namesOf(list);
  names.append(name);
  return listOf(names);
}

bool TemplateStore::exists(const QString& name) const {
  // A missing key gives back whichever default it is asked with.
  return settings_.GetSetting(kSection, name, QStringLiteral("0")) ==
         settings_.GetSetting(kSection, name, QStringLiteral("1"));
}

bool TemplateStore::contains(const QString& name) const {
  return namesOf(storedList()).contains(name) || (name != kListKey && exists(name));
}

bool TemplateStore::add(const QString& name, const QString& text) {
  if (!settings_.SaveSetting(kSection, name, text)) return false;
  return settings_.SaveSetting(kSection, kListKey, listWith(listWithout(storedList(), name), name));
}

bool TemplateStore::replace(const QString& oldName, const QString& newName, const QString& text) {
  // The new key first: if it cannot be written, the old one must stay.
  if (!settings_.SaveSetting(kSection, newName, text)) return false;
  if (!settings_.SaveSetting(
          kSection, kListKey,
          listWith(listWithout(listWithout(storedList(), oldName), newName), newName))) {
    return false;
  }
  if (oldName != newName && oldName != kListKey && exists(oldName)) {
    return settings_.DeleteSetting(kSection, oldName);
  }
  return true;
}

bool TemplateStore::remove(const QString& name) {
  if (name != kListKey && exists(name) && !settings_.DeleteSetting(kSection, name)) {
    return false;
  }
  return settings_.SaveSetting(kSection, kListKey, listWithout(storedList(), name));
}

}  // namespace pulsewright
