#pragma once
// File > Export Audio: the song rendered to a file on a worker thread, with a progress
// dialog that can cancel. The worker never touches a widget: the dialog polls its
// progress on the user-interface thread.

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

#include "playback/SongRenderer.h"

class QProgressDialog;
class QTimer;
class QWidget;

namespace pulsewright {

class AudioExport : public QObject {
  Q_OBJECT
 public:
  // Starts rendering `song` into `path` at once; the dialog shows over `parent`.
  AudioExport(QWidget* parent, std::shared_ptr<const Song> song, const QString& path,
              RenderSettings settings = {});
  ~AudioExport() override;

  bool running() const { return !done_.load(); }
  // What the render came to (valid once finished() has been emitted).
  const RenderResult& result() const { return result_; }
  // The line for the user: where the file went, or why there is none.
  QString summary() const;

 signals:
  void finished();

 private:
  void poll();

  std::shared_ptr<const Song> song_;
  QString path_;
  QProgressDialog* dialog_ = nullptr;
  QTimer* timer_ = nullptr;
  std::atomic<int> permille_{0};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> done_{false};
  RenderResult result_;
  std::thread worker_;
};

}  // namespace pulsewright
