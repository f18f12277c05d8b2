#pragma once
// Decoding of WAVE files into the engine's sample format: 16-bit at the engine's rate,
// mono kept mono (half the memory), everything else made stereo. The conversion streams
// in chunks, so memory holds the file and the result only, never a worst-case buffer.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/AudioEngine.h"

namespace pulsewright {

// Null when the bytes are no WAVE that SDL can read, hold no whole frame, or would take
// more than `maxBytes` once decoded (checked before that memory is taken); `reason`, when
// given, then says which.
std::shared_ptr<const PcmSample> decodeWave(std::string_view bytes, int sampleRate,
                                            std::size_t maxBytes = SIZE_MAX,
                                            std::string* reason = nullptr);

}  // namespace pulsewright
