#include "platform/SdlSoundOutput.h"

#include <SDL.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>

namespace pulsewright {

SdlSoundOutput::SdlSoundOutput(int blockFrames) : requestedBlock_(blockFrames) {
  // SDL would otherwise take SIGINT and SIGTERM for an event loop nobody runs, and the
  // program would ignore them; the programs handle their own signals.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  audioInitialised_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

SdlSoundOutput::~SdlSoundOutput() {
  closeDevice();
  if (audioInitialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::vector<std::string> SdlSoundOutput::deviceNames() {
  std::vector<std::string> names;
  if (!audioInitialised_) return names;
  const int count = SDL_GetNumAudioDevices(0);
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, 0);
    names.emplace_back(name ? name : "");
  }
  return names;
}

void SdlSoundOutput::callback(void* self, unsigned char* stream, int length) {
  auto* output = static_cast<SdlSoundOutput*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (!output->priorityRaised_.exchange(true)) {
    // A real-time audio thread keeps its pace while the machine is busy. Where the system
    // does not allow it (no real-time limit for the user) the thread stays as it is.
    sched_param param{};
    param.sched_priority = std::min(20, sched_get_priority_max(SCHED_FIFO));
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  }
  output->engine_.renderLive(reinterpret_cast<std::int16_t*>(stream), length / 4, now);
}

bool SdlSoundOutput::selectDevice(const std::string& name) {
  if (!audioInitialised_) return false;
  std::lock_guard lock(mutex_);
  // A fixed format, converted by SDL when the device differs, keeps decoded samples valid
  // on every device.
  SDL_AudioSpec want{};
  want.freq = engine_.sampleRate();
  want.format = AUDIO_S16SYS;
  want.channels = kOutputChannels;
  want.samples = static_cast<Uint16>(requestedBlock_);
  want.callback = &SdlSoundOutput::callback;
  want.userdata = this;
  SDL_AudioSpec have{};
  // The old device stops calling the engine before the new one starts; the engine keeps
  // its voices, so what sounds goes on on the new device.
  if (device_ != 0) SDL_PauseAudioDevice(device_, 1);
  const SDL_AudioDeviceID opened =
      SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 0, &want, &have, 0);
  if (opened == 0) {
    if (device_ != 0) SDL_PauseAudioDevice(device_, 0);
    return false;
  }
  if (device_ != 0) SDL_CloseAudioDevice(device_);
  device_ = opened;
  block_ = have.samples;
  engine_.resetClock();
  priorityRaised_.store(false);  // a new device has a new audio thread
  engine_.setLatency(std::chrono::nanoseconds(static_cast<std::int64_t>(have.samples) * 1000000000 /
                                              engine_.sampleRate()) +
                     std::chrono::milliseconds(2));
  open_.store(true);
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

bool SdlSoundOutput::isPlaying(int channel) const {
  return open_.load() && engine_.slotBusy(channel);
}

void SdlSoundOutput::closeDevice() {
  std::lock_guard lock(mutex_);
  if (device_ == 0) return;
  open_.store(false);
  SDL_CloseAudioDevice(device_);
  device_ = 0;
  block_ = 0;
}

int SdlSoundOutput::blockFrames() const {
  std::lock_guard lock(mutex_);
  return block_;
}

}  // namespace pulsewright
