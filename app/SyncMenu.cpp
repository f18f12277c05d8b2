#include "app/SyncMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

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

// "None" and one checkable entry per name, the current choice checked.
void fillChoices(QMenu* menu, const std::vector<std::string>& names, const QString& current,
                 const std::function<void(const QString&)>& choose) {
  menu->clear();
  auto* group = new QActionGroup(menu);
  auto add = [&](const QString& caption, const QString& name) {
    QAction* action = menu->addAction(caption);
    action->setCheckable(true);
    action->setChecked(name == current);
    group->addAction(action);
    QObject::connect(action, &QAction::triggered, menu, [choose, name] { choose(name); });
  };
  add("None", "");
  for (const std::string& name : names) {
    add(QString::fromStdString(name), QString::fromStdString(name));
  }
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
  std::vector<std::string> names;
  const int count = midi_.deviceCount();
  names.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int device = 0; device < count; ++device) names.push_back(midi_.deviceName(device));
  fillChoices(clockOut_, names, choices_.clockOutPort,
              [this](const QString& name) { chooseClockOut(name); });
}

void SyncMenu::fillClockIn() {
  const std::vector<std::string> names =
      input_ != nullptr ? input_->inputNames() : std::vector<std::string>{};
  fillChoices(clockIn_, names, choices_.clockInPort, [this](const QString& name) {
    choices_.clockInPort = name;
    choices_.save(settings_);
    followChanged();
  });
}

}  // namespace pulsewright
