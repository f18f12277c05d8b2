#pragma once
// File > Print: the print dialog, always (it can print to a PDF file when there is no
// printer), then the document on the printer chosen there. What goes on the page is
// decided here, apart from the window, so other kinds of pages can be offered.

#include <QObject>
#include <functional>

class QPrinter;
class QWidget;

namespace pulsewright {

class DocumentCommands;

class PrintCommand : public QObject {
  Q_OBJECT
 public:
  // Shows the print dialog for `printer`; false when the user cancels.
  using AskPrinter = std::function<bool(QPrinter& printer, QWidget* parent)>;

  PrintCommand(DocumentCommands& documents, std::function<QString()> fontFamily,
               QWidget* parentWindow, QObject* parent = nullptr);

  // The tests answer the dialog themselves.
  void setAskPrinter(AskPrinter ask) { ask_ = std::move(ask); }

 public slots:
  void print();

 signals:
  // Printing failed; `message` says why, for the status line.
  void failed(const QString& message);

 private:
  DocumentCommands& documents_;
  std::function<QString()> fontFamily_;
  QWidget* parentWindow_;
  AskPrinter ask_;
};

}  // namespace pulsewright
