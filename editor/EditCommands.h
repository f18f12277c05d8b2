#pragma once
// The Edit menu: selection and clipboard commands, and Find, which opens the Find and
// Replace window.

#include <QObject>
#include <QPointer>

class QPlainTextEdit;
class QWidget;

namespace pulsewright {

class FindReplaceDialog;
class UserDialogs;

class EditCommands : public QObject {
  Q_OBJECT

 public:
  EditCommands(QPlainTextEdit* editor, QWidget* parentWindow, UserDialogs& dialogs,
               QObject* parent = nullptr);

  // The Find and Replace window while it exists (shown or hidden); null before the first
  // Find and after its close box destroyed it.
  FindReplaceDialog* findDialog() const;

 public slots:
  void selectAll();
  // Removes the selection; the caret stays at its start.
  void selectNone();
  // The clipboard commands use its plain text; with nothing to move they do nothing.
  void cut();
  void copy();
  void paste();
  void find();

 private:
  QPlainTextEdit* editor_;
  QWidget* parentWindow_;
  UserDialogs& dialogs_;
  QPointer<FindReplaceDialog> findDialog_;
};

}  // namespace pulsewright
