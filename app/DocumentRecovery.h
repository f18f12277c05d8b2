#pragma once
// A copy of unsaved editor text kept in a recovery file, so that a crash, a power loss
// or a signal costs at most a minute of typing. The copy is written every minute while
// the text has unsaved changes and removed once the text is saved or the changes are
// given up; nothing else removes it.
//
// Every running window keeps its own copy in the recovery folder, under a name no other
// window uses, and holds a lock on it (a lock file next to it) for as long as it runs. A
// copy whose lock is free was left by a window that ended without saving: the next start
// offers it. The lock goes with the process, however it ends.

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <vector>

class QPlainTextEdit;
class QTimer;

namespace pulsewright {

class DocumentRecovery : public QObject {
  Q_OBJECT

 public:
  // Text left behind by a window that no longer runs.
  struct Copy {
    QString file;          // the copy itself
    QString text;          // the unsaved text
    QString originalPath;  // the document's file then, absolute; empty for a new document
  };

  // An empty `folder` keeps no copy.
  DocumentRecovery(QPlainTextEdit& editor, QString folder, int intervalMs = 60000,
                   QObject* parent = nullptr);
  ~DocumentRecovery() override;

  // The file of the document in the editor, kept with the text (empty for a new one).
  void setDocumentPath(std::function<QString()> path);

  // The copies left behind, oldest first. Each stays locked by this window until it is
  // taken, declined or released, so two windows starting together do not both offer it.
  std::vector<Copy> leftBehind();
  // The user took `copy` into the editor: it goes once this window's own copy holds it.
  void take(const Copy& copy);
  // The user declined `copy`: removed.
  void decline(const Copy& copy);
  // The copies offered but neither taken nor declined stay for the next start.
  void releaseOffered();

  // Writes the copy now when the text has unsaved changes; false when it could not be
  // written.
  bool keepNow();
  // Removes this window's copy.
  void discard();
  // This window's copy (it exists only while there is unsaved text).
  QString ownFile() const { return ownFile_; }

 private:
  void unlock(const QString& file, bool removeLockFile);

  QPlainTextEdit& editor_;
  QString folder_;
  QString ownFile_;
  int ownLock_ = -1;
  std::map<QString, int> offered_;  // copy -> its lock, held while offered
  std::function<QString()> documentPath_;
  QTimer* timer_;
};

}  // namespace pulsewright
