#pragma once
// The WAVE sample player of the main window: the list of sound devices, the ring of
// sample slots and PlayB, which the sequencer calls for every sample item of a step.
//
// Threads: PlayB and preload may be called from any thread (the sequencer's playback
// thread) while the user-interface thread picks another device. Decoding and opening a
// device happen outside the player's lock. PlayB never waits for a sample to end.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/SoundOutput.h"

namespace pulsewright {

inline constexpr int kWaveBufferSlots = kSampleChannels;
// After the first sample (slot 0), samples take slots 1 to kLastWaveBuffer in turn; the
// last slot is never used.
inline constexpr int kLastWaveBuffer = kWaveBufferSlots - 2;
// Larger sample files are not loaded.
inline constexpr std::uintmax_t kMaxSampleFileBytes = std::uintmax_t{64} << 20;

// Attenuation for volume v (level + 1), in hundredths of a decibel: -(9 - v)^3 x (10 - v),
// so -4608 at v = 1 up to 0 at v = 9 and 10.
int waveAttenuation(int volume);

// Linear gains of the two channels for a volume (1-10) and a pan in hundredths of a
// decibel (-10000 left only .. 10000 right only). A pan outside that range plays centred;
// an attenuation outside -10000..0 (a volume far outside 1-10) is not applied, so the
// sample plays at full level. -10000 is silence.
struct StereoGains {
  float left = 1;
  float right = 1;
};
StereoGains sampleGains(int volume, int pan);

// Decoded samples kept in memory at most (least recently used go first; a sample of the
// song being played is never dropped).
inline constexpr std::size_t kDefaultSampleMemoryBytes = std::size_t{512} << 20;

class SamplePlayer {
 public:
  // One clear message for the user (status line or standard error).
  using Notice = std::function<void(const std::string& text)>;

  // `output` must outlive the player.
  explicit SamplePlayer(SoundOutput& output);
  SamplePlayer(const SamplePlayer&) = delete;
  SamplePlayer& operator=(const SamplePlayer&) = delete;

  // Start-up: makes the device list (SoundDeviceList), selects entry 0 and opens it,
  // and starts the ring at slot 0. With no device the list stays empty and nothing sounds.
  void listDevices();
  // The descriptions for the AudioDevices drop-down list, device 1 first.
  std::vector<std::string> SoundDeviceList() const;
  // Asks the output for its devices again (one may have come or gone); the device in use
  // stays in use and selected under its name. Returns the new list.
  std::vector<std::string> refreshDevices();
  // The user picks AudioDevices entry `entry`: the device of that name opens at once and
  // everything that sounds (the synthesiser too) moves there. A device that cannot be
  // opened leaves the previous one in use.
  void selectAudioDevice(int entry);
  int selectedAudioDevice() const;

  // Plays the WAVE file `file` once: volume 1-10 (level + 1), pan in hundredths of a
  // decibel as given by the wave-sample line. "0" and "" play nothing. The sample goes
  // into slot NextWaveBuffer, cutting what that slot played, and the ring moves on
  // (0, 1..19, 1..19, ...). A file that is missing, unreadable, not a regular file,
  // larger than kMaxSampleFileBytes or no WAVE is skipped: the slot keeps what it held
  // and nothing plays (each such file is reported once a Play, with the reason). So is
  // a sample that would take more than the memory limit once decoded. Decoded files are
  // kept. A sample of the song loaded by preloadSong plays from memory without touching
  // the file system; any other file is looked at (its modification time) at each play and
  // loaded again when it changed. Thread-safe; decoding does not hold up other calls.
  void PlayB(const std::string& file, std::int16_t volume, std::int16_t pan);
  // The same, sounding at `due` on outputs that place samples by time.
  void PlayB(const std::string& file, std::int16_t volume, std::int16_t pan, DueTime due);
  // Loads `file` into the cache ahead of its first PlayB. Thread-safe.
  void preload(const std::string& file);
  // Loads the samples of the song about to play and keeps them while it is the song
  // (called off the user-interface thread: decoding a large file takes a while). Says so
  // when they alone take more than the memory limit (they are kept all the same).
  void preloadSong(const std::vector<std::string>& files);
  // The folder of the document being played: relative sample paths are looked for there
  // first, then in the working folder. Empty: the working folder alone.
  void setDocumentFolder(std::string folder);

  // A Play starts: each kind of message is given once again.
  void beginPlay();
  void setNotice(Notice notice);

  void setMemoryLimit(std::size_t bytes);
  std::size_t memoryLimit() const;
  // Memory the decoded samples in the cache hold.
  std::size_t cachedBytes() const;
  std::size_t cachedFiles() const;

  std::int16_t NextWaveBuffer() const;

 private:
  struct CachedFile {
    std::uintmax_t device = 0, inode = 0, size = 0;
    std::int64_t mtimeNs = 0, ctimeNs = 0;
    std::shared_ptr<const SoundOutput::Sample> sample;  // null: not playable
    std::string whyNot;                                 // for a sample that is not
    std::size_t bytes = 0;
    std::uint64_t lastUse = 0;
  };
  // `check`: looks at the file even when it belongs to the song (at preload); otherwise a
  // sample of the song comes from memory without a system call.
  std::shared_ptr<const SoundOutput::Sample> load(const std::string& file,
                                                  std::unique_lock<std::mutex>& lock,
                                                  std::string* whyNot, bool check = false);
  void evictLocked();
  void play(const std::string& file, std::int16_t volume, std::int16_t pan,
            std::optional<DueTime> due);
  void notify(const std::string& text);
  std::string pathOfLocked(const std::string& file) const;

  SoundOutput& output_;
  mutable std::mutex mutex_;
  std::mutex deviceMutex_;  // one device open at a time, outside mutex_
  std::vector<std::string> devices_;
  int selected_ = 0;
  int opened_ = -1;  // device entry the output plays through, -1 for none
  std::int16_t nextWaveBuffer_ = 0;
  std::map<std::string, CachedFile> cache_;
  std::size_t cachedBytes_ = 0;
  std::size_t limit_ = kDefaultSampleMemoryBytes;
  std::uint64_t uses_ = 0;
  std::set<std::string> song_;                    // never evicted
  std::map<std::string, std::string> songPaths_;  // as the song writes them -> as found
  std::set<std::string> skipsReported_;           // this Play's
  Notice notice_;
  std::string documentFolder_;
};

}  // namespace pulsewright
