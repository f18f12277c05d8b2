#pragma once
// A tiny Hydrogen kit made on the spot: samples of several rates, depths and formats
// (decaying tones, so a test knows each one's sound), for the kit tests of the CLI and of
// the window.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pulsewright::test {

inline void writeTinyKitFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A decaying tone: the sound of one sample, at any rate.
struct Tone {
  double hz, seconds, decay;
  double at(double t) const {
    return t < 0 || t >= seconds ? 0 : 0.8 * std::sin(2 * M_PI * hz * t) * std::exp(-t / decay);
  }
};

inline void writeSample(const std::string& path, const Tone& tone, int rate, int format,
                        int channels) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  const auto frames = static_cast<long>(tone.seconds * rate);
  std::vector<float> pcm;
  for (long i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) pcm.push_back(static_cast<float>(tone.at(double(i) / rate)));
  }
  sf_writef_float(f, pcm.data(), frames);
  sf_close(f);
}

inline const Tone kSoftKick{90, 0.4, 0.1}, kHardKick{140, 0.4, 0.1}, kSnareA{400, 0.3, 0.05},
    kSnareB{620, 0.3, 0.05}, kClosedHat{3000, 0.2, 0.03}, kOpenHat{2200, 1.5, 1.0};

inline std::string tinyKitLayer(const std::string& file, double min, double max) {
  return "<layer><filename>" + file + "</filename><min>" + std::to_string(min) + "</min><max>" +
         std::to_string(max) + "</max><gain>1</gain><pitch>0</pitch></layer>";
}

inline std::string tinyKitInstrument(const std::string& name, const std::string& layers) {
  return "<instrument><id>0</id><name>" + name +
         "</name><volume>1</volume><pan_L>1</pan_L><pan_R>1</pan_R><gain>1</gain>"
         "<muteGroup>-1</muteGroup><midiOutNote>60</midiOutNote>" +
         layers + "</instrument>";
}

// "Tiny Test Kit" in `folder`: two kick layers, two snare samples sharing a range, the
// hats, a tom whose sample is missing and a crash whose sample is no sound at all.
inline void makeTinyKit(const std::string& folder, const std::string& name = "Tiny Test Kit") {
  std::filesystem::create_directories(folder);
  writeSample(folder + "/kick-soft.wav", kSoftKick, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1);
  writeSample(folder + "/kick-hard.flac", kHardKick, 22050, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1);
  writeSample(folder + "/snare-a.ogg", kSnareA, 44100, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2);
  writeSample(folder + "/snare-b.wav", kSnareB, 96000, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2);
  writeSample(folder + "/hat-closed.wav", kClosedHat, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
  writeSample(folder + "/hat-open.flac", kOpenHat, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1);
  writeTinyKitFile(folder + "/crash.wav", "RIFF-not-really-a-wave");
  writeTinyKitFile(folder + "/drumkit.xml",
                   "<?xml version=\"1.0\"?>\n<drumkit_info xmlns=\"http://www.hydrogen-music.org/"
                   "drumkit\"><name>" +
                       name + "</name><license>CC0</license><instrumentList>" +
                       tinyKitInstrument("Test Kick", tinyKitLayer("kick-soft.wav", 0, 0.5) +
                                                          tinyKitLayer("kick-hard.flac", 0.5, 1)) +
                       tinyKitInstrument("Test Snare", tinyKitLayer("snare-a.ogg", 0, 1) +
                                                           tinyKitLayer("snare-b.wav", 0, 1)) +
                       tinyKitInstrument("Hat Closed", tinyKitLayer("hat-closed.wav", 0, 1)) +
                       tinyKitInstrument("Hat Open", tinyKitLayer("hat-open.flac", 0, 1)) +
                       tinyKitInstrument("Tom Hi", tinyKitLayer("tom-gone.wav", 0, 1)) +
                       tinyKitInstrument("Crash", tinyKitLayer("crash.wav", 0, 1)) +
                       "</instrumentList></drumkit_info>");
}

}  // namespace pulsewright::test
