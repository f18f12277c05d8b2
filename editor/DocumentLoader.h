#pragma once
// Lays a large text into a document of its own, on a thread, with a highlighter that has
// coloured nothing yet; both move to the receiver's thread when the document is whole.
// Laying out the lines is what takes the time: Qt's own setPlainText on a 16 MB text
// holds the window for seconds.

#include <QFont>
#include <QObject>
#include <QString>
#include <QTextDocument>
#include <QTextOption>
#include <functional>
#include <memory>
#include <thread>

#include "editor/TablatureHighlighter.h"

namespace pulsewright {

class DocumentLoader {
 public:
  // How the editor lays out and colours its text.
  struct Settings {
    QFont font;
    QTextOption option;
    qreal margin = 0;
    LineStyles styles;
  };

  // `text` makes the text on the loading thread, so that converting it holds up nothing;
  // `startHook` (may be empty) runs there first. When the document is whole, `ready` is
  // called with `serial` on `receiver`'s thread (dropped if the receiver went).
  DocumentLoader(QObject* receiver, int serial, std::function<QString()> text, Settings settings,
                 std::function<void()> startHook, std::function<void(int serial)> ready);
  // Waits for the loading thread; a document not taken is dropped.
  ~DocumentLoader();
  DocumentLoader(const DocumentLoader&) = delete;
  DocumentLoader& operator=(const DocumentLoader&) = delete;

  int serial() const { return serial_; }
  // Waits for the document; the caller owns it then.
  std::unique_ptr<QTextDocument> take();

 private:
  static std::unique_ptr<QTextDocument> build(QString text, const Settings& settings);
  static void makeLineLayouts(const QTextDocument& document);

  int serial_;
  std::unique_ptr<QTextDocument> document_;
  std::thread thread_;  // last: starts when everything it uses exists
};

}  // namespace pulsewright
