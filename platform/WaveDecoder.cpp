#include "platform/WaveDecoder.h"

#include <SDL.h>

#include <cstdint>

namespace pulsewright {

std::shared_ptr<const PcmSample> decodeWave(std::string_view bytes, int sampleRate) {
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  if (!stream) return nullptr;
  SDL_AudioSpec spec{};
  Uint8* buffer = nullptr;
  Uint32 length = 0;
  if (!SDL_LoadWAV_RW(stream, 1, &spec, &buffer, &length)) return nullptr;
  std::unique_ptr<Uint8, decltype(&SDL_FreeWAV)> wav(buffer, &SDL_FreeWAV);

  const int channels = spec.channels == 1 ? 1 : 2;
  SDL_AudioStream* convert =
      SDL_NewAudioStream(spec.format, spec.channels, spec.freq, AUDIO_S16SYS, channels, sampleRate);
  if (!convert) return nullptr;
  std::unique_ptr<SDL_AudioStream, decltype(&SDL_FreeAudioStream)> owner(convert,
                                                                         &SDL_FreeAudioStream);
  const int inFrameBytes = SDL_AUDIO_BITSIZE(spec.format) / 8 * spec.channels;
  if (inFrameBytes <= 0) return nullptr;
  const std::uint64_t inFrames = length / inFrameBytes;
  const std::uint64_t estimate =
      inFrames * static_cast<std::uint64_t>(sampleRate) / static_cast<std::uint64_t>(spec.freq);

  auto sample = std::make_shared<PcmSample>();
  sample->channels = channels;
  sample->pcm.reserve((estimate + 1024) * channels);
  auto drain = [&] {
    for (;;) {
      const int available = SDL_AudioStreamAvailable(convert);
      if (available <= 0) return true;
      const std::size_t old = sample->pcm.size();
      sample->pcm.resize(old + available / 2);
      const int got = SDL_AudioStreamGet(convert, sample->pcm.data() + old, available);
      if (got < 0) return false;
      sample->pcm.resize(old + got / 2);
    }
  };
  // Chunks of whole frames keep the converter's buffers small.
  const Uint32 chunk = static_cast<Uint32>(inFrameBytes) * 16384;
  for (Uint32 done = 0; done + inFrameBytes <= length;) {
    const Uint32 n = std::min(chunk, (length - done) / inFrameBytes * inFrameBytes);
    if (SDL_AudioStreamPut(convert, buffer + done, static_cast<int>(n)) != 0 || !drain()) {
      return nullptr;
    }
    done += n;
  }
  if (SDL_AudioStreamFlush(convert) != 0 || !drain()) return nullptr;
  sample->pcm.resize(sample->pcm.size() / channels * channels);
  if (sample->pcm.empty()) return nullptr;
  // Keep only what the sample needs.
  if (sample->pcm.capacity() > sample->pcm.size() + sample->pcm.size() / 64 + 4096) {
    sample->pcm.shrink_to_fit();
  }
  return sample;
}

}  // namespace pulsewright
