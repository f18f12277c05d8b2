#pragma once
// Renders a song to an audio file through the audio engine with no device and no clock,
// as fast as the CPU allows: the built-in synthesiser and the samples exactly as Play
// sends them, each event at frame round((timeMs - first tick's timeMs) * rate / 1000): the
// file starts with the first step, as the MIDI file does, without the live player's
// lead-in. The song rings out until silence, at most kRenderTailSeconds. Used by
// `pulsewright-cli render` and by the window's Export Audio.

#include <functional>
#include <string>
#include <vector>

#include "platform/FluidSynthOutput.h"
#include "playback/KitChoice.h"
#include "playback/Sequencer.h"

namespace pulsewright {

inline constexpr double kRenderTailSeconds = 5.0;

// Where --normalize puts the loudest peak: -1 dBFS.
inline constexpr double kNormalizedPeakDb = -1.0;

struct RenderSettings {
  int sampleRate = 44100;
  int channel = 0;  // MIDI channel the notes go on (every channel plays drums)
  std::vector<std::string> soundFonts = defaultSoundFonts();
  double gainDb = 0;                // applied to every frame
  bool normalize = false;           // instead of the gain: the loudest peak at kNormalizedPeakDb
  std::vector<std::string> inputs;  // files the output may not be (the document)
  std::string documentFolder;       // where relative sample paths are looked for first
  KitChoice kit;                    // none: the sound fonts alone
};

struct RenderResult {
  enum class Status { kDone, kNothingToPlay, kCannotWrite, kCancelled };
  Status status = Status::kDone;
  std::string message;             // why it failed; "" when done
  std::vector<std::string> notes;  // things the user should hear about (skipped samples...)
  long frames = 0;                 // frames written
  double peakDb = 0;               // the loudest sample written, in dBFS (after the gain)
  double renderSeconds = 0;        // time spent rendering and writing (no loading)
};

// How long the rendered song is, from its first tick to its last (no ring-out).
double songSeconds(const Timeline& timeline);

// `progress` (may be empty) hears the fraction done, 0-1, and cancels by returning false.
RenderResult renderSong(const Song& song, const std::string& path, const RenderSettings& settings,
                        const std::function<bool(double)>& progress = {});

}  // namespace pulsewright
