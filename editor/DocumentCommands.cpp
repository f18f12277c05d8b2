#include "editor/DocumentCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>
#include <string>
#include <string_view>
#include <utility>

#include "editor/EditorText.h"
#include "fileio/InputFile.h"
#include "fileio/OutputFile.h"
#include "fileio/QtFileAccess.h"
#include "platform/qt/UserDialogs.h"

namespace pulsewright {

namespace {

QString shownName(const QString& path) {
  return QDir::toNativeSeparators(path);
}

// A Standard MIDI File, bare or in a RIFF wrapper.
bool isMidiFile(std::string_view bytes) {
  return bytes.starts_with("MThd") ||
         (bytes.size() >= 12 && bytes.starts_with("RIFF") && bytes.substr(8, 4) == "RMID");
}

// The reason a document file cannot be read, or empty; its bytes are not copied again, as
// a document at the size limit is large.
QString readDocumentFile(const QString& path, std::string* bytes) {
  std::string reason;
  if (readRegularFile(QFile::encodeName(path).toStdString(),
                      static_cast<std::size_t>(kMaxDocumentBytes), bytes, &reason)) {
    return {};
  }
  return QString::fromLocal8Bit(reason);
}

}  // namespace

DocumentCommands::DocumentCommands(QPlainTextEdit* editor, QWidget* parentWindow,
                                   UserDialogs& dialogs, QObject* parent)
    : QObject(parent), editor_(editor), parentWindow_(parentWindow), dialogs_(dialogs) {}

bool DocumentCommands::maybeSave() {
  if (!editor_->document()->isModified()) return true;
  const QString question = fileName_.isEmpty()
                               ? tr("The text has changed. Do you want to save it?")
                               : tr("The text of \"%1\" has changed. Do you want to save it?")
                                     .arg(QFileInfo(fileName_).fileName());
  switch (dialogs_.askToSaveChanges(parentWindow_, question)) {
    case UserDialogs::SaveChoice::Save: return save();
    case UserDialogs::SaveChoice::Discard: return true;
    case UserDialogs::SaveChoice::Cancel: break;
  }
  return false;
}

void DocumentCommands::newDocument() {
  if (!maybeSave()) return;
  setEditorText(*editor_, QString());
  fileName_.clear();
  untitledName_.clear();
  format_ = DocumentFormat{};
  askBeforeSave_ = false;
  emit fileNameChanged(fileName_);
  emit documentReplaced();
}

void DocumentCommands::open() {
  if (!maybeSave()) return;
  const QString path = dialogs_.openFileName(parentWindow_);
  if (path.isEmpty()) return;
  openFile(path);
}

bool DocumentCommands::openFile(const QString& path) {
  std::string bytes;
  const QString reason = readDocumentFile(path, &bytes);
  if (!reason.isEmpty()) {
    dialogs_.message(parentWindow_, tr("Cannot open \"%1\": %2.").arg(shownName(path), reason));
    return false;
  }
  if (isMidiFile(bytes)) {
    if (dialogs_.askYesNo(parentWindow_, tr("\"%1\" is a MIDI file, not a tablature document. "
                                            "Import it into a new document?")
                                             .arg(QFileInfo(path).fileName()))) {
      emit importRequested(path);
    }
    return false;
  }
  if (bytes.find('\0') != std::string::npos) {
    dialogs_.message(parentWindow_,
                     tr("Cannot open \"%1\": it holds binary data (NUL bytes), not tablature text.")
                         .arg(shownName(path)));
    return false;
  }
  LoadedDocument loaded = loadDocument(bytes);
  bytes = std::string();
  setEditorUtf8(*editor_, std::move(loaded.text));
  fileName_ = path;
  untitledName_.clear();
  format_ = loaded.format;
  askBeforeSave_ = false;
  emit fileNameChanged(fileName_);
  emit documentReplaced();
  return true;
}

void DocumentCommands::openUnsaved(const QString& text, const QString& name) {
  setEditorText(*editor_, text);
  fileName_.clear();
  untitledName_ = name;
  format_ = DocumentFormat{};
  askBeforeSave_ = false;
  editor_->document()->setModified(true);
  emit fileNameChanged(fileName_);
  emit documentReplaced();
}

void DocumentCommands::openRecovered(const QString& text, const QString& path) {
  openUnsaved(text);
  if (path.isEmpty()) {
    emit fileNameChanged(fileName_);
    return;
  }
  // Saved as the file was written (encoding, line ends) when it can still be read.
  QByteArray bytes;
  if (readWholeFile(path, kMaxDocumentBytes, &bytes).isEmpty()) {
    format_ = loadDocument(std::string_view(bytes.constData(), bytes.size())).format;
  }
  fileName_ = path;
  askBeforeSave_ = true;
  emit fileNameChanged(fileName_);
}

bool DocumentCommands::save() {
  if (fileName_.isEmpty()) return saveAs();
  if (askBeforeSave_ &&
      !dialogs_.askYesNo(parentWindow_, tr("This text was restored after Pulsewright ended "
                                           "without saving it. Save it over \"%1\"?")
                                            .arg(shownName(fileName_)))) {
    return saveAs();
  }
  return saveToFile(fileName_);
}

bool DocumentCommands::saveAs() {
  QString path = dialogs_.saveFileName(parentWindow_);
  if (path.isEmpty()) return false;
  // A name typed without an extension is a drum tablature file.
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".tab");
  return saveToFile(path);
}

bool DocumentCommands::saveToFile(const QString& path) {
  // A text still loading is saved as it is, unchanged, without waiting for the editor.
  const SavedDocument saved = saveDocument(editorTextToRead(*editor_).toStdString(), format_);
  const QString reason = writeWholeFile(
      path, QByteArray(saved.bytes.data(), static_cast<qsizetype>(saved.bytes.size())));
  if (!reason.isEmpty()) {
    dialogs_.message(parentWindow_, tr("Cannot save \"%1\": %2.").arg(shownName(path), reason));
    return false;
  }
  fileName_ = path;
  format_ = saved.format;
  askBeforeSave_ = false;
  editor_->document()->setModified(false);
  emit fileNameChanged(fileName_);
  return true;
}

void DocumentCommands::printTo(QPrinter& printer, const QString& fontFamily) const {
  QTextDocument document;
  QFont font = document.defaultFont();
  font.setFamily(fontFamily);
  document.setDefaultFont(font);
  document.setPlainText(editorTextToRead(*editor_) + QLatin1Char('\n'));
  document.print(&printer);
}

void DocumentCommands::print(const QString& fontFamily) {
  const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
  if (defaultPrinter.isNull()) return;
  QPrinter printer(defaultPrinter);
  if (!printer.isValid()) return;
  printTo(printer, fontFamily);
}

QString DocumentCommands::exportNameWith(const QString& suffix) const {
  if (fileName_.isEmpty()) return {};
  const QFileInfo document(fileName_);
  return document.dir().filePath(document.completeBaseName() + suffix);
}

void DocumentCommands::exportPdf(const QString& fontFamily) {
  QString path = dialogs_.exportFileName(parentWindow_, tr("Export PDF"), tr("PDF files (*.pdf)"),
                                         exportNameWith(".pdf"));
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
  // Printed aside and renamed into place, by the rules every output follows: never over
  // the document, a device written directly, a link's target replaced.
  OutputFile output;
  std::string reason;
  if (!output.open(QFile::encodeName(path).toStdString(),
                   {QFile::encodeName(fileName_).toStdString()}, &reason)) {
    dialogs_.message(
        parentWindow_,
        tr("Cannot write \"%1\": %2.").arg(shownName(path), QString::fromLocal8Bit(reason)));
    return;
  }
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QFile::decodeName(output.writingPath().c_str()));
  printTo(printer, fontFamily);
  if (!output.commit(&reason)) {
    dialogs_.message(
        parentWindow_,
        tr("Cannot write \"%1\": %2.").arg(shownName(path), QString::fromLocal8Bit(reason)));
    return;
  }
  emit exported(path);
}

}  // namespace pulsewright
