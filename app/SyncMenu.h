#pragma once
// Settings > Sync: Follow JACK Transport, MIDI Clock Out and MIDI Clock In, each choice
// remembered (settings/SyncSettings.h). The port lists are read afresh each time their
// menu opens. MIDI clock out goes to the window's player at once and again at the next
// start; following the transport and a clock in act on the window's next Play (SyncPlay).

#include <QObject>
#include <memory>

#include "app/SyncPlay.h"
#include "settings/SyncSettings.h"

class QAction;
class QMenu;
class QMenuBar;

namespace pulsewright {

class MidiInputService;
class MidiOutputService;
class PortClockOutput;
class Transport;

class SyncMenu : public QObject {
  Q_OBJECT
 public:
  // Adds "Sync" to the menu bar's Settings menu and opens the remembered clock port.
  SyncMenu(QMenuBar* bar, MidiOutputService& midi, MidiInputService* input, SettingsStore& settings,
           Transport& transport, QObject* parent);
  ~SyncMenu() override;

  QMenu* menu() const { return menu_; }
  QMenu* clockOutMenu() const { return clockOut_; }
  QMenu* clockInMenu() const { return clockIn_; }
  const SyncSettings& choices() const { return choices_; }
  // Sends MIDI clock to the output port named `name`; "" for none. False (and none) when
  // no such port opens.
  bool chooseClockOut(const QString& name);
  // Where the window's notes go, asked at each Play that follows the JACK transport.
  void setPlaysTo(std::function<SyncPlay::PlaysTo()> playsTo) {
    play_->setPlaysTo(std::move(playsTo));
  }

 private:
  void fillClockOut();
  void fillClockIn();
  void closeClockOut();
  // A follow choice changed: what Play followed lets go, the song it played stopping.
  void followChanged();

  MidiOutputService& midi_;
  MidiInputService* input_;
  SettingsStore& settings_;
  Transport& transport_;
  SyncSettings choices_;
  QMenu* menu_ = nullptr;
  QMenu* clockOut_ = nullptr;
  QMenu* clockIn_ = nullptr;
  QAction* followTransport_ = nullptr;
  std::unique_ptr<PortClockOutput> clock_;
  unsigned clockHandle_ = 0;
  SyncPlay* play_ = nullptr;
};

}  // namespace pulsewright
