#include "app/PrintCommand.h"

#include <QFile>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "editor/DocumentCommands.h"

namespace pulsewright {

namespace {

bool runPrintDialog(QPrinter& printer, QWidget* parent) {
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QObject::tr("Print"));
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace

PrintCommand::PrintCommand(DocumentCommands& documents, std::function<QString()> fontFamily,
                           QWidget* parentWindow, QObject* parent)
    : QObject(parent),
      documents_(documents),
      fontFamily_(std::move(fontFamily)),
      parentWindow_(parentWindow),
      ask_(runPrintDialog) {}

void PrintCommand::print() {
  QPrinter printer(QPrinter::HighResolution);
  // With no printer the dialog offers a PDF file: named after the document, beside it.
  const QString pdf = documents_.exportNameWith(QStringLiteral(".pdf"));
  if (!pdf.isEmpty() && QPrinterInfo::availablePrinterNames().isEmpty()) {
    printer.setOutputFileName(pdf);
  }
  if (!ask_(printer, parentWindow_)) return;
  const QString file = printer.outputFileName();
  if (!file.isEmpty()) {
    // The PDF engine says nothing when it cannot write: ask the file first.
    QFile probe(file);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
      emit failed(tr("Printing failed: cannot write \"%1\": %2.")
                      .arg(QFileInfo(file).fileName(), probe.errorString()));
      return;
    }
  } else if (!printer.isValid()) {
    emit failed(
        tr("Printing failed: the printer \"%1\" is not available.").arg(printer.printerName()));
    return;
  }
  documents_.printTo(printer, fontFamily_());
  if (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted) {
    emit failed(tr("Printing failed on \"%1\".")
                    .arg(file.isEmpty() ? printer.printerName() : QFileInfo(file).fileName()));
  }
}

}  // namespace pulsewright
