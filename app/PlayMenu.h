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
class QMenuBar;
class QWidget;

namespace pulsewright {

class Recording;
class Transport;
class UserDialogs;
class TransportBar;

class PlayMenu : public QObject {
  Q_OBJECT
 public:
  // Adds the menu to `bar` and the toolbar to `window`; each action goes into `actions`
  // under its object name.
  PlayMenu(QMainWindow& window, QMenuBar* bar, Transport& transport,
           std::map<QString, QAction*>& actions);

  TransportBar* toolBar() const { return toolBar_; }
  // Record, Replace When Recording and Recording Latency...; Record itself is the
  // window's to wire: the Record action is returned.
  QAction* addRecording(Recording& recording, UserDialogs& dialogs, QWidget* dialogParent,
                        std::map<QString, QAction*>& actions);

 private:
  void showTempo();
  void addSpeedTrainer(QMenu* play, std::map<QString, QAction*>& actions);
  void chooseRamp(const TempoRamp& ramp);
  void addVoiceMenus(QMenu* play, std::map<QString, QAction*>& actions);

  QWidget* window_;  // where the speed trainer's questions show
  Transport& transport_;
  QMenu* menu_ = nullptr;
  QAction* loopSong_ = nullptr;
  QAction* trainerOff_ = nullptr;
  QAction* tempoLabel_ = nullptr;
  TransportBar* toolBar_ = nullptr;
};

}  // namespace pulsewright
