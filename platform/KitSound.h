#pragma once
// A sampled drum kit as the audio thread plays it: every sample decoded and resampled to
// the engine's rate before it is handed over, instruments with their velocity layers,
// and which MIDI note plays which instrument. Built once by a loader thread and never
// changed afterwards, so the audio thread reads it without a lock.
//
// KitVoices is the audio thread's player of one: a fixed pool of voices, round robin
// within a layer range, mute groups that cut each other with a short fade, and a voice
// limit that steals the quietest, oldest voice. Nothing in it allocates, locks or reads a
// file once constructed.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pulsewright {

struct KitSampleData {
  std::vector<float> pcm;  // interleaved, full scale 1.0
  int channels = 1;        // 1 or 2
  std::int64_t frames() const { return static_cast<std::int64_t>(pcm.size()) / channels; }
};

struct KitLayer {
  float minVelocity = 0, maxVelocity = 1;  // of 1.0, both ends included
  float gain = 1;
  int sample = -1;  // into KitSound::samples
};

struct KitInstrument {
  std::string name;
  float left = 1, right = 1;  // gain and pan of the instrument, per channel
  int muteGroup = -1;         // -1: none
  bool stopNote = false;      // a new hit cuts its own previous ones
  std::vector<KitLayer> layers;
};

struct KitSound {
  static constexpr int kMaxInstruments = 256;
  std::string name;
  std::vector<KitSampleData> samples;
  std::vector<KitInstrument> instruments;
  std::array<std::int16_t, 128> instrumentOfNote{};  // -1: not the kit's (the synthesiser's)
  KitSound() { instrumentOfNote.fill(-1); }
  std::size_t memoryBytes() const;
};

class KitVoices {
 public:
  static constexpr int kDefaultPolyphony = 128;
  static constexpr int kPoolSize = 192;        // the limit and room for voices fading out
  static constexpr int kCutFrames = 96;        // a choke or a stolen voice fades this long
  static constexpr int kSwapFadeFrames = 256;  // the old kit's voices at a kit change
  // A full-scale sample at the hardest hit plays 6 dB below full scale, as loud as the
  // General MIDI synthesiser's drums, with room for hits that sound together.
  static constexpr float kKitGain = 0.5f;

  explicit KitVoices(int polyphony = kDefaultPolyphony);
  KitVoices(const KitVoices&) = delete;
  KitVoices& operator=(const KitVoices&) = delete;

  // Any thread but the audio thread: the kit played from the next render on (null: none).
  // The previous kit stays alive until the audio thread has let go of it.
  void setKit(std::shared_ptr<const KitSound> kit);
  std::shared_ptr<const KitSound> kit() const;
  // Kits handed over earlier that the audio thread has let go of are freed.
  void collect();

  // The audio thread. noteOn is false when the note is none of the kit's instruments.
  bool noteOn(int note, int velocity);
  // Any thread: the kit's instrument (an index into KitSound::instruments) plays once, at
  // the start of the next render, whether or not a note plays it (the kit window's
  // audition). A later request before that render replaces it.
  void audition(int instrument, int velocity = 100);
  // The audio thread: the voices of the instrument `note` plays fade out at once, as a
  // hand chokes a cymbal. False when the note is none of the kit's instruments.
  bool cutNote(int note);
  // Whether a kit is played (the audio thread; takes over a kit handed over meanwhile).
  bool playing() {
    adoptPending();
    return current_ != nullptr;
  }
  // Adds `frames` interleaved stereo frames to `stereo`.
  void render(float* stereo, int frames);
  // Sounding voices (any thread; an estimate while it plays).
  int sounding() const { return soundingAtomic_.load(std::memory_order_relaxed); }
  // Silences everything at once; only while nothing renders.
  void reset();
  // The mixer: the gain of each channel of a note's hits, from its next hit on, whichever
  // kit plays (any thread; 1 and 1 leave the note as the kit has it).
  void setNoteMix(int note, float left, float right);
  // What the mixer gives `note` (any thread): its left and right gains.
  std::pair<float, float> noteMix(int note) const;
  // The largest gain the mixer gives any note, and whether any note is mixed at all.
  float mixPeak() const { return mixPeak_.load(std::memory_order_relaxed); }
  bool mixed() const { return mixed_.load(std::memory_order_relaxed); }

 private:
  struct Voice {
    const KitSampleData* sample = nullptr;
    std::int64_t position = 0;
    float left = 0, right = 0;
    float fade = 1, fadeStep = 0;  // fading out while fadeStep > 0
    int instrument = -1;
    int muteGroup = -1;
    bool retiring = false;  // of the kit played before the current one
    std::uint64_t started = 0;
  };

  void adoptPending();
  bool playInstrument(int index, int velocity, float mixLeft, float mixRight);
  Voice* freeVoice();
  void cut(Voice& voice, int frames);

  const int polyphony_;
  mutable std::mutex mutex_;  // between handing-over threads only; never the audio thread
  std::vector<std::pair<std::uint64_t, std::shared_ptr<const KitSound>>> held_;
  std::uint64_t generation_ = 0;
  std::atomic<const KitSound*> pending_{nullptr};
  std::atomic<std::uint64_t> pendingGeneration_{0};
  // What the audio thread plays: the kits of these generations may not be freed.
  std::atomic<std::uint64_t> playingGeneration_{0};
  std::atomic<std::uint64_t> retiringGeneration_{0};
  std::atomic<int> soundingAtomic_{0};
  // Left then right for each note; relaxed: a hit reads whichever gain was set last.
  std::array<std::atomic<float>, 256> noteMix_;
  std::atomic<float> mixPeak_{1.0f};
  std::atomic<bool> mixed_{false};
  std::atomic<int> auditionRequest_{-1};  // instrument * 128 + velocity; -1: none

  // The audio thread's own state.
  const KitSound* current_ = nullptr;
  std::uint64_t currentGeneration_ = 0;
  std::array<Voice, kPoolSize> voices_{};
  std::array<std::uint32_t, KitSound::kMaxInstruments> roundRobin_{};
  std::uint64_t hits_ = 0;
};

}  // namespace pulsewright
