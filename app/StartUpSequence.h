#pragma once
// The main window's start and its end by signal: the splash window while the rest
// starts, the window shown where it stood last time, the offer of text a run left
// unsaved, and SIGTERM, SIGINT or SIGHUP, which end the program without a question and
// keep the unsaved text for the next start.

#include <QObject>
#include <QPointer>
#include <functional>

#include "app/AppServices.h"
#include "app/SplashWindow.h"

class QMainWindow;
class QTimer;

namespace pulsewright {

class DocumentRecovery;
class EditorCommands;
class Form1;

class StartUpSequence : public QObject {
  Q_OBJECT
 public:
  // `twips` converts a length in twips to pixels on the window's screen.
  StartUpSequence(QMainWindow& window, const AppServices& services, DocumentRecovery& recovery,
                  EditorCommands& editor, std::function<int(int)> twips);

  // main(): starts `form` and runs the program until the window closes or a signal
  // comes. Returns the exit status.
  static int run(Form1& form);

  // The splash window, when there is to be one; its time runs from now.
  void showSplash();
  // The splash's time is up, or a click ended it: the window shows where it stood last
  // time, then offers what a run left unsaved.
  void splashOver();
  SplashWindow* splash() const { return splash_; }
  // The window's place, for the next start.
  void rememberPlace();

  // Exit was chosen or a signal came: the window closes without asking again.
  bool exiting() const { return exiting_; }
  void setExiting() { exiting_ = true; }
  bool bySignal() const { return bySignal_; }
  // A signal: the text stays in the recovery file, the splash goes, the window closes.
  void quitWithoutAsking();

 private:
  void closeSplash();
  void offerRecovery();

  QMainWindow& window_;
  const AppServices& services_;
  DocumentRecovery& recovery_;
  EditorCommands& editor_;
  std::function<int(int)> twips_;
  QTimer* splashTimer_ = nullptr;
  QPointer<SplashWindow> splash_;
  bool exiting_ = false;
  bool bySignal_ = false;
};

}  // namespace pulsewright
