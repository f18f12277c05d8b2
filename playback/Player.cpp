#include "playback/Player.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/ShortMessage.h"
#include "tablature/Expression.h"

namespace pulsewright {

namespace {

// Ask for real-time scheduling and the finest timer slack where the system allows it;
// go on as an ordinary thread otherwise.
void raiseThreadPriority() {
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  sched_param param{};
  param.sched_priority = std::min(sched_get_priority_max(SCHED_FIFO), 40);
  ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param);
}

std::chrono::nanoseconds scaled(std::int64_t ms, double scale) {
  return std::chrono::nanoseconds(static_cast<std::int64_t>(std::llround(ms * 1e6 / scale)));
}

// The quarter notes one step lasts; 0 when the step was never timed.
double quartersOf(const StepMusic* music) {
  if (music == nullptr || music->noteSize <= 0 || music->tupletDivisor <= 0) return 0;
  return 4.0 / music->noteSize / music->tupletDivisor;
}

}  // namespace

Player::Player(StepOutput& output, PlaybackClock& clock, Listener* listener)
    : output_(output), clock_(clock), listener_(listener), thread_([this] { run(); }) {}

Player::~Player() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool Player::play(std::shared_ptr<const Song> song, const PlayOptions& options) {
  std::shared_ptr<const Song> dropped;
  std::shared_ptr<const Song> retired;
  std::lock_guard<std::mutex> lock(mutex_);
  dropped = std::move(pending_);
  retired = std::move(retired_);
  ++generation_;
  lookAhead_ = output_.lookAhead();
  endPending_ = false;
  if (clockOut_ != nullptr) stopClock(clock_.now());
  const bool fromStart = options.from == SongPosition{};
  const bool started = fromStart ? sequencer_.play(std::move(song))
                                 : sequencer_.playFrom(std::move(song), options.from.songPosition,
                                                       options.from.step);
  started_ = options.startedAt == PlaybackClock::TimePoint{} ? clock_.now() : options.startedAt;
  countInLeft_ = 0;
  quarters_ = 0;
  quarterPosition_ = 0;
  metronome_ = options.metronome;
  loopsLeft_ = options.loops <= 0 ? -1 : options.loops - 1;
  // The speed trainer sets the scale while it is on; once off, the scale from before it
  // comes back.
  if (options.tempoRamp.on() && !ramp_.on()) scaleBeforeRamp_ = tempoScale_;
  if (!options.tempoRamp.on() && ramp_.on()) tempoScale_ = scaleBeforeRamp_;
  ramp_ = options.tempoRamp;
  rampPass_ = std::max(options.rampPass, 0);
  if (ramp_.on()) {
    tempoScale_ = std::clamp(ramp_.scaleOf(rampPass_), kMinTempoScale, kMaxTempoScale);
  }
  wake_.notify_all();
  if (!started) return false;
  // From the beginning the first tick waits one step; resumed songs start at once.
  DueTime first = started_ + lookAhead_;
  if (fromStart) first += scaled(sequencer_.interval(), tempoScale_);
  TimelineTick next;
  if (external_ != nullptr) {
    externalKnown_ = false;
    externalAt_ = MusicalTime{};
    loopsLeft_ = 0;
    if (!fromStart && sequencer_.peek(&next)) {
      externalAt_ = musicalPositionOf(sequencer_.song()->timeline, next.songPosition, next.step);
    }
  }
  if (external_ == nullptr && options.countIn && sequencer_.peek(&next) && next.music != nullptr &&
      next.music->tempo > 0) {
    // One bar of four beats at the tempo of the first step played, the song on the next
    // bar's first beat.
    countInLeft_ = 4;
    countInBeat_ =
        std::chrono::nanoseconds(std::llround(60000.0 / next.music->tempo * 1e6 / tempoScale_));
    countInDue_ = started_ + lookAhead_;
    first = countInDue_ + 4 * countInBeat_;
  }
  tickDue_ = first;
  prepare_ = options.prepare;
  if (clockOut_ != nullptr) {
    clockLookAhead_ = clockOut_->lookAhead();
    MusicalTime from;
    if (!fromStart && sequencer_.peek(&next)) {
      from = musicalPositionOf(sequencer_.song()->timeline, next.songPosition, next.step);
    }
    clocks_.start(from, first);
    previewClockStep();
  }
  return true;
}

bool Player::replaceSong(std::shared_ptr<const Song> song) {
  std::shared_ptr<const Song> dropped;
  std::shared_ptr<const Song> retired;
  std::lock_guard<std::mutex> lock(mutex_);
  retired = std::move(retired_);
  if (!sequencer_.running() || !song) return false;
  dropped = std::exchange(pending_, std::move(song));
  pendingFrom_ = tickDue_;
  return true;
}

void Player::HeldOutput::sendChannelMessage(int kind, int data1, int data2, DueTime due) {
  Player& p = player_;
  if (due - p.lookAhead_ <= p.clock_.now() || p.heldCount_ == kHeldMessages) {
    p.output_.sendChannelMessage(kind, data1, data2, due);
    return;
  }
  // After every message due no later, so that a note's on and off keep their order.
  std::size_t at = p.heldCount_;
  while (at > 0 && p.held_[at - 1].due > due) {
    p.held_[at] = p.held_[at - 1];
    --at;
  }
  p.held_[at] = HeldMessage{kind, data1, data2, due};
  ++p.heldCount_;
}

void Player::sendHeldMessages() {
  const DueTime now = clock_.now();
  std::size_t sent = 0;
  while (sent < heldCount_ && held_[sent].due - lookAhead_ <= now) {
    const HeldMessage& m = held_[sent++];
    output_.sendChannelMessage(m.kind, m.data1, m.data2, m.due);
  }
  std::copy(held_.begin() + static_cast<std::ptrdiff_t>(sent),
            held_.begin() + static_cast<std::ptrdiff_t>(heldCount_), held_.begin());
  heldCount_ -= sent;
}

std::chrono::microseconds Player::expressionLead() {
  const std::shared_ptr<const Song>& song = sequencer_.song();
  if (!song || external_ != nullptr) return std::chrono::microseconds(0);
  // Looked up once per song: a long one has thousands of parts.
  if (leadSong_.lock() != song) {
    leadSong_ = song;
    const std::vector<TimelinePart>& parts = song->timeline.parts();
    const bool expressive = std::any_of(parts.begin(), parts.end(),
                                        [](const TimelinePart& part) { return part.expressive; });
    leadOfSong_ = expressive
                      ? std::chrono::microseconds(std::chrono::milliseconds(kExpressionLeadMs))
                      : std::chrono::microseconds(0);
  }
  return leadOfSong_;
}

void Player::stop() {
  std::shared_ptr<const Song> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  dropped = std::move(pending_);
  heldCount_ = 0;
  sequencer_.stop();
  countInLeft_ = 0;
  endPending_ = false;
  if (clockOut_ != nullptr) stopClock(clock_.now());
  wake_.notify_all();
}

SongPosition Player::pause() {
  std::shared_ptr<const Song> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  dropped = std::move(pending_);
  SongPosition at;
  if (sequencer_.running() && countInLeft_ == 0) {
    at = SongPosition{sequencer_.songPosition(), sequencer_.currentStep()};
  }
  sequencer_.stop();
  heldCount_ = 0;
  countInLeft_ = 0;
  endPending_ = false;
  output_.silence(clock_.now());
  if (clockOut_ != nullptr) stopClock(clock_.now());
  wake_.notify_all();
  return at;
}

void Player::setTempoScale(double scale) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!(scale >= kMinTempoScale)) scale = kMinTempoScale;
  if (scale > kMaxTempoScale) scale = kMaxTempoScale;
  tempoScale_ = scale;
}

double Player::tempoScale() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tempoScale_;
}

void Player::setMetronome(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  metronome_ = on;
}

void Player::setVoiceMask(VoiceMask mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mask == mask_) return;
  mask_ = std::move(mask);
  maskChanged_ = true;
}

VoiceMask Player::voiceMask() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mask_;
}

int Player::rampPass() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rampPass_;
}

std::uint64_t Player::generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

bool Player::playing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sequencer_.running();
}

PlaybackClock::TimePoint Player::playStartedAt() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

Sequencer Player::sequencerState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sequencer_;
}

void Player::setClockOutput(ClockOutput* clock) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (clock == clockOut_) return;
  if (clockOut_ != nullptr) stopClock(clock_.now());
  clockOut_ = clock;
}

void Player::setExternalTime(ExternalTime* source) {
  std::lock_guard<std::mutex> lock(mutex_);
  external_ = source;
  externalKnown_ = false;
}

void Player::externalTimeMoved() {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_.notify_all();
}

void Player::stopClock(DueTime now) {
  clocks_.clear();
  if (clockStarted_) clockOut_->sendSystem(kMidiStop, now);
  clockStarted_ = false;
}

void Player::previewClockStep() {
  TimelineTick next;
  if (!sequencer_.peek(&next)) return;
  const std::int64_t ms = next.intervalMs > 0 ? next.intervalMs : lastIntervalMs_;
  const std::optional<MusicalTime> length =
      next.music != nullptr ? exactLengthOf(*next.music) : std::nullopt;
  clocks_.previewStep(tickDue_, tickDue_ + scaled(ms, tempoScale_), length);
}

void Player::handDueClocks() {
  const auto now = clock_.now();
  while (!clocks_.empty() && clocks_.front().due - clockLookAhead_ <= now) {
    const MidiClockSchedule::Message message = clocks_.front();
    clocks_.pop();
    clockOut_->sendSystem(message.word, message.due);
    if (message.word == kMidiStart || message.word == kMidiContinue) clockStarted_ = true;
    if (message.word == kMidiStop) clockStarted_ = false;
  }
}

DueTime Player::nextDue() const {
  return countInLeft_ > 0 ? std::min(countInDue_, tickDue_) : tickDue_;
}

void Player::sendClick(bool accent, DueTime due) {
  const int note = accent ? kClickAccentNote : kClickNote;
  output_.sendChannelMessage(kNoteOn, note, kClickVelocity, due);
  output_.sendChannelMessage(kNoteOff, note, 0, due);
}

bool Player::takePendingSong(SongChange* change) {
  const std::shared_ptr<const Song> old = sequencer_.song();
  change->due = tickDue_;
  change->handedOver = pendingFrom_;
  bool going = sequencer_.continueWith(std::move(pending_));
  pending_ = nullptr;
  retired_ = old;
  if (!going && loopsLeft_ != 0 && sequencer_.play(sequencer_.song())) {
    // Nothing of the new song is left from here: its next pass starts at this bar line.
    if (loopsLeft_ > 0) --loopsLeft_;
    quarterPosition_ = 0;
    going = true;
  }
  if (going) {
    TimelineTick next;
    sequencer_.peek(&next);
    change->at = SongPosition{next.songPosition, next.step};
  }
  return going;
}

void Player::run() {
  raiseThreadPriority();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (prepare_ && sequencer_.running()) {
      const std::function<void()> prepare = std::move(prepare_);
      prepare_ = nullptr;
      const std::uint64_t generation = generation_;
      lock.unlock();
      prepare();
      lock.lock();
      if (generation != generation_) continue;  // another play() came meanwhile
      // The song starts when it is ready.
      const auto shift = clock_.now() - started_;
      started_ += shift;
      tickDue_ += shift;
      countInDue_ += shift;
      clocks_.shift(shift);
      continue;
    }
    if (!clocks_.empty() && clock_.now() >= clocks_.front().due - clockLookAhead_) {
      handDueClocks();
      continue;
    }
    if (heldCount_ > 0 && clock_.now() >= held_[0].due - lookAhead_) {
      sendHeldMessages();
      continue;
    }
    if (endPending_ && clocks_.empty() && heldCount_ == 0) {
      // The clock's Stop and the held messages have gone: the song's end is reported now.
      endPending_ = false;
      if (listener_ != nullptr) {
        const std::uint64_t generation = endGeneration_;
        lock.unlock();
        listener_->songEnded(generation);
        lock.lock();
      }
      continue;
    }
    if (!sequencer_.running()) {
      if (clocks_.empty() && heldCount_ == 0) {
        wake_.wait(lock);
      } else if (heldCount_ == 0 || (!clocks_.empty() && clocks_.front().due - clockLookAhead_ <
                                                             held_[0].due - lookAhead_)) {
        clock_.waitUntil(lock, wake_, clocks_.front().due - clockLookAhead_);
      } else {
        clock_.waitUntil(lock, wake_, held_[0].due - lookAhead_);
      }
      continue;
    }
    if (external_ != nullptr && !externalKnown_) {
      DueTime at;
      const double clocks = 4.0 * kClocksPerQuarter * static_cast<double>(externalAt_.num) /
                            static_cast<double>(externalAt_.den);
      if (!external_->dueOf(clocks, &at)) {
        // The source has not come that far: the song waits (it notifies on news).
        clock_.waitUntil(lock, wake_, clock_.now() + std::chrono::milliseconds(20));
        continue;
      }
      tickDue_ = at;
      externalKnown_ = true;
    }
    const DueTime due = nextDue();
    const std::chrono::microseconds lead =
        countInLeft_ > 0 ? std::chrono::microseconds(0) : expressionLead();
    DueTime wakeAt = due - lookAhead_ - lead;
    if (!clocks_.empty()) wakeAt = std::min(wakeAt, clocks_.front().due - clockLookAhead_);
    if (heldCount_ > 0) wakeAt = std::min(wakeAt, held_[0].due - lookAhead_);
    if (clock_.now() < wakeAt) {
      // Play or Stop may come meanwhile; they notify, and the state is read again.
      clock_.waitUntil(lock, wake_, wakeAt);
      continue;
    }
    if (clock_.now() < due - lookAhead_ - lead) continue;  // a clock was due first
    if (countInLeft_ > 0 && countInDue_ <= tickDue_) {
      sendClick(countInLeft_ == 4, countInDue_);
      --countInLeft_;
      countInDue_ += countInBeat_;
      continue;
    }
    SongChange change;
    const bool changed = pending_ != nullptr && sequencer_.atBarLine();
    if (changed && !takePendingSong(&change)) {
      if (clockOut_ != nullptr) stopClock(clock_.now());
      if (listener_ != nullptr) {
        const std::uint64_t generation = generation_;
        lock.unlock();
        listener_->statusChanged(generation, "");
        listener_->songEnded(generation);
        lock.lock();
      }
      continue;
    }
    if (maskChanged_ || filterSong_ != sequencer_.song()) {
      // Read again only when the mask or the song changes, not on every step.
      filterSong_ = sequencer_.song();
      filter_ = filterSong_ ? VoiceFilter(mask_, filterSong_->timeline) : VoiceFilter();
      maskChanged_ = false;
    }
    Sequencer::TickResult result = sequencer_.tick(heldOutput_, tickDue_, &filter_, started_);
    const TimelineTick& tick = result.tick;
    if (external_ != nullptr) {
      if (tick.music != nullptr) {
        if (const std::optional<MusicalTime> own = exactLengthOf(*tick.music))
          externalLength_ = *own;
      }
      if (const std::optional<MusicalTime> next = externalAt_ + externalLength_)
        externalAt_ = *next;
      externalKnown_ = false;
    }
    if (tick.songPosition != quarterPosition_) {
      quarterPosition_ = tick.songPosition;
      quarters_ = 0;
    }
    const double beat = std::nearbyint(quarters_);
    if (metronome_ && tick.data != nullptr && std::abs(quarters_ - beat) < 1e-6) {
      sendClick(static_cast<long long>(beat) % 4 == 0, tickDue_);
    }
    quarters_ += quartersOf(tick.music);
    const DueTime tickDue = tickDue_;
    const double tickScale = tempoScale_;
    // The next deadline follows from this one, not from the time the tick ended.
    if (result.songOver && loopsLeft_ != 0) {
      // Another pass: its first tick comes where the next step would have.
      std::shared_ptr<const Song> song = sequencer_.song();
      if (loopsLeft_ > 0) --loopsLeft_;
      if (sequencer_.play(song)) {
        // The wait after the last step still belongs to the pass that ends.
        tickDue_ +=
            scaled(tick.intervalMs > 0 ? tick.intervalMs : sequencer_.interval(), tempoScale_);
        if (ramp_.on()) {
          ++rampPass_;
          tempoScale_ = std::clamp(ramp_.scaleOf(rampPass_), kMinTempoScale, kMaxTempoScale);
        }
        quarterPosition_ = 0;
        result.songOver = false;
        result.status =
            statusText(tick, song->timeline.parts()[static_cast<std::size_t>(tick.part)]);
      }
    } else if (sequencer_.running()) {
      tickDue_ += scaled(sequencer_.interval(), tempoScale_);
    }
    if (tick.intervalMs > 0) lastIntervalMs_ = tick.intervalMs;
    bool endWaits = false;  // the end is reported once the clock and held messages go
    if (clockOut_ != nullptr) {
      const std::optional<MusicalTime> length =
          tick.music != nullptr ? exactLengthOf(*tick.music) : std::nullopt;
      const bool going = sequencer_.running();
      // The last step's clocks end where the step does.
      const DueTime end = going ? tickDue_ : tickDue + scaled(lastIntervalMs_, tickScale);
      if (going || result.songOver) {
        if (clocks_.previewed()) {
          clocks_.confirmStep(end, length);
        } else {
          clocks_.addStep(tickDue, end, length);
        }
      }
      if (going) {
        previewClockStep();
      } else if (result.songOver) {
        clocks_.stop(end);
        endPending_ = true;
        endGeneration_ = generation_;
        endWaits = true;
      }
    }
    if (result.songOver && heldCount_ > 0 && !endWaits) {
      // The last step's graces, rolls, cuts and humanized hits are still to go out: the
      // song ends once they have.
      endPending_ = true;
      endGeneration_ = generation_;
      endWaits = true;
    }
    if (!result.status.empty() && tick.data != nullptr && sequencer_.song()) {
      const auto& parts = sequencer_.song()->timeline.parts();
      if (tick.part >= 0 && static_cast<std::size_t>(tick.part) < parts.size()) {
        const BarBeat at = barBeatOf(parts[static_cast<std::size_t>(tick.part)], tick.step);
        // Bar and beat as the transport shows them.
        result.status += "  Beat: " + std::to_string(at.bar) + ":" + std::to_string(at.beat);
      }
    }
    if (ramp_.on() && !result.status.empty()) {
      result.status += "  Speed: " + std::to_string(std::lround(tickScale * 100)) + "%";
    }
    if (listener_ != nullptr) {
      // Without the lock: the listener may call back into play() or stop().
      const std::uint64_t generation = generation_;
      const std::shared_ptr<const Song> song = sequencer_.song();
      lock.unlock();
      if (song && changed) listener_->songReplaced(generation, song->timeline, change);
      if (song) listener_->stepStarted(generation, song->timeline, tick, tickDue);
      listener_->statusChanged(generation, result.status);
      if (result.songOver && !endWaits) listener_->songEnded(generation);
      lock.lock();
    }
  }
}

}  // namespace pulsewright
