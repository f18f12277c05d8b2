#pragma once
// The sound output: a list of playback devices, decoded samples played once on numbered
// channels, and the built-in synthesiser rendered into the same stream.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MidiOutput.h"

namespace pulsewright {

// The channels an output plays samples on at once, one per sample slot of the player.
inline constexpr int kSampleChannels = 21;

// Every device output mixes at this rate, two channels; the device converts if it must.
inline constexpr int kOutputSampleRate = 44100;
inline constexpr int kOutputChannels = 2;

// The built-in synthesiser as the audio engine drives it, always from the engine's own
// thread: messages applied between the slices it renders.
class SynthSource {
 public:
  virtual ~SynthSource() = default;
  // Writes `frames` interleaved stereo frames (full scale 1.0) to `stereo`.
  virtual void render(float* stereo, int frames) = 0;
  // Applies one packed short message now, between two renders.
  virtual void apply(std::uint32_t word) = 0;
};

class SoundOutput {
 public:
  // A sample decoded into the output's own format; opaque to callers.
  struct Sample {
    virtual ~Sample() = default;
    // Memory the decoded sample holds.
    virtual std::size_t memoryBytes() const { return 0; }
  };

  virtual ~SoundOutput() = default;

  // The playback devices' descriptions, in the system's order.
  virtual std::vector<std::string> deviceNames() = 0;
  // Plays from now on through the device of that name (as deviceNames() lists it); what
  // sounds goes on sounding there. Returns false, and keeps the device in use before,
  // when it cannot be opened.
  virtual bool selectDevice(const std::string& name) = 0;
  // Decodes the bytes of a WAVE file; null when they are no playable WAVE or would take more
  // than `maxBytes` once decoded (found out before that memory is taken). `reason`, when
  // given, then says why in a few words ("it would take ...").
  virtual std::shared_ptr<const Sample> decode(std::string_view waveBytes, std::size_t maxBytes,
                                               std::string* reason) = 0;
  // Plays `sample` once on `channel` (0 to kSampleChannels - 1) with the two gains (linear, 0-1),
  // cutting what that channel played. The output keeps the sample alive while it sounds. Without a
  // device nothing sounds.
  virtual void play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                    float rightGain) = 0;
  // The same, starting at `due`; outputs without a clock of their own play it at once.
  virtual void playAt(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                      float rightGain, DueTime due) {
    (void)due;
    play(channel, std::move(sample), leftGain, rightGain);
  }
  // Renders `source` into the output from now on (null detaches it). Once this returns,
  // the previous source is no longer called.
  virtual void setSynth(SynthSource* source) = 0;
  // Hands a message for the synthesiser to the output's audio thread, applied at `due`
  // (or at once without one). kNotRendering when the output renders nothing now: the
  // caller then applies it itself. kFull when the audio thread has not taken what was
  // handed over before (it stalled): the message is dropped.
  enum class Queued { kQueued, kNotRendering, kFull };
  virtual Queued queueSynthMessage(std::uint32_t word, std::optional<DueTime> due) {
    (void)word;
    (void)due;
    return Queued::kNotRendering;
  }
  // Whether a device is open, so that what is played is heard.
  virtual bool hasDevice() const { return false; }
};

}  // namespace pulsewright
