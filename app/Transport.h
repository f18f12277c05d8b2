#pragma once
// What Play, Pause and Stop do, with no widget: the playback session, where a paused song
// goes on, the loop, the count-in, the metronome, the tempo scale and the text of the
// status line. The window forwards its menu actions here and shows what it hears back;
// the tests drive it on a fake output without a window.
//
// Threads: everything here belongs to the thread that made the transport; the playback
// thread's news is posted to it and reaches the signals there.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"
#include "playback/Player.h"
#include "tablature/CompiledDocument.h"

namespace pulsewright {

class PlaybackSession;
class SamplePlayer;
class TablatureCompiler;

// The message shown when a device that went away mid-song stopped it.
inline constexpr char kDeviceGoneMessage[] =
    "The MIDI device stopped answering: the song was stopped.";

class Transport : public QObject {
  Q_OBJECT
 public:
  enum class State { kStopped, kPlaying, kPaused };
  enum class Loop { kNone, kSong, kPartAtCursor };

  // A source outside that Play follows (Settings > Sync): Play hands it the song, and it
  // starts and stops the song through followedStart() and followedStop().
  class Follow {
   public:
    virtual ~Follow() = default;
    // Takes the song Play would play; false: Play plays it at once.
    virtual bool arm(std::shared_ptr<const Song> song, const PlayOptions& options) = 0;
    // Stop or Pause was pressed: the source's own stop, where it has one.
    virtual void stopPressed() = 0;
  };

  // The step playing, for the view: the grid characters behind its items (one in every
  // grid line of the part) and where it stands in the song.
  struct Step {
    std::vector<SourcePosition> positions;
    int part = 0;
    int songPosition = 1;
    int step = 0;
    // The drums its hits strike with an articulation, for the keyboard strip.
    std::vector<std::pair<DrumVoice, Articulation>> articulated;
  };

  // `output`, `clock` and `samples` (may be null) must outlive the transport.
  Transport(StepOutput& output, PlaybackClock& clock, SamplePlayer* samples,
            QObject* parent = nullptr);
  // The playback thread ends here, before what it plays through goes.
  ~Transport() override;

  // Play: compiles `text` (lines separated by CR LF) and plays it, from where Pause left
  // it while the text still has that place, else from the start. `listener` (may be null)
  // hears the compiler's messages; `partAtCursor` names the part Loop::kPartAtCursor
  // loops, asked after the compilation. Samples load on the playback thread.
  void play(std::string_view text, const PadMap& padMap, CompileListener* listener,
            const std::function<std::string()>& partAtCursor = {});
  // While a song plays: compiles the edited `text` and hands its song over, to take over
  // at the next bar line. Returns why it cannot play, the song playing going on as it
  // was; empty once handed over (and when nothing plays).
  std::vector<Diagnostic> edit(std::string_view text, CompileRequest request);
  // Play and edit() with a compilation made elsewhere (the window's document session):
  // `listener` (may be null) hears its messages, as if it compiled now.
  void playCompiled(const CompiledDocument& document, CompileListener* listener,
                    const std::function<std::string()>& partAtCursor = {});
  std::vector<Diagnostic> editCompiled(const CompiledDocument& document);
  // Stops at the current step and silences what sounds; play() goes on from there.
  void pause();
  // Stops at once; the next play() starts from the beginning.
  void stop();
  // Stop, the status line cleared: the song is over.
  void songOver();

  State state() const { return state_; }
  bool isPlaying() const;

  // Read at each play().
  void setLoop(Loop loop) { loop_ = loop; }
  Loop loop() const { return loop_; }
  void setCountIn(bool on) { countIn_ = on; }
  bool countIn() const { return countIn_; }
  // Also applied to the song playing, from its next beat.
  void setMetronome(bool on);
  // MIDI clock for the songs played from the next Play on; null for none.
  void setClockOutput(ClockOutput* clock);
  bool metronome() const { return metronome_; }
  // Null: Play plays at once. `follow` must outlive the transport or be unset first.
  void setFollow(Follow* follow) { follow_ = follow; }
  // The source followed started the song, or stopped it (`why` for the status line, ""
  // for none); what sounded is silenced.
  void followedStart() { setState(State::kPlaying); }
  void followedStop(const QString& why);

  // The share of the written tempo the song plays at, in whole percent, within
  // kMinTempoScale-kMaxTempoScale; applied from the next step.
  void setTempoScale(double scale);
  double tempoScale() const;
  // Asks for a tempo in beats per minute: the scale that gives it at the written tempo.
  void setTempo(double bpm) { setTempoScale(bpm / writtenTempo_); }
  // The tempo heard: the written tempo of the step playing last, scaled.
  double tempo() const { return writtenTempo_ * tempoScale(); }

  // Another document is on screen (New, Open, an import): the tempo scale goes back to
  // the written tempo, and the tempo shown is the one `text` (lines joined by CR LF)
  // starts at, read aside without touching what carries over to the next Play.
  void documentReplaced(std::string_view text, const PadMap& padMap);
  // Texts at least this long (bytes) are not read for their tempo when they come on
  // screen: the first Play shows it.
  static constexpr std::size_t kReadTempoBelow = std::size_t{1} << 20;

  // Voices muted and soloed (drum voice names or grid symbols); applied to the song
  // playing from its next step, and kept for the next play().
  void setVoiceMask(const VoiceMask& mask);
  VoiceMask voiceMask() const;
  void toggleMute(const std::string& voice);
  void toggleSolo(const std::string& voice);
  // The speed trainer, read at each play(); a song resumed after Pause keeps its speed.
  void setTempoRamp(const TempoRamp& ramp) { ramp_ = ramp; }
  const TempoRamp& tempoRamp() const { return ramp_; }

  // Compiles as Play compiles, with what carries over from the compilation before, so an
  // export holds what Play plays.
  std::shared_ptr<const Song> compile(std::string_view text, const PadMap& padMap,
                                      CompileListener* listener);
  CompiledDocument compileDocument(std::string_view text, const CompileRequest& request);
  // The compiler, with the state the latest compilation left behind.
  const TablatureCompiler& compiler() const;
  PlaybackSession& session() { return *session_; }

 signals:
  // Play, Pause, Stop or the song's end; sent on every stop, also when already stopped.
  void stateChanged(Transport::State state);
  // The status line's text ("" to clear it).
  void statusChanged(const QString& text);
  // A compilation finished: the problems list may describe the state it left.
  void compiled();
  // The tempo heard or the scale changed.
  void tempoChanged();
  // Where the step playing falls, as "bar:beat"; "" when stopped.
  void positionChanged(const QString& barBeat);
  void stepPlaying(const Transport::Step& step);
  void voiceMaskChanged();

 private:
  class Relay;
  // The song play() plays: the loop applied.
  std::shared_ptr<const Song> songToPlay(std::shared_ptr<const Song> song,
                                         const std::function<std::string()>& partAtCursor,
                                         PlayOptions* options) const;
  void setState(State state);
  void startSong(std::shared_ptr<const Song> compiled,
                 const std::function<std::string()>& partAtCursor);
  // Hands `song` over to the playing song; empty `reasons` only.
  std::vector<Diagnostic> handOver(std::shared_ptr<const Timeline> song,
                                   std::vector<Diagnostic> reasons);
  // Whether news of the play() that returned `generation` is still wanted.
  bool current(std::uint64_t generation) const;

  std::unique_ptr<Relay> relay_;
  // Reads a document's first tempo, apart from Play's compiler; made on first use.
  std::unique_ptr<TablatureCompiler> tempoReader_;
  std::unique_ptr<PlaybackSession> session_;
  State state_ = State::kStopped;
  std::optional<SongPosition> pausedAt_;
  Loop loop_ = Loop::kNone;
  bool countIn_ = false;
  bool metronome_ = false;
  // The song line a looped part is played by, kept for the edits made while it plays.
  std::string loopedSongLine_;
  static constexpr double kDefaultTempo = 120;
  double writtenTempo_ = kDefaultTempo;  // of the step playing last, in beats per minute
  TempoRamp ramp_;
  Follow* follow_ = nullptr;
};

}  // namespace pulsewright
