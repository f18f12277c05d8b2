#include "playback/MidiClockFollower.h"

#include <cmath>

#include "playback/MidiClockSchedule.h"

namespace pulsewright {

namespace {

double secondsOf(DueTime t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

DueTime dueAt(double seconds) {
  return DueTime(
      std::chrono::duration_cast<DueTime::duration>(std::chrono::duration<double>(seconds)));
}

}  // namespace

MidiClockFollower::Command MidiClockFollower::take(const std::uint8_t* bytes, int length,
                                                   DueTime at) {
  if (length <= 0) return Command::kNone;
  std::lock_guard<std::mutex> lock(mutex_);
  switch (bytes[0]) {
    case kMidiClock: {
      if (!running_) return Command::kNone;
      const double seconds = secondsOf(at);
      double a = 0;
      double b = 0;
      // A clock far off the line (after a stall) starts a new line: the old one says
      // nothing of where the source stands now.
      const bool offTheLine =
          fit(&a, &b) ? std::abs(a + b * static_cast<double>(nextPulse_) - seconds) > b / 2
                      : pulses_.size() == 1 && period_ > 0 &&
                            std::abs(pulses_.back().seconds + period_ - seconds) > period_ / 2;
      if (offTheLine) pulses_.clear();
      pulses_.push_back({static_cast<double>(nextPulse_), seconds});
      while (pulses_.size() > static_cast<std::size_t>(kClocksPerQuarter)) pulses_.pop_front();
      if (fit(&a, &b)) period_ = b;
      ++nextPulse_;
      lastPulse_ = at;
      return Command::kNone;
    }
    case kMidiStart:
      nextPulse_ = 0;
      pulses_.clear();
      running_ = true;
      lastPulse_ = at;
      return Command::kStart;
    case kMidiContinue:
      pulses_.clear();
      running_ = true;
      lastPulse_ = at;
      return Command::kContinue;
    case kMidiStop: running_ = false; return Command::kStop;
    case kMidiSongPosition:
      if (length < 3 || running_) return Command::kNone;
      nextPulse_ = 6 * (static_cast<std::int64_t>(bytes[1] & 0x7F) |
                        static_cast<std::int64_t>(bytes[2] & 0x7F) << 7);
      return Command::kNone;
    default: return Command::kNone;
  }
}

bool MidiClockFollower::fit(double* a, double* b) const {
  const std::size_t n = pulses_.size();
  if (n < 2) return false;
  // Relative to the first pulse, so that the sums keep their precision.
  const double x0 = pulses_.front().index;
  const double y0 = pulses_.front().seconds;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const Pulse& p : pulses_) {
    const double x = p.index - x0;
    const double y = p.seconds - y0;
    sx += x, sy += y, sxx += x * x, sxy += x * y;
  }
  const double count = static_cast<double>(n);
  const double d = count * sxx - sx * sx;
  if (d <= 0) return false;
  *b = (count * sxy - sx * sy) / d;
  *a = y0 + (sy - *b * sx) / count - *b * x0;
  return *b > 0;
}

bool MidiClockFollower::dueOf(double clocks, DueTime* due) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!running_ || pulses_.empty()) return false;
  const double latest = pulses_.back().index;
  // One clock ahead at most: further on the source has not said it gets there.
  if (clocks > latest + 1 + 1e-9) return false;
  double a = 0;
  double b = 0;
  double seconds = 0;
  if (fit(&a, &b)) {
    seconds = a + b * clocks;
  } else if (clocks <= latest + 1e-9) {
    seconds = pulses_.back().seconds;  // the first clock of a line: it is due now
  } else if (period_ > 0) {
    seconds = pulses_.back().seconds + (clocks - latest) * period_;
  } else {
    return false;
  }
  *due = dueAt(seconds);
  return true;
}

double MidiClockFollower::positionClocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<double>(nextPulse_);
}

double MidiClockFollower::tempo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  double a = 0;
  double b = 0;
  return fit(&a, &b) ? 60.0 / (b * kClocksPerQuarter) : 0;
}

bool MidiClockFollower::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool MidiClockFollower::silentFor(std::chrono::nanoseconds quiet, DueTime now) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ && now - lastPulse_ > quiet;
}

}  // namespace pulsewright
