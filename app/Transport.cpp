#include "app/Transport.h"

#include <QMetaObject>
#include <cmath>

#include "app/TransportBar.h"
#include "playback/PlaybackSession.h"
#include "session/DocumentSession.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

// Carries the playback thread's news to the transport's own thread. News of a song
// that is no longer the one playing is dropped there.
class Transport::Relay : public Player::Listener {
 public:
  Relay(Transport* transport, StepOutput& output) : transport_(transport), output_(output) {}

  void statusChanged(std::uint64_t generation, const std::string& text) override {
    QMetaObject::invokeMethod(
        transport_,
        [t = transport_, generation, status = QString::fromStdString(text)] {
          if (t->current(generation)) emit t->statusChanged(status);
        },
        Qt::QueuedConnection);
  }
  void songEnded(std::uint64_t generation) override {
    QMetaObject::invokeMethod(
        transport_,
        [t = transport_, generation] {
          if (generation == t->session_->player().generation()) t->songOver();
        },
        Qt::QueuedConnection);
  }
  void stepStarted(std::uint64_t generation, const Timeline& timeline, const TimelineTick& tick,
                   DueTime) override {
    Step step;
    step.part = tick.part;
    step.songPosition = tick.songPosition;
    step.step = tick.step;
    if (tick.data != nullptr) {
      const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(tick.part)];
      for (const TimelineItem& item : part.itemsOf(*tick.data)) {
        if (item.source.line > 0) step.positions.push_back(item.source);
        if (item.articulation != Articulation::None && item.voice.kind == ItemVoice::Kind::Drum) {
          step.articulated.emplace_back(item.voice.drumVoice(), item.articulation);
        }
      }
    }
    const bool deviceGone = output_.takeDeviceFailure();
    const StepMusic music = tick.music != nullptr ? *tick.music : StepMusic{};
    // From the part's own bars and metre, while the song is at hand.
    const BarBeat at =
        tick.part >= 0 && static_cast<std::size_t>(tick.part) < timeline.parts().size()
            ? barBeatOf(timeline.parts()[static_cast<std::size_t>(tick.part)], tick.step)
            : BarBeat{};
    QMetaObject::invokeMethod(
        transport_,
        [t = transport_, generation, step = std::move(step), deviceGone, music, at] {
          if (!t->current(generation)) return;
          if (music.tempo > 0) {
            t->writtenTempo_ = music.tempo;
            emit t->tempoChanged();
            emit t->positionChanged(QStringLiteral("%1:%2").arg(at.bar).arg(at.beat));
          }
          if (deviceGone) {
            // A device that went away mid-song: stop cleanly and say why.
            t->songOver();
            emit t->statusChanged(QString::fromLatin1(kDeviceGoneMessage));
            return;
          }
          emit t->stepPlaying(step);
        },
        Qt::QueuedConnection);
  }

 private:
  Transport* transport_;
  StepOutput& output_;
};

Transport::Transport(StepOutput& output, PlaybackClock& clock, SamplePlayer* samples,
                     QObject* parent)
    : QObject(parent),
      relay_(std::make_unique<Relay>(this, output)),
      session_(std::make_unique<PlaybackSession>(output, clock, samples, relay_.get())) {}

Transport::~Transport() {
  session_.reset();
}

bool Transport::current(std::uint64_t generation) const {
  return generation == session_->player().generation() && isPlaying();
}

bool Transport::isPlaying() const {
  return session_->player().playing();
}

void Transport::play(std::string_view text, const PadMap& padMap, CompileListener* listener,
                     const std::function<std::string()>& partAtCursor) {
  // The buttons change before the compiler's messages can show.
  setState(State::kPlaying);
  startSong(compile(text, padMap, listener), partAtCursor);
}

void Transport::playCompiled(const CompiledDocument& document, CompileListener* listener,
                             const std::function<std::string()>& partAtCursor) {
  setState(State::kPlaying);
  if (listener != nullptr) {
    for (const std::string& message : document.messages) listener->message(0, message);
  }
  startSong(makeSong(document.song), partAtCursor);
}

void Transport::startSong(std::shared_ptr<const Song> compiled,
                          const std::function<std::string()>& partAtCursor) {
  // The new song is built whole before the playing thread sees it.
  PlayOptions options;
  std::shared_ptr<const Song> song = songToPlay(std::move(compiled), partAtCursor, &options);
  // After Pause the song goes on from where it stopped, as the text now has it; a
  // position the text no longer has starts the song again.
  loopedSongLine_ = loop_ == Loop::kPartAtCursor ? song->timeline.songLine() : std::string();
  options.tempoRamp = ramp_;
  if (pausedAt_) {
    options.from = *pausedAt_;
    options.rampPass = session_->player().rampPass();
    pausedAt_.reset();
    if (song->timeline.timeOf(options.from.songPosition, options.from.step) < 0) options.from = {};
  }
  if (follow_ != nullptr && follow_->arm(song, options)) return;
  // Samples load on the playback thread, so the caller stays responsive meanwhile.
  if (!session_->play(song, options, true)) songOver();  // nothing to play: over at once
}

std::shared_ptr<const Song> Transport::songToPlay(std::shared_ptr<const Song> song,
                                                  const std::function<std::string()>& partAtCursor,
                                                  PlayOptions* options) const {
  options->countIn = countIn_;
  options->metronome = metronome_;
  if (loop_ == Loop::kSong) options->loops = 0;
  if (loop_ == Loop::kPartAtCursor) {
    // That part over and over, as a song of that part alone.
    const std::string part = partAtCursor ? partAtCursor() : std::string();
    if (!part.empty()) {
      song = makeSong(std::make_shared<const Timeline>(song->timeline.withSongLine(part)));
      options->loops = 0;
    }
  }
  return song;
}

std::vector<Diagnostic> Transport::edit(std::string_view text, CompileRequest request) {
  if (state_ != State::kPlaying || !isPlaying()) return {};
  request.diagnose = true;
  request.sampleProblem = nullptr;  // a missing sample is skipped as it plays
  const CompiledDocument document = compileDocument(text, request);
  return handOver(document.song, whyNotPlayable(document));
}

std::vector<Diagnostic> Transport::editCompiled(const CompiledDocument& document) {
  if (state_ != State::kPlaying || !isPlaying()) return {};
  return handOver(document.song, whyEditCannotPlay(document));
}

std::vector<Diagnostic> Transport::handOver(std::shared_ptr<const Timeline> timeline,
                                            std::vector<Diagnostic> reasons) {
  if (!reasons.empty()) return reasons;
  std::shared_ptr<const Song> song = makeSong(std::move(timeline));
  if (!loopedSongLine_.empty()) {
    song = makeSong(std::make_shared<const Timeline>(song->timeline.withSongLine(loopedSongLine_)));
  }
  session_->replaceSong(std::move(song));
  return {};
}

void Transport::pause() {
  if (follow_ != nullptr) follow_->stopPressed();
  pausedAt_ = session_->player().pause();
  setState(State::kPaused);
}

void Transport::stop() {
  if (follow_ != nullptr) follow_->stopPressed();
  pausedAt_.reset();
  session_->player().stop();
  setState(State::kStopped);
  emit positionChanged({});
}

void Transport::songOver() {
  stop();
  emit statusChanged({});
}

void Transport::followedStop(const QString& why) {
  pausedAt_.reset();
  session_->player().pause();  // notes off
  setState(State::kStopped);
  emit positionChanged({});
  emit statusChanged(why);
}

void Transport::setState(State state) {
  state_ = state;
  emit stateChanged(state);
}

void Transport::setClockOutput(ClockOutput* clock) {
  session_->player().setClockOutput(clock);
}

void Transport::setMetronome(bool on) {
  metronome_ = on;
  session_->player().setMetronome(on);
}

void Transport::setTempoScale(double scale) {
  // Whole percent steps, so that repeated presses come back to 100 %.
  session_->player().setTempoScale(std::round(scale * 100.0) / 100.0);
  emit tempoChanged();
}

void Transport::documentReplaced(std::string_view text, const PadMap& padMap) {
  writtenTempo_ = kDefaultTempo;
  if (text.size() < kReadTempoBelow) {
    if (!tempoReader_) tempoReader_ = std::make_unique<TablatureCompiler>();
    tempoReader_->reset();
    tempoReader_->compile(text, padMap, nullptr);
    Timeline::Cursor cursor = tempoReader_->song()->begin();
    TimelineTick tick;
    if (cursor.next(&tick) && tick.music != nullptr && tick.music->tempo > 0) {
      writtenTempo_ = tick.music->tempo;
    }
    tempoReader_->reset();
  }
  setTempoScale(1.0);  // says tempoChanged
}

void Transport::setVoiceMask(const VoiceMask& mask) {
  session_->player().setVoiceMask(mask);
  emit voiceMaskChanged();
}

VoiceMask Transport::voiceMask() const {
  return session_->player().voiceMask();
}

void Transport::toggleMute(const std::string& voice) {
  VoiceMask mask = voiceMask();
  VoiceMask::toggle(mask.muted, voice);
  setVoiceMask(mask);
}

void Transport::toggleSolo(const std::string& voice) {
  VoiceMask mask = voiceMask();
  VoiceMask::toggle(mask.soloed, voice);
  setVoiceMask(mask);
}

double Transport::tempoScale() const {
  return session_->player().tempoScale();
}

std::shared_ptr<const Song> Transport::compile(std::string_view text, const PadMap& padMap,
                                               CompileListener* listener) {
  // Metadata is not music: an export, a print header and the staff show the text's own.
  session_->forgetMetadata();
  std::shared_ptr<const Song> song = session_->compile(text, padMap, listener);
  emit compiled();
  return song;
}

CompiledDocument Transport::compileDocument(std::string_view text, const CompileRequest& request) {
  session_->forgetMetadata();
  CompiledDocument document = session_->compileDocument(text, request);
  emit compiled();
  return document;
}

const TablatureCompiler& Transport::compiler() const {
  return session_->compiler();
}

}  // namespace pulsewright
