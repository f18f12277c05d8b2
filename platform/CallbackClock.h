#pragma once
// Maps times to frames of a device that calls back for blocks of frames: the audio
// callback of a sound device, the process callback of a JACK server. Each callback says
// which frame its block starts with and when it was entered; a delay-locked loop turns
// those entry times, which the scheduler delays now and then and some devices bunch up,
// into a smooth line of frames against time that keeps the device's own rate.
//
// Real-time safe: no allocation, no lock, no system call. One thread updates it and reads
// it (the callback's); times are seconds on any steady clock.

#include <array>
#include <cstdint>

namespace pulsewright {

class CallbackClock {
 public:
  // How closely the clock follows the device once it has learned its rate: a device that
  // runs ahead of the estimate within seconds (events would come late), one that falls
  // behind slowly. A device paced by the system's sleeps wanders; a sound card or a
  // JACK server keeps its rate and only enters its callbacks late now and then.
  struct Following {
    double earlyBandwidthHz = 0.5;
    double lateBandwidthHz = 0.05;
    double learnSeconds = 0.5;  // of the rate, through a line over the entries
    // How far from its nominal rate the device may run. A sound device paced by the
    // system's sleeps may be several per cent off; a JACK server's rate is its own, and
    // only its stalls would make its frames seem slower.
    double rateLimit = 0.25;
  };

  explicit CallbackClock(double nominalRate) : CallbackClock(nominalRate, Following{}) {}
  CallbackClock(double nominalRate, Following following)
      : nominalRate_(nominalRate), following_(following) {}

  // Forget the phase and the learned rate: the next callback starts afresh.
  void reset() { started_ = false; }
  // The device's frames moved against time by `seconds` (a server that stalled and went
  // on from where it stopped): the phase moves with them, the learned rate stays. A
  // relearned rate would swing the phase for as long as it learns.
  void shiftPhase(double seconds);

  // The block starting at `frame` was entered at `time`.
  void update(std::int64_t frame, double time);

  // The frame (fractional) that sounds at `time`, and the time at which `frame` sounds,
  // both on the current estimate. Only after a first update.
  double frameAt(double time) const { return frame_ + (time - time_) * rate_; }
  double timeOf(double frame) const { return time_ + (frame - frame_) / rate_; }
  // Frames per second as learned.
  double rate() const { return rate_; }
  bool started() const { return started_; }
  // How often the phase started afresh: a callback far off the estimate (a stall), or
  // frames that went back.
  std::uint64_t restarts() const { return restarts_; }

 private:
  void start(std::int64_t frame, double time);

  double nominalRate_;
  Following following_;
  bool started_ = false;
  std::int64_t frame_ = 0;  // the latest block's first frame...
  double time_ = 0;         // ...and the time it sounds on the estimate
  double rate_ = 0;
  double startedAt_ = 0;  // of the learned rate
  std::int64_t startFrame_ = 0;
  struct {
    double n = 0, f = 0, t = 0, tt = 0, tf = 0;
  } fit_;                // sums of the entries while the rate is learned, for their line
  bool fitted_ = false;  // the line has given a rate
  std::int64_t lastEntryFrame_ = 0;
  double lastEntry_ = 0;
  std::array<double, 64> errors_{};  // the latest entries' errors
  std::uint64_t errorCount_ = 0;
  std::uint64_t restarts_ = 0;
};

}  // namespace pulsewright
