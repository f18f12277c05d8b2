#include "playback/SamplePlayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace pulsewright {

namespace {

float decibelGain(int hundredths) {
  if (hundredths <= -10000) return 0.0f;
  return static_cast<float>(std::pow(10.0, hundredths / 2000.0));
}

std::int64_t nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Reads a whole regular file of at most kMaxSampleFileBytes. Opening does not block (a
// FIFO without a writer would), and the type and size are checked on the opened file.
bool readSampleFile(const std::string& path, std::string* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<std::uintmax_t>(info.st_size) <= kMaxSampleFileBytes;
  if (ok) {
    bytes->resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes->size()) {
      const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the file shrank while being read: take what there is
      done += static_cast<std::size_t>(n);
    }
    bytes->resize(done);
  }
  ::close(fd);
  return ok;
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
  std::lock_guard lock(mutex_);
  devices_ = std::move(names);
  nextWaveBuffer_ = 0;
  selected_ = 0;
  attempted_ = 0;
  if (!devices_.empty() && output_.selectDevice(0)) opened_ = 0;
}

std::vector<std::string> SamplePlayer::SoundDeviceList() const {
  std::lock_guard lock(mutex_);
  return devices_;
}

void SamplePlayer::selectAudioDevice(int entry) {
  std::lock_guard lock(mutex_);
  if (entry < 0 || entry >= static_cast<int>(devices_.size())) return;
  selected_ = entry;
  attempted_ = -1;  // picking a device again tries it again
}

int SamplePlayer::selectedAudioDevice() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

std::int16_t SamplePlayer::NextWaveBuffer() const {
  std::lock_guard lock(mutex_);
  return nextWaveBuffer_;
}

std::shared_ptr<const SoundOutput::Sample> SamplePlayer::loadLocked(const std::string& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    cache_.erase(file);
    return nullptr;
  }
  CachedFile key;
  key.device = info.st_dev;
  key.inode = info.st_ino;
  key.size = static_cast<std::uintmax_t>(info.st_size);
  key.mtimeNs = nanoseconds(info.st_mtim);
  key.ctimeNs = nanoseconds(info.st_ctim);
  auto it = cache_.find(file);
  if (it != cache_.end() && it->second.device == key.device && it->second.inode == key.inode &&
      it->second.size == key.size && it->second.mtimeNs == key.mtimeNs &&
      it->second.ctimeNs == key.ctimeNs) {
    return it->second.sample;
  }
  // A file that fails is remembered too, so a bad file is not read again at every tick.
  std::string bytes;
  if (key.size <= kMaxSampleFileBytes && readSampleFile(file, &bytes) && looksLikeWave(bytes)) {
    key.sample = output_.decode(bytes);
  }
  cache_[file] = key;
  return key.sample;
}

void SamplePlayer::preload(const std::string& file) {
  if (file.empty() || file == "0") return;
  std::lock_guard lock(mutex_);
  loadLocked(file);
}

void SamplePlayer::PlayB(const std::string& file, std::int16_t volume, std::int16_t pan) {
  if (file.empty() || file == "0") return;
  std::lock_guard lock(mutex_);
  // A newly picked device is opened once; if that fails the previous one stays in use.
  if (selected_ != opened_ && selected_ != attempted_) {
    attempted_ = selected_;
    if (output_.selectDevice(selected_)) opened_ = selected_;
  }
  const int slot = nextWaveBuffer_;
  if (auto sample = loadLocked(file)) {
    waveBuffers_[slot] = sample;
    const StereoGains gains = sampleGains(volume, pan);
    output_.play(slot, std::move(sample), gains.left, gains.right);
  }
  nextWaveBuffer_ = static_cast<std::int16_t>(slot + 1 > kLastWaveBuffer ? 1 : slot + 1);
}

}  // namespace pulsewright
