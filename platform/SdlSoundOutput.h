#pragma once
// Sound output through an SDL2 playback device: the audio engine rendered in the device's
// callback (no lock there), drums and samples on one device and one clock. Devices are
// opened by name; switching moves everything that sounds, the synthesiser included, to the
// new device at once. Without a working audio driver the device list is empty and nothing
// sounds.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/EngineSoundOutput.h"

namespace pulsewright {

class SdlSoundOutput : public EngineSoundOutput {
 public:
  static constexpr int kMixerChannels = AudioEngine::kSlots;
  static constexpr int kDefaultBlockFrames = 256;  // about 6 ms: the drum keyboard answers fast

  explicit SdlSoundOutput(int blockFrames = kDefaultBlockFrames);
  ~SdlSoundOutput() override;
  SdlSoundOutput(const SdlSoundOutput&) = delete;
  SdlSoundOutput& operator=(const SdlSoundOutput&) = delete;

  std::vector<std::string> deviceNames() override;
  bool selectDevice(const std::string& name) override;
  bool hasDevice() const override { return open_.load(); }

  // Whether a device is open, and whether `channel` still sounds (for tests and tools).
  bool isOpen() const { return open_.load(); }
  bool isPlaying(int channel) const;
  // Closes the device (it flushes what it has mixed); a later selectDevice opens again.
  void closeDevice();
  // The block the device asked for, in frames (0 while closed).
  int blockFrames() const;

 protected:
  bool rendering() const override { return open_.load(); }

 private:
  static void callback(void* self, unsigned char* stream, int length);

  const int requestedBlock_;
  bool audioInitialised_ = false;
  mutable std::mutex mutex_;  // the device; never taken by the audio thread
  unsigned device_ = 0;
  int block_ = 0;
  std::atomic<bool> open_{false};
  std::atomic<bool> priorityRaised_{false};
};

}  // namespace pulsewright
