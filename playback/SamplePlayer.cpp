#include "playback/SamplePlayer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fileio/InputFile.h"
#include "tablature/SamplePath.h"

namespace pulsewright {

namespace {

float decibelGain(int hundredths) {
  if (hundredths <= -10000) return 0.0f;
  return static_cast<float>(std::pow(10.0, hundredths / 2000.0));
}

std::int64_t nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A whole regular file of at most kMaxSampleFileBytes, read without blocking on a FIFO.
bool readSampleFile(const std::string& path, std::string* bytes) {
  std::string reason;
  return readRegularFile(path, kMaxSampleFileBytes, bytes, &reason);
}

bool looksLikeWave(const std::string& bytes) {
  return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
         std::memcmp(bytes.data() + 8, "WAVE", 4) == 0;
}

}  // namespace

int waveAttenuation(int volume) {
  const long long a = 9 - static_cast<long long>(volume);
  const long long b = 10 - static_cast<long long>(volume);
  const long long value = -(a * a * a) * b;
  if (value < -2000000000LL) return -2000000000;
  if (value > 2000000000LL) return 2000000000;
  return static_cast<int>(value);
}

StereoGains sampleGains(int volume, int pan) {
  const int attenuation = waveAttenuation(volume);
  const float level = (attenuation < -10000 || attenuation > 0) ? 1.0f : decibelGain(attenuation);
  StereoGains gains{level, level};
  if (pan >= -10000 && pan <= 10000) {
    // A pan attenuates the far channel only: to the right it lowers the left.
    if (pan > 0) gains.left *= decibelGain(-pan);
    if (pan < 0) gains.right *= decibelGain(pan);
  }
  return gains;
}

SamplePlayer::SamplePlayer(SoundOutput& output) : output_(output) {}

void SamplePlayer::listDevices() {
  std::vector<std::string> names = output_.deviceNames();
  std::lock_guard device(deviceMutex_);
  {
    std::lock_guard lock(mutex_);
    devices_ = names;
    nextWaveBuffer_ = 0;
    selected_ = 0;
  }
  const bool opened = !names.empty() && output_.selectDevice(names[0]);
  std::lock_guard lock(mutex_);
  if (opened) opened_ = 0;
}

std::vector<std::string> SamplePlayer::SoundDeviceList() const {
  std::lock_guard lock(mutex_);
  return devices_;
}

std::vector<std::string> SamplePlayer::refreshDevices() {
  std::vector<std::string> names = output_.deviceNames();
  std::lock_guard device(deviceMutex_);
  std::lock_guard lock(mutex_);
  auto entryOf = [&names](const std::vector<std::string>& old, int entry) {
    if (entry < 0 || entry >= static_cast<int>(old.size())) return -1;
    const auto it = std::find(names.begin(), names.end(), old[static_cast<std::size_t>(entry)]);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
  };
  opened_ = entryOf(devices_, opened_);
  selected_ = std::max(entryOf(devices_, selected_), 0);
  devices_ = names;
  return names;
}

void SamplePlayer::selectAudioDevice(int entry) {
  std::lock_guard device(deviceMutex_);
  std::string name;
  {
    std::lock_guard lock(mutex_);
    if (entry < 0 || entry >= static_cast<int>(devices_.size())) return;
    selected_ = entry;
    name = devices_[entry];
  }
  // Opened by name: after a hot-plug the list's positions may name other devices.
  const bool opened = output_.selectDevice(name);
  std::lock_guard lock(mutex_);
  if (opened) opened_ = entry;
}

int SamplePlayer::selectedAudioDevice() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

std::int16_t SamplePlayer::NextWaveBuffer() const {
  std::lock_guard lock(mutex_);
  return nextWaveBuffer_;
}

void SamplePlayer::setNotice(Notice notice) {
  std::lock_guard lock(mutex_);
  notice_ = std::move(notice);
}

void SamplePlayer::beginPlay() {
  std::lock_guard lock(mutex_);
  skipsReported_.clear();
}

void SamplePlayer::notify(const std::string& text) {
  Notice notice;
  {
    std::lock_guard lock(mutex_);
    notice = notice_;
  }
  if (notice) notice(text);
}

void SamplePlayer::setMemoryLimit(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  limit_ = bytes;
  evictLocked();
}

std::size_t SamplePlayer::memoryLimit() const {
  std::lock_guard lock(mutex_);
  return limit_;
}

std::size_t SamplePlayer::cachedBytes() const {
  std::lock_guard lock(mutex_);
  return cachedBytes_;
}

std::size_t SamplePlayer::cachedFiles() const {
  std::lock_guard lock(mutex_);
  return cache_.size();
}

void SamplePlayer::evictLocked() {
  while (cachedBytes_ > limit_) {
    auto oldest = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
      if (it->second.bytes == 0 || song_.count(it->first)) continue;
      if (oldest == cache_.end() || it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    if (oldest == cache_.end()) return;  // only the song's own samples are left
    cachedBytes_ -= oldest->second.bytes;
    cache_.erase(oldest);
  }
}

void SamplePlayer::setDocumentFolder(std::string folder) {
  std::lock_guard lock(mutex_);
  documentFolder_ = std::move(folder);
}

std::string SamplePlayer::pathOfLocked(const std::string& file) const {
  return samplePathFrom(file, documentFolder_);
}

std::shared_ptr<const SoundOutput::Sample> SamplePlayer::load(const std::string& written,
                                                              std::unique_lock<std::mutex>& lock,
                                                              std::string* whyNot, bool check) {
  // The song's samples were found and looked at when it was loaded: a hit costs no system
  // call.
  if (!check) {
    const auto known = songPaths_.find(written);
    const auto it = known == songPaths_.end() ? cache_.end() : cache_.find(known->second);
    if (it != cache_.end()) {
      it->second.lastUse = ++uses_;
      if (whyNot) *whyNot = it->second.whyNot;
      return it->second.sample;
    }
  }
  const std::string file = pathOfLocked(written);
  auto it = cache_.find(file);
  struct stat info {};
  auto forget = [&] {
    auto found = cache_.find(file);
    if (found == cache_.end()) return;
    cachedBytes_ -= found->second.bytes;
    cache_.erase(found);
  };
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    forget();
    if (whyNot) *whyNot = "it is missing or no regular file";
    return nullptr;
  }
  CachedFile key;
  key.device = info.st_dev;
  key.inode = info.st_ino;
  key.size = static_cast<std::uintmax_t>(info.st_size);
  key.mtimeNs = nanoseconds(info.st_mtim);
  key.ctimeNs = nanoseconds(info.st_ctim);
  if (it != cache_.end() && it->second.device == key.device && it->second.inode == key.inode &&
      it->second.size == key.size && it->second.mtimeNs == key.mtimeNs &&
      it->second.ctimeNs == key.ctimeNs) {
    it->second.lastUse = ++uses_;
    if (whyNot) *whyNot = it->second.whyNot;
    return it->second.sample;
  }
  // Reading and decoding go on without the lock: a large file must not hold up the other
  // calls (a device pick, the playback thread's next sample).
  const std::size_t budget = limit_;
  lock.unlock();
  try {
    std::string bytes;
    if (key.size > kMaxSampleFileBytes) {
      key.whyNot = "the file is larger than " + std::to_string(kMaxSampleFileBytes >> 20) + " MB";
    } else if (!readSampleFile(file, &bytes)) {
      key.whyNot = "it cannot be read";
    } else if (!looksLikeWave(bytes)) {
      key.whyNot = "it is no WAVE file";
    } else {
      key.sample = output_.decode(bytes, budget, &key.whyNot);
    }
  } catch (const std::bad_alloc&) {
    // Whatever the budget, the system may have less: the sample is skipped, the song plays.
    key.sample = nullptr;
    key.whyNot = "there is not enough memory to decode it";
  }
  lock.lock();
  // A file that fails is remembered too, so a bad file is not read again at every tick.
  forget();
  key.bytes = key.sample ? key.sample->memoryBytes() : 0;
  key.lastUse = ++uses_;
  cachedBytes_ += key.bytes;
  if (whyNot) *whyNot = key.whyNot;
  cache_[file] = key;
  evictLocked();
  return key.sample;
}

void SamplePlayer::preload(const std::string& file) {
  if (file.empty() || file == "0") return;
  std::unique_lock lock(mutex_);
  load(file, lock, nullptr, true);
}

void SamplePlayer::preloadSong(const std::vector<std::string>& files) {
  std::unique_lock lock(mutex_);
  song_.clear();
  songPaths_.clear();
  for (const std::string& file : files) {
    if (file.empty() || file == "0") continue;
    const std::string path = pathOfLocked(file);
    songPaths_[file] = path;
    song_.insert(path);
  }
  const std::set<std::string> song = song_;
  for (const std::string& file : song) load(file, lock, nullptr, true);
  evictLocked();  // the previous song's samples may go now
  std::size_t songBytes = 0;
  for (const std::string& file : song_) {
    auto it = cache_.find(file);
    if (it != cache_.end()) songBytes += it->second.bytes;
  }
  const std::size_t limit = limit_;
  lock.unlock();
  if (songBytes > limit) {
    notify("The song's samples take " + std::to_string(songBytes >> 20) + " MB, more than the " +
           std::to_string(limit >> 20) + " MB kept for samples; they are all kept while it plays");
  }
}

void SamplePlayer::PlayB(const std::string& file, std::int16_t volume, std::int16_t pan) {
  play(file, volume, pan, std::nullopt);
}

void SamplePlayer::PlayB(const std::string& file, std::int16_t volume, std::int16_t pan,
                         DueTime due) {
  play(file, volume, pan, due);
}

void SamplePlayer::play(const std::string& file, std::int16_t volume, std::int16_t pan,
                        std::optional<DueTime> due) {
  if (file.empty() || file == "0") return;
  std::unique_lock lock(mutex_);
  std::string whyNot;
  auto sample = load(file, lock, &whyNot);
  // The ring moves on for a skipped file too.
  const int slot = nextWaveBuffer_;
  nextWaveBuffer_ = static_cast<std::int16_t>(slot + 1 > kLastWaveBuffer ? 1 : slot + 1);
  if (sample) {
    const StereoGains gains = sampleGains(volume, pan);
    if (due) {
      output_.playAt(slot, std::move(sample), gains.left, gains.right, *due);
    } else {
      output_.play(slot, std::move(sample), gains.left, gains.right);
    }
    return;
  }
  if (!skipsReported_.insert(file).second) return;
  lock.unlock();
  notify("Sample skipped: " + file + ": " + whyNot);
}

}  // namespace pulsewright
