#include "app/PlayMenu.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <cmath>

#include "app/Transport.h"
#include "app/TransportBar.h"

namespace pulsewright {

PlayMenu::PlayMenu(QMainWindow& window, QMenuBar* bar, Transport& transport,
                   std::map<QString, QAction*>& actions)
    : QObject(&window), transport_(transport) {
  // Function keys and Ctrl chords: nothing a user types into a grid. Ctrl+Alt+L (screen
  // lock) and Ctrl+Alt+arrows (workspaces) are the desktop's and never reach a window.
  QMenu* play = bar->addMenu("Play");
  auto add = [play, &actions](const char* name, const QString& caption,
                              const QKeySequence& shortcut, bool checkable = false) {
    QAction* a = play->addAction(caption);
    a->setObjectName(name);
    a->setShortcut(shortcut);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setCheckable(checkable);
    actions[name] = a;
    return a;
  };
  const char* icons[][3] = {
      {"PlaySong", "Play", "play"}, {"PauseSong", "Pause", "pause"}, {"StopSong", "Stop", "stop"}};
  const Qt::Key keys[] = {Qt::Key_F5, Qt::Key_F6, Qt::Key_F7};
  for (int i = 0; i < 3; ++i) {
    add(icons[i][0], icons[i][1], QKeySequence(keys[i]))
        ->setIcon(QIcon(QString(":/pulsewright/%1.png").arg(icons[i][2])));
  }
  play->addSeparator();
  QAction* loopSong = add("LoopSong", "Loop Song", QKeySequence("Ctrl+Shift+L"), true);
  QAction* loopPart = add("LoopPart", "Loop Part at Cursor", QKeySequence("Ctrl+Alt+P"), true);
  // One loop at a time.
  connect(loopSong, &QAction::toggled, this, [loopPart](bool on) {
    if (on) loopPart->setChecked(false);
  });
  connect(loopPart, &QAction::toggled, this, [loopSong](bool on) {
    if (on) loopSong->setChecked(false);
  });
  auto loop = [this, loopSong, loopPart] {
    transport_.setLoop(loopPart->isChecked()   ? Transport::Loop::kPartAtCursor
                       : loopSong->isChecked() ? Transport::Loop::kSong
                                               : Transport::Loop::kNone);
  };
  connect(loopSong, &QAction::toggled, this, loop);
  connect(loopPart, &QAction::toggled, this, loop);
  connect(add("CountIn", "Count-in", QKeySequence("Ctrl+Alt+C"), true), &QAction::toggled,
          &transport_, &Transport::setCountIn);
  QAction* metronome = add("Metronome", "Metronome", QKeySequence("Ctrl+Alt+M"), true);
  connect(metronome, &QAction::toggled, &transport_, &Transport::setMetronome);
  play->addSeparator();
  connect(add("Faster", "Faster", QKeySequence("Ctrl+Shift+Up")), &QAction::triggered, this,
          [this] { transport_.setTempoScale(transport_.tempoScale() + 0.05); });
  connect(add("Slower", "Slower", QKeySequence("Ctrl+Shift+Down")), &QAction::triggered, this,
          [this] { transport_.setTempoScale(transport_.tempoScale() - 0.05); });
  connect(add("NormalTempo", "Written Tempo", QKeySequence("Ctrl+Alt+0")), &QAction::triggered,
          this, [this] { transport_.setTempoScale(1.0); });
  tempoLabel_ = new QAction(play);
  tempoLabel_->setEnabled(false);
  play->addAction(tempoLabel_);

  toolBar_ = new TransportBar({actions["PlaySong"], actions["PauseSong"], actions["StopSong"]},
                              {loopSong, metronome}, &window);
  window.addToolBar(Qt::TopToolBarArea, toolBar_);
  connect(toolBar_, &TransportBar::tempoAsked, &transport_, &Transport::setTempo);
  connect(&transport_, &Transport::tempoChanged, this, &PlayMenu::showTempo);
  connect(&transport_, &Transport::positionChanged, toolBar_, &TransportBar::showPosition);
  transport_.setTempoScale(1.0);
}

void PlayMenu::showTempo() {
  tempoLabel_->setText(QString("Tempo: %1 %").arg(std::lround(transport_.tempoScale() * 100.0)));
  toolBar_->showTempo(transport_.tempo());
}

}  // namespace pulsewright
