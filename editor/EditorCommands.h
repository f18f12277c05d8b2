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
//   Edit > Undo                   -> undo()            Edit > Redo  -> redo()
//   File > Recent                 -> recentFiles().attachMenu(menu)
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
class RecentFiles;
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
  RecentFiles& recentFiles() const { return *recent_; }

  // The window title: `appTitle` alone for a new, unchanged document, else the file's
  // name (or the name an import gave, or "Untitled"), a "*" when it has changed, and
  // `appTitle`.
  QString documentTitle(const QString& appTitle) const;

  // Asks whether to save changed text. False means the user cancelled (or the save
  // failed): the caller keeps the window and the text.
  bool maybeSave();
  // The editor's font family, for printing and the template editor.
  QString fontFamily() const;
  // The editor text, lines separated by LF, no-break spaces kept; a large text still
  // loading is not waited for (it is unchanged).
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
  void undo();
  void redo();
  // File > Recent: asks about unsaved changes, then opens; a file that cannot be opened
  // leaves the list.
  void openRecent(const QString& path);

  void foreground();
  void background();
  void chooseFont();
  void applyStoredAppearance();

 private:
  QPlainTextEdit* editor_;
  DocumentCommands* documents_;
  EditCommands* editing_;
  AppearanceCommands* appearance_;
  RecentFiles* recent_;

 signals:
  // The file name or the changed state of the document is different now.
  void titleChanged();
};

}  // namespace pulsewright
