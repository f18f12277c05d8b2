#include "platform/EngineSoundOutput.h"

#include "platform/WaveDecoder.h"

namespace pulsewright {

EngineSoundOutput::EngineSoundOutput(int sampleRate) : engine_(sampleRate) {}

std::shared_ptr<const SoundOutput::Sample> EngineSoundOutput::decode(std::string_view waveBytes) {
  return decodeWave(waveBytes, engine_.sampleRate());
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

bool EngineSoundOutput::queueSynthMessage(std::uint32_t word, std::optional<DueTime> due) {
  if (!rendering()) return false;
  // A full queue drops the message rather than sounding it at the wrong time.
  engine_.postMessage(word, due ? When::at(*due) : When::now());
  return true;
}

}  // namespace pulsewright
