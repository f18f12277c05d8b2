#include "editor/DocumentCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <QTextDocument>

#include "editor/EditorText.h"
#include "platform/qt/UserDialogs.h"

namespace pulsewright {

namespace {

QString shownName(const QString& path) { return QDir::toNativeSeparators(path); }

}  // namespace

DocumentCommands::DocumentCommands(QPlainTextEdit* editor, QWidget* parentWindow,
                                   UserDialogs& dialogs, QObject* parent)
    : QObject(parent), editor_(editor), parentWindow_(parentWindow), dialogs_(dialogs) {}

bool DocumentCommands::maybeSave() {
  if (!editor_->document()->isModified()) return true;
  const QString question =
      fileName_.isEmpty()
          ? tr("The text has changed. Do you want to save it?")
          : tr("The text of \"%1\" has changed. Do you want to save it?")
                .arg(QFileInfo(fileName_).fileName());
  switch (dialogs_.askToSaveChanges(parentWindow_, question)) {
    case UserDialogs::SaveChoice::Save:
      return save();
    case UserDialogs::SaveChoice::Discard:
      return true;
    case UserDialogs::SaveChoice::Cancel:
      break;
  }
  return false;
}

void DocumentCommands::newDocument() {
  if (!maybeSave()) return;
  setEditorText(*editor_, QString());
  fileName_.clear();
  format_ = DocumentFormat{};
}

void DocumentCommands::open() {
  if (!maybeSave()) return;
  const QString path = dialogs_.openFileName(parentWindow_);
  if (path.isEmpty()) return;
  openFile(path);
}

bool DocumentCommands::openFile(const QString& path) {
  QFile file(path);
  QByteArray bytes;
  if (file.open(QIODevice::ReadOnly)) {
    bytes = file.readAll();
  }
  if (!file.isOpen() || file.error() != QFileDevice::NoError) {
    dialogs_.message(parentWindow_, tr("Cannot open \"%1\": %2.")
                                        .arg(shownName(path), file.errorString()));
    return false;
  }
  LoadedDocument loaded = loadDocument(std::string_view(bytes.constData(), bytes.size()));
  setEditorText(*editor_, QString::fromStdString(loaded.text));
  fileName_ = path;
  format_ = loaded.format;
  return true;
}

void DocumentCommands::openUnsaved(const QString& text) {
  setEditorText(*editor_, text);
  fileName_.clear();
  format_ = DocumentFormat{};
  editor_->document()->setModified(true);
}

bool DocumentCommands::save() {
  if (fileName_.isEmpty()) return saveAs();
  return saveToFile(fileName_);
}

bool DocumentCommands::saveAs() {
  const QString path = dialogs_.saveFileName(parentWindow_);
  if (path.isEmpty()) return false;
  return saveToFile(path);
}

bool DocumentCommands::saveToFile(const QString& path) {
  const SavedDocument saved = saveDocument(editorText(*editor_).toStdString(), format_);
  QSaveFile file(path);
  bool written = file.open(QIODevice::WriteOnly);
  if (written) {
    written = file.write(saved.bytes.data(), static_cast<qint64>(saved.bytes.size())) ==
              static_cast<qint64>(saved.bytes.size());
    if (written) {
      written = file.commit();
    } else {
      file.cancelWriting();
    }
  }
  if (!written) {
    dialogs_.message(parentWindow_, tr("Cannot save \"%1\": %2.")
                                        .arg(shownName(path), file.errorString()));
    return false;
  }
  fileName_ = path;
  format_ = saved.format;
  editor_->document()->setModified(false);
  return true;
}

void DocumentCommands::printTo(QPrinter& printer, const QString& fontFamily) const {
  QTextDocument document;
  QFont font = document.defaultFont();
  font.setFamily(fontFamily);
  document.setDefaultFont(font);
  document.setPlainText(editorText(*editor_) + QLatin1Char('\n'));
  document.print(&printer);
}

void DocumentCommands::print(const QString& fontFamily) {
  const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
  if (defaultPrinter.isNull()) return;
  QPrinter printer(defaultPrinter);
  if (!printer.isValid()) return;
  printTo(printer, fontFamily);
}

}  // namespace pulsewright
