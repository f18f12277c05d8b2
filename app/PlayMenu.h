#pragma once
// The Play menu and the transport toolbar: Play, Pause and Stop, the loops, the count-in,
// the metronome, the tempo, the speed trainer and the voices muted or soloed, each wired
// to the transport and showing how it stands.
// Play, Pause and Stop themselves are the window's to wire.

#include <QObject>
#include <QString>
#include <map>

#include "playback/Practice.h"

class QAction;
class QMainWindow;
class QMenu;
class QWidget;
class QMenuBar;

namespace pulsewright {

class Transport;
class TransportBar;

class PlayMenu : public QObject {
  Q_OBJECT
 public:
  // Adds the menu to `bar` and the toolbar to `window`; each action goes into `actions`
  // under its object name.
  PlayMenu(QMainWindow& window, QMenuBar* bar, Transport& transport,
           std::map<QString, QAction*>& actions);

  TransportBar* toolBar() const { return toolBar_; }

 private:
  void showTempo();
  void addSpeedTrainer(QMenu* play, std::map<QString, QAction*>& actions);
  void chooseRamp(const TempoRamp& ramp);
  void addVoiceMenus(QMenu* play, std::map<QString, QAction*>& actions);

  QWidget* window_;  // where the speed trainer's questions show
  Transport& transport_;
  QAction* loopSong_ = nullptr;
  QAction* trainerOff_ = nullptr;
  QAction* tempoLabel_ = nullptr;
  TransportBar* toolBar_ = nullptr;
};

}  // namespace pulsewright
