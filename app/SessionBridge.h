#pragma once
// The window on its document session: the editor's text goes to the session each time
// the editor would check it, and each result comes back on the window's thread, to the
// editor's underlines and problems list first, then to the window (the staff, the live
// edit). No view compiles the text on its own.

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>

#include "session/DocumentSession.h"

namespace pulsewright {

class TablatureEditor;

class SessionBridge : public QObject {
  Q_OBJECT
 public:
  using Receiver = std::function<void(const std::shared_ptr<const SessionResult>& result)>;

  // `session` and `editor` must outlive the bridge. Results reach `receiver` on the
  // thread that made the bridge, the newest only, each once.
  SessionBridge(DocumentSession& session, TablatureEditor& editor, Receiver receiver,
                QObject* parent = nullptr);
  // No result is handed on once the bridge goes, not even one already on its way.
  ~SessionBridge() override;

  // The generation of the newest text or options handed to the session.
  std::uint64_t latestGeneration() const { return latest_; }
  // Compiles the text again with these options; the result comes back as any other.
  void setOptions(SessionOptions options);

 private:
  struct Guard;
  void take(const QString& text, qint64 revision, bool now);
  void deliver(const std::shared_ptr<const SessionResult>& result);
  void assertOwnThread() const;

  DocumentSession& session_;
  TablatureEditor& editor_;
  Receiver receiver_;
  std::shared_ptr<Guard> guard_;
  // The editor's revision of each text handed over, by its generation.
  std::map<std::uint64_t, qint64> revisions_;
  std::uint64_t latest_ = 0;
  qint64 latestRevision_ = -1;
  std::uint64_t delivered_ = 0;  // the generation handed on last
};

}  // namespace pulsewright
