#include "platform/FluidSynthOutput.h"

#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "fileio/InputFile.h"
#include "platform/ShortMessage.h"
#include "platform/ThreadRules.h"

namespace pulsewright {

namespace {

constexpr int kChannels = 16;
constexpr int kDrumBank = 128;

void quietFluidSynth() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Failures come back as result codes; only a panic is worth printing.
    for (int level : {FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
      fluid_set_log_function(level, nullptr, nullptr);
    }
  });
}

// A sound font path that will not hang or fail half-way: a readable regular file.
bool usableFile(const std::string& path) {
  off_t size = 0;
  std::string reason;
  const int fd = openRegularFile(path, &size, &reason);
  if (fd < 0) return false;
  ::close(fd);
  return size > 0;
}

// The sound font is read through these, so that a read on the audio thread is seen: with
// every kit loaded ahead, none may happen there.
std::atomic<int> gOpensOnAudioThread{0};

void* openFont(const char* name) {
  if (onAudioThread()) gOpensOnAudioThread.fetch_add(1);
  return std::fopen(name, "rbe");
}
int readFont(void* buffer, fluid_long_long_t count, void* handle) {
  return std::fread(buffer, static_cast<std::size_t>(count), 1, static_cast<std::FILE*>(handle)) ==
                 1
             ? FLUID_OK
             : FLUID_FAILED;
}
int seekFont(void* handle, fluid_long_long_t offset, int origin) {
  return ::fseeko(static_cast<std::FILE*>(handle), static_cast<off_t>(offset), origin) == 0
             ? FLUID_OK
             : FLUID_FAILED;
}
int closeFont(void* handle) {
  return std::fclose(static_cast<std::FILE*>(handle)) == 0 ? FLUID_OK : FLUID_FAILED;
}
fluid_long_long_t tellFont(void* handle) {
  return ::ftello(static_cast<std::FILE*>(handle));
}

// Its own lock is off, so the synthesiser must never be called from two threads at once:
// each stretch of calls into it holds one of these, which stops a debug build that breaks
// the rule.
class SoleCaller {
 public:
  explicit SoleCaller(std::atomic<int>& callers) : callers_(callers) {
    [[maybe_unused]] const int before = callers_.fetch_add(1, std::memory_order_acquire);
    assert(before == 0 && "the synthesiser is called from two threads at once");
  }
  ~SoleCaller() { callers_.fetch_sub(1, std::memory_order_release); }
  SoleCaller(const SoleCaller&) = delete;
  SoleCaller& operator=(const SoleCaller&) = delete;

 private:
  std::atomic<int>& callers_;
};

}  // namespace

int soundFontOpensOnAudioThread() {
  return gOpensOnAudioThread.load();
}

std::vector<SoundFontPreset> soundFontPresets(const std::string& path) {
  PW_ASSERT_NOT_AUDIO_THREAD();
  quietFluidSynth();
  std::vector<SoundFontPreset> presets;
  if (!usableFile(path)) return presets;
  fluid_settings_t* settings = new_fluid_settings();
  if (!settings) return presets;
  fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
  fluid_settings_setint(settings, "synth.threadsafe-api", 0);
  if (fluid_synth_t* synth = new_fluid_synth(settings)) {
    const int id = fluid_synth_sfload(synth, path.c_str(), 0);
    if (fluid_sfont_t* font =
            id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(synth, id)) {
      fluid_sfont_iteration_start(font);
      while (fluid_preset_t* preset = fluid_sfont_iteration_next(font)) {
        const char* name = fluid_preset_get_name(preset);
        presets.push_back(
            {name ? name : "", fluid_preset_get_banknum(preset), fluid_preset_get_num(preset)});
      }
    }
    delete_fluid_synth(synth);
  }
  delete_fluid_settings(settings);
  return presets;
}

std::vector<std::string> defaultSoundFonts(const std::string& chosen) {
  std::vector<std::string> fonts;
  if (const char* env = std::getenv(kSoundFontVariable); env != nullptr && *env != '\0') {
    fonts.emplace_back(env);
  }
  if (!chosen.empty()) fonts.push_back(chosen);
  for (const char* path :
       {// Debian and Ubuntu: the alternative the General MIDI font packages maintain.
        "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
        // Fedora (fluid-soundfont-gm) and Arch (soundfont-fluid).
        "/usr/share/soundfonts/default.sf2", "/usr/share/soundfonts/FluidR3_GM.sf2",
        "/usr/share/soundfonts/FluidR3_GM.sf3"}) {
    fonts.emplace_back(path);
  }
  return fonts;
}

FluidSynthOutput::FluidSynthOutput(SoundOutput* sound, std::vector<std::string> soundFonts)
    : sound_(sound), soundFonts_(std::move(soundFonts)), held_(kHeldMessages) {
  quietFluidSynth();
}

FluidSynthOutput::~FluidSynthOutput() {
  if (sound_ && openHandle_ != 0) sound_->setSynth(nullptr);  // no render call after this
  if (fluid_synth_t* synth = synth_.exchange(nullptr)) delete_fluid_synth(synth);
  if (settings_) delete_fluid_settings(settings_);
}

bool FluidSynthOutput::loadLocked() {
  if (synth_.load()) return true;
  if (!settings_) {
    settings_ = new_fluid_settings();
    if (!settings_) return false;
    // At twice the output rate: a voice starts on the synthesiser's next 64-frame block,
    // which is then at most 32 output frames away.
    fluid_settings_setnum(settings_, "synth.sample-rate", 2.0 * kOutputSampleRate);
    fluid_settings_setnum(settings_, "synth.gain", 0.5);
    fluid_settings_setint(settings_, "synth.midi-channels", kChannels);
    // One thread at a time calls the synthesiser (the caller until open() hands it to the
    // audio thread, which alone applies messages and renders), so it needs no lock of its
    // own, which the audio thread would otherwise take on every call.
    fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
    // Only the samples of the drum kits are read from the sound font (all of them, before
    // anything plays): start-up stays fast and the General MIDI font's melodic samples
    // never reach memory.
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
  }
  searchFailed_ = true;
  std::vector<std::string> fonts = soundFonts_;
  if (!kitFont_.empty()) fonts.insert(fonts.begin(), kitFont_);
  for (const std::string& font : fonts) {
    if (!usableFile(font)) continue;
    fluid_synth_t* synth = new_fluid_synth(settings_);
    if (!synth) return false;
    if (fluid_sfloader_t* loader = new_fluid_defsfloader(settings_)) {
      fluid_sfloader_set_callbacks(loader, openFont, readFont, seekFont, tellFont, closeFont);
      fluid_synth_add_sfloader(synth, loader);  // tried first; the synthesiser owns it
    }
    const int id = fluid_synth_sfload(synth, font.c_str(), 1);
    if (id != FLUID_FAILED) {
      loadedFont_ = font;
      if (!kitFont_.empty() && font != kitFont_) presetBank_ = -1;  // the kit's font failed
      searchFailed_ = false;
      loadKits(synth, id);
      synth_.store(synth);
      return true;
    }
    delete_fluid_synth(synth);
  }
  return false;
}

void FluidSynthOutput::loadKits(fluid_synth_t* synth, int fontId) {
  // Every kit of the drum bank is read now, so that a program change on the audio thread
  // finds its samples in memory (only the first channel to choose a kit would read it).
  fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth, fontId);
  if (!font) return;
  std::vector<int> kits;
  fluid_sfont_iteration_start(font);
  while (fluid_preset_t* preset = fluid_sfont_iteration_next(font)) {
    if (fluid_preset_get_banknum(preset) == kDrumBank) kits.push_back(fluid_preset_get_num(preset));
  }
  for (int kit : kits) {
    if (fluid_synth_pin_preset(synth, fontId, kDrumBank, kit) != FLUID_OK) missingKits_.insert(kit);
  }
  if (presetBank_ >= 0) fluid_synth_pin_preset(synth, fontId, presetBank_, presetProgram_);
  fontId_ = fontId;
}

int FluidSynthOutput::open(int deviceId, MidiHandle* handle) {
  PW_ASSERT_NOT_AUDIO_THREAD();
  *handle = 0;
  if (deviceId != kMidiMapperId) return midi_result::kBadDeviceId;
  std::lock_guard lock(mutex_);
  if (openHandle_ != 0) return midi_result::kAllocated;
  if (!loadLocked()) return midi_result::kNoDriver;
  {
    // Nothing renders it yet: the synthesiser is this thread's until setSynth below.
    const SoleCaller sole(callers_);
    fluid_synth_t* synth = synth_.load();
    std::uint32_t stale = 0;
    while (held_.pop(stale)) {
    }  // held for a handle closed since
    fluid_synth_system_reset(synth);
    for (int channel = 0; channel < kChannels; ++channel) {
      // The type alone keeps the melodic program a channel had; the program change then
      // selects kit 0 of the drum bank.
      fluid_synth_set_channel_type(synth, channel, CHANNEL_TYPE_DRUM);
      fluid_synth_program_change(synth, channel, 0);
      if (presetBank_ >= 0) {
        fluid_synth_program_select(synth, channel, fontId_, presetBank_, presetProgram_);
      }
    }
    // The synthesiser's first render sets up its worker threads and allocates: done here,
    // on this thread, so that the audio thread's first render does neither.
    fluid_synth_write_float(synth, HalfBandDecimator::kMaxFrames, decimator_.input(), 0, 2,
                            decimator_.input(), 1, 2);
    decimator_.reset();  // nothing renders while closed
    // Reset, it has no voice and no reverb: with a kit, it rests until a note reaches it.
    quietFrames_ = kQuietFramesBeforeRest + 1;
  }
  openHandle_ = nextHandle_++;
  *handle = openHandle_;
  if (sound_) sound_->setSynth(this);
  return midi_result::kOk;
}

int FluidSynthOutput::sendShort(MidiHandle handle, std::uint32_t word) {
  return send(handle, word, std::nullopt);
}

int FluidSynthOutput::sendShortAt(MidiHandle handle, std::uint32_t word, DueTime due) {
  return send(handle, word, due);
}

bool FluidSynthOutput::placesByTime(MidiHandle handle) {
  std::lock_guard lock(mutex_);
  return handle != 0 && handle == openHandle_;
}

bool FluidSynthOutput::sounds() const {
  std::lock_guard lock(mutex_);
  return openHandle_ != 0 && sound_ && sound_->hasDevice();
}

int FluidSynthOutput::send(MidiHandle handle, std::uint32_t word, std::optional<DueTime> due) {
  PW_ASSERT_NOT_AUDIO_THREAD();
  std::uint8_t b[3] = {};
  const bool valid = shortMessageBytes(word, b) != 0;
  const int kit = b[1];
  bool missingKit = false, noKitZero = false;
  {
    std::lock_guard lock(mutex_);
    if (handle == 0 || handle != openHandle_) return midi_result::kInvalidHandle;
    if (!valid) return midi_result::kInvalidParam;
    missingKit = (b[0] & 0xF0) == kProgramChange && missingKits_.count(kit) != 0;
    noKitZero = missingKits_.count(0) != 0;
  }
  // A kit whose samples did not load would be read from the sound font on the audio
  // thread when chosen there: kit 0 plays its notes instead, or, when it did not load
  // either, the channel keeps the kit it has.
  if (missingKit) {
    noteMissingKit(kit);
    if (noKitZero) return midi_result::kOk;
    word = b[0];  // the same channel's program change, to kit 0
  }
  // Without a device rendering, nothing would take the message from the output's queue:
  // it waits in this one for the next render, so that no other thread calls the
  // synthesiser meanwhile.
  const SoundOutput::Queued queued =
      sound_ ? sound_->queueSynthMessage(word, due) : SoundOutput::Queued::kNotRendering;
  if (queued == SoundOutput::Queued::kFull) return midi_result::kError;  // the audio stalled
  if (queued == SoundOutput::Queued::kNotRendering && !held_.push(word)) {
    return midi_result::kError;
  }
  return midi_result::kOk;
}

void FluidSynthOutput::noteMissingKit(int kit) {
  std::string text;
  Notice notice;
  {
    std::lock_guard lock(mutex_);
    if (missingKits_.count(kit) == 0 || !reportedKits_.insert(kit).second) return;
    text = "drum kit " + std::to_string(kit) + " could not be read from " + loadedFont_ +
           ": its notes play without it";
    notice = notice_;
  }
  if (notice) notice(text);
}

void FluidSynthOutput::setNotice(Notice notice) {
  std::lock_guard lock(mutex_);
  notice_ = std::move(notice);
}

void FluidSynthOutput::apply(std::uint32_t word) {
  const AudioThreadScope audioThread;
  const SoleCaller sole(callers_);
  fluid_synth_t* synth = synth_.load();
  if (!synth) return;
  applyHeld(synth);  // handed over earlier, so applied first
  applyNow(synth, word);
}

void FluidSynthOutput::cutKey(fluid_synth_t* synth, int channel, int key) {
  // The voices are looked up in place: the audio thread allocates nothing.
  std::array<fluid_voice_t*, kCutVoicesLooked> voices{};
  fluid_synth_get_voicelist(synth, voices.data(), static_cast<int>(voices.size()), -1);
  for (fluid_voice_t* voice : voices) {
    if (voice == nullptr) break;
    if (fluid_voice_is_playing(voice) == 0 || fluid_voice_get_channel(voice) != channel ||
        fluid_voice_get_actual_key(voice) != key)
      continue;
    // A release of a few milliseconds, then the note off: the cut has no click.
    fluid_voice_gen_set(voice, GEN_VOLENVRELEASE, kCutReleaseTimecents);
    fluid_voice_update_param(voice, GEN_VOLENVRELEASE);
  }
  fluid_synth_noteoff(synth, channel, key);
}

void FluidSynthOutput::mixVoices(fluid_synth_t* synth, int channel, int key) {
  const auto [left, right] = kit_.noteMix(key);
  const float headroom = std::max(1.0f, kit_.mixPeak());
  if (left == headroom && right == headroom) return;
  // The note's gain below the loudest, which render() adds back to the whole synthesiser
  // (a voice cannot be made louder than its sound font has it).
  const float gain = std::max(left, right);
  const float attenuation =
      gain <= 0 ? 1440.0f : std::min(1440.0f, 200.0f * std::log10(headroom / gain));
  // The far side turned down, as the kit's balance does: in centibels, negative to the left.
  const float far = gain <= 0 ? 1.0f : std::min(left, right) / gain;
  const float turnDown = far <= 0 ? 960.0f : std::min(960.0f, -200.0f * std::log10(far));
  const float balance = left > right ? -turnDown : turnDown;
  std::array<fluid_voice_t*, kCutVoicesLooked> voices{};
  fluid_synth_get_voicelist(synth, voices.data(), static_cast<int>(voices.size()), -1);
  // The voices of the note on just made share the newest id among those of the key.
  unsigned int newest = 0;
  for (fluid_voice_t* voice : voices) {
    if (voice == nullptr) break;
    if (fluid_voice_get_channel(voice) == channel && fluid_voice_get_actual_key(voice) == key)
      newest = std::max(newest, fluid_voice_get_id(voice));
  }
  for (fluid_voice_t* voice : voices) {
    if (voice == nullptr) break;
    if (fluid_voice_get_channel(voice) != channel || fluid_voice_get_actual_key(voice) != key ||
        fluid_voice_get_id(voice) != newest)
      continue;
    fluid_voice_gen_incr(voice, GEN_ATTENUATION, attenuation);
    fluid_voice_update_param(voice, GEN_ATTENUATION);
    fluid_voice_gen_incr(voice, GEN_CUSTOM_BALANCE, balance);
    fluid_voice_update_param(voice, GEN_CUSTOM_BALANCE);
  }
}

void FluidSynthOutput::applyHeld(fluid_synth_t* synth) {
  std::uint32_t word = 0;
  while (held_.pop(word)) applyNow(synth, word);
}

void FluidSynthOutput::applyNow(fluid_synth_t* synth, std::uint32_t word) {
  std::uint8_t b[3];
  if (shortMessageBytes(word, b) == 0) return;
  const int channel = b[0] & 0x0F;
  // A note off for a note that is not sounding is no failure of the device: results are
  // not looked at.
  switch (b[0] & 0xF0) {
    case kNoteOff: fluid_synth_noteoff(synth, channel, b[1]); break;
    case kNoteOn:
      if (!kit_.noteOn(b[1], b[2])) {
        fluid_synth_noteon(synth, channel, b[1], b[2]);
        if (kit_.mixed()) mixVoices(synth, channel, b[1]);
        // A note the sound font has no sound for (a rest's) leaves a resting synthesiser be.
        if (fluid_synth_get_active_voice_count(synth) > 0) quietFrames_ = 0;
      }
      break;
    case 0xA0:
      // Full pressure on a key is a choke, as electronic kits send it: what it sounds stops.
      if (b[2] == 127 && !kit_.cutNote(b[1])) cutKey(synth, channel, b[1]);
      fluid_synth_key_pressure(synth, channel, b[1], b[2]);
      break;
    case 0xB0: fluid_synth_cc(synth, channel, b[1], b[2]); break;
    case kProgramChange:
      if (presetBank_ < 0) fluid_synth_program_change(synth, channel, b[1]);
      break;
    case 0xD0: fluid_synth_channel_pressure(synth, channel, b[1]); break;
    case 0xE0: fluid_synth_pitch_bend(synth, channel, b[1] | (b[2] << 7)); break;
    default: break;  // system messages mean nothing to the synthesiser
  }
}

int FluidSynthOutput::close(MidiHandle handle) {
  PW_ASSERT_NOT_AUDIO_THREAD();
  std::lock_guard lock(mutex_);
  if (handle == 0 || handle != openHandle_) return midi_result::kInvalidHandle;
  openHandle_ = 0;
  if (sound_) sound_->setSynth(nullptr);
  // No render runs any more: the synthesiser is this thread's again.
  const SoleCaller sole(callers_);
  fluid_synth_all_sounds_off(synth_.load(), -1);
  kit_.reset();
  return midi_result::kOk;
}

void FluidSynthOutput::render(float* stereo, int frames) {
  const AudioThreadScope audioThread;
  fluid_synth_t* synth = synth_.load();
  if (frames <= 0) return;
  if (!synth) {
    std::fill(stereo, stereo + 2 * frames, 0.0f);
    return;
  }
  const SoleCaller sole(callers_);
  applyHeld(synth);
  // With a kit playing every note, the synthesiser mostly has nothing to play: once it
  // has been silent long enough for its reverb to have died away, it is not rendered.
  if (kit_.playing() && fluid_synth_get_active_voice_count(synth) == 0) {
    quietFrames_ += frames;
  } else {
    quietFrames_ = 0;
  }
  if (quietFrames_ > kQuietFramesBeforeRest) {
    std::fill(stereo, stereo + 2 * frames, 0.0f);
    kit_.render(stereo, frames);
    return;
  }
  for (int done = 0; done < frames;) {
    const int n = std::min(HalfBandDecimator::kMaxFrames, frames - done);
    float* in = decimator_.input();
    fluid_synth_write_float(synth, 2 * n, in, 0, 2, in, 1, 2);
    decimator_.decimate(n, stereo + 2 * done);
    done += n;
  }
  if (kit_.mixed()) {
    const float headroom = std::max(1.0f, kit_.mixPeak());
    if (headroom > 1.0f) {
      for (int i = 0; i < 2 * frames; ++i) stereo[i] *= headroom;
    }
  }
  kit_.render(stereo, frames);
}

void FluidSynthOutput::usePreset(int bank, int program) {
  std::lock_guard lock(mutex_);
  presetBank_ = bank;
  presetProgram_ = program;
}

bool FluidSynthOutput::useSoundFontKit(const std::string& font, int bank, int program) {
  PW_ASSERT_NOT_AUDIO_THREAD();
  std::lock_guard lock(mutex_);
  if (openHandle_ != 0) return false;
  const int wantedBank = font.empty() ? -1 : bank;
  const int wantedProgram = font.empty() ? 0 : program;
  if (font == kitFont_ && wantedBank == presetBank_ && wantedProgram == presetProgram_ &&
      synth_.load() != nullptr) {
    return font.empty() || loadedFont_ == font;
  }
  kitFont_ = font;
  presetBank_ = wantedBank;
  presetProgram_ = wantedProgram;
  // Nothing renders a closed synthesiser: this thread may free it.
  if (fluid_synth_t* synth = synth_.exchange(nullptr)) delete_fluid_synth(synth);
  loadedFont_.clear();
  fontId_ = -1;
  missingKits_.clear();
  return loadLocked() && (font.empty() || loadedFont_ == font);
}

void FluidSynthOutput::setKit(std::shared_ptr<const KitSound> kit) {
  kit_.setKit(std::move(kit));
}

bool FluidSynthOutput::loadSoundFont() {
  PW_ASSERT_NOT_AUDIO_THREAD();
  std::lock_guard lock(mutex_);
  return loadLocked();
}

std::string FluidSynthOutput::soundFont() const {
  std::lock_guard lock(mutex_);
  return loadedFont_;
}

std::string FluidSynthOutput::missingSoundFontMessage() const {
  std::lock_guard lock(mutex_);
  if (!searchFailed_) return {};
  std::string text = "No sound font for the built-in synthesiser: none of ";
  for (std::size_t i = 0; i < soundFonts_.size(); ++i) {
    text += (i > 0 ? ", " : "") + soundFonts_[i];
  }
  return text + " could be loaded. Install a General MIDI sound font (fluid-soundfont-gm) or " +
         "name one in " + kSoundFontVariable + ".";
}

}  // namespace pulsewright
