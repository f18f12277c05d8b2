#pragma once
// Which thread may do what. A thread that renders audio (a device's callback, an offline
// render) marks itself while it renders; what may lock, wait for a render or read a file
// checks, in debug builds, that it does not run there.

#include <cassert>

namespace pulsewright {

namespace detail {
inline thread_local int tAudioRenderDepth = 0;
}  // namespace detail

// Whether the calling thread is rendering audio now.
inline bool onAudioThread() {
  return detail::tAudioRenderDepth > 0;
}

// Marks the calling thread as rendering audio while it lives (nests).
class AudioThreadScope {
 public:
  AudioThreadScope() { ++detail::tAudioRenderDepth; }
  ~AudioThreadScope() { --detail::tAudioRenderDepth; }
  AudioThreadScope(const AudioThreadScope&) = delete;
  AudioThreadScope& operator=(const AudioThreadScope&) = delete;
};

}  // namespace pulsewright

// Debug builds: stops where a function that may block runs on an audio thread.
#define PW_ASSERT_NOT_AUDIO_THREAD() \
  assert(!::pulsewright::onAudioThread() && "this may block: never on the audio thread")
