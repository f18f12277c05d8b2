#include "playback/Player.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <algorithm>

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

bool Player::play(std::shared_ptr<const Song> song) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++generation_;
  const bool started = sequencer_.play(std::move(song));
  started_ = clock_.now();
  if (started) deadline_ = started_ + std::chrono::milliseconds(sequencer_.interval());
  wake_.notify_all();
  return started;
}

void Player::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  sequencer_.stop();
  wake_.notify_all();
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

void Player::run() {
  raiseThreadPriority();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (!sequencer_.running()) {
      wake_.wait(lock);
      continue;
    }
    if (clock_.now() < deadline_) {
      // Play or Stop may come meanwhile; they notify, and the state is read again.
      clock_.waitUntil(lock, wake_, deadline_);
      continue;
    }
    const Sequencer::TickResult result = sequencer_.tick(output_);
    // The next deadline follows from this one, not from the time the tick ended.
    if (sequencer_.running()) deadline_ += std::chrono::milliseconds(sequencer_.interval());
    if (listener_ != nullptr) {
      // Without the lock: the listener may call back into play() or stop().
      const std::uint64_t generation = generation_;
      lock.unlock();
      listener_->statusChanged(generation, result.status);
      if (result.songOver) listener_->songEnded(generation);
      lock.lock();
    }
  }
}

}  // namespace pulsewright
