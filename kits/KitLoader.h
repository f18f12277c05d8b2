#pragma once
// Makes a Hydrogen kit playable: which instrument each of the seventeen drum voices plays
// (by the kit's MIDI notes where it gives real ones, else by instrument name), and every
// sample decoded (WAV, FLAC, Ogg, AIFF at any rate and depth, through libsndfile) and
// resampled to the engine's rate (libsamplerate) before anything plays.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kits/KitLibrary.h"
#include "padmap/DrumVoice.h"
#include "padmap/PadMap.h"
#include "platform/KitSound.h"

namespace pulsewright {

// The instrument (index into KitInfo::instruments) each voice plays, -1 for none.
using KitVoiceMap = std::array<int, kVoiceCount>;
KitVoiceMap mapKitVoices(const KitInfo& kit, const PadMap& padMap = defaultPadMap());
// Whether the kit's MIDI notes mean something (not all one note, nor the numbering a new
// instrument gets by default).
bool kitGivesNotes(const KitInfo& kit);

struct KitLoadOptions {
  int sampleRate = 44100;
  std::size_t memoryBudget = std::size_t{512} << 20;  // decoded samples, at most
  PadMap padMap = defaultPadMap();
  // Instruments chosen by hand over the ones found (-1 keeps what is found, below -1 sends
  // the voice to the synthesiser).
  KitVoiceMap chosen = [] {
    KitVoiceMap m;
    m.fill(-1);
    return m;
  }();
};

struct KitLoadResult {
  std::shared_ptr<const KitSound> sound;  // null when nothing of it could be loaded
  KitVoiceMap voices{};                   // what each voice plays, -1: the synthesiser
  std::vector<std::string> problems;      // what was left out, and why: file and instrument
  std::size_t bytes = 0;                  // memory the samples take
  int samplesLoaded = 0, samplesLeftOut = 0;
};

// `progress` (may be empty) hears the fraction decoded, 0-1, on the loading thread.
KitLoadResult loadKit(const KitInfo& kit, const KitLoadOptions& options,
                      const std::function<void(double)>& progress = {});

// Decodes one sample file at `sampleRate`, shifted by `pitch` semitones; false with
// `reason` when it cannot be read or would take more than `maxBytes`.
bool decodeKitSample(const std::string& file, int sampleRate, float pitch, std::size_t maxBytes,
                     KitSampleData* out, std::string* reason);

// Loads a kit on a thread of its own, so that the caller can show how far it is.
class KitLoader {
 public:
  KitLoader(KitInfo kit, KitLoadOptions options);
  ~KitLoader();
  KitLoader(const KitLoader&) = delete;
  KitLoader& operator=(const KitLoader&) = delete;
  double progress() const { return progress_.load(); }
  bool done() const { return done_.load(); }
  // Waits for the load to end and hands over its result (once).
  KitLoadResult take();

 private:
  KitLoadResult result_;
  std::atomic<double> progress_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace pulsewright
