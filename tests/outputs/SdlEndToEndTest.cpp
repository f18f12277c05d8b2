// The sample player and the built-in synthesiser through SDL's "disk" audio driver, which
// writes what the device would play to a raw file (16-bit stereo at the output rate).

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AudioTestUtil.h"
#include "midi/MidiPort.h"
#include "platform/FluidSynthOutput.h"
#include "platform/SdlSoundOutput.h"
#include "playback/DevicePlaybackClock.h"
#include "playback/SamplePlayer.h"

namespace pulsewright {
namespace {

using std::chrono::milliseconds;

using test::kTestSoundFont;
using test::TempDir;

void put16(std::string& s, int v) {
  s += char(v & 0xFF), s += char((v >> 8) & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF), put16(s, v >> 16);
}

// A mono 16-bit WAVE file of a 1 kHz sine at half of full scale.
std::string writeSine(const std::string& path, int rate, double seconds) {
  const int frames = static_cast<int>(rate * seconds);
  std::string s = "RIFF";
  put32(s, 36 + 2 * frames);
  s += "WAVEfmt ";
  put32(s, 16), put16(s, 1), put16(s, 1), put32(s, rate), put32(s, rate * 2), put16(s, 2);
  put16(s, 16);
  s += "data";
  put32(s, 2 * frames);
  for (int i = 0; i < frames; ++i) {
    put16(s, static_cast<int>(std::lround(16384 * std::sin(2 * M_PI * 1000 * i / rate))));
  }
  std::ofstream(path, std::ios::binary) << s;
  return path;
}

struct Energy {
  double left = 0, right = 0;
  double total() const { return left + right; }
};

Energy measure(const std::string& rawPath) {
  std::ifstream in(rawPath, std::ios::binary);
  Energy e;
  std::int16_t frame[2];
  while (in.read(reinterpret_cast<char*>(frame), sizeof frame)) {
    e.left += double(frame[0]) * frame[0];
    e.right += double(frame[1]) * frame[1];
  }
  return e;
}

// Sends SDL's output to `rawPath` from the next device open on.
void diskOutput(const std::string& rawPath) {
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", rawPath.c_str(), 1);
}

bool waitUntilSilent(SdlSoundOutput& output, int channel) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (output.isPlaying(channel)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  std::this_thread::sleep_for(milliseconds(50));
  return true;
}

TEST(SdlEndToEnd, PanAndLevelsReachTheDeviceInTheirUnits) {
  TempDir dir;
  diskOutput(dir.path("left.raw"));
  SdlSoundOutput output;
  SamplePlayer player(output);
  player.listDevices();
  ASSERT_EQ(player.SoundDeviceList().size(), 1u);
  ASSERT_TRUE(output.isOpen());
  // 22.05 kHz mono: the output converts it to its own rate and to two channels.
  const std::string sine = writeSine(dir.path("sine.wav"), 22050, 0.1);

  player.PlayB(sine, 10, -10000);  // level 9, hard left
  ASSERT_TRUE(waitUntilSilent(output, 0));
  output.closeDevice();
  const Energy left = measure(dir.path("left.raw"));
  EXPECT_GT(left.left, 0.0);
  EXPECT_EQ(left.right, 0.0);

  diskOutput(dir.path("level0.raw"));
  ASSERT_TRUE(output.selectDevice(output.deviceNames().at(0)));
  player.PlayB(sine, 1, 0);  // level 0, centred
  ASSERT_TRUE(waitUntilSilent(output, 1));
  output.closeDevice();
  const Energy quiet = measure(dir.path("level0.raw"));
  EXPECT_NEAR(quiet.left, quiet.right, quiet.left * 1e-6);
  // Level 9 against level 0, on the channel that both played at full width: 46.08 dB.
  EXPECT_NEAR(10 * std::log10(left.left / quiet.left), 46.08, 0.05);

  // A channel that played with one gain plays the next sample with its own gain.
  diskOutput(dir.path("reuse.raw"));
  ASSERT_TRUE(output.selectDevice(output.deviceNames().at(0)));
  auto sample = output.decode(
      [&] {
        std::ifstream in(sine, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
      }(),
      SIZE_MAX, nullptr);
  ASSERT_TRUE(sample);
  output.play(5, sample, 0.5f, 0.5f);
  ASSERT_TRUE(waitUntilSilent(output, 5));
  output.play(5, sample, 1.0f, 1.0f);
  ASSERT_TRUE(waitUntilSilent(output, 5));
  output.closeDevice();
  EXPECT_NEAR(measure(dir.path("reuse.raw")).left / left.left, 1.25, 0.01);
}

TEST(SdlEndToEnd, TheMapperPlaysDrumThirtySixIntoTheSameOutput) {
  TempDir dir;
  diskOutput(dir.path("synth.raw"));
  SdlSoundOutput output;
  SamplePlayer player(output);
  player.listDevices();
  FluidSynthOutput synth(&output, {kTestSoundFont});
  MidiPort port(synth);
  port.listDevices();
  ASSERT_EQ(port.lastResult(), 0);
  std::this_thread::sleep_for(milliseconds(200));
  port.sendChannelMessage(kNoteOn, 36, 127);
  std::this_thread::sleep_for(milliseconds(400));
  port.sendChannelMessage(kNoteOff, 36, 0);
  std::this_thread::sleep_for(milliseconds(100));
  port.close();
  output.closeDevice();
  const Energy e = measure(dir.path("synth.raw"));
  // Half a second of a bass drum near full velocity, far above any dither.
  EXPECT_GT(e.total() / (kOutputSampleRate * 0.5), 1e5);
}

// Renders one note on a fresh synthesiser, straight from its SynthSource side.
std::vector<std::int16_t> renderNote(int channel, int note, int program = -1) {
  FluidSynthOutput synth(nullptr, {kTestSoundFont});
  MidiHandle handle = 0;
  EXPECT_EQ(synth.open(kMidiMapperId, &handle), 0);
  if (program >= 0) synth.sendShort(handle, packShortMessage(kProgramChange, channel, program, 0));
  synth.sendShort(handle, packShortMessage(kNoteOn, channel, note, 127));
  std::vector<float> pcm(2 * kOutputSampleRate / 4);
  synth.render(pcm.data(), static_cast<int>(pcm.size() / 2));
  std::vector<std::int16_t> out;
  for (float v : pcm) out.push_back(static_cast<std::int16_t>(std::lround(v * 32767)));
  return out;
}

double correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    ab += double(a[i]) * b[i], aa += double(a[i]) * a[i], bb += double(b[i]) * b[i];
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

TEST(SdlEndToEnd, EveryChannelOfTheMapperIsADrumChannel) {
  const auto reference = renderNote(9, 36);  // the General MIDI drum channel
  const auto first = renderNote(0, 36);
  const auto last = renderNote(15, 36);
  EXPECT_GT(correlation(reference, first), 0.99);
  EXPECT_GT(correlation(reference, last), 0.99);
  // A snare is another drum, not the bass drum played higher.
  EXPECT_LT(correlation(reference, renderNote(0, 38)), 0.9);

  // No sound font: the mapper refuses with a code, and a user sees it.
  FluidSynthOutput none(nullptr, {"/nonexistent.sf2", "/dev/zero", "/tmp"});
  std::vector<std::string> messages;
  MidiPort port(none, [&](const std::string& m) { messages.push_back(m); });
  port.listDevices();
  EXPECT_EQ(messages, std::vector<std::string>{"Couldn't open midi out, rc = 6"});
  port.send(packShortMessage(kNoteOn, 0, 36, 127));  // dropped
  // What was searched is named, so a user knows what to install or where to point.
  const std::string missing = none.missingSoundFontMessage();
  EXPECT_NE(missing.find("/nonexistent.sf2, /dev/zero, /tmp"), std::string::npos) << missing;
  EXPECT_NE(missing.find(kSoundFontVariable), std::string::npos) << missing;
  FluidSynthOutput loaded(nullptr, {kTestSoundFont});
  MidiPort fine(loaded, [](const std::string&) {});
  fine.listDevices();
  EXPECT_EQ(loaded.missingSoundFontMessage(), "");
}

TEST(SdlEndToEnd, OpeningTheSoundLeavesInterruptAndTerminateToTheProgram) {
  SdlSoundOutput output;
  for (int signal : {SIGINT, SIGTERM}) {
    struct sigaction action {};
    ASSERT_EQ(::sigaction(signal, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
  }
}

TEST(SdlEndToEnd, TheEnvironmentAndTheSettingComeBeforeTheSystemSoundFonts) {
  ::setenv(kSoundFontVariable, "/from/environment.sf2", 1);
  const std::vector<std::string> fonts = defaultSoundFonts("/from/setting.sf2");
  ::unsetenv(kSoundFontVariable);
  ASSERT_GE(fonts.size(), 4u);
  EXPECT_EQ(fonts[0], "/from/environment.sf2");
  EXPECT_EQ(fonts[1], "/from/setting.sf2");
  for (const char* system : {"/usr/share/sounds/sf2/default-GM.sf2",     // Debian
                             "/usr/share/soundfonts/FluidR3_GM.sf2"}) {  // Fedora, Arch
    EXPECT_NE(std::find(fonts.begin(), fonts.end(), system), fonts.end()) << system;
  }
  EXPECT_EQ(defaultSoundFonts()[0], "/usr/share/sounds/sf2/default-GM.sf2");
}

TEST(SdlEndToEnd, WithoutASoundDeviceNothingSoundsAndNothingFails) {
  ::setenv("SDL_AUDIODRIVER", "pw-no-such-driver", 1);
  TempDir dir;
  SdlSoundOutput output;
  EXPECT_TRUE(output.deviceNames().empty());
  EXPECT_FALSE(output.selectDevice(""));
  SamplePlayer player(output);
  player.listDevices();
  EXPECT_TRUE(player.SoundDeviceList().empty());
  player.PlayB(writeSine(dir.path("s.wav"), 44100, 0.05), 10, 0);
  EXPECT_EQ(player.NextWaveBuffer(), 1);
  FluidSynthOutput synth(&output, {kTestSoundFont});
  MidiPort port(synth);
  port.listDevices();
  EXPECT_EQ(port.lastResult(), 0);
  port.sendChannelMessage(kNoteOn, 36, 127);
  port.close();
}

// Picking a device moves what sounds there at once: a long sample goes on on the new one.
TEST(SdlEndToEnd, SwitchingTheDeviceKeepsSoundingSamplesGoing) {
  TempDir dir;
  diskOutput(dir.path("first.raw"));
  SdlSoundOutput output;
  SamplePlayer player(output);
  player.listDevices();
  ASSERT_TRUE(output.isOpen());
  player.PlayB(writeSine(dir.path("long.wav"), 44100, 1.5), 10, 0);
  std::this_thread::sleep_for(milliseconds(300));
  diskOutput(dir.path("second.raw"));
  player.selectAudioDevice(0);  // opened again by its name, writing to the new file
  ASSERT_TRUE(waitUntilSilent(output, 0));
  output.closeDevice();
  const Energy first = measure(dir.path("first.raw")), second = measure(dir.path("second.raw"));
  EXPECT_GT(first.total(), 0.0);
  // The rest of the 1.5 s sine, not cut: most of it sounds on the second device.
  EXPECT_GT(second.total(), first.total());
}

std::vector<float> readRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<float> out;
  std::int16_t v;
  while (in.read(reinterpret_cast<char*>(&v), 2)) out.push_back(v / 32768.0f);
  return out;
}

// Live, as the player hands events over: each a little ahead of its due time, from a
// thread that sleeps in between. The engine's clock places them at a constant latency.
TEST(SdlEndToEnd, LiveHitsKeepTheirTimeOnTheDevice) {
  TempDir dir;
  diskOutput(dir.path("live.raw"));
  SdlSoundOutput output;
  SamplePlayer player(output);
  player.listDevices();
  ASSERT_TRUE(output.isOpen());
  EXPECT_EQ(output.blockFrames(), SdlSoundOutput::kDefaultBlockFrames);
  FluidSynthOutput synth(&output, {kTestSoundFont});
  MidiPort port(synth);
  port.listDevices();
  ASSERT_TRUE(port.placesByTime());
  const std::string click = test::writeFile(
      dir.path("click.wav"), test::waveBytes(test::clickValues(44100), 44100, 1, 16));
  player.preload(click);

  // SDL's disk driver has no steady clock of its own: it writes a block and then sleeps
  // 5 ms, so its pace wanders and steps with the machine's load. A fit over the nine
  // nearest hits removes the slow wander and the constant latency. On a quiet machine what
  // is left is the placement's own jitter; on a busy one the driver's own steps dominate,
  // so the bound for hits timed by the steady clock only catches gross faults (a clock
  // that runs away); late events are counted. On the device's own clock, as `play` keeps
  // it when only this device sounds, hits land on the frames their times name however the
  // driver's pace wanders: samples to the frame, the synthesiser within its 64-frame
  // blocks (at twice the output rate).
  auto run = [&](const std::string& raw, bool samples, bool paced) {
    output.closeDevice();
    diskOutput(raw);
    EXPECT_TRUE(output.selectDevice(output.deviceNames().at(0)));
    std::optional<DevicePlaybackClock> deviceClock;
    SteadyPlaybackClock steadyClock;
    if (paced) deviceClock.emplace(output.engine());
    PlaybackClock& clock = paced ? static_cast<PlaybackClock&>(*deviceClock) : steadyClock;
    const int hits = paced ? 32 : 40;
    const auto period = milliseconds(125);
    // The steady clock's estimate of the device settles in its first seconds, as at the
    // window's start-up.
    const auto start = clock.now() + milliseconds(paced ? 300 : 2500);
    std::vector<double> due;
    for (int i = 0; i < hits; ++i) {
      const auto at = start + i * period;
      due.push_back(std::chrono::duration<double>(at - start).count());
      while (clock.now() < at - milliseconds(30)) std::this_thread::sleep_for(milliseconds(1));
      if (samples) {
        player.PlayB(click, 10, 0, at);
      } else {
        port.sendChannelMessageAt(kNoteOn, 75, 127, at);  // claves: one short click
        port.sendChannelMessageAt(kNoteOff, 75, 0, at);
      }
    }
    std::this_thread::sleep_for(milliseconds(400));
    output.closeDevice();
    const std::vector<long> found = test::onsets(readRaw(raw), 0.05f, 44100 / 20);
    const char* what = samples ? "sample" : "synthesiser";
    EXPECT_EQ(found.size(), static_cast<std::size_t>(hits)) << what;
    const auto local = test::jitterAgainstLocalFit(found, due, 4);
    const auto whole = test::jitterAgainstFit(found, due);
    std::printf(
        "%s %s onsets through SDL's disk driver: p99 %.3f ms, max %.3f ms "
        "(one line through all: p99 %.3f ms); late events so far %llu\n",
        paced ? "device-timed" : "steady-timed", what, test::percentile(local, 0.99), local.back(),
        test::percentile(whole, 0.99),
        static_cast<unsigned long long>(output.engine().lateEvents()));
    return paced ? local.back() : test::percentile(local, 0.99);
  };
  EXPECT_LE(run(dir.path("synth.raw"), false, false), 25.0);
  EXPECT_LE(run(dir.path("samples.raw"), true, false), 25.0);
  EXPECT_LE(run(dir.path("paced-synth.raw"), false, true), 1.0);
  EXPECT_LE(run(dir.path("paced-samples.raw"), true, true), 0.05);
  EXPECT_EQ(output.engine().lateEvents(), 0u);
}

}  // namespace
}  // namespace pulsewright
