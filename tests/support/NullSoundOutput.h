#pragma once
// A sound output that plays nothing, for tests. It records what it was asked to do.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/SoundOutput.h"

namespace pulsewright {

class NullSoundOutput : public SoundOutput {
 public:
  struct NullSample : Sample {
    std::size_t bytes = 0;
    int serial = 0;  // 1 for the first sample decoded, 2 for the next, ...
    std::size_t memoryBytes() const override { return bytes; }
  };
  struct Played {
    int channel;
    int serial;  // of the NullSample
    float leftGain;
    float rightGain;
    int device;  // selected device entry at the time, -1 for none
    std::optional<DueTime> due;
  };

  explicit NullSoundOutput(std::vector<std::string> devices = {});

  void failDevice(int index, bool fail);  // test control: opening device `index` fails

  std::vector<std::string> deviceNames() override;
  bool selectDevice(const std::string& name) override;
  std::shared_ptr<const Sample> decode(std::string_view waveBytes, std::size_t maxBytes,
                                       std::string* reason) override;
  void play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
            float rightGain) override;
  void playAt(int channel, std::shared_ptr<const Sample> sample, float leftGain, float rightGain,
              DueTime due) override;
  void setSynth(SynthSource* source) override;
  bool hasDevice() const override;

  std::vector<Played> played() const;
  int decodes() const;
  int device() const;
  // The sample now held by each channel, by serial (0 for none).
  std::vector<int> channels() const;
  SynthSource* synth() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> devices_;
  std::vector<bool> failing_;
  int device_ = -1;
  int decodes_ = 0;
  std::vector<Played> played_;
  std::vector<std::shared_ptr<const Sample>> channels_;
  SynthSource* synth_ = nullptr;
};

}  // namespace pulsewright
