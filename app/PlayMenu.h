#pragma once
// The Play menu and the transport toolbar: Play, Pause and Stop, the loops, the count-in,
// the metronome, the tempo, the speed trainer and the voices muted or soloed, each wired
// to the transport and showing how it stands.
// Play, Pause and Stop themselves are the window's buttons; the menu's keys follow them.

#include <QObject>
#include <QString>
#include <map>

#include "playback/Practice.h"

class QAbstractButton;
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
  // Play, Pause and Stop in the menu (F5, F6, F7) press the window's buttons while these
  // are enabled; Pause also plays on from a pause. syncKeys() enables them as the buttons
  // are, after every change of the buttons.
  void followButtons(QAbstractButton* play, QAbstractButton* pause, QAbstractButton* stop);
  void syncKeys();
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
  QAction* playSong_ = nullptr;
  QAction* pauseSong_ = nullptr;
  QAction* stopSong_ = nullptr;
  QAbstractButton* play_ = nullptr;
  QAbstractButton* pause_ = nullptr;
  QAbstractButton* stop_ = nullptr;
};

}  // namespace pulsewright
