#include "app/PlayMenu.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QIcon>
#include <QInputDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <algorithm>
#include <cmath>

#include "app/Recording.h"
#include "app/Transport.h"
#include "app/TransportBar.h"
#include "platform/qt/UserDialogs.h"

namespace pulsewright {

PlayMenu::PlayMenu(QMainWindow& window, QMenuBar* bar, Transport& transport,
                   std::map<QString, QAction*>& actions)
    : QObject(&window), window_(&window), transport_(transport) {
  // Function keys and Ctrl chords: nothing a user types into a grid. Ctrl+Alt+L (screen
  // lock) and Ctrl+Alt+arrows (workspaces) are the desktop's and never reach a window.
  QMenu* play = bar->addMenu("Play");
  menu_ = play;
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
  loopSong_ = loopSong;
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
  addSpeedTrainer(play, actions);
  play->addSeparator();
  addVoiceMenus(play, actions);

  playSong_ = actions["PlaySong"];
  pauseSong_ = actions["PauseSong"];
  stopSong_ = actions["StopSong"];
  toolBar_ = new TransportBar({actions["PlaySong"], actions["PauseSong"], actions["StopSong"]},
                              {loopSong, metronome}, &window);
  window.addToolBar(Qt::TopToolBarArea, toolBar_);
  connect(toolBar_, &TransportBar::tempoAsked, &transport_, &Transport::setTempo);
  connect(&transport_, &Transport::tempoChanged, this, &PlayMenu::showTempo);
  connect(&transport_, &Transport::positionChanged, toolBar_, &TransportBar::showPosition);
  transport_.setTempoScale(1.0);
}

QAction* PlayMenu::addRecording(Recording& recording, UserDialogs& dialogs, QWidget* dialogParent,
                                std::map<QString, QAction*>& actions) {
  menu_->addSeparator();
  auto add = [this, &actions](const char* name, const QString& caption) {
    QAction* a = menu_->addAction(caption);
    a->setObjectName(name);
    actions[name] = a;
    return a;
  };
  QAction* record = add("Record", "Record");
  record->setShortcut(QKeySequence("Ctrl+Alt+R"));
  record->setShortcutContext(Qt::WindowShortcut);
  QAction* replace = add("ReplaceWhenRecording", "Replace When Recording");
  replace->setCheckable(true);
  connect(replace, &QAction::toggled, this, [&recording](bool on) { recording.setReplace(on); });
  connect(add("RecordingLatency", "Recording Latency..."), &QAction::triggered, this,
          [&recording, &dialogs, dialogParent] {
            const std::optional<int> ms = dialogs.chooseNumber(
                dialogParent,
                "Milliseconds from a note to its sound plus from a hit to its arrival "
                "(MIDI inputs other than JACK):",
                recording.latencyMs(), 0, Recording::kMaxLatencyMs);
            if (ms) recording.setLatencyMs(*ms);
          });
  return record;
}

void PlayMenu::addSpeedTrainer(QMenu* play, std::map<QString, QAction*>& actions) {
  // Presets, and any ramp typed; the song loops while a ramp is chosen.
  QMenu* trainer = play->addMenu(tr("Speed Trainer"));
  trainer->setObjectName("SpeedTrainerMenu");
  auto* group = new QActionGroup(this);
  const struct {
    const char* name;
    QString caption;
    TempoRamp ramp;
  } presets[] = {
      {"SpeedTrainerOff", tr("Off"), TempoRamp{}},
      {"SpeedTrainer50", tr("50 % to 100 %, 5 % Faster a Pass"), TempoRamp{50, 5, 100}},
      {"SpeedTrainer70", tr("70 % to 100 %, 5 % Faster a Pass"), TempoRamp{70, 5, 100}},
      {"SpeedTrainer80", tr("80 % to 100 %, 2 % Faster a Pass"), TempoRamp{80, 2, 100}},
  };
  for (const auto& preset : presets) {
    QAction* a = trainer->addAction(preset.caption);
    a->setObjectName(preset.name);
    a->setCheckable(true);
    a->setChecked(!preset.ramp.on());
    group->addAction(a);
    actions[preset.name] = a;
    if (!preset.ramp.on()) trainerOff_ = a;
    connect(a, &QAction::triggered, this, [this, ramp = preset.ramp] { chooseRamp(ramp); });
  }
  QAction* custom = trainer->addAction(tr("Custom..."));
  custom->setObjectName("SpeedTrainerCustom");
  custom->setCheckable(true);
  group->addAction(custom);
  actions["SpeedTrainerCustom"] = custom;
  connect(custom, &QAction::triggered, this, [this] {
    bool ok = false;
    const QString text = QInputDialog::getText(
        window_, tr("Speed Trainer"), tr("Start %, step % per pass, end % (such as 70:5:100):"),
        QLineEdit::Normal, QStringLiteral("70:5:100"), &ok);
    std::string error;
    const std::optional<TempoRamp> ramp =
        ok ? parseTempoRamp(text.toStdString(), &error) : std::nullopt;
    if (!ramp) {
      if (ok) QMessageBox::warning(window_, tr("Speed Trainer"), QString::fromStdString(error));
      chooseRamp(transport_.tempoRamp());
      return;
    }
    chooseRamp(*ramp);
  });
}

void PlayMenu::chooseRamp(const TempoRamp& ramp) {
  transport_.setTempoRamp(ramp);
  if (ramp.on() && transport_.loop() == Transport::Loop::kNone) {
    loopSong_->setChecked(true);
  }
  if (!ramp.on()) {
    trainerOff_->setChecked(true);
  }
}

void PlayMenu::addVoiceMenus(QMenu* play, std::map<QString, QAction*>& actions) {
  // Every drum by name: the mask names the drum, so it holds whatever symbol the
  // document gives it.
  QMenu* mute = play->addMenu(tr("Mute"));
  mute->setObjectName("MuteMenu");
  QMenu* solo = play->addMenu(tr("Solo"));
  solo->setObjectName("SoloMenu");
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::string voice(kVoiceCaptions[v]);
    const QString caption = QString::fromStdString(voice);
    const QString key = caption.simplified().remove(' ');
    QAction* m = mute->addAction(caption);
    m->setObjectName("Mute" + key);
    m->setCheckable(true);
    actions["Mute" + key] = m;
    connect(m, &QAction::triggered, this, [this, voice] { transport_.toggleMute(voice); });
    QAction* s = solo->addAction(caption);
    s->setObjectName("Solo" + key);
    s->setCheckable(true);
    actions["Solo" + key] = s;
    connect(s, &QAction::triggered, this, [this, voice] { transport_.toggleSolo(voice); });
  }
  QAction* clear = play->addAction(tr("Clear Mute and Solo"));
  clear->setObjectName("ClearMuteSolo");
  actions["ClearMuteSolo"] = clear;
  connect(clear, &QAction::triggered, this, [this] { transport_.setVoiceMask({}); });
  // The checks follow the mask, whoever changed it (the drum keyboard too).
  connect(&transport_, &Transport::voiceMaskChanged, this, [this, mute, solo] {
    const VoiceMask mask = transport_.voiceMask();
    auto show = [](QMenu* menu, const std::vector<std::string>& names) {
      for (QAction* a : menu->actions()) {
        a->setChecked(std::find(names.begin(), names.end(), a->text().toStdString()) !=
                      names.end());
      }
    };
    show(mute, mask.muted);
    show(solo, mask.soloed);
  });
}

void PlayMenu::showTempo() {
  tempoLabel_->setText(QString("Tempo: %1 %").arg(std::lround(transport_.tempoScale() * 100.0)));
  toolBar_->showTempo(transport_.tempo());
}

void PlayMenu::followButtons(QAbstractButton* play, QAbstractButton* pause, QAbstractButton* stop) {
  play_ = play;
  pause_ = pause;
  stop_ = stop;
  auto press = [](QAbstractButton* button) {
    if (button->isEnabled()) button->click();
  };
  connect(playSong_, &QAction::triggered, this, [this, press] { press(play_); });
  // F6 toggles: Pause while playing, Play again (going on from there) while paused.
  connect(pauseSong_, &QAction::triggered, this, [this, press] {
    press(pause_->isEnabled() || transport_.state() != Transport::State::kPaused ? pause_ : play_);
  });
  connect(stopSong_, &QAction::triggered, this, [this, press] { press(stop_); });
}

void PlayMenu::syncKeys() {
  playSong_->setEnabled(play_->isEnabled());
  pauseSong_->setEnabled(pause_->isEnabled() || transport_.state() == Transport::State::kPaused);
  stopSong_->setEnabled(stop_->isEnabled());
}

}  // namespace pulsewright
