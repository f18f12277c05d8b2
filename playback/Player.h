#pragma once
// Plays a song on its own thread, on absolute deadlines: every tick comes at the time
// of Play plus the sum of the durations before it, whatever each tick costs, so the
// tempo heard is the tempo written. Each tick is handed to the output its lookAhead()
// before it is due, with its due time.
//
// Threads: play(), pause(), stop() and the practice settings belong to the
// user-interface thread. The listener is called on the playback thread and must not touch
// widgets: it posts to the thread that owns them.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "playback/MidiClockFollower.h"
#include "playback/MidiClockSchedule.h"
#include "playback/PlaybackClock.h"
#include "playback/Practice.h"
#include "playback/Sequencer.h"

namespace pulsewright {

// Where a song stands: the song position (from 1) and the step of the next tick.
struct SongPosition {
  int songPosition = 1;
  int step = 0;
  bool operator==(const SongPosition&) const = default;
};

// A song that took over from another while it played (Player::replaceSong()).
struct SongChange {
  SongPosition at;       // where the new song went on
  DueTime due{};         // when its first tick sounds: the bar line it took over at
  DueTime handedOver{};  // when the first tick not yet sent at the handover was due
};

// How a song is played besides its text.
struct PlayOptions {
  SongPosition from;       // where to start; the song's beginning by default
  int loops = 1;           // times the song is played; 0 repeats it until Stop
  bool countIn = false;    // one bar of clicks at the first part's tempo before the song
  bool metronome = false;  // a click on every beat
  // The moment the song's times count from; the moment of play() when left empty.
  PlaybackClock::TimePoint startedAt{};
  // Run on the playback thread before the first tick (loading samples), so the caller's
  // thread does not wait; the song's times then count from when it returns.
  std::function<void()> prepare;
  // The speed trainer; while on, it sets the tempo scale of every pass.
  TempoRamp tempoRamp;
  // The pass the ramp stands at first: a song resumed after Pause goes on at its speed.
  int rampPass = 0;
};

// The click of the count-in and the metronome: General MIDI's wood blocks, the high one
// on the first beat of a bar.
inline constexpr int kClickAccentNote = 76;
inline constexpr int kClickNote = 77;
inline constexpr int kClickVelocity = 100;
inline constexpr double kMinTempoScale = 0.25;
inline constexpr double kMaxTempoScale = 2.0;

class Player {
 public:
  class Listener {
   public:
    virtual ~Listener() = default;
    // The status line's new text (the step, its bar:beat and the speed trainer's speed),
    // after every tick of the play() that returned `generation`.
    virtual void statusChanged(std::uint64_t generation, const std::string& text) = 0;
    // That song is over and Stop has been performed (called after its last status). A
    // later play() may already have started another song: compare the generation.
    virtual void songEnded(std::uint64_t generation) = 0;
    // A song given to replaceSong() took over; its first tick follows at once.
    virtual void songReplaced(std::uint64_t generation, const Timeline& timeline,
                              const SongChange& change) {
      (void)generation;
      (void)timeline;
      (void)change;
    }
    // A tick was handed to the output; it sounds at `due`. The tick points into the song,
    // which lives while it plays: copy what is needed before posting it elsewhere.
    virtual void stepStarted(std::uint64_t generation, const Timeline& timeline,
                             const TimelineTick& tick, DueTime due) {
      (void)generation;
      (void)timeline;
      (void)tick;
      (void)due;
    }
  };

  // `output`, `clock` and `listener` (which may be null) must outlive the player.
  Player(StepOutput& output, PlaybackClock& clock, Listener* listener);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Starts `song`, also while another song plays; from its beginning the first tick
  // comes one step duration later, from another position at once. Returns false,
  // playing nothing, when the song cannot start there.
  bool play(std::shared_ptr<const Song> song, const PlayOptions& options = {});
  // Hands a new version of the playing song over: it takes over at the next bar line of
  // the playing part, the clock going on as it was, and goes on from the same part and
  // step (Sequencer::continueWith()). Where the new song has nothing there, the song ends
  // there, or starts its next pass. A later call before that bar line replaces the one
  // waiting. False, keeping nothing, when no song plays.
  bool replaceSong(std::shared_ptr<const Song> song);
  // Counts the calls of play(); the listener's calls carry the count of their song.
  std::uint64_t generation() const;
  // Stops at once; nothing more is sent. Samples that sound go on to their end.
  void stop();
  // Stops at the current step, silences what sounds and returns the position of the
  // next tick, from which play() may resume.
  SongPosition pause();
  bool playing() const;
  // 0.25-2.0, applied from the next step.
  void setTempoScale(double scale);
  double tempoScale() const;
  void setMetronome(bool on);
  // Voices muted and soloed, applied from the next step (also to a song that replaces
  // the playing one).
  void setVoiceMask(VoiceMask mask);
  VoiceMask voiceMask() const;
  // The pass of the speed trainer the song plays (from 0).
  int rampPass() const;
  // When the latest play() started (the moment its times count from).
  PlaybackClock::TimePoint playStartedAt() const;
  // A snapshot of the sequencer's position.
  Sequencer sequencerState() const;
  // MIDI clock for the songs played from the next play() on; null for none. `clock` must
  // outlive the player. With a clock, a song that ends reports its end once its last step
  // is over and Stop has been handed to the clock.
  void setClockOutput(ClockOutput* clock);
  // Musical time from outside (MIDI clock in) for the songs played from the next play()
  // on; null plays by the song's own tempo. Each tick then waits until the source says
  // when its position is due (no count-in, no loops). `source` must outlive the player.
  void setExternalTime(ExternalTime* source);
  // The source has news: a tick waiting for it looks again.
  void externalTimeMoved();

 private:
  void run();
  // The next thing due: a click or a tick. Returns its due time.
  DueTime nextDue() const;
  void sendClick(bool accent, DueTime due);
  // At a bar line: the waiting song takes over. False when the song ended there.
  bool takePendingSong(SongChange* change);
  // Queues the clocks of the step after the one handed over, as it is expected: an
  // output that wants them ahead of time gets them before that step is handed over.
  void previewClockStep();
  // Hands the clock messages due within the clock's look-ahead to it.
  void handDueClocks();
  // Forgets the clocks queued and sends Stop at `now` where Start or Continue went out.
  void stopClock(DueTime now);

  // Channel messages of expression marks due later than the output takes them (a MIDI
  // port that sends at once): held in place, in due order, until their time. A tick of a
  // song with such marks is handed over kExpressionLeadMs early, so its grace notes and
  // humanized hits that come before it still go out on time.
  class HeldOutput : public StepOutput {
   public:
    explicit HeldOutput(Player& player) : player_(player) {}
    void sendChannelMessage(int kind, int data1, int data2, DueTime due) override;
    void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                    DueTime due) override {
      player_.output_.playSample(file, volume, pan, due);
    }
    std::chrono::microseconds lookAhead() override { return player_.output_.lookAhead(); }
    void silence(DueTime now) override { player_.output_.silence(now); }
    bool takeDeviceFailure() override { return player_.output_.takeDeviceFailure(); }

   private:
    Player& player_;
  };
  struct HeldMessage {
    int kind = 0;
    int data1 = 0;
    int data2 = 0;
    DueTime due{};
  };
  static constexpr std::size_t kHeldMessages = 1024;
  // Sends the held messages whose time, less the look-ahead, has come.
  void sendHeldMessages();
  // The lead of the playing song: kExpressionLeadMs when it has expression marks.
  std::chrono::microseconds expressionLead();
  std::weak_ptr<const Song> leadSong_;  // the song leadOfSong_ was found for
  std::chrono::microseconds leadOfSong_{0};

  StepOutput& output_;
  HeldOutput heldOutput_{*this};
  std::array<HeldMessage, kHeldMessages> held_{};
  std::size_t heldCount_ = 0;
  PlaybackClock& clock_;
  Listener* listener_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  Sequencer sequencer_;
  PlaybackClock::TimePoint started_{};
  DueTime tickDue_{};
  std::chrono::microseconds lookAhead_{0};
  std::uint64_t generation_ = 0;
  double tempoScale_ = 1.0;
  bool metronome_ = false;
  VoiceMask mask_;
  bool maskChanged_ = false;
  VoiceFilter filter_;
  std::shared_ptr<const Song> filterSong_;  // the song filter_ was read against
  TempoRamp ramp_;
  int rampPass_ = 0;
  double scaleBeforeRamp_ = 1.0;
  int loopsLeft_ = 0;  // further passes after this one; -1 for ever
  int countInLeft_ = 0;
  std::function<void()> prepare_;
  // The song waiting for the next bar line, and the songs it replaced: those are let go
  // of on the caller's thread, not the playback thread's.
  std::shared_ptr<const Song> pending_;
  DueTime pendingFrom_{};
  std::shared_ptr<const Song> retired_;
  DueTime countInDue_{};
  std::chrono::nanoseconds countInBeat_{0};
  double quarters_ = 0;  // musical position within the current song position
  int quarterPosition_ = 0;
  ExternalTime* external_ = nullptr;
  MusicalTime externalAt_;  // the next tick's position, whole notes since the song's start
  MusicalTime externalLength_{1, 16};
  ClockOutput* clockOut_ = nullptr;
  MidiClockSchedule clocks_;
  std::chrono::microseconds clockLookAhead_{0};
  std::uint64_t endGeneration_ = 0;
  std::int64_t lastIntervalMs_ = 0;
  bool externalKnown_ = false;  // tickDue_ is the source's time for it
  bool clockStarted_ = false;   // Start or Continue went out, and no Stop since
  bool endPending_ = false;     // the song is over; its end waits for the clock and held
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace pulsewright
