#pragma once
// The sound output: a list of playback devices, decoded samples played once on numbered
// channels, and the built-in synthesiser rendered into the same stream.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pulsewright {

// The channels an output plays samples on at once, one per sample slot of the player.
inline constexpr int kSampleChannels = 21;

// Every output mixes at this rate, 16-bit, two channels; the device converts if it must.
inline constexpr int kOutputSampleRate = 44100;
inline constexpr int kOutputChannels = 2;

// Something that renders interleaved stereo 16-bit frames at kOutputSampleRate into the
// output, called from the output's audio thread. `frames` frames are to be written to
// `stereo` (which holds silence on entry).
class SynthSource {
 public:
  virtual ~SynthSource() = default;
  virtual void render(std::int16_t* stereo, int frames) = 0;
};

class SoundOutput {
 public:
  // A sample decoded into the output's own format; opaque to callers.
  struct Sample {
    virtual ~Sample() = default;
  };

  virtual ~SoundOutput() = default;

  // The playback devices' descriptions, in the system's order (entry i is device i + 1).
  virtual std::vector<std::string> deviceNames() = 0;
  // Plays from now on through device entry `index` of deviceNames(). Returns false, and
  // keeps the device in use before, when it cannot be opened.
  virtual bool selectDevice(int index) = 0;
  // Decodes the bytes of a WAVE file; null when they are no playable WAVE.
  virtual std::shared_ptr<const Sample> decode(std::string_view waveBytes) = 0;
  // Plays `sample` once on `channel` (0 to kSampleChannels - 1) with the two gains (linear, 0-1),
  // cutting what that channel played. The output keeps the sample alive while it sounds. Without a
  // device nothing sounds.
  virtual void play(int channel, std::shared_ptr<const Sample> sample, float leftGain,
                    float rightGain) = 0;
  // Renders `source` into the output from now on (null detaches it). Once this returns,
  // the previous source is no longer called.
  virtual void setSynth(SynthSource* source) = 0;
};

}  // namespace pulsewright
