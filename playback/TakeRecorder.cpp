#include "playback/TakeRecorder.h"

#include <algorithm>
#include <cmath>

#include "playback/Practice.h"

namespace pulsewright {

namespace {

constexpr int kNoteOn = 0x90;
constexpr int kControlChange = 0xB0;
constexpr int kHiHatPedalController = 4;

}  // namespace

TakeRecorder::TakeRecorder(MidiInput& input, Settings settings, ThruOutput thru,
                           Player::Listener* next)
    : input_(input), settings_(settings), thru_(std::move(thru)), next_(next) {
  std::fill(std::begin(hiHatControl_), std::end(hiHatControl_), -1);
  if (!(settings_.tempoScale > 0)) settings_.tempoScale = 1.0;
  // Where the device knows its output's latency it stands for the user's setting.
  const std::optional<std::chrono::microseconds> measured = input_.outputLatency();
  latency_ = measured ? *measured : settings_.latencyOffset;
  thruInDevice_ = settings_.thruChannel >= 0 && input_.setThru(settings_.thruChannel);
}

TakeRecorder::~TakeRecorder() {
  stop();
  input_.setThru(-1);
}

void TakeRecorder::start() {
  if (thread_.joinable()) return;
  quit_ = false;
  thread_ = std::thread([this] {
    while (!quit_.load() && poll()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
}

void TakeRecorder::stop() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  poll();  // what came in before the stop counts
}

bool TakeRecorder::poll() {
  MidiInputEvent event;
  while (input_.read(&event)) {
    if (!thruInDevice_ && settings_.thruChannel >= 0 && thru_) {
      std::uint8_t bytes[3] = {event.bytes[0], event.bytes[1], event.bytes[2]};
      bytes[0] = static_cast<std::uint8_t>((bytes[0] & 0xF0) | settings_.thruChannel);
      thru_(bytes, event.length);
    }
    const int kind = event.bytes[0] & 0xF0;
    const int channel = event.bytes[0] & 0x0F;
    if (kind == kControlChange && event.length == 3 && event.bytes[1] == kHiHatPedalController) {
      hiHatControl_[channel] = event.bytes[2];
    } else if (kind == kNoteOn && event.length == 3 && event.bytes[2] > 0) {
      std::lock_guard lock(mutex_);
      notes_.push_back(
          {event.time - latency_, event.bytes[1], event.bytes[2], hiHatControl_[channel]});
    }
  }
  if (input_.gone()) inputGone_ = true;
  return !inputGone_.load();
}

std::optional<DueTime> TakeRecorder::listenUntil() const {
  std::lock_guard lock(mutex_);
  if (!ended_) return std::nullopt;
  return end_ + halfStep_;
}

std::vector<RecordedHit> TakeRecorder::hits() const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedHit> hits;
  if (passes_.empty()) return hits;
  for (const Note& note : notes_) {
    // The pass whose first beat is the latest at or after the note's time less half a
    // step: a note just before a pass's first beat belongs to it.
    const auto next = std::upper_bound(passes_.begin(), passes_.end(), note.time + halfStep_);
    if (next == passes_.begin()) continue;                  // the count-in
    if (ended_ && note.time >= end_ + halfStep_) continue;  // after the song
    const DueTime onset = *(next - 1);
    RecordedHit hit;
    hit.pass = static_cast<int>(next - passes_.begin()) - 1;
    hit.seconds = std::chrono::duration<double>(note.time - onset).count() * settings_.tempoScale;
    hit.key = note.key;
    hit.velocity = note.velocity;
    hit.hiHatControl = note.hiHatControl;
    hits.push_back(hit);
  }
  return hits;
}

int TakeRecorder::countInHits() const {
  std::lock_guard lock(mutex_);
  if (passes_.empty()) return static_cast<int>(notes_.size());
  return static_cast<int>(std::count_if(notes_.begin(), notes_.end(), [this](const Note& note) {
    return note.time + halfStep_ < passes_.front();
  }));
}

void TakeRecorder::stepStarted(std::uint64_t generation, const Timeline& timeline,
                               const TimelineTick& tick, DueTime due) {
  {
    std::lock_guard lock(mutex_);
    const auto scaled = [&](std::int64_t ms) {
      return std::chrono::nanoseconds(std::llround(ms * 1e6 / settings_.tempoScale));
    };
    if (tick.songPosition == 1 && tick.step == 0) {
      if (passes_.empty()) halfStep_ = scaled(tick.intervalMs) / 2;
      passes_.push_back(due);
    }
    end_ = due + scaled(std::max<std::int64_t>(tick.intervalMs, 0));
    const auto& parts = timeline.parts();
    if (!passes_.empty() && tick.part >= 0 && static_cast<std::size_t>(tick.part) < parts.size()) {
      const int bar = barBeatOf(parts[static_cast<std::size_t>(tick.part)], tick.step).bar;
      if (passes_.size() != latestPass_ || bar != latestBar_) {
        latestPass_ = passes_.size();
        latestBar_ = bar;
        barsStarted_.fetch_add(1);
      }
    }
  }
  if (next_ != nullptr) next_->stepStarted(generation, timeline, tick, due);
}

void TakeRecorder::statusChanged(std::uint64_t generation, const std::string& text) {
  if (next_ != nullptr) next_->statusChanged(generation, text);
}

void TakeRecorder::songEnded(std::uint64_t generation) {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  if (next_ != nullptr) next_->songEnded(generation);
}

}  // namespace pulsewright
