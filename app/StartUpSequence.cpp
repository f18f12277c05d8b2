#include "app/StartUpSequence.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QTimer>

#include "app/DocumentRecovery.h"
#include "app/Form1.h"
#include "app/SignalWatcher.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "platform/qt/UserDialogs.h"
#include "settings/SettingsStore.h"

namespace pulsewright {

namespace {
constexpr char kWindowSection[] = "Window";
}  // namespace

StartUpSequence::StartUpSequence(QMainWindow& window, const AppServices& services,
                                 DocumentRecovery& recovery, EditorCommands& editor,
                                 std::function<int(int)> twips)
    : QObject(&window),
      window_(window),
      services_(services),
      recovery_(recovery),
      editor_(editor),
      twips_(std::move(twips)) {
  splashTimer_ = new QTimer(this);
  splashTimer_->setSingleShot(true);
  splashTimer_->setInterval(services_.splashMilliseconds);
  connect(splashTimer_, &QTimer::timeout, this, &StartUpSequence::splashOver);
}

int StartUpSequence::run(Form1& form) {
  SignalWatcher watcher;
  bool signalled = false;
  QObject::connect(&watcher, &SignalWatcher::received, &form, [&form, &signalled] {
    signalled = true;
    form.quitWithoutAsking();
    // Every event loop ends, a question's too (quit() would wait for the main one).
    QApplication::exit(0);
  });
  form.startUp();
  // A signal during start-up (the restore question without a splash) ended the question's
  // own event loop, before the main one began.
  if (signalled) return 0;
  return QApplication::exec();
}

void StartUpSequence::showSplash() {
  window_.hide();
  if (services_.splashMilliseconds <= 0) return;
  splash_ = new SplashWindow(twips_(5610), twips_(6900));
  // A click or a key ends it early, once the start-up has finished.
  connect(splash_, &SplashWindow::dismissed, this, &StartUpSequence::splashOver,
          Qt::QueuedConnection);
  splash_->show();
  splashTimer_->start();
}

void StartUpSequence::closeSplash() {
  splashTimer_->stop();
  if (splash_) splash_->close();
  delete splash_;
}

void StartUpSequence::splashOver() {
  closeSplash();
  if (window_.isVisible()) return;
  const QString place = services_.settings.GetSetting(kWindowSection, "Geometry", {});
  if (!place.isEmpty()) window_.restoreGeometry(QByteArray::fromBase64(place.toLatin1()));
  window_.show();
  offerRecovery();
}

void StartUpSequence::rememberPlace() {
  // Not being able to store it is no reason to bother the user.
  services_.settings.SaveSetting(kWindowSection, "Geometry",
                                 QString::fromLatin1(window_.saveGeometry().toBase64()));
}

void StartUpSequence::offerRecovery() {
  // Each copy in turn, until one is restored; the others stay for the next start.
  for (const DocumentRecovery::Copy& copy : recovery_.leftBehind()) {
    const QString of = copy.originalPath.isEmpty()
                           ? tr("Text")
                           : tr("Text of \"%1\"").arg(QFileInfo(copy.originalPath).fileName());
    const bool restore = services_.dialogs.askYesNo(
        &window_, of + tr(" that was not saved when Pulsewright last ended has been kept. "
                          "Restore it?"));
    // A signal while the question showed: the program ends, the copy stays.
    if (exiting_) return;
    if (!restore) {
      recovery_.decline(copy);
      continue;
    }
    // Under the file it came from, whatever was opened at start-up; Save asks first. A
    // file whose folder has gone, or named only relative to a folder not known (an
    // earlier build's copy), is not saved into some other folder: the text comes back as
    // a new document.
    QString path = copy.originalPath;
    const QFileInfo original(path);
    if (!path.isEmpty() && original.isRelative()) {
      services_.dialogs.message(
          &window_, tr("The folder of \"%1\" was not kept: the text is restored as a new "
                       "document.")
                        .arg(path));
      path.clear();
    } else if (!path.isEmpty() && !original.absoluteDir().exists()) {
      services_.dialogs.message(
          &window_,
          tr("The folder of \"%1\" no longer exists: the text is restored as a new document.")
              .arg(QDir::toNativeSeparators(path)));
      path.clear();
    }
    editor_.documents().openRecovered(copy.text, path);
    recovery_.keepNow();
    recovery_.take(copy);
    break;
  }
  recovery_.releaseOffered();
}

void StartUpSequence::quitWithoutAsking() {
  recovery_.keepNow();
  bySignal_ = true;
  exiting_ = true;
  closeSplash();
  window_.close();
}

}  // namespace pulsewright
