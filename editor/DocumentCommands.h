#pragma once
// File > New, Open, Save, Save As and Print on the editor text.

#include <QObject>
#include <QString>

#include "editor/DocumentFile.h"

class QPlainTextEdit;
class QPrinter;
class QWidget;

namespace pulsewright {

class UserDialogs;

// Larger files are no tablature; reading them would stall the window.
inline constexpr qint64 kMaxDocumentBytes = qint64{16} << 20;

class DocumentCommands : public QObject {
  Q_OBJECT

 public:
  DocumentCommands(QPlainTextEdit* editor, QWidget* parentWindow, UserDialogs& dialogs,
                   QObject* parent = nullptr);

  // The document's file; empty for a new document.
  QString currentFileName() const { return fileName_; }
  // What an export of the document is offered to be called: the document's own name and
  // folder with `suffix` (".pdf"); empty for a new document.
  QString exportNameWith(const QString& suffix) const;
  const DocumentFormat& format() const { return format_; }

  // When the text has changed since the last New, Open or Save, asks whether to save it.
  // True when the caller may go on (saved, or the user discarded the changes); false on
  // Cancel or when the save failed or its dialog was cancelled.
  bool maybeSave();

  // The name a new document shows until it is saved; empty for "Untitled".
  QString untitledName() const { return untitledName_; }

  // Reads `path` into the editor; false, with a message naming the file, when it cannot
  // be read (the editor and the current file are then left as they were). A file with
  // NUL bytes is no text and is refused; a MIDI file is offered to the importer instead
  // (importRequested, when the user agrees).
  bool openFile(const QString& path);
  // Puts `text` in the editor as a new document that has not been saved (an import):
  // no file name, the default format, marked as changed, shown as `name`.
  void openUnsaved(const QString& text, const QString& name = {});
  // Puts text kept from an earlier run in the editor, marked as changed, under `path`, the
  // file it was typed for (empty: a new document). Save asks before it writes over that
  // file, which may have changed since.
  void openRecovered(const QString& text, const QString& path);
  // Writes the editor text to `path` through a temporary file renamed over it, so a
  // failed write leaves the old file whole; false, with a message naming the file.
  bool saveToFile(const QString& path);

  // Prints the editor text in the editor's font family, followed by a line end.
  void printTo(QPrinter& printer, const QString& fontFamily) const;

 public slots:
  void newDocument();
  void open();
  bool save();
  bool saveAs();
  // On the default printer; nothing happens when there is none.
  void print(const QString& fontFamily);
  // File > Export PDF: the printed pages into a PDF file the user names.
  void exportPdf(const QString& fontFamily);

 signals:
  // After New, a successful Open or a successful Save; empty for a new document.
  void fileNameChanged(const QString& path);
  // The editor holds another document: after New, Open or an import.
  void documentReplaced();
  // Open was given a MIDI file and the user wants it imported.
  void importRequested(const QString& path);
  // Export PDF wrote this file.
  void exported(const QString& path);

 private:
  QPlainTextEdit* editor_;
  QWidget* parentWindow_;
  UserDialogs& dialogs_;
  QString fileName_;
  QString untitledName_;
  DocumentFormat format_;
  bool askBeforeSave_ = false;  // recovered text: the file on disk may be newer
};

}  // namespace pulsewright
