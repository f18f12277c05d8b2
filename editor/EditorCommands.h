#pragma once
// Every command of the editor behind the main window's File and Edit menus and toolbar
// buttons, in one object the window connects its actions to:
//
//   File > New / NewButton        -> newDocument()     File > Foreground -> foreground()
//   File > Open / OpenButton      -> open()            File > Background -> background()
//   File > Save / SaveButton      -> save()            File > Font       -> chooseFont()
//   File > Save As ...            -> saveAs()          File > Print / PrintButton -> print()
//   File > Export PDF...          -> exportPdf()
//   Edit > Select All             -> selectAll()       Edit > Cut   -> cut()
//   Edit > Select None            -> selectNone()      Edit > Copy  -> copy()
//   Edit > Find / FindButton      -> find()            Edit > Paste -> paste()
//
// At start-up the window calls applyStoredAppearance(); File > Exit and the close box
// call maybeSave() first and stay open when it returns false.

#include <QObject>
#include <QString>

class QPlainTextEdit;
class QPrinter;
class QWidget;

namespace pulsewright {

class AppearanceCommands;
class DocumentCommands;
class EditCommands;
class SettingsStore;
class UserDialogs;

class EditorCommands : public QObject {
  Q_OBJECT

 public:
  // `editor` and `parentWindow` must outlive this object; the window usually makes it
  // its own child.
  EditorCommands(QPlainTextEdit* editor, QWidget* parentWindow, UserDialogs& dialogs,
                 SettingsStore& settings, QObject* parent = nullptr);

  DocumentCommands& documents() const { return *documents_; }
  EditCommands& editing() const { return *editing_; }
  AppearanceCommands& appearance() const { return *appearance_; }

  // Asks whether to save changed text. False means the user cancelled (or the save
  // failed): the caller keeps the window and the text.
  bool maybeSave();
  // The editor's font family, for printing and the template editor.
  QString fontFamily() const;
  // The editor text, lines separated by LF, no-break spaces kept.
  QString documentText() const;

 public slots:
  void newDocument();
  void open();
  bool save();
  bool saveAs();
  void print();
  void exportPdf();

  void selectAll();
  void selectNone();
  void cut();
  void copy();
  void paste();
  void find();

  void foreground();
  void background();
  void chooseFont();
  void applyStoredAppearance();

 private:
  QPlainTextEdit* editor_;
  DocumentCommands* documents_;
  EditCommands* editing_;
  AppearanceCommands* appearance_;
};

}  // namespace pulsewright
