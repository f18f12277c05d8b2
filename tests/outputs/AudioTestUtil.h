#pragma once
// WAVE files made for tests, a folder to keep them in, and onsets found in rendered audio.

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pulsewright::test {

inline constexpr char kTestSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// A folder of its own under the system's temporary folder, removed with what it holds.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pw-audio-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void put16(std::string& s, int v) {
  s += char(v & 0xFF), s += char((v >> 8) & 0xFF);
}
inline void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF), put16(s, v >> 16);
}

// A WAVE file of `values` (one per sample, channels interleaved), 8- or 16-bit.
inline std::string waveBytes(const std::vector<int>& values, int rate, int channels, int bits) {
  const int bytesPerSample = bits / 8;
  const std::uint32_t data = static_cast<std::uint32_t>(values.size()) * bytesPerSample;
  std::string s = "RIFF";
  put32(s, 36 + data);
  s += "WAVEfmt ";
  put32(s, 16), put16(s, 1), put16(s, channels), put32(s, rate);
  put32(s, rate * channels * bytesPerSample), put16(s, channels * bytesPerSample), put16(s, bits);
  s += "data";
  put32(s, data);
  s.reserve(s.size() + data);
  for (int v : values) {
    if (bits == 8) {
      s += char(std::clamp(v / 256 + 128, 0, 255));
    } else {
      put16(s, v);
    }
  }
  return s;
}

inline std::string writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// A click: full level at its first frame, a 1 kHz tone dying away within 20 ms.
inline std::vector<int> clickValues(int rate) {
  std::vector<int> v(rate / 50);
  for (std::size_t i = 0; i < v.size(); ++i) {
    const double t = double(i) / rate;
    v[i] =
        static_cast<int>(std::lround(20000 * std::cos(2 * M_PI * 1000 * t) * std::exp(-t / 0.004)));
  }
  return v;
}

// The first frame of each sound: where the left channel first exceeds `threshold` after
// at least `quietFrames` frames below it.
inline std::vector<long> onsets(const std::vector<float>& stereo, float threshold,
                                long quietFrames) {
  std::vector<long> found;
  long quiet = quietFrames;
  for (long i = 0; i < static_cast<long>(stereo.size() / 2); ++i) {
    if (std::abs(stereo[2 * i]) > threshold) {
      if (quiet >= quietFrames) found.push_back(i);
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return found;
}

// Deviations (ms) of the onsets from their nominal frames, the constant latency (the
// median) removed; returns them sorted by size.
inline std::vector<double> jitterMs(const std::vector<long>& found,
                                    const std::vector<long>& nominal, int rate) {
  std::vector<double> d;
  for (std::size_t i = 0; i < found.size() && i < nominal.size(); ++i) {
    d.push_back(1000.0 * double(found[i] - nominal[i]) / rate);
  }
  if (d.empty()) return d;
  std::vector<double> sorted = d;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted[sorted.size() / 2];
  for (double& x : d) x = std::abs(x - median);
  std::sort(d.begin(), d.end());
  return d;
}

inline double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const std::size_t i = std::min(sorted.size() - 1, static_cast<std::size_t>(p * sorted.size()));
  return sorted[i];
}

}  // namespace pulsewright::test

namespace pulsewright::test {

// Onset deviations (ms, sorted) from the straight line that best fits onset frames against
// due times (seconds): a constant latency and a device running off its nominal rate (SDL's
// disk driver) are removed, the jitter stays.
inline std::vector<double> jitterAgainstFit(const std::vector<long>& found,
                                            const std::vector<double>& dueSeconds) {
  const std::size_t n = std::min(found.size(), dueSeconds.size());
  double st = 0, sf = 0, stt = 0, stf = 0;
  for (std::size_t i = 0; i < n; ++i) {
    st += dueSeconds[i], sf += found[i], stt += dueSeconds[i] * dueSeconds[i];
    stf += dueSeconds[i] * found[i];
  }
  const double slope = (n * stf - st * sf) / (n * stt - st * st);
  const double intercept = (sf - slope * st) / n;
  std::vector<double> d;
  for (std::size_t i = 0; i < n; ++i) {
    d.push_back(std::abs(found[i] - (slope * dueSeconds[i] + intercept)) * 1000 / slope);
  }
  std::sort(d.begin(), d.end());
  return d;
}

// The same against a line fitted to the `half` hits either side of each hit (sorted).
inline std::vector<double> jitterAgainstLocalFit(const std::vector<long>& found,
                                                 const std::vector<double>& dueSeconds, int half) {
  const int n = static_cast<int>(std::min(found.size(), dueSeconds.size()));
  std::vector<double> d;
  for (int i = 0; i < n; ++i) {
    const int from = std::max(0, std::min(i - half, n - 2 * half - 1));
    const int to = std::min(n, from + 2 * half + 1);
    double st = 0, sf = 0, stt = 0, stf = 0;
    const int m = to - from;
    for (int j = from; j < to; ++j) {
      st += dueSeconds[j], sf += found[j], stt += dueSeconds[j] * dueSeconds[j];
      stf += dueSeconds[j] * found[j];
    }
    const double slope = (m * stf - st * sf) / (m * stt - st * st);
    const double intercept = (sf - slope * st) / m;
    d.push_back(std::abs(found[i] - (slope * dueSeconds[i] + intercept)) * 1000 / slope);
  }
  std::sort(d.begin(), d.end());
  return d;
}

}  // namespace pulsewright::test
