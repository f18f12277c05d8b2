#include "platform/WaveDecoder.h"

#include <SDL.h>
#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace pulsewright {

namespace {

constexpr int kChunkFrames = 16384;
constexpr std::int64_t kSincFrames = std::int64_t{30} * 48000;  // 30 s
constexpr double kMaxRatio = 256;                               // libsamplerate's limit

std::string megabytes(double bytes) {
  return std::to_string(static_cast<long long>(std::ceil(bytes / (1 << 20)))) + " MB";
}

std::int16_t toPcm16(float v) {
  return static_cast<std::int16_t>(std::lrint(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
}

}  // namespace

std::shared_ptr<const PcmSample> decodeWave(std::string_view bytes, int sampleRate,
                                            std::size_t maxBytes, std::string* reason) {
  auto refuse = [reason](std::string why) -> std::shared_ptr<const PcmSample> {
    if (reason) *reason = std::move(why);
    return nullptr;
  };
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return refuse("it is too large");
  SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  if (!stream) return refuse("it cannot be read");
  SDL_AudioSpec spec{};
  Uint8* buffer = nullptr;
  Uint32 length = 0;
  if (!SDL_LoadWAV_RW(stream, 1, &spec, &buffer, &length)) {
    return refuse(std::string("it is no WAVE file that can be read (") + SDL_GetError() + ")");
  }
  std::unique_ptr<Uint8, decltype(&SDL_FreeWAV)> wav(buffer, &SDL_FreeWAV);

  const int channels = spec.channels == 1 ? 1 : 2;
  const int inFrameBytes = SDL_AUDIO_BITSIZE(spec.format) / 8 * spec.channels;
  if (inFrameBytes <= 0 || spec.freq <= 0) return refuse("its header is not valid");
  const std::int64_t inFrames = length / inFrameBytes;
  if (inFrames <= 0) return refuse("it holds no sound");
  const double ratio = static_cast<double>(sampleRate) / spec.freq;
  // The converter's range; beyond it the rate is no real audio rate.
  if (ratio > kMaxRatio || ratio < 1.0 / kMaxRatio) {
    return refuse("its rate of " + std::to_string(spec.freq) + " Hz cannot be converted to " +
                  std::to_string(sampleRate) + " Hz");
  }
  // The size once decoded, checked before anything that large is allocated: a long file at
  // a low rate grows by the rate's ratio.
  const double outBytes = std::ceil(static_cast<double>(inFrames) * ratio) * channels *
                          static_cast<double>(sizeof(std::int16_t));
  if (outBytes > static_cast<double>(maxBytes)) {
    return refuse("it would take " + megabytes(outBytes) + " once decoded, more than the " +
                  megabytes(static_cast<double>(maxBytes)) + " kept for samples");
  }
  // Format and channels chunk by chunk (no state between chunks); the rate through
  // libsamplerate, which keeps its state across them.
  SDL_AudioCVT cvt{};
  if (SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_F32SYS, channels,
                        spec.freq) < 0) {
    return refuse("its format cannot be converted");
  }
  const bool resample = spec.freq != sampleRate;
  int error = 0;
  // Band-limited conversion for drum-sized samples; long files convert linearly, so that a
  // minute-long sample loads in seconds, not tens of seconds.
  const int quality = inFrames > kSincFrames ? SRC_LINEAR : SRC_SINC_FASTEST;
  SRC_STATE* src = resample ? src_new(quality, channels, &error) : nullptr;
  if (resample && !src) return refuse("its rate cannot be converted");
  std::unique_ptr<SRC_STATE, decltype(&src_delete)> srcOwner(src, &src_delete);

  auto sample = std::make_shared<PcmSample>();
  sample->channels = channels;
  const auto estimate = static_cast<std::size_t>(std::ceil(inFrames * ratio)) + 64;
  sample->pcm.reserve(estimate * channels);

  const auto chunk = static_cast<int>(std::min<std::int64_t>(kChunkFrames, inFrames));
  std::vector<Uint8> work(static_cast<std::size_t>(chunk) * inFrameBytes *
                          std::max(1, cvt.len_mult));
  std::vector<float> out(static_cast<std::size_t>(std::ceil(chunk * ratio) + 64) * channels);
  for (std::int64_t done = 0; done < inFrames;) {
    const int n = static_cast<int>(std::min<std::int64_t>(chunk, inFrames - done));
    std::copy_n(buffer + done * inFrameBytes, n * inFrameBytes, work.data());
    int converted = n * inFrameBytes;
    if (cvt.needed) {
      cvt.buf = work.data();
      cvt.len = converted;
      if (SDL_ConvertAudio(&cvt) != 0) return refuse("its format cannot be converted");
      converted = cvt.len_cvt;
    }
    const auto* in = reinterpret_cast<const float*>(work.data());
    const long frames = converted / static_cast<int>(sizeof(float)) / channels;
    done += n;
    if (!resample) {
      for (long i = 0; i < frames * channels; ++i) sample->pcm.push_back(toPcm16(in[i]));
      continue;
    }
    SRC_DATA data{};
    data.data_in = in;
    data.input_frames = frames;
    data.src_ratio = ratio;
    data.end_of_input = done >= inFrames ? 1 : 0;
    do {
      data.data_out = out.data();
      data.output_frames = static_cast<long>(out.size()) / channels;
      if (src_process(src, &data) != 0) return refuse("its rate cannot be converted");
      for (long i = 0; i < data.output_frames_gen * channels; ++i) {
        sample->pcm.push_back(toPcm16(out[i]));
      }
      data.data_in += data.input_frames_used * channels;
      data.input_frames -= data.input_frames_used;
    } while (data.input_frames > 0 || (data.end_of_input && data.output_frames_gen > 0));
  }
  if (sample->pcm.empty()) return refuse("it holds no sound");
  // Keep only what the sample needs.
  if (sample->pcm.capacity() > sample->pcm.size() + sample->pcm.size() / 64 + 4096) {
    sample->pcm.shrink_to_fit();
  }
  return sample;
}

}  // namespace pulsewright
