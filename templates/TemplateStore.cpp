#include "templates/TemplateStore.h"

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

}  // namespace

QStringList TemplateStore::listEntries() const {
  const QString list = storedList();
  if (list.isEmpty()) return {};
  return list.split(',');
}

QString TemplateStore::storedList() const {
  return settings_.GetSetting(kSection, kListKey, {});
}

QString TemplateStore::text(const QString& name) const {
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
