#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "playback/SamplePlayer.h"
#include "tests/support/NullSoundOutput.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pw-samples-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name, const std::string& bytes) const {
    const std::string p = (path_ / name).string();
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Just enough of a WAVE file for the player's header check; the null output decodes
// anything it is given.
std::string wave(const std::string& body = "data") {
  return std::string("RIFF\x10\0\0\0WAVE", 12) + body;
}

TEST(SamplePlayer, AttenuationAndGainsFollowTheTable) {
  const int table[] = {-4608, -2744, -1512, -750, -320, -108, -24, -2, 0, 0};
  for (int v = 1; v <= 10; ++v) EXPECT_EQ(waveAttenuation(v), table[v - 1]) << v;

  // Level 9 against level 0: 46.08 dB.
  const StereoGains loud = sampleGains(10, 0), quiet = sampleGains(1, 0);
  EXPECT_FLOAT_EQ(loud.left, 1.0f);
  EXPECT_NEAR(20 * std::log10(loud.left / quiet.left), 46.08, 1e-3);
  EXPECT_NEAR(20 * std::log10(sampleGains(6, 0).right), -1.08, 1e-4);

  EXPECT_EQ(sampleGains(10, -10000).right, 0.0f);
  EXPECT_EQ(sampleGains(10, -10000).left, 1.0f);
  EXPECT_EQ(sampleGains(10, 10000).left, 0.0f);
  const StereoGains slightlyLeft = sampleGains(10, -20);
  EXPECT_FLOAT_EQ(slightlyLeft.left, 1.0f);
  EXPECT_NEAR(20 * std::log10(slightlyLeft.right), -0.2, 1e-4);
  // A pan the device would refuse plays centred; so does an attenuation it would refuse.
  EXPECT_EQ(sampleGains(10, 10001).left, 1.0f);
  EXPECT_EQ(sampleGains(10, -32768).right, 1.0f);
  EXPECT_EQ(sampleGains(-20, 0).left, 1.0f);
  EXPECT_EQ(sampleGains(32767, 0).left, 1.0f);
}

TEST(SamplePlayer, RingUsesSlotZeroOnceThenOneToNineteen) {
  TempDir dir;
  NullSoundOutput output({"Speakers"});
  SamplePlayer player(output);
  player.listDevices();
  std::vector<std::string> files;
  for (int i = 0; i < 41; ++i) files.push_back(dir.file("s" + std::to_string(i) + ".wav", wave()));
  for (const auto& f : files) player.PlayB(f, 10, 0);
  std::vector<int> slots;
  for (const auto& p : output.played()) slots.push_back(p.channel);
  std::vector<int> expected{0};
  for (int i = 0; i < 40; ++i) expected.push_back(1 + i % 19);
  EXPECT_EQ(slots, expected);
  EXPECT_EQ(player.NextWaveBuffer(), 3);
  // The first sample stays in slot 0; slot 20 is never used; the 21st sample replaced the
  // second in slot 1.
  const std::vector<int> held = output.channels();
  EXPECT_EQ(held[0], 1);
  EXPECT_EQ(held[20], 0);
  EXPECT_EQ(held[1], 40);
  // "0" and "" are no samples and do not move the ring.
  player.PlayB("0", 10, 0);
  player.PlayB("", 10, 0);
  EXPECT_EQ(player.NextWaveBuffer(), 3);
  EXPECT_EQ(output.played().size(), 41u);
}

TEST(SamplePlayer, BadFilesAreSkippedAndTheSlotKeepsItsSample) {
  TempDir dir;
  NullSoundOutput output({"Speakers"});
  SamplePlayer player(output);
  player.listDevices();
  player.PlayB(dir.file("first.wav", wave()), 10, 0);  // slot 0
  player.PlayB(dir.file("good.wav", wave()), 10, 0);   // slot 1

  const std::string fifo = dir.path("fifo.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = dir.file("big.wav", wave());
  fs::resize_file(big, kMaxSampleFileBytes + 1);
  const std::string unreadable = dir.file("unreadable.wav", wave());
  fs::permissions(unreadable, fs::perms::none);
  fs::create_directory(dir.path("dir.wav"));
  const std::vector<std::string> bad = {
      dir.path("missing.wav"),
      dir.file("text.wav", "just some text, no RIFF header"),
      dir.file("riff.avi", std::string("RIFF\x10\0\0\0AVI LIST", 16)),
      dir.file("empty.wav", ""),
      dir.path("dir.wav"),
      fifo,
      "/dev/zero",
      big,
      unreadable};
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 2; ++round) {
    for (const auto& f : bad) player.PlayB(f, 10, 0);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // Root reads a file without permissions; then it is a good sample after all.
  const int extra = ::access(unreadable.c_str(), R_OK) == 0 ? 2 : 0;
  EXPECT_EQ(output.played().size(), 2u + extra);
  EXPECT_EQ(output.channels()[1], 2);                      // the good sample stays in its slot
  const int calls = 2 + 2 * static_cast<int>(bad.size());  // bad files move the ring too
  EXPECT_EQ(player.NextWaveBuffer(), 1 + (calls - 1) % 19);
  EXPECT_EQ(output.decodes(), 2 + (extra ? 1 : 0));
}

TEST(SamplePlayer, DecodedFilesAreCachedUntilTheyChange) {
  TempDir dir;
  NullSoundOutput output({"Speakers"});
  SamplePlayer player(output);
  player.listDevices();
  const std::string clap = dir.file("clap.wav", wave("one"));
  player.preload(clap);
  EXPECT_EQ(output.decodes(), 1);
  for (int i = 0; i < 5; ++i) player.PlayB(clap, 5, -20);
  EXPECT_EQ(output.decodes(), 1);
  ASSERT_EQ(output.played().size(), 5u);
  EXPECT_EQ(output.played()[4].serial, 1);

  // Rewritten (same size, so only the time tells): loaded again.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  dir.file("clap.wav", wave("two"));
  player.PlayB(clap, 5, -20);
  EXPECT_EQ(output.decodes(), 2);
  EXPECT_EQ(output.played().back().serial, 2);
  // Replaced by something that is no WAVE: skipped, not the stale sample.
  dir.file("clap.wav", "not a wave file at all");
  player.PlayB(clap, 5, -20);
  EXPECT_EQ(output.played().size(), 6u);
  fs::remove(clap);
  player.PlayB(clap, 5, -20);
  EXPECT_EQ(output.played().size(), 6u);

  // The song's samples were looked at when it was loaded: a hit touches no file, until the
  // next song is loaded.
  const std::string kick = dir.file("kick.wav", wave("kick"));
  player.preloadSong({kick});
  fs::remove(kick);
  player.PlayB(kick, 5, 0);
  EXPECT_EQ(output.played().size(), 7u);
  player.preloadSong({kick});
  player.PlayB(kick, 5, 0);
  EXPECT_EQ(output.played().size(), 7u);
}

TEST(SamplePlayer, DevicePicksMoveTheNextSamplesAndFailuresKeepTheOldDevice) {
  TempDir dir;
  const std::string kick = dir.file("kick.wav", wave());
  NullSoundOutput output({"Speakers", "Headphones", "HDMI"});
  SamplePlayer player(output);
  player.listDevices();
  EXPECT_EQ(player.SoundDeviceList(), (std::vector<std::string>{"Speakers", "Headphones", "HDMI"}));
  EXPECT_EQ(output.device(), 0);
  player.PlayB(kick, 10, 0);
  player.selectAudioDevice(1);
  player.PlayB(kick, 10, 0);
  output.failDevice(2, true);
  player.selectAudioDevice(2);
  player.PlayB(kick, 10, 0);
  player.selectAudioDevice(7);  // no such entry: nothing changes
  EXPECT_EQ(player.selectedAudioDevice(), 2);
  output.failDevice(2, false);
  player.PlayB(kick, 10, 0);  // a failed device is not retried at every sample
  player.selectAudioDevice(2);
  player.PlayB(kick, 10, 0);  // ... but a new pick tries it again
  std::vector<int> devices;
  for (const auto& p : output.played()) devices.push_back(p.device);
  EXPECT_EQ(devices, (std::vector<int>{0, 1, 1, 1, 2}));

  // No sound device at all: an empty list, nothing plays, nothing fails.
  NullSoundOutput none;
  SamplePlayer silent(none);
  silent.listDevices();
  EXPECT_TRUE(silent.SoundDeviceList().empty());
  silent.selectAudioDevice(0);
  silent.PlayB(kick, 10, 0);
  EXPECT_EQ(none.device(), -1);
  EXPECT_EQ(silent.NextWaveBuffer(), 1);
}

}  // namespace
}  // namespace pulsewright
