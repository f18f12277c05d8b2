#pragma once
// The main window: the tablature editor under the menus and the row of picture buttons,
// the audio device list, the status line, and the drum keyboard strip under the editor.
// It owns the compiler, the player, the MIDI port, the sample player and the live
// keyboard for as long as it lives.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/AppServices.h"
#include "app/SplashWindow.h"
#include "midi/MidiMenus.h"
#include "midi/MidiPort.h"
#include "padmap/ui/OptionsWindow.h"
#include "playback/Player.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;
class QToolButton;

namespace pulsewright {

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
class PlaybackSession;
class PrintCommand;
class StatusLabel;
class TransportBar;
class SamplePlayer;
class AudioExport;
class SplashWindow;
class StaffPanel;
class TablatureCompiler;

class Form1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit Form1(AppServices services, QWidget* parent = nullptr);
  ~Form1() override;

  // Start-up: the splash window, the devices, the patterns, the MIDI menus with the
  // mapper open, the velocity, the first preset and the stored appearance, in that
  // order. The main window shows when the splash timer fires.
  void startUp();

  // Live keyboard, also used by the Options window's "+" and "-".
  void StartNote(std::int16_t index);
  void StopNote(std::int16_t index);

  // Parts of the window, for the window tests.
  QPlainTextEdit* Text1() const { return text1_; }
  TablatureEditor* tablatureEditor() const { return tablatureEditor_; }
  ProblemsPanel* problems() const { return problems_; }
  StaffPanel* staff() const { return staff_; }
  QToolButton* button(const QString& name) const;
  QComboBox* AudioDevices() const { return audioDevices_; }
  QLabel* Label1() const;
  TransportBar* transportBar() const { return transport_; }
  PrintCommand& printCommand() const { return *print_; }
  QAction* action(const QString& name) const;
  QMenu* deviceMenu() const { return midiDevices_; }
  QMenu* channelMenu() const { return channelOption_; }
  DrumKeyboard* keyboard() const { return drumKeyboard_; }
  OptionsWindow* options() const { return options_; }
  SplashWindow* splash() const { return splash_; }
  MidiPort& midiPort() { return *port_; }
  LiveKeyboard& liveKeyboard() { return *liveKeyboard_; }
  const TablatureCompiler& compiler() const;
  bool isPlaying() const;
  // The share of the written tempo the song plays at (Play menu).
  void setTempoScale(double scale);
  double tempoScale() const;

  EditorCommands& editor() const { return *editor_; }
  TemplatesController& templates() const { return *templates_; }
  // Converts a length in twips to pixels.
  int twips(int length) const;

 public slots:
  void Play_Click();
  void Pause_Click();
  void Stopb_Click();
  void SplashTimer_Timer();
  void Exit_Click();
  // File > Export Audio: renders the text as it stands into `path` (an empty path asks
  // for one); the status line says how it went.
  // With no path, asks for the file and the level; a path given (by tests) skips both.
  void exportAudio(QString path = {}, double gainDb = 0, bool normalize = false);
  void Options_Click();
  // File > Import Drum Tab...: a web drum tab opened as a new, unsaved document.
  void ImportDrumTab_Click();
  // File > Export MIDI...: the song as a Standard MIDI File on a chosen channel.
  void ExportMidi_Click();
  void device_Click(int index);
  void chan_Click(int index);
  // SIGTERM, SIGINT or SIGHUP: closes as Exit does without asking; unsaved text stays in
  // the recovery file for the next start.
  void quitWithoutAsking();

 protected:
  // The client area's size changes with the window, and also when the status bar appears
  // or the problems list is resized: each time the controls are laid out again.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 public:
  AudioExport* audioExport() const { return audioExport_; }

 private:
  AudioExport* audioExport_ = nullptr;  // the export under way or the latest one
  class StatusRelay;
  void buildMenus();
  void buildPlayMenu();
  // The name of the part whose section line stands nearest above the text cursor.
  std::string partAtCursor() const;
  void wireEditor();
  void buildControls();
  void refreshMidiMenus();
  // The device lists as the system has them now, the choices kept (menus about to open).
  void refreshDevices();
  // The devices and the window's place remembered from the last run.
  void restoreChoices();
  void remember(const char* section, const char* key, const QString& value);
  // Play, Pause and Stop in the Play menu and the toolbar as the buttons are.
  void syncTransport();
  void showTempo();
  // The open document's folder; empty for a new document.
  QString documentFolder() const;
  void layoutControls();
  void songOver();
  // Points the problems list at the state the latest compilation left behind.
  void checkWithKeptState();
  void offerRecovery();
  void startPlaying();

  AppServices services_;
  std::unique_ptr<MidiPort> port_;
  MidiMenus midiMenus_;
  std::unique_ptr<SamplePlayer> samples_;
  std::unique_ptr<LiveKeyboard> liveKeyboard_;
  std::unique_ptr<StepOutput> stepOutput_;
  std::unique_ptr<StatusRelay> statusRelay_;
  std::unique_ptr<PlaybackSession> session_;
  std::optional<SongPosition> pausedAt_;

  QWidget* client_ = nullptr;
  EditorCommands* editor_ = nullptr;
  DrumTabImportCommands* tabImport_ = nullptr;
  std::unique_ptr<TemplatesController> templates_;
  QPlainTextEdit* text1_ = nullptr;
  TablatureEditor* tablatureEditor_ = nullptr;
  ProblemsPanel* problems_ = nullptr;
  StaffPanel* staff_ = nullptr;
  std::map<QString, QToolButton*> buttons_;
  std::map<QString, QAction*> actions_;
  QComboBox* audioDevices_ = nullptr;
  StatusLabel* label1_ = nullptr;
  TransportBar* transport_ = nullptr;
  PrintCommand* print_ = nullptr;
  double writtenTempo_ = 120;  // of the step playing last, in beats per minute
  DrumKeyboard* drumKeyboard_ = nullptr;
  QMenu* midiDevices_ = nullptr;
  QMenu* channelOption_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  std::array<QAction*, kDeviceMenuItems> device_{};
  std::array<QAction*, kChannelMenuItems> chan_{};
  QTimer* splashTimer_ = nullptr;
  QAction* tempoLabel_ = nullptr;
  QPointer<SplashWindow> splash_;
  QPointer<OptionsWindow> options_;
  bool closed_ = false;
  bool exiting_ = false;
  bool bySignal_ = false;
  DocumentRecovery* recovery_ = nullptr;
  DocumentImport* documentImport_ = nullptr;
};

}  // namespace pulsewright
