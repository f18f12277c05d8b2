#pragma once
// Record, with no widget of its own: plays the part under the text cursor in a loop with a
// one-bar count-in and the metronome through the window's MIDI port, passes what the kit
// plays on to that port, writes the take so far into the editor's text each time a bar
// line passes, and the whole take when it ends: all of it one undo step. The window forwards its
// menu actions here; the tests drive it directly.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"

class QPlainTextEdit;
class QTimer;

namespace pulsewright {

struct AppServices;
class MidiInput;
class MidiInputService;
class MidiPort;
class PlaybackClock;
class PlaybackSession;
class PortStepOutput;
class SamplePlayer;
class SettingsStore;
class TakeRecorder;
class Timeline;
class Transport;
class LineMatcher;
struct TakeHit;

// The name of the part whose section line stands nearest above `editor`'s text cursor;
// empty when none does.
std::string partAtTextCursor(const QPlainTextEdit& editor, const LineMatcher& matcher);

class Recording : public QObject {
  Q_OBJECT
 public:
  // `port`, the clock, the settings and the MIDI inputs (may be null: none) of `services`,
  // and `transport` (stopped when a take starts and ends, so the window shows the
  // transport at rest) must outlive the recording; `samples` may be null. A window closed while it
  // records (the `parent`) gets the take first, so the question about unsaved text covers it.
  Recording(MidiPort& port, SamplePlayer* samples, const AppServices& services,
            Transport& transport, QObject* parent = nullptr);
  ~Recording() override;

  MidiInputService* inputs() const { return inputs_; }
  // Overdub (false, the default) or replace.
  void setReplace(bool on) { replace_ = on; }
  bool replace() const { return replace_; }
  // From an event's due time to its sound plus from a hit to its arrival, for inputs that
  // do not report it (JACK does); remembered for the next start.
  int latencyMs() const;
  void setLatencyMs(int ms);
  static constexpr int kMaxLatencyMs = 2000;

  // Starts recording `part` of `editor`'s text from the input named `input` (empty: the
  // only input there is) at the transport's tempo scale. said() tells that it records or
  // why it cannot; false as well while it records already.
  bool start(QPlainTextEdit& editor, const std::string& part, const std::string& input,
             const PadMap& padMap);
  bool active() const { return session_ != nullptr; }
  // How the text (lines joined by CR LF) is compiled for a take: the window's document
  // session. Without it, with a compiler of the recording's own.
  using SongCompiler = std::function<std::shared_ptr<const Timeline>(std::string_view text)>;
  void compileThrough(SongCompiler compile) { compile_ = std::move(compile); }
  // Stop: the take goes into the text (finished() says how it went).
  void stop() { finish({}); }

  // Replaces only the stretch of `editor`'s text that differs from `text`, as one undo
  // step (with `joinPrevious`, part of the undo step before), so Undo gives back the old
  // text exactly. False when nothing differs.
  static bool replaceChangedText(QPlainTextEdit& editor, const QString& text,
                                 bool joinPrevious = false);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  // What the status line says: that it records, why it cannot, how the take went.
  void said(const QString& text);
  // Recording is over (Stop, or the input or the output went away).
  void finished();

 private:
  // Ends the take and writes it; `why` comes first in the message when it ended by itself.
  void finish(const QString& why);
  // Returns why it cannot record; empty once it records.
  QString begin(QPlainTextEdit& editor, const std::string& part, const std::string& input,
                const PadMap& padMap, double tempoScale);
  void watchDevices();
  // The take so far, written into the text as it stood when the take began.
  void showTakeSoFar();
  std::vector<TakeHit> takeHits() const;

  MidiPort& port_;
  SamplePlayer* samples_;
  PlaybackClock& clock_;
  SettingsStore& settings_;
  MidiInputService* inputs_;
  Transport& transport_;
  bool replace_ = false;
  SongCompiler compile_;
  QTimer* watch_ = nullptr;
  // Destroyed in reverse: the player's thread stops before the recorder and the input go.
  std::unique_ptr<MidiInput> input_;
  std::unique_ptr<TakeRecorder> recorder_;
  std::unique_ptr<PortStepOutput> output_;
  std::unique_ptr<PlaybackSession> session_;
  QPointer<QPlainTextEdit> editor_;
  std::string part_;
  std::string inputName_;
  PadMap padMap_;
  // The text when the take began, and as the take so far left it (empty: not written
  // yet). Text changed meanwhile by anything else is not written over: the take then
  // goes into the text as it stands at the end.
  QString before_;
  QString written_;
  int barsShown_ = 0;
};

}  // namespace pulsewright
