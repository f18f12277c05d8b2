#include "app/Form1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "app/AudioExport.h"
#include "app/DocumentImport.h"
#include "app/DocumentRecovery.h"
#include "app/DrumKeyboard.h"
#include "app/DrumTabImportCommands.h"
#include "app/PrintCommand.h"
#include "app/SplashWindow.h"
#include "app/StatusLabel.h"
#include "app/TransportBar.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/EditorText.h"
#include "editor/ProblemsPanel.h"
#include "editor/RecentFiles.h"
#include "editor/TablatureEditor.h"
#include "files/FileAccess.h"
#include "midi/LiveKeyboard.h"
#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"
#include "notation/ui/NotationFiles.h"
#include "notation/ui/StaffPanel.h"
#include "padmap/ui/OptionsWindow.h"
#include "platform/qt/UserDialogs.h"
#include "playback/PlaybackSession.h"
#include "playback/SamplePlayer.h"
#include "settings/SettingsStore.h"
#include "tabimport/DrumTabImport.h"
#include "tablature/CompiledDocument.h"
#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"
#include "templates/TemplatesController.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr char kDeviceGoneMessage[] = "The MIDI device stopped answering: the song was stopped.";

// How far ahead of their time events go to an output that places them by time.
constexpr auto kLookAhead = std::chrono::milliseconds(30);

// A step's notes go to the MIDI port, its samples to the sample player.
class PortStepOutput : public StepOutput {
 public:
  PortStepOutput(MidiPort& port, SamplePlayer& samples) : port_(port), samples_(samples) {}
  void sendChannelMessage(int kind, int data1, int data2, DueTime due) override {
    port_.sendChannelMessageAt(kind, data1, data2, due);
  }
  void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                  DueTime due) override {
    samples_.PlayB(file, volume, pan, due);  // placed on its frame by the audio engine
  }
  std::chrono::microseconds lookAhead() override {
    return port_.placesByTime() ? kLookAhead : std::chrono::microseconds(0);
  }
  void silence(DueTime) override {
    port_.sendChannelMessage(0xB0, 120, 0);  // all sound off
    port_.sendChannelMessage(0xB0, 123, 0);  // all notes off
  }

 private:
  MidiPort& port_;
  SamplePlayer& samples_;
};

// The compiler's messages, each in a modal box; the compilation goes on after it.
class MessageBoxListener : public CompileListener {
 public:
  MessageBoxListener(UserDialogs& dialogs, QWidget* parent) : dialogs_(dialogs), parent_(parent) {}
  void message(int, std::string_view text) override {
    dialogs_.message(parent_, QString::fromUtf8(text.data(), static_cast<int>(text.size())));
  }

 private:
  UserDialogs& dialogs_;
  QWidget* parent_;
};

struct ButtonSpec {
  const char* name;
  const char* icon;
  int left;
};
constexpr ButtonSpec kButtons[] = {
    {"NewButton", "new", 0},        {"OpenButton", "open", 345},  {"SaveButton", "save", 690},
    {"PrintButton", "print", 1200}, {"FindButton", "find", 1545}, {"Play", "play", 2040},
    {"Pause", "pause", 2385},       {"Stopb", "stop", 2730},
};

constexpr int kClientWidth = 9810;
constexpr int kClientHeight = 7920;
constexpr int kEditorLeft = 15;
constexpr int kEditorTop = 330;
constexpr int kEditorRightGap = 45;
constexpr int kMargin = 60;
constexpr int kStripHeight = DrumKeyboard::kHeightTwips + 2 * kMargin;
constexpr int kLabelLeft = 5400;

constexpr char kDevicesSection[] = "Devices";
constexpr char kWindowSection[] = "Window";

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

// Carries the playback thread's news to the window's own thread.
class Form1::StatusRelay : public Player::Listener {
 public:
  explicit StatusRelay(Form1* form) : form_(form) {}
  void statusChanged(std::uint64_t generation, const std::string& text) override {
    const QString status = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        form_,
        [form = form_, generation, status] {
          if (generation == form->session_->player().generation() && form->isPlaying()) {
            form->label1_->setText(status);
          }
        },
        Qt::QueuedConnection);
  }
  void songEnded(std::uint64_t generation) override {
    QMetaObject::invokeMethod(
        form_,
        [form = form_, generation] {
          if (generation == form->session_->player().generation()) form->songOver();
        },
        Qt::QueuedConnection);
  }
  void stepStarted(std::uint64_t generation, const Timeline& timeline, const TimelineTick& tick,
                   DueTime) override {
    // The grid characters behind the step's items: one in every grid line of the part.
    std::vector<SourcePosition> positions;
    if (tick.data != nullptr) {
      const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(tick.part)];
      for (const TimelineItem& item : part.itemsOf(*tick.data)) {
        if (item.source.line > 0) positions.push_back(item.source);
      }
    }
    const bool deviceGone = form_->port_->takeSendFailure();
    const StepMusic music = tick.music != nullptr ? *tick.music : StepMusic{};
    const int step = tick.step;
    QMetaObject::invokeMethod(
        form_,
        [form = form_, generation, positions = std::move(positions), deviceGone, music, step,
         part = tick.part, songPosition = tick.songPosition] {
          if (generation != form->session_->player().generation() || !form->isPlaying()) return;
          if (music.tempo > 0) {
            form->writtenTempo_ = music.tempo;
            form->showTempo();
            const BarBeat at = barBeatOf(step, music.noteSize);
            form->transport_->showPosition(QStringLiteral("%1:%2").arg(at.bar).arg(at.beat));
          }
          if (deviceGone) {
            // A device that went away mid-song: stop cleanly and say why.
            form->songOver();
            form->label1_->setText(kDeviceGoneMessage);
            return;
          }
          form->tablatureEditor_->setPlayingCharacters(positions);
          form->staff_->setPlayingStep(part, songPosition, step);
        },
        Qt::QueuedConnection);
  }

 private:
  Form1* form_;
};

Form1::Form1(AppServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)) {
  setWindowTitle("Pulsewright!");
  port_ = std::make_unique<MidiPort>(services_.midi, [this](const std::string& text) {
    services_.dialogs.message(this, QString::fromStdString(text));
  });
  samples_ = std::make_unique<SamplePlayer>(services_.sound);
  // A sample that cannot play is named in the status bar, once per Play.
  samples_->setNotice([this](const std::string& text) {
    const QString notice = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this, [this, notice] { statusBar()->showMessage(notice); }, Qt::QueuedConnection);
  });
  liveKeyboard_ = std::make_unique<LiveKeyboard>(*port_, [this](DrumVoice voice) {
    return options_ ? options_->entry(voice).toStdString() : std::string();
  });
  stepOutput_ = std::make_unique<PortStepOutput>(*port_, *samples_);
  statusRelay_ = std::make_unique<StatusRelay>(this);
  session_ = std::make_unique<PlaybackSession>(*stepOutput_, services_.clock, samples_.get(),
                                               statusRelay_.get());

  buildControls();
  buildMenus();
  wireEditor();
  // The client area (under the menu bar, above the problems list) has its design size at
  // first.
  const auto* problemsDock = findChild<QDockWidget*>("ProblemsDock");
  resize(twips(kClientWidth),
         twips(kClientHeight) + menuBar()->sizeHint().height() + transport_->sizeHint().height() +
             (problemsDock != nullptr ? problemsDock->sizeHint().height() : 0));
  layoutControls();
  splashTimer_ = new QTimer(this);
  splashTimer_->setSingleShot(true);
  splashTimer_->setInterval(services_.splashMilliseconds);
  connect(splashTimer_, &QTimer::timeout, this, &Form1::SplashTimer_Timer);
}

Form1::~Form1() {
  session_.reset();  // the playback thread ends before what it plays through
  templates_.reset();
  if (!closed_) port_->close();
  delete splash_;
  // The keyboard strip releases its keys when it loses the focus, which closing the
  // window does after the live keyboard has gone: it goes first.
  delete drumKeyboard_;
  drumKeyboard_ = nullptr;
}

int Form1::twips(int length) const {
  const double dpi = screen() != nullptr ? screen()->logicalDotsPerInchX() : 96.0;
  return static_cast<int>(std::lround(length * dpi / 1440.0));
}

void Form1::buildControls() {
  client_ = new QWidget(this);
  setCentralWidget(client_);
  client_->installEventFilter(this);
  for (const ButtonSpec& spec : kButtons) {
    auto* b = new QToolButton(client_);
    b->setObjectName(spec.name);
    b->setIcon(QIcon(QString(":/pulsewright/%1.png").arg(spec.icon)));
    b->setToolTip(spec.name == QString("Stopb") ? "Stop" : QString(spec.name).remove("Button"));
    b->setGeometry(twips(spec.left), 0, twips(345), twips(345));
    buttons_[spec.name] = b;
  }
  connect(buttons_["Play"], &QToolButton::clicked, this, &Form1::Play_Click);
  connect(buttons_["Pause"], &QToolButton::clicked, this, &Form1::Pause_Click);
  connect(buttons_["Stopb"], &QToolButton::clicked, this, &Form1::Stopb_Click);

  auto* audioDevices = new RefreshingComboBox(client_);
  audioDevices->beforePopup = [this] { refreshDevices(); };
  audioDevices_ = audioDevices;
  audioDevices_->setGeometry(twips(3240), twips(15), twips(1845), twips(315));
  label1_ = new StatusLabel(client_);
  label1_->setGeometry(twips(kLabelLeft), twips(60), twips(3945), twips(270));

  tablatureEditor_ = new TablatureEditor(client_);
  text1_ = tablatureEditor_;
  text1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  drumKeyboard_ = new DrumKeyboard(
      *liveKeyboard_, [this](int t) { return twips(t); }, client_);
  client_->setMinimumSize(twips(DrumKeyboard::kWidthTwips + 2 * kEditorLeft),
                          twips(kEditorTop + kStripHeight));
}

void Form1::buildMenus() {
  auto add = [this](QMenu* menu, const char* name, const char* caption,
                    const QKeySequence& shortcut = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (!shortcut.isEmpty()) {
      a->setShortcut(shortcut);
      a->setShortcutContext(Qt::WindowShortcut);
    }
    actions_[name] = a;
    return a;
  };
  QMenu* file = menuBar()->addMenu("File");
  add(file, "New", "New", QKeySequence("Ctrl+N"));
  add(file, "Open", "Open", QKeySequence("Ctrl+O"));
  recentMenu_ = file->addMenu("Recent");
  recentMenu_->setObjectName("Recent");
  add(file, "Save", "Save", QKeySequence("Ctrl+S"));
  add(file, "SaveAs", "Save As ...");
  connect(add(file, "Import", "Import..."), &QAction::triggered, this,
          [this] { documentImport_->chooseAndImport(); });
  connect(add(file, "ImportDrumTab", "Import Drum Tab..."), &QAction::triggered, this,
          &Form1::ImportDrumTab_Click);
  connect(add(file, "ExportMidi", "Export MIDI..."), &QAction::triggered, this,
          &Form1::ExportMidi_Click);
  connect(add(file, "ExportMusicXml", "Export MusicXML..."), &QAction::triggered, this, [this] {
    exportMusicXml(this, services_.dialogs, editor_->documents().exportNameWith(".musicxml"),
                   editor_->documentText(), options_ ? options_->padMap() : defaultPadMap());
  });
  add(file, "Foreground", "Foreground");
  add(file, "Background", "Background");
  add(file, "Font", "Font");
  add(file, "Print", "Print");
  add(file, "ExportPdf", "Export PDF...");
  // The song as drum staves, beside the text's Print and Export PDF.
  connect(add(file, "PrintStaves", "Print Drum Staves..."), &QAction::triggered, this, [this] {
    printStavesWithDialog(this, services_.dialogs, editor_->documentText(),
                          options_ ? options_->padMap() : defaultPadMap());
  });
  connect(add(file, "ExportStavesPdf", "Export PDF as Drum Staves..."), &QAction::triggered, this,
          [this] {
            exportStavesPdf(this, services_.dialogs, editor_->documents().exportNameWith(".pdf"),
                            editor_->documentText(),
                            options_ ? options_->padMap() : defaultPadMap());
          });
  connect(add(file, "ExportAudio", "Export Audio..."), &QAction::triggered, this,
          [this] { exportAudio(); });
  connect(add(file, "Exit", "Exit"), &QAction::triggered, this, &Form1::Exit_Click);

  QMenu* edit = menuBar()->addMenu("Edit");
  add(edit, "Undo", "Undo", QKeySequence::Undo);
  add(edit, "Redo", "Redo", QKeySequence::Redo);
  add(edit, "SelectAll", "Select All", QKeySequence("Ctrl+A"));
  add(edit, "SelectNone", "Select None", QKeySequence("Ctrl+D"));
  add(edit, "Cut", "Cut", QKeySequence("Ctrl+X"));
  add(edit, "Copy", "Copy", QKeySequence("Ctrl+C"));
  add(edit, "Paste", "Paste", QKeySequence("Ctrl+V"));
  connect(add(edit, "PasteDrumTab", "Paste as Drum Tab"), &QAction::triggered, this,
          [this] { tabImport_->pasteClipboard(); });
  add(edit, "Find", "Find", QKeySequence("Ctrl+F"));

  midiDevices_ = menuBar()->addMenu("Midi Device");
  // A device started after the program (a JACK port) shows the next time the menu opens.
  connect(midiDevices_, &QMenu::aboutToShow, this, &Form1::refreshDevices);
  for (int i = 0; i < kDeviceMenuItems; ++i) {
    QAction* a = midiDevices_->addAction(QString());
    a->setCheckable(true);
    a->setVisible(i == 0);
    a->setEnabled(i == 0);
    connect(a, &QAction::triggered, this, [this, i] { device_Click(i); });
    device_[static_cast<std::size_t>(i)] = a;
  }
  channelOption_ = menuBar()->addMenu("Midi Channel");
  for (int i = 0; i < kChannelMenuItems; ++i) {
    QAction* a = channelOption_->addAction(QString::number(i + 1));
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, i] { chan_Click(i); });
    chan_[static_cast<std::size_t>(i)] = a;
  }

  QMenu* settings = menuBar()->addMenu("Settings");
  connect(add(settings, "Options", "Pad Assignment"), &QAction::triggered, this,
          &Form1::Options_Click);
  add(settings, "Templates", "Templates");
  buildPlayMenu();
}

void Form1::buildPlayMenu() {
  // Function keys and Ctrl chords: nothing a user types into a grid. Ctrl+Alt+L (screen
  // lock) and Ctrl+Alt+arrows (workspaces) are the desktop's and never reach a window.
  QMenu* play = menuBar()->addMenu("Play");
  auto add = [this, play](const char* name, const QString& caption, const QKeySequence& shortcut,
                          bool checkable = false) {
    QAction* a = play->addAction(caption);
    a->setObjectName(name);
    a->setShortcut(shortcut);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setCheckable(checkable);
    actions_[name] = a;
    return a;
  };
  connect(add("PlaySong", "Play", QKeySequence(Qt::Key_F5)), &QAction::triggered, this, [this] {
    if (button("Play")->isEnabled()) Play_Click();
  });
  connect(add("PauseSong", "Pause", QKeySequence(Qt::Key_F6)), &QAction::triggered, this, [this] {
    if (button("Pause")->isEnabled()) Pause_Click();
  });
  connect(add("StopSong", "Stop", QKeySequence(Qt::Key_F7)), &QAction::triggered, this, [this] {
    if (button("Stopb")->isEnabled()) Stopb_Click();
  });
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
  add("CountIn", "Count-in", QKeySequence("Ctrl+Alt+C"), true);
  connect(add("Metronome", "Metronome", QKeySequence("Ctrl+Alt+M"), true), &QAction::toggled, this,
          [this](bool on) { session_->player().setMetronome(on); });
  play->addSeparator();
  connect(add("Faster", "Faster", QKeySequence("Ctrl+Shift+Up")), &QAction::triggered, this,
          [this] { setTempoScale(session_->player().tempoScale() + 0.05); });
  connect(add("Slower", "Slower", QKeySequence("Ctrl+Shift+Down")), &QAction::triggered, this,
          [this] { setTempoScale(session_->player().tempoScale() - 0.05); });
  connect(add("NormalTempo", "Written Tempo", QKeySequence("Ctrl+Alt+0")), &QAction::triggered,
          this, [this] { setTempoScale(1.0); });
  tempoLabel_ = new QAction(play);
  tempoLabel_->setEnabled(false);
  play->addAction(tempoLabel_);

  const char* icons[][2] = {{"PlaySong", "play"}, {"PauseSong", "pause"}, {"StopSong", "stop"}};
  for (const auto& [name, icon] : icons) {
    action(name)->setIcon(QIcon(QString(":/pulsewright/%1.png").arg(icon)));
  }
  transport_ = new TransportBar({action("PlaySong"), action("PauseSong"), action("StopSong")},
                                {loopSong, action("Metronome")}, this);
  addToolBar(Qt::TopToolBarArea, transport_);
  connect(transport_, &TransportBar::tempoAsked, this,
          [this](double bpm) { setTempoScale(bpm / writtenTempo_); });
  setTempoScale(1.0);
}

void Form1::showTempo() {
  transport_->showTempo(writtenTempo_ * session_->player().tempoScale());
}

void Form1::syncTransport() {
  action("PlaySong")->setEnabled(button("Play")->isEnabled());
  action("PauseSong")->setEnabled(button("Pause")->isEnabled());
  action("StopSong")->setEnabled(button("Stopb")->isEnabled());
}

void Form1::setTempoScale(double scale) {
  // Whole percent steps, so that repeated presses come back to 100 %.
  scale = std::round(scale * 100.0) / 100.0;
  session_->player().setTempoScale(scale);
  tempoLabel_->setText(
      QString("Tempo: %1 %").arg(std::lround(session_->player().tempoScale() * 100.0)));
  if (transport_ != nullptr) showTempo();
}

double Form1::tempoScale() const {
  return session_->player().tempoScale();
}

std::string Form1::partAtCursor() const {
  // The section line nearest above the text cursor names the part being edited.
  const LineMatcher& matcher = session_->compiler().matcher();
  for (QTextBlock block = text1_->textCursor().block(); block.isValid(); block = block.previous()) {
    const std::string line = block.text().toStdString();
    std::string_view name;
    if (isSectionLine(matcher.classify(line)) &&
        matcher.extract(LineField::SectionName, line, &name)) {
      return std::string(name);
    }
  }
  return {};
}

void Form1::wireEditor() {
  editor_ = new EditorCommands(text1_, this, services_.dialogs, services_.settings, this);
  tabImport_ = new DrumTabImportCommands(*editor_, services_.dialogs, this);
  auto wire = [this](const char* actionName, const char* buttonName, auto slot) {
    if (actionName != nullptr) connect(action(actionName), &QAction::triggered, editor_, slot);
    if (buttonName != nullptr) connect(button(buttonName), &QToolButton::clicked, editor_, slot);
  };
  wire("New", "NewButton", &EditorCommands::newDocument);
  wire("Open", "OpenButton", &EditorCommands::open);
  wire("Save", "SaveButton", &EditorCommands::save);
  wire("SaveAs", nullptr, &EditorCommands::saveAs);
  print_ = new PrintCommand(
      editor_->documents(), [this] { return editor_->fontFamily(); }, this, this);
  connect(action("Print"), &QAction::triggered, print_, &PrintCommand::print);
  connect(button("PrintButton"), &QToolButton::clicked, print_, &PrintCommand::print);
  connect(print_, &PrintCommand::failed, this,
          [this](const QString& why) { label1_->setText(why); });
  wire("ExportPdf", nullptr, &EditorCommands::exportPdf);
  wire("Foreground", nullptr, &EditorCommands::foreground);
  wire("Background", nullptr, &EditorCommands::background);
  wire("Font", nullptr, &EditorCommands::chooseFont);
  wire("SelectAll", nullptr, &EditorCommands::selectAll);
  wire("SelectNone", nullptr, &EditorCommands::selectNone);
  wire("Cut", nullptr, &EditorCommands::cut);
  wire("Copy", nullptr, &EditorCommands::copy);
  wire("Paste", nullptr, &EditorCommands::paste);
  wire("Find", "FindButton", &EditorCommands::find);
  wire("Undo", nullptr, &EditorCommands::undo);
  wire("Redo", nullptr, &EditorCommands::redo);
  action("Undo")->setEnabled(false);
  action("Redo")->setEnabled(false);
  connect(text1_, &QPlainTextEdit::undoAvailable, action("Undo"), &QAction::setEnabled);
  connect(text1_, &QPlainTextEdit::redoAvailable, action("Redo"), &QAction::setEnabled);
  editor_->recentFiles().attachMenu(recentMenu_);
  connect(editor_, &EditorCommands::titleChanged, this,
          [this] { setWindowTitle(editor_->documentTitle("Pulsewright!")); });
  // A new or another document: what the status line said was about the one before.
  connect(&editor_->documents(), &DocumentCommands::fileNameChanged, this,
          [this](const QString& path) {
            // Samples named relative to the document are found beside it.
            const std::string folder =
                path.isEmpty() ? std::string() : QFileInfo(path).absolutePath().toStdString();
            samples_->setDocumentFolder(folder);
            checkWithKeptState();
            if (isPlaying()) return;
            label1_->clear();
            statusBar()->clearMessage();
            transport_->showPosition({});
          });

  // The problems in the text under the editor; double-click one to go to it.
  problems_ = new ProblemsPanel(*tablatureEditor_);
  auto* dock = new QDockWidget("Problems", this);
  dock->setObjectName("ProblemsDock");
  dock->setWidget(problems_);
  dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::BottomDockWidgetArea, dock);
  QAction* showProblems = dock->toggleViewAction();
  showProblems->setObjectName("ShowProblems");
  actions_["ShowProblems"] = showProblems;
  if (auto* edit = qobject_cast<QMenu*>(action("Find")->parent())) edit->addAction(showProblems);
  documentImport_ = new DocumentImport(*editor_, *problems_, services_.dialogs, this);

  // The part under the cursor as a drum staff, beside the problems.
  staff_ =
      new StaffPanel(*text1_, [this] { return options_ ? options_->padMap() : defaultPadMap(); });
  auto* staffDock = new QDockWidget("Drum Staff", this);
  staffDock->setObjectName("StaffDock");
  staffDock->setWidget(staff_);
  staffDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::BottomDockWidgetArea, staffDock);
  splitDockWidget(dock, staffDock, Qt::Horizontal);
  actions_["ShowStaff"] = staffDock->toggleViewAction();
  actions_["ShowStaff"]->setObjectName("ShowStaff");
  if (auto* edit = qobject_cast<QMenu*>(action("Find")->parent())) {
    edit->addAction(actions_["ShowStaff"]);
  }

  recovery_ = new DocumentRecovery(*text1_, services_.recoveryFolder, 60000, this);
  recovery_->setDocumentPath([this] { return editor_->documents().currentFileName(); });
  templates_ =
      std::make_unique<TemplatesController>(*text1_, services_.settings, services_.dialogs, this);
  connect(action("Templates"), &QAction::triggered, this, [this] { templates_->showTemplates(); });
}

QToolButton* Form1::button(const QString& name) const {
  const auto it = buttons_.find(name);
  return it == buttons_.end() ? nullptr : it->second;
}

QLabel* Form1::Label1() const {
  return label1_;
}

QAction* Form1::action(const QString& name) const {
  const auto it = actions_.find(name);
  return it == actions_.end() ? nullptr : it->second;
}

void Form1::startUp() {
  // 1. The splash window while the rest starts.
  hide();
  if (services_.splashMilliseconds > 0) {
    splash_ = new SplashWindow(twips(5610), twips(6900));
    // A click or a key ends it early, once the start-up has finished.
    connect(splash_, &SplashWindow::dismissed, this, &Form1::SplashTimer_Timer,
            Qt::QueuedConnection);
    splash_->show();
    splashTimer_->start();
  }
  // 2-3. The sound devices, entry 0 selected; the sample ring starts at slot 0.
  samples_->listDevices();
  for (const std::string& name : samples_->SoundDeviceList()) {
    audioDevices_->addItem(QString::fromStdString(name));
  }
  audioDevices_->setCurrentIndex(audioDevices_->count() > 0 ? 0 : -1);
  connect(audioDevices_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int entry) {
    if (entry < 0) return;
    samples_->selectAudioDevice(entry);
    remember(kDevicesSection, "SoundDevice", audioDevices_->itemText(entry));
  });
  // 4. Let the splash window draw.
  QApplication::processEvents();
  // 5. The transport at rest.
  button("Pause")->setEnabled(false);
  button("Stopb")->setEnabled(false);
  syncTransport();
  // 6-7. The line patterns were compiled with the session; the tuplet divisor starts at 1.
  // 8. The MIDI menus, the mapper opened, channel "1".
  midiMenus_ = MidiMenus(port_->listDevices());
  refreshMidiMenus();
  restoreChoices();
  // 9. The live velocity at the top of the bar.
  liveKeyboard_->vol_Change(127);
  drumKeyboard_->vol()->setValue(0);
  // 10. The Options window, loaded hidden, with the first preset.
  options_ = new OptionsWindow(
      services_.padMapFolder, services_.dialogs,
      [this](int key) {
        StartNote(static_cast<std::int16_t>(key));
        StopNote(static_cast<std::int16_t>(key));
      },
      this);
  options_->setWindowFlag(Qt::Window);
  options_->applyFirstPreset();
  // 11. The stored appearance.
  editor_->applyStoredAppearance();
  if (services_.splashMilliseconds <= 0) SplashTimer_Timer();
}

void Form1::SplashTimer_Timer() {
  splashTimer_->stop();
  if (splash_) splash_->close();
  delete splash_;
  if (isVisible()) return;
  const QString place = services_.settings.GetSetting(kWindowSection, "Geometry", {});
  if (!place.isEmpty()) restoreGeometry(QByteArray::fromBase64(place.toLatin1()));
  show();
  offerRecovery();
}

void Form1::offerRecovery() {
  // Each copy in turn, until one is restored; the others stay for the next start.
  for (const DocumentRecovery::Copy& copy : recovery_->leftBehind()) {
    const QString of = copy.originalPath.isEmpty()
                           ? tr("Text")
                           : tr("Text of \"%1\"").arg(QFileInfo(copy.originalPath).fileName());
    const bool restore = services_.dialogs.askYesNo(
        this, of + tr(" that was not saved when Pulsewright last ended has been kept. "
                      "Restore it?"));
    // A signal while the question showed: the program ends, the copy stays.
    if (exiting_) return;
    if (!restore) {
      recovery_->decline(copy);
      continue;
    }
    // Under the file it came from, whatever was opened at start-up; Save asks first.
    editor_->documents().openRecovered(copy.text, copy.originalPath);
    recovery_->keepNow();
    recovery_->take(copy);
    break;
  }
  recovery_->releaseOffered();
}

void Form1::quitWithoutAsking() {
  recovery_->keepNow();
  bySignal_ = true;
  exiting_ = true;
  splashTimer_->stop();
  if (splash_) splash_->close();
  delete splash_;
  close();
}

void Form1::changeEvent(QEvent* event) {
  // A key held while the window loses the focus would sound for ever.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
    liveKeyboard_->releaseAll();
  }
  QMainWindow::changeEvent(event);
}

void Form1::StartNote(std::int16_t index) {
  liveKeyboard_->StartNote(index);
}

void Form1::StopNote(std::int16_t index) {
  liveKeyboard_->StopNote(index);
}

bool Form1::isPlaying() const {
  return session_->player().playing();
}

void Form1::checkWithKeptState() {
  // The problems list describes what the next Play does, which starts from what this
  // compilation left behind.
  DiagnosticOptions options;
  options.padMap = options_ ? options_->padMap() : defaultPadMap();
  options.kept = std::make_shared<const CompilerState>(session_->compiler().state());
  options.documentFolder = documentFolder().toStdString();
  tablatureEditor_->setDiagnosticOptions(options);
}

const TablatureCompiler& Form1::compiler() const {
  return session_->compiler();
}

void Form1::Play_Click() {
  try {
    startPlaying();
  } catch (const std::bad_alloc&) {
    // Not enough memory for this song: the window and its text stay.
    session_->player().stop();
    songOver();
    const bool kept = recovery_->keepNow();
    statusBar()->showMessage(kept ? tr("Not enough memory to play this song. The text is kept.")
                                  : tr("Not enough memory to play this song."));
  }
}

void Form1::startPlaying() {
  // The text stays readable while it plays, so the playing step can be shown in it.
  text1_->setReadOnly(true);
  button("Pause")->setEnabled(true);
  button("Stopb")->setEnabled(true);
  button("Play")->setEnabled(false);
  syncTransport();

  if (statusBar()->isVisible()) statusBar()->clearMessage();
  if (port_->deviceId() == kMidiMapperId && !services_.sound.hasDevice()) {
    statusBar()->showMessage("No sound device: the built-in synthesiser cannot be heard.");
  }
  MessageBoxListener listener(services_.dialogs, this);
  const std::string text = joinLinesWithCrLf(editor_->documentText().toStdString());
  // The new song is built whole before the playing thread sees it.
  std::shared_ptr<const Song> song =
      session_->compile(text, options_ ? options_->padMap() : defaultPadMap(), &listener);
  checkWithKeptState();
  PlayOptions options;
  options.countIn = action("CountIn")->isChecked();
  options.metronome = action("Metronome")->isChecked();
  if (action("LoopSong")->isChecked()) options.loops = 0;
  if (action("LoopPart")->isChecked()) {
    // The part under the text cursor, over and over, as a song of that part alone.
    const std::string part = partAtCursor();
    if (!part.empty()) {
      song = makeSong(std::make_shared<const Timeline>(song->timeline.withSongLine(part)));
      options.loops = 0;
    }
  }
  // After Pause the song goes on from where it stopped, as the text now has it; a
  // position the text no longer has starts the song again.
  if (pausedAt_) {
    options.from = *pausedAt_;
    pausedAt_.reset();
    if (song->timeline.timeOf(options.from.songPosition, options.from.step) < 0) options.from = {};
  }
  // Samples load on the playback thread, so the window stays responsive meanwhile.
  if (!session_->play(song, options, true)) songOver();  // nothing to play: over at once
}

void Form1::Pause_Click() {
  // Stops at the current step; Play goes on from there. The text may be edited meanwhile.
  pausedAt_ = session_->player().pause();
  text1_->setReadOnly(false);
  button("Stopb")->setEnabled(true);
  button("Play")->setEnabled(true);
  button("Pause")->setEnabled(false);
  syncTransport();
}

void Form1::Stopb_Click() {
  text1_->setReadOnly(false);
  tablatureEditor_->clearPlayingCharacters();
  staff_->clearPlaying();
  pausedAt_.reset();
  button("Pause")->setEnabled(false);
  button("Stopb")->setEnabled(false);
  button("Play")->setEnabled(true);
  syncTransport();
  transport_->showPosition({});
  session_->player().stop();
}

void Form1::songOver() {
  Stopb_Click();
  label1_->clear();
}

void Form1::device_Click(int index) {
  midiMenus_.pickDevice(index);
  port_->openDevice(MidiMenus::deviceOfItem(index));
  refreshMidiMenus();
  if (index >= 0 && index < kDeviceMenuItems) {
    remember(kDevicesSection, "MidiDevice",
             QString::fromStdString(midiMenus_.devices()[static_cast<std::size_t>(index)].caption));
  }
}

void Form1::chan_Click(int index) {
  midiMenus_.pickChannel(index);
  port_->selectChannel(static_cast<std::int16_t>(index));
  refreshMidiMenus();
  if (index >= 0 && index < kChannelMenuItems) {
    remember(kDevicesSection, "MidiChannel", QString::number(index + 1));
  }
}

QString Form1::documentFolder() const {
  const QString file = editor_->documents().currentFileName();
  return file.isEmpty() ? QString() : QFileInfo(file).absolutePath();
}

void Form1::remember(const char* section, const char* key, const QString& value) {
  // Not being able to store a choice is no reason to bother the user: it holds until exit.
  services_.settings.SaveSetting(section, key, value);
}

void Form1::restoreChoices() {
  SettingsStore& settings = services_.settings;
  const std::string device = settings.GetSetting(kDevicesSection, "MidiDevice", {}).toStdString();
  const DeviceMenu& devices = midiMenus_.devices();
  for (int i = 1; i < kDeviceMenuItems && !device.empty(); ++i) {
    const MenuItem& item = devices[static_cast<std::size_t>(i)];
    if (item.visible && item.enabled && item.caption == device) {
      device_Click(i);
      break;
    }
  }
  bool isNumber = false;
  const int channel = settings.GetSetting(kDevicesSection, "MidiChannel", {}).toInt(&isNumber);
  if (isNumber && channel >= 1 && channel <= kChannelMenuItems) chan_Click(channel - 1);
  const QString sound = settings.GetSetting(kDevicesSection, "SoundDevice", {});
  const int entry = sound.isEmpty() ? -1 : audioDevices_->findText(sound);
  if (entry >= 0) audioDevices_->setCurrentIndex(entry);
}

void Form1::refreshDevices() {
  // The MIDI menu: the same device and channel checked, found by name.
  std::string open;
  for (const MenuItem& item : midiMenus_.devices()) {
    if (item.checked) open = item.caption;
  }
  int channel = 0;
  for (int i = 0; i < kChannelMenuItems; ++i) {
    if (midiMenus_.channels()[static_cast<std::size_t>(i)].checked) channel = i;
  }
  MidiMenus menus(port_->deviceNames());
  int picked = -1;
  for (int i = 0; i < kDeviceMenuItems; ++i) {
    const MenuItem& item = menus.devices()[static_cast<std::size_t>(i)];
    if (item.visible && item.caption == open) picked = i;
  }
  menus.pickDevice(picked);
  menus.pickChannel(channel);
  midiMenus_ = menus;
  refreshMidiMenus();

  // The sound devices, the one in use still selected.
  const std::vector<std::string> names = samples_->refreshDevices();
  const QSignalBlocker quiet(audioDevices_);
  audioDevices_->clear();
  for (const std::string& name : names) audioDevices_->addItem(QString::fromStdString(name));
  audioDevices_->setCurrentIndex(names.empty() ? -1 : samples_->selectedAudioDevice());
}

void Form1::exportAudio(QString path, double gainDb, bool normalize) {
  if (audioExport_ && audioExport_->running()) return;
  if (path.isEmpty()) {
    path = services_.dialogs.exportFileName(this, tr("Export Audio"),
                                            "WAVE (*.wav);;FLAC (*.flac);;Ogg Vorbis (*.ogg)",
                                            editor_->documents().exportNameWith(".wav"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".wav");
    const std::optional<int> level = services_.dialogs.chooseItem(
        this, tr("Level of the exported audio:"),
        {tr("As played"), tr("Normalised: the loudest peak at -1 dBFS"),
         tr("Louder or softer by a gain in decibels...")},
        1);
    if (!level) return;
    normalize = *level == 1;
    if (*level == 2) {
      const std::optional<int> gain =
          services_.dialogs.chooseNumber(this, tr("Gain in decibels (dB):"), 0, -60, 40);
      if (!gain) return;
      gainDb = *gain;
    }
  }
  RenderSettings settings;
  settings.gainDb = gainDb;
  settings.normalize = normalize;
  settings.documentFolder = documentFolder().toStdString();
  const QString document = editor_->documents().currentFileName();
  if (!document.isEmpty()) settings.inputs.push_back(QFile::encodeName(document).toStdString());
  // Compiled as Play compiles, with what carries over from the compilation before, so
  // the file holds what Play plays.
  MessageBoxListener listener(services_.dialogs, this);
  std::shared_ptr<const Song> song =
      session_->compile(joinLinesWithCrLf(editor_->documentText().toStdString()),
                        options_ ? options_->padMap() : defaultPadMap(), &listener);
  checkWithKeptState();
  delete audioExport_;
  audioExport_ = new AudioExport(this, std::move(song), path, std::move(settings));
  connect(audioExport_, &AudioExport::finished, this,
          [this] { label1_->setText(audioExport_->summary().replace('\n', "; ")); });
}

void Form1::refreshMidiMenus() {
  const DeviceMenu& devices = midiMenus_.devices();
  for (int i = 0; i < kDeviceMenuItems; ++i) {
    const MenuItem& item = devices[static_cast<std::size_t>(i)];
    QAction* a = device_[static_cast<std::size_t>(i)];
    a->setText(QString::fromStdString(item.caption));
    a->setVisible(item.visible);
    a->setEnabled(item.enabled);
    a->setChecked(item.checked);
  }
  const ChannelMenu& channels = midiMenus_.channels();
  for (int i = 0; i < kChannelMenuItems; ++i) {
    chan_[static_cast<std::size_t>(i)]->setChecked(channels[static_cast<std::size_t>(i)].checked);
  }
}

void Form1::Options_Click() {
  if (!options_) return;
  options_->show();
  options_->raise();
  options_->activateWindow();
}

void Form1::ImportDrumTab_Click() {
  tabImport_->importFile();
}

void Form1::ExportMidi_Click() {
  QString path = services_.dialogs.exportFileName(this, tr("Export MIDI"), tr("MIDI files (*.mid)"),
                                                  editor_->documents().exportNameWith(".mid"));
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".mid");
  const std::optional<int> channel = services_.dialogs.chooseNumber(
      this, tr("MIDI channel of the drums (10 is the General MIDI drum channel):"), 10, 1, 16);
  if (!channel) return;
  // Compiled as Play compiles, with what carries over from the compilation before, so
  // the file holds what Play plays.
  CompileRequest request;
  request.padMap = options_ ? options_->padMap() : defaultPadMap();
  request.diagnose = false;
  const CompiledDocument compiled =
      session_->compileDocument(joinLinesWithCrLf(editor_->documentText().toStdString()), request);
  checkWithKeptState();
  const Timeline& timeline = *compiled.song;
  if (!timeline.playable()) {
    services_.dialogs.message(this, tr("There is nothing to play: no MIDI file was written."));
    return;
  }
  const MidiFileSong song = midiFileSongOf(timeline, compiled.metadata);
  MidiFileSummary summary;
  const std::string bytes = writeStandardMidiFile(song, *channel - 1, &summary);
  const QString failure =
      writeWholeFile(path, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())),
                     {editor_->documents().currentFileName()});
  if (!failure.isEmpty()) {
    services_.dialogs.message(this, tr("Cannot save \"%1\": %2.").arg(path, failure));
    return;
  }
  if (summary.samplesLeftOut > 0) {
    services_.dialogs.message(
        this, tr("%n sample hit(s) left out: a MIDI file cannot hold samples.", nullptr,
                 static_cast<int>(summary.samplesLeftOut)));
  }
}

void Form1::Exit_Click() {
  if (!editor_->maybeSave()) return;
  exiting_ = true;
  port_->close();
  delete options_;
  close();
}

void Form1::closeEvent(QCloseEvent* event) {
  // Text that has changed is not lost without a question (Exit has asked already).
  if (!exiting_ && !editor_->maybeSave()) {
    event->ignore();
    return;
  }
  session_->player().stop();
  port_->close();
  // The secondary windows go in this order: Options, the two template windows, then the
  // find window with the main window.
  delete options_;
  templates_->closeWindows();
  // Saved or given up: no copy to offer next time. A signal leaves it.
  if (!bySignal_) recovery_->discard();
  remember(kWindowSection, "Geometry", QString::fromLatin1(saveGeometry().toBase64()));
  closed_ = true;
  event->accept();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) layoutControls();
  return QMainWindow::eventFilter(watched, event);
}

void Form1::layoutControls() {
  if (text1_ == nullptr) return;
  // Only the editor follows the window; a size that would be negative is not applied.
  const int width = client_->width() - twips(kEditorRightGap);
  const int height = client_->height() - twips(kEditorTop) - twips(kStripHeight);
  const int w = width >= 0 ? width : text1_->width();
  const int h = height >= 0 ? height : text1_->height();
  text1_->setGeometry(twips(kEditorLeft), twips(kEditorTop), w, h);
  if (drumKeyboard_ != nullptr) {
    drumKeyboard_->move(twips(kEditorLeft), twips(kEditorTop) + h + twips(kMargin));
  }
  // The status line reaches the window's right edge.
  label1_->resize(std::max(0, client_->width() - twips(kLabelLeft) - twips(kMargin)),
                  label1_->height());
}

}  // namespace pulsewright
