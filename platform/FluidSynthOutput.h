#pragma once
// The built-in drum synthesiser behind the default MIDI output ("MIDI Mapper"):
// FluidSynth with a General MIDI sound font, every one of the sixteen channels a drum
// channel, so a note plays the General MIDI drum of that number on whichever channel the
// user picked and a program change picks a drum kit (0 Standard, 16 Power, 25 TR-808...).
// It renders into a SoundOutput while it is open: messages go to the output's audio engine
// with their due time and are applied there, between the slices it renders.
//
// Threads: the synthesiser has no lock of its own; one thread at a time calls it. The
// thread that opens it loads the sound font and sets it up, then hands it to the output's
// audio thread, which alone applies messages and renders until close() takes it back.
// Senders on any thread only queue (lock-free); a message sent while the output renders
// nothing waits in a queue of this object's for the next render.

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/BoundedQueue.h"
#include "platform/HalfBandDecimator.h"
#include "platform/KitSound.h"
#include "platform/MidiOutput.h"
#include "platform/SoundOutput.h"

// FluidSynth's own type names, declared as its header does, to keep that header out of ours.
typedef struct _fluid_hashtable_t fluid_settings_t;  // NOLINT(bugprone-reserved-identifier)
typedef struct _fluid_synth_t fluid_synth_t;         // NOLINT(bugprone-reserved-identifier)

namespace pulsewright {

// Names a sound font that is tried before every other.
inline constexpr char kSoundFontVariable[] = "PULSEWRIGHT_SOUNDFONT";

// Sound fonts tried in order: the one named in the environment, then `chosen` (the user's
// setting), then where Debian, Fedora and Arch put their default General MIDI font.
std::vector<std::string> defaultSoundFonts(const std::string& chosen = {});

// The presets of a sound font, read without its samples; empty when it does not load.
struct SoundFontPreset {
  std::string name;
  int bank = 0, program = 0;
};
std::vector<SoundFontPreset> soundFontPresets(const std::string& path);

// How often the sound font was opened on the audio thread (a kit read while rendering);
// the real-time rules want this to stay 0.
int soundFontOpensOnAudioThread();

class FluidSynthOutput : public MidiOutputService, public SynthSource {
 public:
  using Notice = std::function<void(const std::string& text)>;

  // `sound` (may be null: the synthesiser then sounds nowhere) must outlive this object.
  explicit FluidSynthOutput(SoundOutput* sound,
                            std::vector<std::string> soundFonts = defaultSoundFonts());
  ~FluidSynthOutput() override;
  FluidSynthOutput(const FluidSynthOutput&) = delete;
  FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

  // It lists no numbered devices; it serves kMidiMapperId only.
  int deviceCount() override { return 0; }
  std::string deviceName(int) override { return {}; }
  // Loads the first sound font that is a readable regular file (once; later opens reuse
  // it) with every drum kit in it, makes all channels drum channels on kit 0 and starts
  // rendering. kNoDriver when
  // no sound font loads, kAllocated when already open.
  int open(int deviceId, MidiHandle* handle) override;
  // An immediate message (the live keyboard): sounds at the next block.
  int sendShort(MidiHandle handle, std::uint32_t word) override;
  // Placed on its frame by the output's clock, at a constant latency.
  int sendShortAt(MidiHandle handle, std::uint32_t word, DueTime due) override;
  bool placesByTime(MidiHandle handle) override;
  // Silences every voice and stops rendering.
  int close(MidiHandle handle) override;

  // SynthSource: renders the synthesiser (silence before the first open) and applies
  // messages, on the engine's thread.
  void render(float* stereo, int frames) override;
  void apply(std::uint32_t word) override;
  // Whether what it plays is heard: open on an output that has a device.
  bool sounds() const;
  // Loads the sound font now rather than at the first open; false when none loads.
  bool loadSoundFont();
  // A kit the sound font lists but whose samples could not be read: the first program
  // change to it is reported here (once), and its notes play without it, on kit 0.
  void setNotice(Notice notice);
  // A sampled kit that plays the notes it has from the next render on; the sound font
  // plays the rest. Null goes back to the sound font alone. Any thread but the audio one.
  void setKit(std::shared_ptr<const KitSound> kit);
  KitVoices& kitVoices() { return kit_; }
  // Every channel plays this preset of the sound font (a sound-font kit) rather than the
  // General MIDI drum kits; program changes then keep it. Before open().
  void usePreset(int bank, int program);
  // While closed: from the next open on, every channel plays `preset` of the sound-font
  // kit `font` (the General MIDI fonts again for ""). False when it is open, or when the
  // kit's font does not load: the General MIDI fonts then play.
  bool useSoundFontKit(const std::string& font, int bank, int program);
  // The sound font in use, "" before it loaded.
  std::string soundFont() const;
  // After an open found no usable sound font: what was searched and how to mend it;
  // otherwise "".
  std::string missingSoundFontMessage() const;

 private:
  bool loadLocked();
  void loadKits(fluid_synth_t* synth, int fontId);
  void applyHeld(fluid_synth_t* synth);
  // A choke of `key` on `channel`: its voices released within about 10 ms.
  static void cutKey(fluid_synth_t* synth, int channel, int key);
  // The mixer's gain and pan on the voices a note on of `key` just started.
  void mixVoices(fluid_synth_t* synth, int channel, int key);
  static constexpr std::size_t kCutVoicesLooked = 256;
  static constexpr float kCutReleaseTimecents = -8000.0f;  // 2^(-8000/1200) s
  void applyNow(fluid_synth_t* synth, std::uint32_t word);
  void noteMissingKit(int kit);
  int send(MidiHandle handle, std::uint32_t word, std::optional<DueTime> due);

  SoundOutput* sound_;
  const std::vector<std::string> soundFonts_;
  std::string kitFont_;  // a sound-font kit's, tried before soundFonts_
  // Messages sent while the output rendered nothing, applied before the next render.
  static constexpr std::size_t kHeldMessages = 4096;
  BoundedQueue<std::uint32_t> held_;
  std::atomic<int> callers_{0};  // threads calling into the synthesiser now: at most one
  mutable std::mutex mutex_;     // guards the members below; never taken by the audio thread
  fluid_settings_t* settings_ = nullptr;
  std::atomic<fluid_synth_t*> synth_{nullptr};
  std::string loadedFont_;
  bool searchFailed_ = false;
  MidiHandle openHandle_ = 0;
  MidiHandle nextHandle_ = 1;
  std::set<int> missingKits_, reportedKits_;
  Notice notice_;
  KitVoices kit_;
  // Frames the synthesiser has had no voice while a kit plays (the render thread's, and
  // open()'s while nothing renders).
  static constexpr long kQuietFramesBeforeRest = 4 * kOutputSampleRate;
  long quietFrames_ = 0;
  int presetBank_ = -1, presetProgram_ = 0;
  int fontId_ = -1;              // -1: the General MIDI drum kits
  HalfBandDecimator decimator_;  // the render thread's, and open()'s while nothing renders
};

}  // namespace pulsewright
