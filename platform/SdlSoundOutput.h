#pragma once
// Sound output through SDL2 and SDL2_mixer: SDL's playback devices, samples on mixer
// channels with their own gains, and the synthesiser rendered as the mixer's music, so
// drums and samples share one device and one clock. Only one may exist at a time (the
// mixer is one per process). Without a working audio driver the device list is empty and
// nothing sounds.

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SoundOutput.h"

namespace pulsewright {

class SdlSoundOutput : public SoundOutput {
 public:
  static constexpr int kMixerChannels = kSampleChannels;

  SdlSoundOutput();
  ~SdlSoundOutput() override;
  SdlSoundOutput(const SdlSoundOutput&) = delete;
  SdlSoundOutput& operator=(const SdlSoundOutput&) = delete;

  std::vector<std::string> deviceNames() override;
  bool selectDevice(int index) override;
  std::shared_ptr<const Sample> decode(std::string_view waveBytes) override;
  void play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
            float rightGain) override;
  void setSynth(SynthSource* source) override;

  // Whether a device is open, and whether `channel` still sounds (for tests and tools).
  bool isOpen() const;
  bool isPlaying(int channel) const;
  // Closes the device (it flushes what it has mixed); a later selectDevice opens again.
  void closeDevice();

  struct Gains {
    float left = 1;
    float right = 1;
  };

 private:
  static void mixSynth(void* self, unsigned char* stream, int length);
  bool openLocked(const std::string& name);
  void closeLocked();

  bool audioInitialised_ = false;
  mutable std::mutex mutex_;  // the device and the channels
  bool open_ = false;
  std::string openName_;
  std::array<Gains, kMixerChannels> gains_{};
  std::array<std::shared_ptr<const Sample>, kMixerChannels> playing_{};
  std::mutex synthMutex_;  // taken by the audio thread for every block
  SynthSource* synth_ = nullptr;
};

}  // namespace pulsewright
