#pragma once
// The Midi Device and Midi Channel menus and the sound device list: what the system has
// now, the choices made, and those choices remembered for the next start.

#include <QObject>
#include <array>

#include "midi/MidiMenus.h"

class QAction;
class QComboBox;
class QMenu;
class QMenuBar;
class QString;
class QWidget;

namespace pulsewright {

class MidiPort;
class SamplePlayer;
class SettingsStore;

class DeviceMenus : public QObject {
  Q_OBJECT
 public:
  // `port`, `samples` and `settings` must outlive the menus; the sound device list is a
  // child of `listParent`.
  DeviceMenus(MidiPort& port, SamplePlayer& samples, SettingsStore& settings, QWidget* listParent);

  // Adds the Midi Device and Midi Channel menus to `bar`.
  void addMenus(QMenuBar* bar);
  QMenu* deviceMenu() const { return deviceMenu_; }
  QMenu* channelMenu() const { return channelMenu_; }
  QComboBox* soundDevices() const { return soundDevices_; }

  // Start-up: the sound devices, entry 0 selected.
  void listSoundDevices();
  // Start-up: the MIDI menus with the mapper open on channel "1", then the devices chosen
  // in the last run where the system still has them.
  void listMidiDevices();
  // The device lists as the system has them now, the choices kept (menus about to open).
  void refresh();
  // A click on entry `index` of either menu.
  void pickDevice(int index);
  void pickChannel(int index);

 private:
  void showMenus();
  void restoreChoices();
  void remember(const char* key, const QString& value);

  MidiPort& port_;
  SamplePlayer& samples_;
  SettingsStore& settings_;
  MidiMenus menus_;
  QComboBox* soundDevices_ = nullptr;
  QMenu* deviceMenu_ = nullptr;
  QMenu* channelMenu_ = nullptr;
  std::array<QAction*, kDeviceMenuItems> device_{};
  std::array<QAction*, kChannelMenuItems> chan_{};
};

}  // namespace pulsewright
