#include "app/DeviceMenus.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <algorithm>
#include <functional>

#include "app/PortChoiceMenu.h"
#include "midi/MidiPort.h"
#include "platform/MidiInput.h"
#include "playback/SamplePlayer.h"
#include "settings/SettingsStore.h"

namespace pulsewright {

namespace {

constexpr char kDevicesSection[] = "Devices";

// The sound device list, asked for again each time it drops down.
class RefreshingComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> beforePopup;
  void showPopup() override {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
  }
};

}  // namespace

DeviceMenus::DeviceMenus(MidiPort& port, SamplePlayer& samples, SettingsStore& settings,
                         MidiInputService* inputs, QWidget* listParent)
    : QObject(listParent), port_(port), samples_(samples), settings_(settings), inputs_(inputs) {
  auto* list = new RefreshingComboBox(listParent);
  list->beforePopup = [this] { refresh(); };
  soundDevices_ = list;
}

void DeviceMenus::addMenus(QMenuBar* bar) {
  deviceMenu_ = bar->addMenu("Midi Device");
  // A device started after the program (a JACK port) shows the next time the menu opens.
  connect(deviceMenu_, &QMenu::aboutToShow, this, &DeviceMenus::refresh);
  for (int i = 0; i < kDeviceMenuItems; ++i) {
    QAction* a = deviceMenu_->addAction(QString());
    a->setCheckable(true);
    a->setVisible(i == 0);
    a->setEnabled(i == 0);
    connect(a, &QAction::triggered, this, [this, i] { pickDevice(i); });
    device_[static_cast<std::size_t>(i)] = a;
  }
  channelMenu_ = bar->addMenu("Midi Channel");
  for (int i = 0; i < kChannelMenuItems; ++i) {
    QAction* a = channelMenu_->addAction(QString::number(i + 1));
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, i] { pickChannel(i); });
    chan_[static_cast<std::size_t>(i)] = a;
  }
  addInputMenu(bar);
}

void DeviceMenus::addInputMenu(QMenuBar* bar) {
  inputMenu_ = bar->addMenu("Midi Input");
  // A kit plugged in after the start shows the next time the menu opens.
  connect(inputMenu_, &QMenu::aboutToShow, this, &DeviceMenus::listInputs);
  listInputs();
}

std::string DeviceMenus::input() const {
  return settings_.GetSetting(kDevicesSection, "MidiInput", {}).toStdString();
}

void DeviceMenus::pickInput(const std::string& name) {
  remember("MidiInput", QString::fromStdString(name));
  // Not listed afresh: the action clicked is still being handled.
  if (inputMenu_ == nullptr) return;
  for (QAction* a : inputMenu_->actions()) {
    if (a->isCheckable()) a->setChecked(a->text().toStdString() == name);
  }
}

void DeviceMenus::listInputs() {
  PortChoices choices;
  if (inputs_ != nullptr) choices.names = inputs_->inputNames();
  choices.chosen = input();
  choices.emptyCaption = "(no MIDI inputs)";
  fillPortChoices(inputMenu_, choices, [this](const std::string& name) { pickInput(name); });
}

void DeviceMenus::listSoundDevices() {
  // The sample ring starts at slot 0.
  samples_.listDevices();
  for (const std::string& name : samples_.SoundDeviceList()) {
    soundDevices_->addItem(QString::fromStdString(name));
  }
  soundDevices_->setCurrentIndex(soundDevices_->count() > 0 ? 0 : -1);
  connect(soundDevices_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int entry) {
    if (entry < 0) return;
    samples_.selectAudioDevice(entry);
    remember("SoundDevice", soundDevices_->itemText(entry));
  });
}

void DeviceMenus::listMidiDevices() {
  menus_ = MidiMenus(port_.listDevices());
  showMenus();
  restoreChoices();
}

void DeviceMenus::pickDevice(int index) {
  menus_.pickDevice(index);
  port_.openDevice(MidiMenus::deviceOfItem(index));
  showMenus();
  if (index >= 0 && index < kDeviceMenuItems) {
    remember("MidiDevice",
             QString::fromStdString(menus_.devices()[static_cast<std::size_t>(index)].caption));
  }
}

void DeviceMenus::pickChannel(int index) {
  menus_.pickChannel(index);
  port_.selectChannel(static_cast<std::int16_t>(index));
  showMenus();
  if (index >= 0 && index < kChannelMenuItems) remember("MidiChannel", QString::number(index + 1));
}

void DeviceMenus::remember(const char* key, const QString& value) {
  // Not being able to store a choice is no reason to bother the user: it holds until exit.
  settings_.SaveSetting(kDevicesSection, key, value);
}

void DeviceMenus::restoreChoices() {
  const std::string device = settings_.GetSetting(kDevicesSection, "MidiDevice", {}).toStdString();
  const DeviceMenu& devices = menus_.devices();
  for (int i = 1; i < kDeviceMenuItems && !device.empty(); ++i) {
    const MenuItem& item = devices[static_cast<std::size_t>(i)];
    if (item.visible && item.enabled && item.caption == device) {
      pickDevice(i);
      break;
    }
  }
  bool isNumber = false;
  const int channel = settings_.GetSetting(kDevicesSection, "MidiChannel", {}).toInt(&isNumber);
  if (isNumber && channel >= 1 && channel <= kChannelMenuItems) pickChannel(channel - 1);
  const QString sound = settings_.GetSetting(kDevicesSection, "SoundDevice", {});
  const int entry = sound.isEmpty() ? -1 : soundDevices_->findText(sound);
  if (entry >= 0) soundDevices_->setCurrentIndex(entry);
}

void DeviceMenus::refresh() {
  // The MIDI menu: the same device and channel checked, found by name.
  std::string open;
  for (const MenuItem& item : menus_.devices()) {
    if (item.checked) open = item.caption;
  }
  int channel = 0;
  for (int i = 0; i < kChannelMenuItems; ++i) {
    if (menus_.channels()[static_cast<std::size_t>(i)].checked) channel = i;
  }
  MidiMenus menus(port_.deviceNames());
  int picked = -1;
  for (int i = 0; i < kDeviceMenuItems; ++i) {
    const MenuItem& item = menus.devices()[static_cast<std::size_t>(i)];
    if (item.visible && item.caption == open) picked = i;
  }
  menus.pickDevice(picked);
  menus.pickChannel(channel);
  menus_ = menus;
  showMenus();

  // The sound devices, the one in use still selected.
  const std::vector<std::string> names = samples_.refreshDevices();
  const QSignalBlocker quiet(soundDevices_);
  soundDevices_->clear();
  for (const std::string& name : names) soundDevices_->addItem(QString::fromStdString(name));
  soundDevices_->setCurrentIndex(names.empty() ? -1 : samples_.selectedAudioDevice());
}

void DeviceMenus::showMenus() {
  const DeviceMenu& devices = menus_.devices();
  for (int i = 0; i < kDeviceMenuItems; ++i) {
    const MenuItem& item = devices[static_cast<std::size_t>(i)];
    QAction* a = device_[static_cast<std::size_t>(i)];
    a->setText(QString::fromStdString(item.caption));
    a->setVisible(item.visible);
    a->setEnabled(item.enabled);
    a->setChecked(item.checked);
  }
  const ChannelMenu& channels = menus_.channels();
  for (int i = 0; i < kChannelMenuItems; ++i) {
    chan_[static_cast<std::size_t>(i)]->setChecked(channels[static_cast<std::size_t>(i)].checked);
  }
}

}  // namespace pulsewright
