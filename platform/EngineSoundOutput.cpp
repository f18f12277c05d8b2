#include "platform/EngineSoundOutput.h"

#include "platform/WaveDecoder.h"

namespace pulsewright {

EngineSoundOutput::EngineSoundOutput(int sampleRate) : engine_(sampleRate) {}

std::shared_ptr<const SoundOutput::Sample> EngineSoundOutput::decode(std::string_view waveBytes,
                                                                     std::size_t maxBytes,
                                                                     std::string* reason) {
  return decodeWave(waveBytes, engine_.sampleRate(), maxBytes, reason);
}

void EngineSoundOutput::play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                             float rightGain) {
  if (!rendering()) return;
  engine_.postSample(channel, std::dynamic_pointer_cast<const PcmSample>(sample), leftGain,
                     rightGain, When::now());
}

void EngineSoundOutput::playAt(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                               float rightGain, DueTime due) {
  if (!rendering()) return;
  engine_.postSample(channel, std::dynamic_pointer_cast<const PcmSample>(sample), leftGain,
                     rightGain, When::at(due));
}

SoundOutput::Queued EngineSoundOutput::queueSynthMessage(std::uint32_t word,
                                                         std::optional<DueTime> due) {
  if (!rendering()) return Queued::kNotRendering;
  // A full queue drops the message rather than sounding it at the wrong time.
  return engine_.postMessage(word, due ? When::at(*due) : When::now()) ? Queued::kQueued
                                                                       : Queued::kFull;
}

}  // namespace pulsewright
