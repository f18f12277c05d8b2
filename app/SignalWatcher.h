#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the user-interface thread. The
// handler only writes the signal's number to a pipe; a socket notifier reads it there.

#include <QObject>

class QSocketNotifier;

namespace pulsewright {

class SignalWatcher : public QObject {
  Q_OBJECT

 public:
  // One at a time: it installs the process's handlers and restores the defaults when it
  // goes.
  explicit SignalWatcher(QObject* parent = nullptr);
  ~SignalWatcher() override;

 signals:
  void received(int signalNumber);

 private:
  void readPipe();

  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace pulsewright
