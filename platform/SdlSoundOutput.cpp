#include "platform/SdlSoundOutput.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cmath>
#include <cstring>

namespace pulsewright {

namespace {

constexpr int kFrameBytes = 2 * kOutputChannels;
constexpr int kBlockFrames = 1024;

// A decoded sample: 16-bit stereo at the output rate, and the mixer's view of it.
struct SdlSample : SoundOutput::Sample {
  std::vector<Uint8> bytes;
  mutable Mix_Chunk chunk{};
};

// Applies a channel's two gains to its samples before they are mixed. SDL_mixer's own
// volume and panning have 128 and 255 steps, too coarse for -46 dB.
void applyGains(int, void* stream, int length, void* userData) {
  const auto* gains = static_cast<const SdlSoundOutput::Gains*>(userData);
  auto* samples = static_cast<Sint16*>(stream);
  const int count = length / 2;
  for (int i = 0; i + 1 < count; i += 2) {
    samples[i] = static_cast<Sint16>(std::lround(samples[i] * gains->left));
    samples[i + 1] = static_cast<Sint16>(std::lround(samples[i + 1] * gains->right));
  }
}

}  // namespace

SdlSoundOutput::SdlSoundOutput() {
  // SDL would otherwise take SIGINT and SIGTERM for an event loop nobody runs, and the
  // program would ignore them; the programs handle their own signals.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  audioInitialised_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

SdlSoundOutput::~SdlSoundOutput() {
  {
    std::lock_guard lock(mutex_);
    closeLocked();
  }
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

bool SdlSoundOutput::openLocked(const std::string& name) {
  // A fixed format, converted by SDL when the device differs, keeps decoded samples valid
  // on every device.
  if (Mix_OpenAudioDevice(kOutputSampleRate, AUDIO_S16SYS, kOutputChannels, kBlockFrames,
                          name.c_str(), 0) != 0) {
    return false;
  }
  Mix_AllocateChannels(kMixerChannels);
  Mix_HookMusic(mixSynth, this);
  open_ = true;
  openName_ = name;
  return true;
}

void SdlSoundOutput::closeLocked() {
  if (!open_) return;
  Mix_HookMusic(nullptr, nullptr);
  Mix_HaltChannel(-1);
  Mix_CloseAudio();
  open_ = false;
  playing_ = {};
}

bool SdlSoundOutput::selectDevice(int index) {
  if (!audioInitialised_) return false;
  const std::vector<std::string> names = deviceNames();
  if (index < 0 || index >= static_cast<int>(names.size())) return false;
  const std::string& name = names[index];
  std::lock_guard lock(mutex_);
  const bool wasOpen = open_;
  const std::string previous = openName_;
  closeLocked();
  if (openLocked(name)) return true;
  if (wasOpen) openLocked(previous);
  return false;
}

std::shared_ptr<const SoundOutput::Sample> SdlSoundOutput::decode(std::string_view waveBytes) {
  if (waveBytes.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  SDL_RWops* stream = SDL_RWFromConstMem(waveBytes.data(), static_cast<int>(waveBytes.size()));
  if (!stream) return nullptr;
  SDL_AudioSpec spec{};
  Uint8* buffer = nullptr;
  Uint32 length = 0;
  if (!SDL_LoadWAV_RW(stream, 1, &spec, &buffer, &length)) return nullptr;

  auto sample = std::make_shared<SdlSample>();
  SDL_AudioCVT cvt{};
  const int built = SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS,
                                      kOutputChannels, kOutputSampleRate);
  if (built < 0 || length == 0) {
    SDL_FreeWAV(buffer);
    return nullptr;
  }
  sample->bytes.assign(buffer, buffer + length);
  SDL_FreeWAV(buffer);
  if (built == 1) {
    cvt.len = static_cast<int>(length);
    sample->bytes.resize(static_cast<std::size_t>(length) * static_cast<std::size_t>(cvt.len_mult));
    cvt.buf = sample->bytes.data();
    if (SDL_ConvertAudio(&cvt) != 0) return nullptr;
    sample->bytes.resize(static_cast<std::size_t>(cvt.len_cvt));
  }
  sample->bytes.resize(sample->bytes.size() / kFrameBytes * kFrameBytes);
  if (sample->bytes.empty()) return nullptr;
  sample->chunk.allocated = 0;
  sample->chunk.abuf = sample->bytes.data();
  sample->chunk.alen = static_cast<Uint32>(sample->bytes.size());
  sample->chunk.volume = MIX_MAX_VOLUME;
  return sample;
}

void SdlSoundOutput::play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                          float rightGain) {
  const auto* sdl = dynamic_cast<const SdlSample*>(sample.get());
  if (!sdl || channel < 0 || channel >= kMixerChannels) return;
  std::lock_guard lock(mutex_);
  if (!open_) return;
  // Halting the channel also removes its effect, so the gains can change safely.
  Mix_HaltChannel(channel);
  gains_[channel] = Gains{leftGain, rightGain};
  playing_[channel] = std::move(sample);
  Mix_RegisterEffect(channel, applyGains, nullptr, &gains_[channel]);
  Mix_PlayChannel(channel, &sdl->chunk, 0);
}

void SdlSoundOutput::setSynth(SynthSource* source) {
  std::lock_guard lock(synthMutex_);
  synth_ = source;
}

void SdlSoundOutput::mixSynth(void* self, unsigned char* stream, int length) {
  auto* output = static_cast<SdlSoundOutput*>(self);
  std::lock_guard lock(output->synthMutex_);
  if (output->synth_) {
    output->synth_->render(reinterpret_cast<std::int16_t*>(stream), length / kFrameBytes);
  }
}

bool SdlSoundOutput::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool SdlSoundOutput::isPlaying(int channel) const {
  std::lock_guard lock(mutex_);
  return open_ && channel >= 0 && channel < kMixerChannels && Mix_Playing(channel) != 0;
}

void SdlSoundOutput::closeDevice() {
  std::lock_guard lock(mutex_);
  closeLocked();
}

}  // namespace pulsewright
