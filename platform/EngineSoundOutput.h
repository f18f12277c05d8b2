#pragma once
// A sound output over the audio engine. As it stands it has no device: it renders on
// demand (an offline render, as fast as the CPU allows), with timed events placed at
// round((due - epoch) * rate). SdlSoundOutput adds a device and its clock.

#include <memory>

#include "platform/AudioEngine.h"
#include "platform/SoundOutput.h"

namespace pulsewright {

class EngineSoundOutput : public SoundOutput {
 public:
  explicit EngineSoundOutput(int sampleRate = kOutputSampleRate);

  std::vector<std::string> deviceNames() override { return {"Render"}; }
  bool selectDevice(const std::string&) override { return true; }
  std::shared_ptr<const Sample> decode(std::string_view waveBytes, std::size_t maxBytes,
                                       std::string* reason) override;
  void play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
            float rightGain) override;
  void playAt(int channel, std::shared_ptr<const Sample> sample, float leftGain, float rightGain,
              DueTime due) override;
  void setSynth(SynthSource* source) override { engine_.setSynth(source); }
  Queued queueSynthMessage(std::uint32_t word, std::optional<DueTime> due) override;
  bool hasDevice() const override { return true; }

  AudioEngine& engine() { return engine_; }

 protected:
  // Whether what is posted now will be rendered.
  virtual bool rendering() const { return true; }

  AudioEngine engine_;
};

}  // namespace pulsewright
