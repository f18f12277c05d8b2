#pragma once
// A copy of unsaved editor text kept in a recovery file, so that a crash, a power loss
// or a signal costs at most a minute of typing. The copy is written every minute while
// the text has unsaved changes and removed once the text is saved or the changes are
// given up.

#include <QObject>
#include <QString>
#include <optional>

class QPlainTextEdit;
class QTimer;

namespace pulsewright {

class DocumentRecovery : public QObject {
  Q_OBJECT

 public:
  // An empty `filePath` keeps no copy.
  DocumentRecovery(QPlainTextEdit& editor, QString filePath, int intervalMs = 60000,
                   QObject* parent = nullptr);

  // The text a previous run left behind, if any.
  std::optional<QString> leftBehind() const;
  // Writes the copy now when the text has unsaved changes; false when it could not be
  // written.
  bool keepNow();
  // Removes the copy.
  void discard();

 private:
  QPlainTextEdit& editor_;
  QString filePath_;
  QTimer* timer_;
};

}  // namespace pulsewright
