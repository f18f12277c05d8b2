#pragma once
// The one audio engine behind every sound output: the built-in synthesiser rendered in
// slices split at each event's frame, and decoded samples mixed in from their exact frame
// on 21 slots. A device's callback drives it with its clock (renderLive); an offline
// render drives it as fast as it can (renderOffline).
//
// Threads: any thread posts events (lock-free queue, never blocks); one thread renders.
// The render path takes no lock, allocates nothing and reads no file. Samples stay alive
// while they sound: the engine hands finished ones back through another queue and they
// are released on a posting thread.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/BoundedQueue.h"
#include "platform/CallbackClock.h"
#include "platform/SoundOutput.h"

namespace pulsewright {

// Decoded sample data as the engine mixes it: 16-bit, one or two channels, at the
// engine's rate.
struct PcmSample : SoundOutput::Sample {
  std::vector<std::int16_t> pcm;
  int channels = 2;
  std::int64_t frames() const { return static_cast<std::int64_t>(pcm.size()) / channels; }
  std::size_t memoryBytes() const override { return sizeof(*this) + pcm.capacity() * 2; }
};

// When an event sounds: at once (the next frame rendered), at a steady-clock time, or at
// an absolute frame of the rendered stream.
struct When {
  enum Kind : std::uint8_t { kNow, kAtTime, kAtFrame };
  Kind kind = kNow;
  std::int64_t value = 0;  // nanoseconds since the steady clock's epoch, or a frame
  static When now() { return {}; }
  static When at(DueTime due) {
    return {kAtTime,
            std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count()};
  }
  static When atFrame(std::int64_t frame) { return {kAtFrame, frame}; }
};

class AudioEngine {
 public:
  static constexpr int kSlots = kSampleChannels;
  static constexpr int kMaxSlice = 1024;  // longer renders are cut into blocks this long

  explicit AudioEngine(int sampleRate, std::size_t eventCapacity = 8192);
  ~AudioEngine();
  AudioEngine(const AudioEngine&) = delete;
  AudioEngine& operator=(const AudioEngine&) = delete;

  int sampleRate() const { return rate_; }

  // Producers (any thread). False when the queue is full and the event is dropped.
  bool postMessage(std::uint32_t word, When when);
  bool postSample(int slot, std::shared_ptr<const PcmSample> sample, float leftGain,
                  float rightGain, When when);
  // Renders `source` from now on; once this returns the previous one is no longer called
  // (it may be destroyed).
  void setSynth(SynthSource* source);
  // Releases the samples the engine has finished with (done by every post too).
  void collect();

  // Timed events are placed this long after their due time: one block and a margin, so an
  // event handed over at its due time still lands on its frame. Constant while it plays.
  void setLatency(std::chrono::nanoseconds latency) { latencyNs_.store(latency.count()); }
  // The device changed: the clock estimate starts afresh at the next callback.
  void resetClock() { clockReset_.store(true); }
  // Offline: kAtTime events are placed at round((due - epoch) * rate), with no clock.
  void setEpoch(DueTime epoch);

  // Paced by the device: kAtTime events are times on the device's own clock (deviceTimeAt)
  // and land on the frame that time names, so hits keep their spacing in the frames the
  // device plays however its pace wanders against the steady clock. Otherwise they are
  // steady-clock times, placed where the clock's estimate says the device then is.
  void setDevicePaced(bool paced) { devicePaced_.store(paced); }
  // The device's clock: seconds of its frames, set to the steady clock when it first
  // called back, and the steady time at which it reaches a time of its own. Before the
  // first callback both are the steady clock. Any thread; estimates that move as the
  // device does, so a caller that waits on them checks again.
  DueTime deviceTimeAt(DueTime steadyTime) const;
  DueTime steadyTimeOf(DueTime deviceTime) const;

  // The device callback: `frames` interleaved stereo frames at steady time `now`.
  void renderLive(std::int16_t* out, int frames, DueTime now);
  // Offline: the next `frames` frames, float full scale 1.0.
  void renderOffline(float* out, int frames);

  // Frames rendered so far.
  std::int64_t position() const { return positionAtomic_.load(std::memory_order_acquire); }
  // A sample posted for `slot` has not finished (or not started) yet.
  bool slotBusy(int slot) const;
  // Any sample voice sounding or waiting.
  bool samplesBusy() const;
  // Timed events that came after their frame had been rendered (placed at once instead).
  std::uint64_t lateEvents() const { return lateEvents_.load(std::memory_order_relaxed); }

 private:
  struct Event {
    enum Type : std::uint8_t { kMessage, kSample } type = kMessage;
    When when;
    std::int64_t frame = 0;  // absolute, set when the audio thread takes it
    std::uint64_t order = 0;
    std::uint32_t word = 0;
    int slot = 0;
    float left = 1, right = 1;
    std::shared_ptr<const PcmSample>* holder = nullptr;
  };
  struct Voice {
    std::shared_ptr<const PcmSample>* holder = nullptr;
    const PcmSample* sample = nullptr;
    std::int64_t position = 0;
    float left = 1, right = 1;
  };

  void renderBlock(float* mix, int frames, bool live);
  void takeEvents(bool live);
  std::int64_t frameFor(const When& when, bool live) const;
  void apply(const Event& event);
  void mixSlice(float* mix, int from, int to);
  void release(std::shared_ptr<const PcmSample>* holder);
  void updateClock(DueTime now);
  void publishClock(double now);
  struct ClockLine {
    double time = 0, frame = 0, rate = 0, epoch = 0;
  };
  bool readClock(ClockLine& line) const;

  const int rate_;
  BoundedQueue<Event> events_;
  BoundedQueue<std::shared_ptr<const PcmSample>*> finished_;
  std::mutex collectMutex_;  // between posting threads only; never the audio thread

  std::atomic<SynthSource*> synth_{nullptr};
  SynthSource* renderSynth_ = nullptr;         // read once per render, right after it is counted
  std::atomic<std::uint64_t> renderCount_{0};  // odd while a render runs
  std::atomic<int> slotPending_[kSlots] = {};
  std::atomic<bool> slotSounding_[kSlots] = {};
  std::atomic<std::int64_t> latencyNs_{0};
  std::atomic<bool> clockReset_{true};
  std::atomic<std::int64_t> positionAtomic_{0};
  std::atomic<std::uint64_t> lateEvents_{0};
  std::int64_t epochNs_ = 0;
  std::atomic<bool> devicePaced_{false};
  // The clock's line at the latest callback, for other threads: a sequence lock whose
  // writer, the audio thread, never waits (odd while it writes).
  std::atomic<std::uint64_t> lineSequence_{0};
  std::atomic<double> lineTime_{0}, lineFrame_{0}, lineRate_{0}, lineEpoch_{0};

  // The audio thread's own state.
  std::vector<Event> pending_;
  std::vector<int> due_;
  std::vector<float> mix_;
  std::array<Voice, kSlots> voices_{};
  std::int64_t position_ = 0;
  std::uint64_t order_ = 0;
  CallbackClock clock_;  // the device's frames against the steady clock
  bool epochKnown_ = false;
  double deviceEpoch_ = 0;  // the device's time at frame 0, in seconds
};

}  // namespace pulsewright
