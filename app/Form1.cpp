#include "app/Form1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "app/ClientArea.h"
#include "app/DeviceMenus.h"
#include "app/DocumentExports.h"
#include "app/DocumentImport.h"
#include "app/DocumentRecovery.h"
#include "app/DrumKeyboard.h"
#include "app/DrumTabImportCommands.h"
#include "app/HelpWindows.h"
#include "app/KitWindow.h"
#include "app/MainMenus.h"
#include "app/PlayMenu.h"
#include "app/PrintCommand.h"
#include "app/Recording.h"
#include "app/SessionBridge.h"
#include "app/StartUpSequence.h"
#include "app/StatusLabel.h"
#include "app/StepGridLink.h"
#include "app/SyncMenu.h"
#include "app/Transport.h"
#include "app/TransportBar.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "editor/ProblemsPanel.h"
#include "editor/RecentFiles.h"
#include "editor/TablatureEditor.h"
#include "grid/ui/StepGridPanel.h"
#include "midi/LiveKeyboard.h"
#include "midi/PortStepOutput.h"
#include "notation/ui/StaffPanel.h"
#include "padmap/DrumKeys.h"
#include "padmap/ui/OptionsWindow.h"
#include "platform/FluidSynthOutput.h"
#include "platform/qt/LargeDocumentTurn.h"
#include "platform/qt/Twips.h"
#include "platform/qt/UserDialogs.h"
#include "playback/SamplePlayer.h"
#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"
#include "templates/TemplatesController.h"
#include "text/DocumentText.h"

namespace pulsewright {

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
  stepOutput_ = std::make_unique<PortStepOutput>(port_.get(), samples_.get());
  transport_ = std::make_unique<Transport>(*stepOutput_, services_.clock, samples_.get());
  connect(transport_.get(), &Transport::stateChanged, this, &Form1::showState);
  connect(transport_.get(), &Transport::stepPlaying, this, &Form1::showStep);
  connect(transport_.get(), &Transport::statusChanged, this,
          [this](const QString& text) { label1_->setText(text); });
  // One compilation per change of the text, for every view: the editor hands its text
  // over each time it would check it.
  session_ = std::make_unique<DocumentSession>(sessionOptions());

  buildControls();
  buildMenus();
  wireEditor();
  bridge_ = std::make_unique<SessionBridge>(
      *session_, *tablatureEditor_,
      [this](const std::shared_ptr<const SessionResult>& result) { takeCompilation(result); });
  // The client area (under the menu bar, above the problems list) has its design size at
  // first.
  const auto* problemsDock = findChild<QDockWidget*>("ProblemsDock");
  resize(twips(ClientArea::kWidthTwips),
         twips(ClientArea::kHeightTwips) + menuBar()->sizeHint().height() +
             transportBar_->sizeHint().height() +
             (problemsDock != nullptr ? problemsDock->sizeHint().height() : 0));
  // Room for the editor, the keyboard and the panels at once: at least 1100 x 750, or
  // 80 % of a smaller screen. A place kept from the last run replaces this.
  QSize first = size().expandedTo(QSize(kFirstWidth, kFirstHeight));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize room = screen->availableSize();
    if (first.width() > room.width()) first.setWidth(room.width() * 4 / 5);
    if (first.height() > room.height()) first.setHeight(room.height() * 4 / 5);
  }
  resize(first);
}

Form1::~Form1() {
  bridge_.reset();  // no compilation reaches the views from here on
  delete sync_;     // its clock port goes before the player it serves
  sync_ = nullptr;
  transport_.reset();  // the playback thread ends before what it plays through
  templates_.reset();
  if (!closed_) port_->close();
  delete startUp_->splash();
  // The keyboard strip releases its keys when it loses the focus, which closing the
  // window does after the live keyboard has gone: it goes first.
  delete drumKeyboard_;
  drumKeyboard_ = nullptr;
  delete kitWindow_;  // before the model it shows
  kitWindow_ = nullptr;
}

int Form1::twips(int length) const {
  return twips::toPixels(length);
}

void Form1::buildControls() {
  client_ = new ClientArea([this](int length) { return twips(length); }, this);
  setCentralWidget(client_);
  buttons_ = client_->buttons();
  connect(buttons_["Play"], &QToolButton::clicked, this, &Form1::Play_Click);
  connect(buttons_["Pause"], &QToolButton::clicked, this, &Form1::Pause_Click);
  connect(buttons_["Stopb"], &QToolButton::clicked, this, &Form1::Stopb_Click);
  label1_ = client_->statusLine();
  tablatureEditor_ = client_->editor();
  text1_ = tablatureEditor_;
  connect(tablatureEditor_, &TablatureEditor::editRefused, this,
          [this](const QString& message) { statusBar()->showMessage(message, 5000); });
  devices_ = new DeviceMenus(*port_, *samples_, services_.settings, services_.midiInput, client_);
  drumKeyboard_ = new DrumKeyboard(
      *liveKeyboard_, [this](int t) { return twips(t); }, client_);
  auto drumName = [](int voice) {
    return std::string(kVoiceCaptions[static_cast<std::size_t>(voice) % kVoiceCount]);
  };
  connect(drumKeyboard_, &DrumKeyboard::muteToggled, this,
          [this, drumName](int voice) { transport_->toggleMute(drumName(voice)); });
  connect(drumKeyboard_, &DrumKeyboard::soloToggled, this,
          [this, drumName](int voice) { transport_->toggleSolo(drumName(voice)); });
  connect(transport_.get(), &Transport::voiceMaskChanged, drumKeyboard_,
          [this] { drumKeyboard_->showVoiceMask(transport_->voiceMask()); });
  client_->place(devices_->soundDevices(), drumKeyboard_);
}

void Form1::buildMenus() {
  recentMenu_ = addFileAndEditMenus(menuBar(), actions_);
  const std::pair<const char*, std::function<void()>> commands[] = {
      {"Import", [this] { documentImport_->chooseAndImport(); }},
      {"ImportDrumTab", [this] { ImportDrumTab_Click(); }},
      {"ExportMidi", [this] { ExportMidi_Click(); }},
      {"ExportMusicXml", [this] { exports_->exportMusicXml(); }},
      {"CopyGrooveScribeLink", [this] { exports_->copyGrooveScribeLink(); }},
      {"PrintStaves", [this] { exports_->printStaves(); }},
      {"ExportStavesPdf", [this] { exports_->exportStavesPdf(); }},
      {"ExportAudio", [this] { exportAudio(); }},
      {"Exit", [this] { Exit_Click(); }},
      {"PasteDrumTab", [this] { tabImport_->pasteClipboard(); }},
  };
  for (const auto& [name, command] : commands) {
    connect(action(name), &QAction::triggered, this, command);
  }
  devices_->addMenus(menuBar());

  addSettingsMenu(menuBar(), actions_);
  sync_ = new SyncMenu(menuBar(), services_.midi, services_.midiInput, services_.settings,
                       *transport_, this);
  sync_->setPlaysTo([this] {
    return SyncPlay::PlaysTo{QString::fromStdString(services_.midi.deviceName(port_->deviceId())),
                             port_->channel()};
  });
  connect(action("Options"), &QAction::triggered, this, &Form1::Options_Click);
  connect(action("Kit"), &QAction::triggered, this, [this] {
    kitWindow_->show();
    kitWindow_->raise();
  });
  playMenu_ = new PlayMenu(*this, menuBar(), *transport_, actions_);
  transportBar_ = playMenu_->toolBar();
  recording_ = std::make_unique<Recording>(*port_, samples_.get(), services_, *transport_, this);
  // A take plays the part as the session compiles it, with what Play left behind.
  recording_->compileThrough([this](std::string_view text) {
    checkWithKeptState();
    return session_->resultFor(text)->document.song;
  });
  connect(playMenu_->addRecording(*recording_, services_.dialogs, this, actions_),
          &QAction::triggered, this, &Form1::Record_Click);
  connect(recording_.get(), &Recording::said, label1_, &QLabel::setText);
  playMenu_->followButtons(button("Play"), button("Pause"), button("Stopb"));

  addHelpMenu(menuBar(), actions_);
  connect(action("LanguageReference"), &QAction::triggered, this, &Form1::showLanguageReference);
  connect(action("DrumNames"), &QAction::triggered, this, &Form1::showDrumNames);
  connect(action("About"), &QAction::triggered, this, &Form1::about);
}

namespace {
void showOnTop(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}
}  // namespace

void Form1::showLanguageReference() {
  if (!languageReference_) languageReference_ = new LanguageReferenceWindow(this);
  showOnTop(languageReference_);
  languageReference_->findField()->setFocus();
}

void Form1::showDrumNames() {
  if (!drumNames_) drumNames_ = new DrumNamesWindow(this);
  drumNames_->showNotes(padMap());
  showOnTop(drumNames_);
}

void Form1::about() {
  services_.dialogs.message(
      this, tr("Pulsewright %1\n\nA drum-tablature editor and player: type drum tablature as "
               "plain text and play it through MIDI or the built-in synthesiser.\n\nFree "
               "software under the GNU General Public License, version 3 or later.")
                .arg(QCoreApplication::applicationVersion()));
}

PadMap Form1::padMap() const {
  return options_ ? options_->padMap() : defaultPadMap();
}

std::string Form1::partAtCursor() const {
  return partAtTextCursor(*text1_, transport_->compiler().matcher());
}

void Form1::wireEditor() {
  editor_ = new EditorCommands(text1_, this, services_.dialogs, services_.settings, this);
  tabImport_ = new DrumTabImportCommands(*editor_, services_.dialogs, this);
  wireEditorCommands(*editor_, text1_, actions_, buttons_);
  print_ = new PrintCommand(
      editor_->documents(), [this] { return editor_->fontFamily(); }, this, this);
  connect(action("Print"), &QAction::triggered, print_, &PrintCommand::print);
  connect(button("PrintButton"), &QToolButton::clicked, print_, &PrintCommand::print);
  connect(print_, &PrintCommand::failed, label1_, &QLabel::setText);
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
            transportBar_->showPosition({});
          });

  // The tempo scale, the taps and the tempo shown belong to the document on screen.
  connect(&editor_->documents(), &DocumentCommands::documentReplaced, this, [this] {
    transportBar_->forgetTaps();
    transport_->documentReplaced(documentForCompiler(), padMap());
  });

  // The problems in the text under the editor; double-click one to go to it.
  problems_ = new ProblemsPanel(*tablatureEditor_);
  // Settings > Kit, hidden until asked for.
  kit_ = std::make_unique<KitSettingsModel>(
      services_.settings, services_.padMapFolder.toStdString(), services_.kitVoices);
  kitWindow_ = new KitWindow(
      *kit_, *tablatureEditor_, [this] { return padMap(); }, this);
  kitWindow_->setWindowFlag(Qt::Window);
  // An SF2 kit plays on the synthesiser, which is closed and opened again around the switch.
  kit_->setSoundFontSwitch([this](const std::string& font, int bank, int program) {
    if (!services_.synth) return true;
    const bool mapper = port_->deviceId() == kMidiMapperId;
    if (mapper) port_->close();
    const bool loaded = services_.synth->useSoundFontKit(font, bank, program);
    if (mapper) port_->openDevice(kMidiMapperId);
    return loaded;
  });
  connect(kitWindow_, &KitWindow::kitLoaded, this,
          [this] { problems_->setKitWarnings(kit_->warnings()); });
  QDockWidget* dock =
      dockUnderEditor(*this, problems_, "Problems", "Problems", action("Find"), actions_);
  documentImport_ = new DocumentImport(*editor_, *problems_, services_.dialogs, this);

  // The part under the cursor as a drum staff, beside the problems.
  staff_ = new StaffPanel(
      *text1_, [this] { return padMap(); }, nullptr, StaffPanel::Source::kShownCompilations);
  QDockWidget* staffDock =
      dockUnderEditor(*this, staff_, "Drum Staff", "Staff", action("Find"), actions_);
  splitDockWidget(dock, staffDock, Qt::Horizontal);

  // The part under the cursor as a step grid, hidden until View > Step Grid (Ctrl+G).
  stepGrid_ = new StepGridPanel;
  QDockWidget* gridDock =
      dockUnderEditor(*this, stepGrid_, "Step Grid", "StepGrid", action("Find"), actions_);
  action("ShowStepGrid")->setShortcut(QKeySequence("Ctrl+G"));
  // A tab beside the staff, which it shares the width with; in front when shown.
  tabifyDockWidget(staffDock, gridDock);
  gridDock->hide();
  connect(action("ShowStepGrid"), &QAction::triggered, gridDock, [gridDock](bool shown) {
    if (shown) gridDock->raise();
  });
  stepGridLink_ = new StepGridLink(
      *stepGrid_, *tablatureEditor_, *staff_,
      [this](DrumVoice voice) {
        for (std::size_t k = 0; k < kKeyboardKeys.size(); ++k) {
          if (kKeyboardKeys[k].voice != voice) continue;
          StartNote(static_cast<std::int16_t>(k));
          StopNote(static_cast<std::int16_t>(k));
          return;
        }
      },
      this);

  recovery_ = new DocumentRecovery(*text1_, services_.recoveryFolder, 60000, this);
  recovery_->setDocumentPath([this] { return editor_->documents().currentFileName(); });
  startUp_ = new StartUpSequence(*this, services_, *recovery_, *editor_,
                                 [this](int length) { return twips(length); });
  exports_ = new DocumentExports(this, services_.dialogs, *editor_, [this](std::string_view text) {
    return compileAsPlay(text)->document;
  });
  exports_->setRenderKit([this](std::string_view text) {
    kit_->poll();
    kit_->prepare(text, padMap());  // the document's kit line wins, as at Play
    return kit_->renderChoice(text, padMap());
  });
  connect(exports_, &DocumentExports::audioExported, label1_, &QLabel::setText);
  // Every export names the file it wrote in the status bar.
  auto confirm = [this](const QString& path) {
    statusBar()->showMessage(tr("Exported %1").arg(QDir::toNativeSeparators(path)));
  };
  connect(exports_, &DocumentExports::fileExported, this, confirm);
  connect(&editor_->documents(), &DocumentCommands::exported, this, confirm);
  connect(exports_, &DocumentExports::audioExported, this,
          [this](const QString& summary) { statusBar()->showMessage(summary); });
  templates_ =
      std::make_unique<TemplatesController>(*text1_, services_.settings, services_.dialogs, this);
  templates_->store().setShippedFolders(shippedTemplateFolders());
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
  startUp_->showSplash();
  // 2-3. The sound devices, entry 0 selected; the sample ring starts at slot 0.
  devices_->listSoundDevices();
  // 4. Let the splash window draw.
  QApplication::processEvents();
  // 5. The transport at rest.
  button("Pause")->setEnabled(false);
  button("Stopb")->setEnabled(false);
  playMenu_->syncKeys();
  // 6-7. The line patterns were compiled with the session; the tuplet divisor starts at 1.
  // 8. The MIDI menus, the mapper opened, channel "1", then the choices of the last run.
  devices_->listMidiDevices();
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
  kit_->prepare({}, padMap());  // the remembered kit loads while the window starts
  // 11. The stored appearance.
  editor_->applyStoredAppearance();
  if (services_.splashMilliseconds <= 0) startUp_->splashOver();
}

void Form1::changeEvent(QEvent* event) {
  // A key held while the window loses the focus would sound for ever.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
    liveKeyboard_->releaseAll();
  }
  QMainWindow::changeEvent(event);
}

SessionOptions Form1::sessionOptions() const {
  SessionOptions options;
  options.padMap = padMap();
  options.documentFolder = editor_ ? documentFolder(*editor_).toStdString() : std::string();
  options.largeDocumentTurn = &largeDocumentTurn();
  return options;
}

void Form1::checkWithKeptState() {
  if (!bridge_) return;
  SessionOptions options = sessionOptions();
  const SessionOptions had = session_->options();
  if (options.padMap != had.padMap || options.documentFolder != had.documentFolder) {
    bridge_->setOptions(std::move(options));
  }
}

std::shared_ptr<const SessionResult> Form1::compileAsPlay(std::string_view text) {
  checkWithKeptState();
  std::shared_ptr<const SessionResult> result = session_->resultFor(text);
  session_->keepStateOf(result, false);
  return result;
}

void Form1::Play_Click() {
  try {
    if (statusBar()->isVisible()) statusBar()->clearMessage();
    if (port_->deviceId() == kMidiMapperId && !services_.sound.hasDevice()) {
      statusBar()->showMessage("No sound device: the built-in synthesiser cannot be heard.");
    }
    MessageBoxListener listener(services_.dialogs, this);
    const std::shared_ptr<const SessionResult> result = compileAsPlay(documentForCompiler());
    kit_->prepare(result->text(), padMap());  // the document's kit line wins
    transport_->playCompiled(kit_->withMix(result->document, result->text(), padMap()), &listener,
                             [this] { return partAtCursor(); });
    problems_->setKitWarnings(kit_->warnings());
  } catch (const std::bad_alloc&) {
    // Not enough memory for this song: the window and its text stay.
    transport_->songOver();
    const bool kept = recovery_->keepNow();
    statusBar()->showMessage(kept ? tr("Not enough memory to play this song. The text is kept.")
                                  : tr("Not enough memory to play this song."));
  }
}

void Form1::Stopb_Click() {
  if (recording_->active()) {
    recording_->stop();  // it says on the status line what became of the take
    return;
  }
  transport_->stop();
  // The line told which step played; none does now.
  label1_->clear();
}

void Form1::Record_Click() {
  if (!recording_->start(*text1_, partAtCursor(), devices_->input(), padMap())) return;
  showState(Transport::State::kPlaying);
  button("Pause")->setEnabled(false);  // a take is not paused
  playMenu_->syncKeys();
}

void Form1::showState(Transport::State state) {
  // The text stays editable while it plays: each edit that plays takes over at the next
  // bar line (takeCompilation()).
  const bool playing = state == Transport::State::kPlaying;
  if (!playing) problems_->setNotPlayed({});
  if (state == Transport::State::kStopped) {
    tablatureEditor_->clearPlayingCharacters();
    staff_->clearPlaying();
    stepGrid_->stopped();
    drumKeyboard_->showArticulated({});
  }
  button("Pause")->setEnabled(playing);
  button("Stopb")->setEnabled(state != Transport::State::kStopped);
  button("Play")->setEnabled(!playing);
  playMenu_->syncKeys();
}

void Form1::takeCompilation(const std::shared_ptr<const SessionResult>& result) {
  staff_->showCompiled(result->text(), result->padMap, result->document.song,
                       result->document.metadata);
  // Only an edit of the newest text plays, and only one that is not playing already.
  if (transport_->state() != Transport::State::kPlaying || !transport_->isPlaying() ||
      result == session_->kept() || result->generation != bridge_->latestGeneration()) {
    return;
  }
  const std::vector<Diagnostic> reasons =
      transport_->editCompiled(kit_->withMix(result->document, result->text(), result->padMap));
  if (reasons.empty()) session_->keepStateOf(result, false);
  problems_->setNotPlayed(reasons);
}

std::string Form1::documentForCompiler() const {
  // One step at a time, so that a large text is held twice at most.
  std::string text = editor_->documentText().toStdString();
  return joinLinesWithCrLf(text);
}

void Form1::showStep(const Transport::Step& step) {
  tablatureEditor_->setPlayingCharacters(step.positions);
  staff_->setPlayingStep(step.part, step.songPosition, step.step);
  stepGrid_->setPlaying(step.part, step.step);
  drumKeyboard_->showArticulated(step.articulated);
}

void Form1::Options_Click() {
  if (!options_) return;
  options_->show();
  options_->raise();
  options_->activateWindow();
}

void Form1::Exit_Click() {
  recording_->stop();  // a take goes into the text before the question about saving it
  if (!editor_->maybeSave()) return;
  startUp_->setExiting();
  port_->close();
  delete options_;
  close();
}

void Form1::closeEvent(QCloseEvent* event) {
  // Text that has changed is not lost without a question (Exit has asked already).
  if (!startUp_->exiting() && !editor_->maybeSave()) {
    event->ignore();
    return;
  }
  transport_->stop();
  port_->close();
  // The secondary windows go in this order: Options, the two template windows, then the
  // find window with the main window.
  delete options_;
  templates_->closeWindows();
  // Saved or given up: no copy to offer next time. A signal leaves it.
  if (!startUp_->bySignal()) recovery_->discard();
  startUp_->rememberPlace();
  closed_ = true;
  event->accept();
}

}  // namespace pulsewright
