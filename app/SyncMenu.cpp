#include "app/SyncMenu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

#include "app/PortChoiceMenu.h"
#include "app/Transport.h"
#include "midi/PortClockOutput.h"
#include "platform/MidiInput.h"

namespace pulsewright {

namespace {

QMenu* settingsMenuOf(QMenuBar* bar) {
  for (QAction* action : bar->actions()) {
    if (action->menu() != nullptr && action->text() == "Settings") return action->menu();
  }
  return bar->addMenu("Settings");
}

}  // namespace

SyncMenu::SyncMenu(QMenuBar* bar, MidiOutputService& midi, MidiInputService* input,
                   SettingsStore& settings, Transport& transport, QObject* parent)
    : QObject(parent),
      midi_(midi),
      input_(input),
      settings_(settings),
      transport_(transport),
      choices_(SyncSettings::load(settings)) {
  play_ = new SyncPlay(choices_, transport_, input_, this);
  menu_ = settingsMenuOf(bar)->addMenu("Sync");
  menu_->setObjectName("Sync");
  followTransport_ = menu_->addAction("Follow JACK Transport");
  followTransport_->setObjectName("FollowJackTransport");
  followTransport_->setCheckable(true);
  followTransport_->setChecked(choices_.followJackTransport);
  connect(followTransport_, &QAction::toggled, this, [this](bool on) {
    choices_.followJackTransport = on;
    choices_.save(settings_);
    followChanged();
  });
  clockOut_ = menu_->addMenu("MIDI Clock Out");
  clockOut_->setObjectName("ClockOutMenu");
  connect(clockOut_, &QMenu::aboutToShow, this, &SyncMenu::fillClockOut);
  clockIn_ = menu_->addMenu("MIDI Clock In");
  clockIn_->setObjectName("ClockInMenu");
  connect(clockIn_, &QMenu::aboutToShow, this, &SyncMenu::fillClockIn);
  // The remembered port, where it is there; a port that has gone stays remembered.
  const QString remembered = choices_.clockOutPort;
  if (!remembered.isEmpty() && !chooseClockOut(remembered)) choices_.clockOutPort = remembered;
}

SyncMenu::~SyncMenu() {
  delete play_;  // before the clock port and the transport it follows for
  play_ = nullptr;
  closeClockOut();
}

void SyncMenu::followChanged() {
  if (play_->release() && transport_.state() != Transport::State::kStopped) {
    transport_.followedStop({});
  }
}

void SyncMenu::closeClockOut() {
  transport_.setClockOutput(nullptr);
  clock_.reset();
  if (clockHandle_ != 0) midi_.close(clockHandle_);
  clockHandle_ = 0;
}

bool SyncMenu::chooseClockOut(const QString& name) {
  closeClockOut();
  choices_.clockOutPort.clear();
  if (!name.isEmpty()) {
    const int count = midi_.deviceCount();
    for (int device = 0; device < count; ++device) {
      if (QString::fromStdString(midi_.deviceName(device)) != name) continue;
      MidiHandle handle = 0;
      if (midi_.open(device, &handle) != midi_result::kOk) break;
      clockHandle_ = handle;
      clock_ = std::make_unique<PortClockOutput>(midi_, handle);
      transport_.setClockOutput(clock_.get());
      choices_.clockOutPort = name;
      break;
    }
  }
  choices_.save(settings_);
  return choices_.clockOutPort == name;
}

void SyncMenu::fillClockOut() {
  PortChoices choices;
  const int count = midi_.deviceCount();
  choices.names.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int device = 0; device < count; ++device) choices.names.push_back(midi_.deviceName(device));
  choices.chosen = choices_.clockOutPort.toStdString();
  choices.noneCaption = "None";
  fillPortChoices(clockOut_, choices, [this](const std::string& name) {
    chooseClockOut(QString::fromStdString(name));
  });
}

void SyncMenu::fillClockIn() {
  PortChoices choices;
  if (input_ != nullptr) choices.names = input_->inputNames();
  choices.chosen = choices_.clockInPort.toStdString();
  choices.noneCaption = "None";
  fillPortChoices(clockIn_, choices, [this](const std::string& name) {
    choices_.clockInPort = QString::fromStdString(name);
    choices_.save(settings_);
    followChanged();
  });
}

}  // namespace pulsewright
