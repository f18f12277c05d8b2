#pragma once
// Decoding of WAVE files into the engine's sample format: 16-bit at the engine's rate,
// mono kept mono (half the memory), everything else made stereo. The conversion streams
// in chunks, so memory holds the file and the result only, never a worst-case buffer.

#include <memory>
#include <string_view>

#include "platform/AudioEngine.h"

namespace pulsewright {

// Null when the bytes are no WAVE that SDL can read, or hold no whole frame.
std::shared_ptr<const PcmSample> decodeWave(std::string_view bytes, int sampleRate);

}  // namespace pulsewright
