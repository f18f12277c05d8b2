#include "platform/CallbackClock.h"

#include <algorithm>
#include <cmath>

namespace pulsewright {

namespace {

// For its first half second the clock learns the device's rate as the slope of a straight
// line through every entry (a device may be several per cent off its nominal rate); then
// the rate follows the device slowly, so that the frames keep the schedule's spacing while
// the entries wander. A song played as soon as the device opened starts about then.
constexpr double kEnvelopeSeconds = 0.05;
constexpr double kStartBandwidthHz = 2.0;
// An entry's error counts at most this much (more while learning): a device that has
// really moved moves the estimate on every callback, a scheduler's hiccup cannot throw it.
constexpr double kStartErrorLimitSeconds = 0.005;
constexpr double kEarlyLimitSeconds = 0.005;
constexpr double kLateLimitSeconds = 0.002;
constexpr double kFarLateSeconds = 0.2;
// A callback this far off the estimate (and a few blocks) means the device stalled or
// jumped: the phase starts afresh, the rate is kept.
constexpr double kStallSeconds = 0.5;
constexpr int kStallBlocks = 3;

}  // namespace

void CallbackClock::start(std::int64_t frame, double time) {
  if (!started_ || std::abs(rate_ / nominalRate_ - 1) > following_.rateLimit) {
    rate_ = nominalRate_;
    startedAt_ = time;
    startFrame_ = frame;
    fit_ = {};
    fitted_ = false;
  } else {
    ++restarts_;
  }
  started_ = true;
  frame_ = frame;
  time_ = time;
  lastEntryFrame_ = frame;
  lastEntry_ = time;
  errorCount_ = 0;
}

void CallbackClock::shiftPhase(double seconds) {
  if (!started_) return;
  time_ += seconds;
  lastEntry_ += seconds;
  errorCount_ = 0;
  ++restarts_;
  if (!fitted_) {
    // The entries so far lie on the line the device has left.
    fit_ = {};
    startedAt_ = time_;
    startFrame_ = frame_;
  }
}

void CallbackClock::update(std::int64_t frame, double time) {
  if (!started_ || frame <= frame_) {
    start(frame, time);
    return;
  }
  const double frames = static_cast<double>(frame - frame_);
  const double period = frames / rate_;
  const double predicted = time_ + period;
  const double error = time - predicted;
  if (std::abs(error) > std::max(kStallSeconds, kStallBlocks * period)) {
    start(frame, time);
    return;
  }
  // A callback entered right after the previous one is the second of a burst (a device
  // that fills two blocks at a time, or catches up): its entry says nothing of when its
  // frames sound.
  const double gap = time - lastEntry_;
  const bool burst = gap < 0.5 * static_cast<double>(frame - lastEntryFrame_) / rate_;
  lastEntryFrame_ = frame;
  lastEntry_ = time;
  if (burst) {
    frame_ = frame;
    time_ = predicted;
    return;
  }
  // A callback is never entered before its block is due, but often after: the earliest
  // entry of the latest tens of milliseconds says where the device is, so late wake-ups
  // move nothing.
  errors_[errorCount_ % errors_.size()] = error;
  ++errorCount_;
  const auto window = static_cast<std::uint64_t>(
      std::clamp(kEnvelopeSeconds / period, 3.0, static_cast<double>(errors_.size())));
  double e = error;
  for (std::uint64_t i = 1; i < std::min(window, errorCount_); ++i) {
    e = std::min(e, errors_[(errorCount_ - 1 - i) % errors_.size()]);
  }
  // Until a first line through the entries gives the rate, a wide loop keeps the phase
  // near a device that may be several per cent off; from then on the phase follows as it
  // does for good while the line refines the rate. A wide loop would follow every wander
  // of a device paced by sleeps, and the frames of the events with it.
  const bool learning = time - startedAt_ < following_.learnSeconds;
  double bandwidth = kStartBandwidthHz;
  if (learning && !fitted_) {
    e = std::clamp(e, -kStartErrorLimitSeconds, kStartErrorLimitSeconds);
  } else if (e < 0 || e > kFarLateSeconds) {
    e = std::clamp(e, -kEarlyLimitSeconds, kEarlyLimitSeconds);
    bandwidth = following_.earlyBandwidthHz;
  } else {
    e = std::min(e, kLateLimitSeconds);
    bandwidth = following_.lateBandwidthHz;
  }
  const double omega = std::min(0.5, 2 * M_PI * bandwidth * period);
  time_ = predicted + std::sqrt(2.0) * omega * e;
  frame_ = frame;
  if (learning) {
    const double f = static_cast<double>(frame - startFrame_), t = time - startedAt_;
    ++fit_.n, fit_.f += f, fit_.t += t, fit_.tt += t * t, fit_.tf += t * f;
    const double spread = fit_.n * fit_.tt - fit_.t * fit_.t;
    if (fit_.n >= 8 && t > 0.1 && spread > 0) {
      const double slope = (fit_.n * fit_.tf - fit_.t * fit_.f) / spread;
      if (std::abs(slope / nominalRate_ - 1) < following_.rateLimit) {
        if (!fitted_) {
          // The first line gives the phase too, where the wide loop may still be off.
          time_ = startedAt_ + (f - (fit_.f - slope * fit_.t) / fit_.n) / slope;
          errorCount_ = 0;  // the errors so far were against the wide loop's phase
          fitted_ = true;
        }
        rate_ = slope;
      }
    }
    return;
  }
  // Seconds per frame learn from the same error.
  const double secondsPerFrame = 1 / rate_ + omega * omega * e / frames;
  rate_ = std::clamp(1 / secondsPerFrame, nominalRate_ * (1 - following_.rateLimit),
                     nominalRate_ * (1 + following_.rateLimit));
}

}  // namespace pulsewright
