#pragma once
// File > Import...: a Standard MIDI File (told by its MThd header) or a web drum tab,
// read into a new, unsaved document named after the file. What the import had to say
// goes to the problems list and a message; a file it cannot use changes nothing.

#include <QObject>
#include <QString>

class QWidget;

namespace pulsewright {

class EditorCommands;
class ProblemsPanel;
class UserDialogs;

class DocumentImport : public QObject {
  Q_OBJECT

 public:
  // Also takes the MIDI files that Open is given and the user agrees to import.
  DocumentImport(EditorCommands& editor, ProblemsPanel& problems, UserDialogs& dialogs,
                 QWidget* window);

 public slots:
  // Asks about unsaved changes, then for the file.
  void chooseAndImport();
  // False, with a message naming the file, when nothing could be imported.
  bool importFile(const QString& path);

 private:
  EditorCommands& editor_;
  ProblemsPanel& problems_;
  UserDialogs& dialogs_;
  QWidget* window_;
};

}  // namespace pulsewright
