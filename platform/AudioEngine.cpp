#include "platform/AudioEngine.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <thread>

#include "platform/ShortMessage.h"
#include "platform/ThreadRules.h"

namespace pulsewright {

namespace {

// Timed note-ons and samples this late are dropped (a device that was away for a while
// must not play a burst of old hits); everything else still applies, so no note sticks.
constexpr double kStaleSeconds = 1.0;

bool startsSound(std::uint32_t word) {
  return static_cast<int>(word & 0xF0) == kNoteOn && ((word >> 16) & 0x7F) != 0;
}

double seconds(DueTime t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

DueTime dueAt(double seconds) {
  return DueTime(
      std::chrono::duration_cast<DueTime::duration>(std::chrono::duration<double>(seconds)));
}

}  // namespace

AudioEngine::AudioEngine(int sampleRate, std::size_t eventCapacity)
    : rate_(sampleRate),
      events_(eventCapacity),
      finished_(2 * eventCapacity + 2 * kSlots + 64),
      clock_(sampleRate) {
  pending_.reserve(events_.capacity());
  due_.reserve(events_.capacity());
  mix_.resize(2 * kMaxSlice);
}

AudioEngine::~AudioEngine() {
  for (Event& e : pending_) delete e.holder;
  Event event;
  while (events_.pop(event)) delete event.holder;
  for (Voice& v : voices_) delete v.holder;
  std::shared_ptr<const PcmSample>* holder = nullptr;
  while (finished_.pop(holder)) delete holder;
}

bool AudioEngine::postMessage(std::uint32_t word, When when) {
  collect();
  Event event;
  event.type = Event::kMessage;
  event.when = when;
  event.word = word;
  return events_.push(event);
}

bool AudioEngine::postSample(int slot, std::shared_ptr<const PcmSample> sample, float leftGain,
                             float rightGain, When when) {
  if (!sample || slot < 0 || slot >= kSlots || sample->frames() <= 0) return false;
  collect();
  Event event;
  event.type = Event::kSample;
  event.when = when;
  event.slot = slot;
  event.left = leftGain;
  event.right = rightGain;
  event.holder = new std::shared_ptr<const PcmSample>(std::move(sample));
  slotPending_[slot].fetch_add(1);
  if (events_.push(event)) return true;
  slotPending_[slot].fetch_sub(1);
  delete event.holder;
  return false;
}

void AudioEngine::collect() {
  std::lock_guard lock(collectMutex_);
  std::shared_ptr<const PcmSample>* holder = nullptr;
  while (finished_.pop(holder)) delete holder;
}

void AudioEngine::setSynth(SynthSource* source) {
  PW_ASSERT_NOT_AUDIO_THREAD();  // it waits for the render to end
  // Both sequentially consistent, here and in the render: the counter read below cannot
  // come before the store. A render that began before the store is then seen running (odd
  // count) and waited for; one that begins after it reads the new source. A render reads
  // the source once, so it uses one synthesiser throughout.
  synth_.store(source, std::memory_order_seq_cst);
  // A render that may still hold the previous source ends within one block.
  const std::uint64_t count = renderCount_.load(std::memory_order_seq_cst);
  if (count % 2 == 0) return;
  while (renderCount_.load() == count) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void AudioEngine::setEpoch(DueTime epoch) {
  epochNs_ = When::at(epoch).value;
}

bool AudioEngine::slotBusy(int slot) const {
  if (slot < 0 || slot >= kSlots) return false;
  return slotPending_[slot].load() > 0 || slotSounding_[slot].load();
}

bool AudioEngine::samplesBusy() const {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (slotBusy(slot)) return true;
  }
  return false;
}

void AudioEngine::release(std::shared_ptr<const PcmSample>* holder) {
  // The queue holds more than can ever be outstanding, so this does not fail.
  if (holder && !finished_.push(holder)) return;
}

void AudioEngine::updateClock(DueTime now) {
  if (clockReset_.exchange(false)) clock_.reset();
  clock_.update(position_, seconds(now));
  publishClock(seconds(now));
}

void AudioEngine::publishClock(double now) {
  const double frame = clock_.frameAt(now);
  if (!epochKnown_) {
    // The device's time starts level with the steady clock and stays with its frames from
    // then on, through stalls and a change of device.
    deviceEpoch_ = now - frame / rate_;
    epochKnown_ = true;
  }
  const std::uint64_t sequence = lineSequence_.load(std::memory_order_relaxed);
  lineSequence_.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  lineTime_.store(now, std::memory_order_relaxed);
  lineFrame_.store(frame, std::memory_order_relaxed);
  lineRate_.store(clock_.rate(), std::memory_order_relaxed);
  lineEpoch_.store(deviceEpoch_, std::memory_order_relaxed);
  lineSequence_.store(sequence + 2, std::memory_order_release);
}

bool AudioEngine::readClock(ClockLine& line) const {
  for (;;) {
    const std::uint64_t before = lineSequence_.load(std::memory_order_acquire);
    if (before == 0) return false;  // no callback yet
    if (before % 2 != 0) {
      std::this_thread::yield();
      continue;
    }
    line.time = lineTime_.load(std::memory_order_relaxed);
    line.frame = lineFrame_.load(std::memory_order_relaxed);
    line.rate = lineRate_.load(std::memory_order_relaxed);
    line.epoch = lineEpoch_.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (lineSequence_.load(std::memory_order_relaxed) == before) return true;
  }
}

DueTime AudioEngine::deviceTimeAt(DueTime steadyTime) const {
  ClockLine line;
  if (!readClock(line)) return steadyTime;
  const double frame = line.frame + (seconds(steadyTime) - line.time) * line.rate;
  return dueAt(line.epoch + frame / rate_);
}

DueTime AudioEngine::steadyTimeOf(DueTime deviceTime) const {
  ClockLine line;
  if (!readClock(line)) return deviceTime;
  const double frame = (seconds(deviceTime) - line.epoch) * rate_;
  return dueAt(line.time + (frame - line.frame) / line.rate);
}

std::int64_t AudioEngine::frameFor(const When& when, bool live) const {
  switch (when.kind) {
    case When::kNow: return position_;
    case When::kAtFrame: return when.value;
    case When::kAtTime:
      if (!live) {
        const std::int64_t ns = when.value - epochNs_;
        const std::int64_t scaled = ns * rate_;
        return scaled >= 0 ? (scaled + 500000000) / 1000000000
                           : -((-scaled + 500000000) / 1000000000);
      }
      if (devicePaced_.load(std::memory_order_relaxed) && epochKnown_) {
        return std::llround((when.value * 1e-9 + latencyNs_.load() * 1e-9 - deviceEpoch_) * rate_);
      }
      return std::llround(clock_.frameAt(when.value * 1e-9 + latencyNs_.load() * 1e-9));
  }
  return position_;
}

void AudioEngine::takeEvents(bool live) {
  Event event;
  while (pending_.size() < pending_.capacity() && events_.pop(event)) {
    event.frame = frameFor(event.when, live);
    event.order = order_++;
    const bool stale = event.when.kind != When::kNow &&
                       event.frame < position_ - static_cast<std::int64_t>(kStaleSeconds * rate_);
    if (stale && (event.type == Event::kSample || startsSound(event.word))) {
      if (event.type == Event::kSample) {
        release(event.holder);
        slotPending_[event.slot].fetch_sub(1);
      }
      continue;
    }
    if (event.frame < position_) {
      // Late: at the block's first frame.
      if (event.when.kind == When::kAtTime) lateEvents_.fetch_add(1, std::memory_order_relaxed);
      event.frame = position_;
    }
    pending_.push_back(event);
  }
}

void AudioEngine::apply(const Event& event) {
  if (event.type == Event::kMessage) {
    if (renderSynth_ != nullptr) renderSynth_->apply(event.word);
    return;
  }
  Voice& voice = voices_[event.slot];
  release(voice.holder);  // a new sample on a slot cuts the old one
  voice.holder = event.holder;
  voice.sample = event.holder->get();
  voice.position = 0;
  voice.left = event.left;
  voice.right = event.right;
  slotSounding_[event.slot].store(true);
  slotPending_[event.slot].fetch_sub(1);
}

void AudioEngine::mixSlice(float* mix, int from, int to) {
  if (to <= from) return;
  if (renderSynth_ != nullptr) {
    renderSynth_->render(mix + 2 * from, to - from);
  } else {
    std::fill(mix + 2 * from, mix + 2 * to, 0.0f);
  }
  constexpr float kScale = 1.0f / 32768.0f;
  for (int slot = 0; slot < kSlots; ++slot) {
    Voice& voice = voices_[slot];
    if (!voice.sample) continue;
    const PcmSample& s = *voice.sample;
    const std::int64_t left = s.frames() - voice.position;
    const int count = static_cast<int>(std::min<std::int64_t>(to - from, left));
    const float gl = voice.left * kScale, gr = voice.right * kScale;
    const std::int16_t* pcm = s.pcm.data() + voice.position * s.channels;
    float* out = mix + 2 * from;
    if (s.channels == 2) {
      for (int i = 0; i < count; ++i) {
        out[2 * i] += pcm[2 * i] * gl;
        out[2 * i + 1] += pcm[2 * i + 1] * gr;
      }
    } else {
      for (int i = 0; i < count; ++i) {
        out[2 * i] += pcm[i] * gl;
        out[2 * i + 1] += pcm[i] * gr;
      }
    }
    voice.position += count;
    if (voice.position >= s.frames()) {
      release(voice.holder);
      voice = Voice{};
      slotSounding_[slot].store(false);
    }
  }
}

void AudioEngine::renderBlock(float* mix, int frames, bool live) {
  takeEvents(live);
  const std::int64_t end = position_ + frames;
  due_.clear();
  for (int i = 0; i < static_cast<int>(pending_.size()); ++i) {
    if (pending_[i].frame < end) due_.push_back(i);
  }
  std::sort(due_.begin(), due_.end(), [this](int a, int b) {
    const Event& x = pending_[a];
    const Event& y = pending_[b];
    return x.frame != y.frame ? x.frame < y.frame : x.order < y.order;
  });
  int cursor = 0;
  for (int index : due_) {
    const Event& event = pending_[index];
    const int offset = static_cast<int>(event.frame - position_);
    if (offset > cursor) {
      mixSlice(mix, cursor, offset);
      cursor = offset;
    }
    apply(event);
  }
  mixSlice(mix, cursor, frames);
  if (!due_.empty()) {
    std::erase_if(pending_, [end](const Event& e) { return e.frame < end; });
  }
  position_ = end;
  positionAtomic_.store(position_, std::memory_order_release);
}

void AudioEngine::renderLive(std::int16_t* out, int frames, DueTime now) {
  const AudioThreadScope audioThread;
  // One render at a time: the synthesiser and the voices are this thread's alone.
  [[maybe_unused]] const std::uint64_t count = renderCount_.fetch_add(1);
  assert(count % 2 == 0 && "two threads render one engine at once");
  renderSynth_ = synth_.load(std::memory_order_seq_cst);
  updateClock(now);
  for (int done = 0; done < frames;) {
    const int n = std::min(kMaxSlice, frames - done);
    renderBlock(mix_.data(), n, true);
    for (int i = 0; i < 2 * n; ++i) {
      const float v = std::clamp(mix_[i] * 32768.0f, -32768.0f, 32767.0f);
      out[2 * done + i] = static_cast<std::int16_t>(std::lrint(v));
    }
    done += n;
  }
  renderCount_.fetch_add(1);
}

void AudioEngine::renderOffline(float* out, int frames) {
  const AudioThreadScope audioThread;
  // One render at a time: the synthesiser and the voices are this thread's alone.
  [[maybe_unused]] const std::uint64_t count = renderCount_.fetch_add(1);
  assert(count % 2 == 0 && "two threads render one engine at once");
  renderSynth_ = synth_.load(std::memory_order_seq_cst);
  for (int done = 0; done < frames;) {
    const int n = std::min(kMaxSlice, frames - done);
    renderBlock(out + 2 * done, n, false);
    done += n;
  }
  renderCount_.fetch_add(1);
}

}  // namespace pulsewright
