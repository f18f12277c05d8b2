#include "notation/ui/NotationFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <optional>

#include "fileio/OutputFile.h"
#include "fileio/QtFileAccess.h"
#include "notation/Engraving.h"
#include "notation/MusicXml.h"
#include "notation/ui/StaffPainter.h"
#include "platform/qt/UserDialogs.h"
#include "text/DocumentText.h"

namespace pulsewright {

bool exportMusicXml(QWidget* parent, UserDialogs& dialogs, const QString& suggested,
                    const QString& documentText, const DocumentCompiler& compile,
                    QString* written) {
  QString path =
      dialogs.exportFileName(parent, QObject::tr("Export MusicXML"),
                             QObject::tr("MusicXML files (*.musicxml *.xml)"), suggested);
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".musicxml");
  const std::string text = joinLinesWithCrLf(documentText.toStdString());
  const CompiledDocument compiled = compile(text);
  if (!compiled.song->playable()) {
    dialogs.message(parent, QObject::tr("There is nothing to play: no score was written."));
    return false;
  }
  // Written measure by measure as it is made: a long song's score is never held whole.
  OutputFile file;
  std::string reason;
  Score score;
  if (!file.open(QFile::encodeName(path).toStdString(), {}, &reason) ||
      !streamMusicXml(
          {*compiled.song, compiled.metadata, text}, 10,
          [&](std::string_view bytes) { return file.write(bytes, &reason); }, &score) ||
      !file.commit(&reason)) {
    file.abort();
    dialogs.message(
        parent, QObject::tr("Cannot save \"%1\": %2.").arg(path, QString::fromStdString(reason)));
    return false;
  }
  QStringList notes;
  for (const std::string& warning : score.warnings) notes << QString::fromStdString(warning);
  if (score.samplesLeftOut > 0) {
    notes << QObject::tr("%n sample hit(s) left out: a drum score cannot hold samples.", nullptr,
                         score.samplesLeftOut);
  }
  if (!notes.isEmpty()) dialogs.message(parent, notes.join('\n'));
  if (written != nullptr) *written = path;
  return true;
}

namespace {

// The song's score, or a message and nothing when it does not play.
std::optional<Score> songScore(QWidget* parent, UserDialogs& dialogs, const QString& documentText,
                               const DocumentCompiler& compile) {
  bool playable = false;
  const std::string text = joinLinesWithCrLf(documentText.toStdString());
  Score score = scoreOfCompiled(compile(text), text, &playable);
  if (!playable) {
    dialogs.message(parent, QObject::tr("There is nothing to play, so no drum staves to print."));
    return std::nullopt;
  }
  return score;
}

}  // namespace

bool exportStavesPdf(QWidget* parent, UserDialogs& dialogs, const QString& suggested,
                     const QString& documentText, const DocumentCompiler& compile,
                     QString* written) {
  QString path = dialogs.exportFileName(parent, QObject::tr("Export PDF as Drum Staves"),
                                        QObject::tr("PDF files (*.pdf)"), suggested);
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
  const std::optional<Score> score = songScore(parent, dialogs, documentText, compile);
  if (!score) return false;
  {
    // The PDF engine says nothing when it cannot write: ask the file first.
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
      dialogs.message(parent,
                      QObject::tr("Cannot save \"%1\": %2.").arg(path, probe.errorString()));
      return false;
    }
  }
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(path);
  printer.setDocName(QString::fromStdString(score->title));
  printStaves(printer, *score);
  if (written != nullptr) *written = path;
  return true;
}

void printStavesWithDialog(QWidget* parent, UserDialogs& dialogs, const QString& documentText,
                           const DocumentCompiler& compile) {
  const std::optional<Score> score = songScore(parent, dialogs, documentText, compile);
  if (!score) return;
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QPrinterInfo::availablePrinters().isEmpty()
                            ? QObject::tr("Print Drum Staves (no printer found: print to a file)")
                            : QObject::tr("Print Drum Staves"));
  if (dialog.exec() != QDialog::Accepted) return;
  printStaves(printer, *score);
  if (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted) {
    dialogs.message(parent, QObject::tr("Printing the drum staves failed."));
  }
}

void printStaves(QPrinter& printer, const Score& score) {
  QPainter painter;
  if (!painter.begin(&printer)) return;
  const QRectF page = painter.viewport();
  const double space = page.width() / kPageSpacesAcross;
  const std::vector<Engraving> pages =
      engravePages(score, kPageSpacesAcross, page.height() / space);
  for (std::size_t p = 0; p < pages.size(); ++p) {
    if (p > 0) printer.newPage();
    paintEngraving(painter, pages[p], QPointF(0, 0), space, Qt::black);
  }
  painter.end();
}

}  // namespace pulsewright
