#pragma once
// File > Import Drum Tab... and Edit > Paste as Drum Tab: a web drum tab, from a file or
// from the clipboard, opened as a new, unsaved document.

#include <QObject>
#include <QString>
#include <string_view>

class QWidget;

namespace pulsewright {

class EditorCommands;
class UserDialogs;

class DrumTabImportCommands : public QObject {
  Q_OBJECT

 public:
  DrumTabImportCommands(EditorCommands& editor, UserDialogs& dialogs, QWidget* window);

  void importFile();
  // Text that holds no tab is refused with a message before anything changes.
  void pasteClipboard();

 private:
  // Opens the tab's document; false, with a message, when the bytes hold no tab.
  bool open(std::string_view bytes, const QString& name, bool askToSave);

  EditorCommands& editor_;
  UserDialogs& dialogs_;
  QWidget* window_;
};

}  // namespace pulsewright
