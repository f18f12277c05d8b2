#include "tests/support/NullSoundOutput.h"

namespace pulsewright {

NullSoundOutput::NullSoundOutput(std::vector<std::string> devices)
    : devices_(std::move(devices)), failing_(devices_.size(), false), channels_(kSampleChannels) {}

void NullSoundOutput::failDevice(int index, bool fail) {
  std::lock_guard lock(mutex_);
  if (index >= 0 && index < static_cast<int>(failing_.size())) failing_[index] = fail;
}

std::vector<std::string> NullSoundOutput::deviceNames() {
  std::lock_guard lock(mutex_);
  return devices_;
}

bool NullSoundOutput::selectDevice(const std::string& name) {
  std::lock_guard lock(mutex_);
  int index = 0;
  while (index < static_cast<int>(devices_.size()) && devices_[index] != name) ++index;
  if (index >= static_cast<int>(devices_.size()) || failing_[index]) return false;
  device_ = index;
  return true;
}

std::shared_ptr<const SoundOutput::Sample> NullSoundOutput::decode(std::string_view waveBytes,
                                                                   std::size_t maxBytes,
                                                                   std::string* reason) {
  std::lock_guard lock(mutex_);
  // Decoded, a sample here takes as much as its file.
  if (waveBytes.size() > maxBytes) {
    if (reason) *reason = "it would take more than the memory kept for samples";
    return nullptr;
  }
  auto sample = std::make_shared<NullSample>();
  sample->bytes = waveBytes.size();
  sample->serial = ++decodes_;
  return sample;
}

void NullSoundOutput::play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                           float rightGain) {
  std::lock_guard lock(mutex_);
  if (channel < 0 || channel >= static_cast<int>(channels_.size()) || !sample) return;
  const auto* null = dynamic_cast<const NullSample*>(sample.get());
  channels_[channel] = std::move(sample);
  played_.push_back({channel, null ? null->serial : 0, leftGain, rightGain, device_, {}});
}

void NullSoundOutput::playAt(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                             float rightGain, DueTime due) {
  const std::size_t before = played().size();
  play(channel, std::move(sample), leftGain, rightGain);
  std::lock_guard lock(mutex_);
  if (played_.size() > before) played_.back().due = due;
}

bool NullSoundOutput::hasDevice() const {
  std::lock_guard lock(mutex_);
  return device_ >= 0;
}

void NullSoundOutput::setSynth(SynthSource* source) {
  std::lock_guard lock(mutex_);
  synth_ = source;
}

std::vector<NullSoundOutput::Played> NullSoundOutput::played() const {
  std::lock_guard lock(mutex_);
  return played_;
}

int NullSoundOutput::decodes() const {
  std::lock_guard lock(mutex_);
  return decodes_;
}

int NullSoundOutput::device() const {
  std::lock_guard lock(mutex_);
  return device_;
}

std::vector<int> NullSoundOutput::channels() const {
  std::lock_guard lock(mutex_);
  std::vector<int> serials;
  for (const auto& sample : channels_) {
    const auto* null = dynamic_cast<const NullSample*>(sample.get());
    serials.push_back(null ? null->serial : 0);
  }
  return serials;
}

SynthSource* NullSoundOutput::synth() const {
  std::lock_guard lock(mutex_);
  return synth_;
}

}  // namespace pulsewright
