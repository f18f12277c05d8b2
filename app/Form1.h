#pragma once
// The main window: the tablature editor under the menus and the row of picture buttons,
// the audio device list, the status line, and the drum keyboard strip under the editor.
// It owns the compiler, the player, the MIDI port, the sample player and the live
// keyboard for as long as it lives.

#include <QMainWindow>
#include <QPointer>
#include <map>
#include <memory>

#include "app/AppServices.h"
#include "app/DeviceMenus.h"
#include "app/DocumentExports.h"
#include "app/DrumTabImportCommands.h"
#include "app/HelpWindows.h"
#include "app/Recording.h"
#include "app/SplashWindow.h"
#include "app/StartUpSequence.h"
#include "app/Transport.h"
#include "midi/LiveKeyboard.h"
#include "midi/MidiPort.h"
#include "padmap/PadMap.h"
#include "padmap/ui/OptionsWindow.h"
#include "session/DocumentSession.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;
class QToolButton;

namespace pulsewright {

class ClientArea;
class SessionBridge;
class DeviceMenus;
class DocumentExports;
class DocumentImport;
class DocumentRecovery;
class DrumKeyboard;
class DrumTabImportCommands;
class EditorCommands;
class ProblemsPanel;
class TablatureEditor;
class TemplatesController;
class LiveKeyboard;
class OptionsWindow;
class KitSettingsModel;
class KitWindow;
class PlayMenu;
class PortStepOutput;
class PrintCommand;
class StatusLabel;
class TransportBar;
class SamplePlayer;
class AudioExport;
class SplashWindow;
class StartUpSequence;
class StaffPanel;
class StepGridPanel;
class StepGridLink;
class TablatureCompiler;

class Form1 : public QMainWindow {
  Q_OBJECT

 public:
  // The first window's size on a screen large enough for it.
  static constexpr int kFirstWidth = 1100;
  static constexpr int kFirstHeight = 750;
  explicit Form1(AppServices services, QWidget* parent = nullptr);
  ~Form1() override;

  // Start-up: the splash window, the devices, the patterns, the MIDI menus with the
  // mapper open, the velocity, the first preset and the stored appearance, in that
  // order. The main window shows when the splash timer fires.
  void startUp();

  // Live keyboard, also used by the Options window's "+" and "-".
  void StartNote(std::int16_t index) { liveKeyboard_->StartNote(index); }
  void StopNote(std::int16_t index) { liveKeyboard_->StopNote(index); }

  // Parts of the window, for the window tests.
  QPlainTextEdit* Text1() const { return text1_; }
  TablatureEditor* tablatureEditor() const { return tablatureEditor_; }
  ProblemsPanel* problems() const { return problems_; }
  StaffPanel* staff() const { return staff_; }
  StepGridPanel* stepGrid() const { return stepGrid_; }
  QToolButton* button(const QString& name) const;
  QComboBox* AudioDevices() const { return devices_->soundDevices(); }
  QLabel* Label1() const;
  TransportBar* transportBar() const { return transportBar_; }
  Transport& transport() const { return *transport_; }
  PrintCommand& printCommand() const { return *print_; }
  QAction* action(const QString& name) const;
  QMenu* deviceMenu() const { return devices_->deviceMenu(); }
  QMenu* channelMenu() const { return devices_->channelMenu(); }
  QMenu* inputMenu() const { return devices_->inputMenu(); }
  Recording& recording() const { return *recording_; }
  DrumKeyboard* keyboard() const { return drumKeyboard_; }
  OptionsWindow* options() const { return options_; }
  KitWindow* kitWindow() const { return kitWindow_; }
  KitSettingsModel& kitSettings() const { return *kit_; }
  SplashWindow* splash() const { return startUp_->splash(); }
  MidiPort& midiPort() { return *port_; }
  LiveKeyboard& liveKeyboard() { return *liveKeyboard_; }
  // The document's session: every view reads its compilations; song() is the one Play
  // took last.
  const DocumentSession& compiler() const { return *session_; }
  DocumentSession& session() const { return *session_; }
  bool isPlaying() const { return transport_->isPlaying(); }
  // The share of the written tempo the song plays at (Play menu).
  void setTempoScale(double scale) { transport_->setTempoScale(scale); }
  double tempoScale() const { return transport_->tempoScale(); }

  EditorCommands& editor() const { return *editor_; }
  TemplatesController& templates() const { return *templates_; }
  // Converts a length in twips to pixels.
  int twips(int length) const;

 public slots:
  void Play_Click();
  // Stops at the current step; Play goes on from there. The text may be edited meanwhile.
  void Pause_Click() { transport_->pause(); }
  // Stop also ends a recording, its take written into the text.
  void Stopb_Click();
  // Play > Record: the part under the text cursor, looped, from the Midi Input chosen.
  void Record_Click();
  void SplashTimer_Timer() { startUp_->splashOver(); }
  void Exit_Click();
  // File > Export Audio: renders the text as it stands into `path` (an empty path asks
  // for one); the status line says how it went.
  // With no path, asks for the file and the level; a path given (by tests) skips both.
  void exportAudio(QString path = {}, double gainDb = 0, bool normalize = false) {
    exports_->exportAudio(std::move(path), gainDb, normalize);
  }
  void Options_Click();
  // Help > Language Reference and Help > Drum Names: each window made on first use.
  void showLanguageReference();
  void showDrumNames();
  // Help > About Pulsewright.
  void about();
  // File > Import Drum Tab...: a web drum tab opened as a new, unsaved document.
  void ImportDrumTab_Click() { tabImport_->importFile(); }
  // File > Export MIDI...: the song as a Standard MIDI File on a chosen channel.
  void ExportMidi_Click() { exports_->exportMidi(); }
  void device_Click(int index) { devices_->pickDevice(index); }
  void chan_Click(int index) { devices_->pickChannel(index); }
  // SIGTERM, SIGINT or SIGHUP: closes as Exit does without asking; unsaved text stays in
  // the recovery file for the next start.
  void quitWithoutAsking() { startUp_->quitWithoutAsking(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 public:
  // The Help windows while they exist.
  LanguageReferenceWindow* languageReference() const { return languageReference_; }
  DrumNamesWindow* drumNames() const { return drumNames_; }
  // The audio export under way or the latest one.
  AudioExport* audioExport() const { return exports_->audioExport(); }

 private:
  void buildMenus();
  // The name of the part whose section line stands nearest above the text cursor.
  std::string partAtCursor() const;
  void wireEditor();
  void buildControls();
  // The pad map in use.
  PadMap padMap() const;
  // Play, Pause and Stop in the Play menu and the toolbar as the buttons are.
  // The buttons, the text and the playing step as the transport stands.
  void showState(Transport::State state);
  void showStep(const Transport::Step& step);
  // A compilation of the session, on the window's thread: the staff shows it, and while
  // the song plays the edit it is of takes over, or the problems list says why not.
  void takeCompilation(const std::shared_ptr<const SessionResult>& result);
  // The text as the compiler reads it, lines joined by CR LF.
  std::string documentForCompiler() const;
  // The session's compilation of `text` that Play plays: what it left behind is what
  // the next compilations start from.
  std::shared_ptr<const SessionResult> compileAsPlay(std::string_view text);
  // The pad map and the document's folder as the session compiles with them.
  SessionOptions sessionOptions() const;
  // Hands the session the pad map and folder in use, when they changed.
  void checkWithKeptState();

  AppServices services_;
  std::unique_ptr<MidiPort> port_;
  std::unique_ptr<SamplePlayer> samples_;
  std::unique_ptr<LiveKeyboard> liveKeyboard_;
  std::unique_ptr<PortStepOutput> stepOutput_;
  std::unique_ptr<Transport> transport_;
  // Goes before the port its player plays through.
  std::unique_ptr<Recording> recording_;
  std::unique_ptr<DocumentSession> session_;
  std::unique_ptr<SessionBridge> bridge_;  // goes before the session

  ClientArea* client_ = nullptr;
  EditorCommands* editor_ = nullptr;
  DrumTabImportCommands* tabImport_ = nullptr;
  std::unique_ptr<TemplatesController> templates_;
  QPlainTextEdit* text1_ = nullptr;
  TablatureEditor* tablatureEditor_ = nullptr;
  ProblemsPanel* problems_ = nullptr;
  StaffPanel* staff_ = nullptr;
  StepGridPanel* stepGrid_ = nullptr;
  StepGridLink* stepGridLink_ = nullptr;
  std::map<QString, QToolButton*> buttons_;
  std::map<QString, QAction*> actions_;
  DeviceMenus* devices_ = nullptr;
  class SyncMenu* sync_ = nullptr;
  PlayMenu* playMenu_ = nullptr;
  DocumentExports* exports_ = nullptr;
  StartUpSequence* startUp_ = nullptr;
  StatusLabel* label1_ = nullptr;
  TransportBar* transportBar_ = nullptr;
  PrintCommand* print_ = nullptr;
  DrumKeyboard* drumKeyboard_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QPointer<OptionsWindow> options_;
  std::unique_ptr<KitSettingsModel> kit_;
  KitWindow* kitWindow_ = nullptr;  // a child, deleted first in ~Form1
  QPointer<LanguageReferenceWindow> languageReference_;
  QPointer<DrumNamesWindow> drumNames_;
  bool closed_ = false;
  DocumentRecovery* recovery_ = nullptr;
  DocumentImport* documentImport_ = nullptr;
};

}  // namespace pulsewright
