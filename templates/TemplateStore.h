#pragma once
// The templates in the settings store, section "Templates": one key per template holding
// its text, and the key "TemplateList" holding every name followed by one comma, oldest
// first ("Intro,Fill,"). Besides them, the templates that come with the program: one
// document per .tab file in the shipped folders, named by its "meta title" line.

#include <QString>
#include <QStringList>
#include <vector>

namespace pulsewright {

class SettingsStore;

inline constexpr char kTemplateListKey[] = "TemplateList";

// Where the program's own templates are: those built into it first, then the installed
// ones (share/pulsewright/templates) that add a name.
QStringList shippedTemplateFolders();

class TemplateStore {
 public:
  explicit TemplateStore(SettingsStore& settings) : settings_(settings) {}

  // The entries the Templates window lists: the stored list split at every comma, so a
  // non-empty list ends with one empty entry; an empty list gives none.
  QStringList listEntries() const;
  QString storedList() const;
  // A stored template's text; else a shipped one's, with CR LF line ends.
  QString text(const QString& name) const;

  // Reads the shipped templates of `folders`, the first folder's first for a name.
  void setShippedFolders(const QStringList& folders);
  // The shipped templates that no stored template of the same name hides, by name.
  QStringList shippedNames() const;
  bool isShipped(const QString& name) const;

  // Why a name cannot be stored, as a message for the user; empty when it can. Empty
  // names are not refused here: the windows pass over them without a word.
  static QString refusal(const QString& name);

  // Whether a template of that name is listed or stored.
  bool contains(const QString& name) const;

  // Each returns false when a write did not reach the store.
  // Stores the text under the name (replacing any template of that name) and moves the
  // name to the end of the list, where it appears once.
  bool add(const QString& name, const QString& text);
  // Stores the text under newName, deletes oldName's key when the name changed, and moves
  // the template to the end of the list under its new name (once, replacing any template
  // that had that name).
  bool replace(const QString& oldName, const QString& newName, const QString& text);
  // Deletes the template's key and every list entry equal to the name.
  bool remove(const QString& name);

  // The stored list without the entries equal to name: whole entries only, so "XFill" or
  // "Fill2" stay when "Fill" goes. Always ends with a comma unless empty.
  static QString listWithout(const QString& list, const QString& name);
  static QString listWith(const QString& list, const QString& name);

 private:
  bool exists(const QString& name) const;

  struct Shipped {
    QString name;
    QString text;
  };
  const Shipped* shipped(const QString& name) const;

  SettingsStore& settings_;
  std::vector<Shipped> shipped_;
};

}  // namespace pulsewright
