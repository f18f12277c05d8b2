#include "editor/DocumentLoader.h"

#include <QPlainTextDocumentLayout>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QThread>
#include <utility>

namespace pulsewright {

DocumentLoader::DocumentLoader(QObject* receiver, int serial, std::function<QString()> text,
                               Settings settings, std::function<void()> startHook,
                               std::function<void(int serial)> ready)
    : serial_(serial),
      thread_([this, receiver, text = std::move(text), settings = std::move(settings),
               startHook = std::move(startHook), ready = std::move(ready),
               target = receiver->thread()]() mutable {
        if (startHook) startHook();
        QString whole = std::exchange(text, nullptr)();
        document_ = build(std::move(whole), settings);
        document_->moveToThread(target);
        QMetaObject::invokeMethod(
            receiver, [ready = std::move(ready), serial = serial_] { ready(serial); },
            Qt::QueuedConnection);
      }) {}

DocumentLoader::~DocumentLoader() {
  if (thread_.joinable()) thread_.join();
}

std::unique_ptr<QTextDocument> DocumentLoader::take() {
  if (thread_.joinable()) thread_.join();
  return std::move(document_);
}

std::unique_ptr<QTextDocument> DocumentLoader::build(QString text, const Settings& settings) {
  auto document = std::make_unique<QTextDocument>();
  document->setDefaultFont(settings.font);
  document->setDefaultTextOption(settings.option);
  document->setDocumentMargin(settings.margin);
  document->setDocumentLayout(new QPlainTextDocumentLayout(document.get()));
  // On the document while it is empty, so it colours nothing until lines come into view.
  new TablatureHighlighter(document.get(), settings.styles);
  document->setUndoRedoEnabled(false);
  {
    const QSignalBlocker quiet(document.get());
    document->setPlainText(text);
  }
  text = QString();
  makeLineLayouts(*document);
  document->setUndoRedoEnabled(true);
  document->setModified(false);
  return document;
}

// The view makes a line layout for every block when it takes the document: made here,
// the window's thread only clears them. (Made on several threads they came no sooner on a
// busy two-core machine, and the threads' own heaps held some 60 MB more once the song
// played.)
void DocumentLoader::makeLineLayouts(const QTextDocument& document) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    block.layout();
  }
}

}  // namespace pulsewright
