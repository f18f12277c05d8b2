#include "platform/KitSound.h"

#include <algorithm>
#include <cmath>

#include "platform/ThreadRules.h"

namespace pulsewright {

std::size_t KitSound::memoryBytes() const {
  std::size_t bytes = sizeof(*this);
  for (const KitSampleData& s : samples) bytes += sizeof(s) + s.pcm.capacity() * sizeof(float);
  for (const KitInstrument& i : instruments) {
    bytes += sizeof(i) + i.name.capacity() + i.layers.capacity() * sizeof(KitLayer);
  }
  return bytes;
}

KitVoices::KitVoices(int polyphony) : polyphony_(std::clamp(polyphony, 1, kPoolSize - 32)) {
  for (std::atomic<float>& gain : noteMix_) gain.store(1.0f, std::memory_order_relaxed);
}

void KitVoices::setNoteMix(int note, float left, float right) {
  if (note < 0 || note > 127) return;
  const auto at = static_cast<std::size_t>(note) * 2;
  noteMix_[at].store(left, std::memory_order_relaxed);
  noteMix_[at + 1].store(right, std::memory_order_relaxed);
  float peak = 0;
  bool mixed = false;
  for (const std::atomic<float>& gain : noteMix_) {
    const float g = gain.load(std::memory_order_relaxed);
    peak = std::max(peak, g);
    mixed = mixed || g != 1.0f;
  }
  mixPeak_.store(peak, std::memory_order_relaxed);
  mixed_.store(mixed, std::memory_order_relaxed);
}

std::pair<float, float> KitVoices::noteMix(int note) const {
  if (note < 0 || note > 127) return {1.0f, 1.0f};
  const auto at = static_cast<std::size_t>(note) * 2;
  return {noteMix_[at].load(std::memory_order_relaxed),
          noteMix_[at + 1].load(std::memory_order_relaxed)};
}

void KitVoices::setKit(std::shared_ptr<const KitSound> kit) {
  PW_ASSERT_NOT_AUDIO_THREAD();
  std::lock_guard lock(mutex_);
  const std::uint64_t generation = ++generation_;
  const KitSound* raw = kit.get();
  held_.emplace_back(generation, std::move(kit));
  // The pointer before its generation: the audio thread reads them in the other order,
  // so a generation it sees always comes with its kit or a later one.
  pending_.store(raw, std::memory_order_seq_cst);
  pendingGeneration_.store(generation, std::memory_order_seq_cst);
  // What the audio thread let go of before goes now.
  const std::uint64_t playing = playingGeneration_.load(std::memory_order_seq_cst);
  const std::uint64_t retiring = retiringGeneration_.load(std::memory_order_seq_cst);
  std::erase_if(held_, [&](const auto& entry) {
    return entry.first < playing && entry.first != retiring && entry.first != generation;
  });
}

std::shared_ptr<const KitSound> KitVoices::kit() const {
  std::lock_guard lock(mutex_);
  return held_.empty() ? nullptr : held_.back().second;
}

void KitVoices::collect() {
  PW_ASSERT_NOT_AUDIO_THREAD();
  std::lock_guard lock(mutex_);
  const std::uint64_t playing = playingGeneration_.load(std::memory_order_seq_cst);
  const std::uint64_t retiring = retiringGeneration_.load(std::memory_order_seq_cst);
  std::erase_if(held_, [&](const auto& entry) {
    return entry.first < playing && entry.first != retiring && entry.first != generation_;
  });
}

void KitVoices::reset() {
  for (Voice& v : voices_) v = Voice{};
  soundingAtomic_.store(0);
  retiringGeneration_.store(0);
}

void KitVoices::adoptPending() {
  const std::uint64_t generation = pendingGeneration_.load(std::memory_order_seq_cst);
  if (generation == currentGeneration_) return;
  const KitSound* kit = pending_.load(std::memory_order_seq_cst);
  // A kit still fading from an earlier change stops now; the one playing fades out, so
  // its samples live until then.
  bool fading = false;
  for (Voice& v : voices_) {
    if (!v.sample) continue;
    if (v.retiring) {
      v = Voice{};
      continue;
    }
    v.retiring = true;
    cut(v, kSwapFadeFrames);
    fading = true;
  }
  // The retiring generation is published before the new one, so a thread that sees the
  // new one also sees which old kit must stay.
  retiringGeneration_.store(fading ? currentGeneration_ : 0, std::memory_order_seq_cst);
  current_ = kit;
  currentGeneration_ = generation;
  playingGeneration_.store(generation, std::memory_order_seq_cst);
  roundRobin_.fill(0);
}

void KitVoices::cut(Voice& voice, int frames) {
  if (voice.fadeStep > 0) return;  // already on its way out
  voice.fadeStep = 1.0f / static_cast<float>(frames);
}

KitVoices::Voice* KitVoices::freeVoice() {
  Voice* quickest = nullptr;
  for (Voice& v : voices_) {
    if (!v.sample) return &v;
    if (v.fadeStep > 0 && (!quickest || v.fade < quickest->fade)) quickest = &v;
  }
  // Every slot sounds: the voice nearest the end of its fade makes room.
  return quickest;
}

bool KitVoices::cutNote(int note) {
  adoptPending();
  if (!current_ || note < 0 || note > 127) return false;
  const int index = current_->instrumentOfNote[static_cast<std::size_t>(note)];
  if (index < 0) return false;
  for (Voice& v : voices_) {
    if (v.sample && !v.retiring && v.instrument == index) cut(v, kCutFrames);
  }
  return true;
}

bool KitVoices::noteOn(int note, int velocity) {
  adoptPending();
  if (!current_ || note < 0 || note > 127) return false;
  const int index = current_->instrumentOfNote[static_cast<std::size_t>(note)];
  if (index < 0 || index >= static_cast<int>(current_->instruments.size())) return false;
  const auto mix = static_cast<std::size_t>(note) * 2;
  return playInstrument(index, velocity, noteMix_[mix].load(std::memory_order_relaxed),
                        noteMix_[mix + 1].load(std::memory_order_relaxed));
}

void KitVoices::audition(int instrument, int velocity) {
  if (instrument < 0 || instrument >= KitSound::kMaxInstruments) return;
  auditionRequest_.store(instrument * 128 + std::clamp(velocity, 1, 127),
                         std::memory_order_release);
}

bool KitVoices::playInstrument(int index, int velocity, float mixLeft, float mixRight) {
  if (!current_ || index < 0 || index >= static_cast<int>(current_->instruments.size())) {
    return false;
  }
  if (velocity <= 0) return true;
  const KitInstrument& instrument = current_->instruments[static_cast<std::size_t>(index)];
  if (instrument.layers.empty()) return true;
  const float level = static_cast<float>(std::min(velocity, 127)) / 127.0f;

  // The layers whose range holds the level take turns; with none, the nearest plays.
  int inRange = 0;
  const KitLayer* nearest = nullptr;
  float nearestDistance = 2;
  for (const KitLayer& layer : instrument.layers) {
    if (level >= layer.minVelocity && level <= layer.maxVelocity) ++inRange;
    const float distance =
        std::max(layer.minVelocity - level, 0.0f) + std::max(level - layer.maxVelocity, 0.0f);
    if (distance < nearestDistance) {
      nearestDistance = distance;
      nearest = &layer;
    }
  }
  const KitLayer* chosen = nearest;
  if (inRange > 0) {
    const std::size_t slot = static_cast<std::size_t>(index) % roundRobin_.size();
    int turn = static_cast<int>(roundRobin_[slot]++ % static_cast<std::uint32_t>(inRange));
    for (const KitLayer& layer : instrument.layers) {
      if (level >= layer.minVelocity && level <= layer.maxVelocity && turn-- == 0) {
        chosen = &layer;
        break;
      }
    }
  }
  if (!chosen || chosen->sample < 0 ||
      chosen->sample >= static_cast<int>(current_->samples.size())) {
    return true;
  }
  const KitSampleData& sample = current_->samples[static_cast<std::size_t>(chosen->sample)];
  if (sample.frames() <= 0) return true;

  // A hit in a mute group closes the group (the closed hat stops the open one); a stop
  // note cuts its own ringing.
  int active = 0;
  Voice* quietest = nullptr;
  for (Voice& v : voices_) {
    if (!v.sample || v.fadeStep > 0) continue;
    const bool choked =
        !v.retiring && ((instrument.muteGroup >= 0 && v.muteGroup == instrument.muteGroup) ||
                        (instrument.stopNote && v.instrument == index));
    if (choked) {
      cut(v, kCutFrames);
      continue;
    }
    ++active;
    const float loudness = (v.left + v.right) * v.fade;
    if (!quietest || loudness < (quietest->left + quietest->right) * quietest->fade ||
        (loudness == (quietest->left + quietest->right) * quietest->fade &&
         v.started < quietest->started)) {
      quietest = &v;
    }
  }
  if (active >= polyphony_ && quietest) cut(*quietest, kCutFrames);

  Voice* voice = freeVoice();
  if (!voice) return true;
  const float gain = kKitGain * level * chosen->gain;
  *voice = Voice{};
  voice->sample = &sample;
  voice->left = gain * instrument.left * mixLeft;
  voice->right = gain * instrument.right * mixRight;
  voice->instrument = index;
  voice->muteGroup = instrument.muteGroup;
  voice->started = ++hits_;
  return true;
}

void KitVoices::render(float* stereo, int frames) {
  adoptPending();
  if (const int request = auditionRequest_.exchange(-1, std::memory_order_acquire); request >= 0) {
    playInstrument(request / 128, request % 128, 1.0f, 1.0f);
  }
  int sounding = 0;
  bool retiring = false;
  for (Voice& v : voices_) {
    if (!v.sample) continue;
    const KitSampleData& s = *v.sample;
    int count = static_cast<int>(std::min<std::int64_t>(frames, s.frames() - v.position));
    const float* pcm = s.pcm.data() + v.position * s.channels;
    const int step = s.channels == 2 ? 1 : 0;  // the right channel's offset
    bool ended = false;
    if (v.fadeStep <= 0) {
      for (int i = 0; i < count; ++i) {
        stereo[2 * i] += pcm[(step + 1) * i] * v.left;
        stereo[2 * i + 1] += pcm[(step + 1) * i + step] * v.right;
      }
    } else {
      int i = 0;
      for (; i < count && v.fade > 0; ++i) {
        stereo[2 * i] += pcm[(step + 1) * i] * v.left * v.fade;
        stereo[2 * i + 1] += pcm[(step + 1) * i + step] * v.right * v.fade;
        v.fade -= v.fadeStep;
      }
      count = i;
      ended = v.fade <= 0;
    }
    v.position += count;
    if (ended || v.position >= s.frames()) {
      v = Voice{};
      continue;
    }
    ++sounding;
    retiring = retiring || v.retiring;
  }
  if (!retiring && retiringGeneration_.load(std::memory_order_relaxed) != 0) {
    retiringGeneration_.store(0, std::memory_order_seq_cst);
  }
  soundingAtomic_.store(sounding, std::memory_order_relaxed);
}

}  // namespace pulsewright
