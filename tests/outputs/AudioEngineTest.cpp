// The audio engine rendered offline: samples and synthesiser hits on their frames, slots
// cutting their old sample, the queues under several threads, and sample memory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <set>
#include <thread>

#include "AudioTestUtil.h"
#include "midi/MidiPort.h"
#include "platform/BoundedQueue.h"
#include "platform/EngineSoundOutput.h"
#include "platform/FluidSynthOutput.h"
#include "platform/HalfBandDecimator.h"
#include "platform/WaveDecoder.h"
#include "playback/SamplePlayer.h"
#include "tests/support/CountedAllocations.h"
#include "tests/support/NullSoundOutput.h"

namespace pulsewright {
namespace {

using namespace test;
using std::chrono::milliseconds;

std::vector<float> render(AudioEngine& engine, long frames) {
  std::vector<float> out(2 * frames);
  engine.renderOffline(out.data(), static_cast<int>(frames));
  return out;
}

TEST(AudioEngine, SixtyFourClicksAndDrumHitsLandOnTheirFrames) {
  TempDir dir;
  for (int rate : {44100, 48000}) {
    EngineSoundOutput output(rate);
    SamplePlayer samples(output);
    samples.listDevices();
    const std::string click =
        writeFile(dir.path("click.wav"), waveBytes(clickValues(44100), 44100, 1, 16));
    const auto epoch = std::chrono::steady_clock::now();
    output.engine().setEpoch(epoch);
    std::vector<long> nominal;
    for (int i = 0; i < 64; ++i) {
      samples.PlayB(click, 10, 0, epoch + milliseconds(200 * i + 3));
      nominal.push_back(std::lround((200.0 * i + 3) * rate / 1000));
    }
    const std::vector<float> pcm = render(output.engine(), rate * 13);
    const std::vector<long> found = onsets(pcm, 0.02f, rate / 20);
    ASSERT_EQ(found.size(), 64u) << rate;
    // Sample hits: exact to the frame, no latency at all offline.
    EXPECT_EQ(found, nominal) << rate;
  }

  // The synthesiser starts voices on its own 64-frame blocks, at twice the output rate: all
  // within 32 frames, so within 0.4 ms of the median delay (at the output rate, 0.73).
  EngineSoundOutput output(44100);
  FluidSynthOutput synth(&output, {kTestSoundFont});
  MidiPort port(synth);
  port.listDevices();
  ASSERT_EQ(port.lastResult(), 0);
  const auto epoch = std::chrono::steady_clock::now();
  output.engine().setEpoch(epoch);
  std::vector<long> nominal;
  for (int i = 0; i < 64; ++i) {
    const auto due = epoch + milliseconds(250 * i + 7);
    port.sendChannelMessageAt(kNoteOn, 37, 127, due);
    port.sendChannelMessageAt(kNoteOff, 37, 0, due);
    nominal.push_back(std::lround((250.0 * i + 7) * 44.1));
  }
  const std::vector<float> pcm = render(output.engine(), 44100 * 17);
  const std::vector<long> found = onsets(pcm, 0.05f, 44100 / 5);
  ASSERT_EQ(found.size(), 64u);
  const std::vector<double> jitter = jitterMs(found, nominal, 44100);
  std::printf("synthesiser onsets offline: p99 %.3f ms, max %.3f ms\n", percentile(jitter, 0.99),
              jitter.back());
  EXPECT_LE(jitter.back(), 0.4);
}

// The synthesiser's rate halved: the audible band passes at its level with a constant
// delay, what lies above the output's band does not fold back into it.
TEST(AudioEngine, TheSynthesisersDecimatorKeepsTheBandAndRemovesWhatWouldFoldBack) {
  const auto gain = [](double hz, std::vector<float>* first) {
    HalfBandDecimator decimator;
    double in = 0, out = 0;
    for (int block = 0; block < 40; ++block) {
      float* x = decimator.input();
      for (int i = 0; i < 2 * HalfBandDecimator::kMaxFrames; ++i) {
        const long n = 2L * HalfBandDecimator::kMaxFrames * block + i;
        // A tone, or one impulse at input frame 200 (output frame 100).
        const float v = hz > 0 ? static_cast<float>(std::sin(2 * M_PI * hz * n / 88200))
                               : static_cast<float>(n == 200);
        x[2 * i] = v;
        x[2 * i + 1] = -v;
        if (block >= 2) in += double(v) * v / 2;
      }
      std::vector<float> y(2 * HalfBandDecimator::kMaxFrames);
      decimator.decimate(HalfBandDecimator::kMaxFrames, y.data());
      for (int i = 0; i < HalfBandDecimator::kMaxFrames; ++i) {
        EXPECT_FLOAT_EQ(y[2 * i + 1], -y[2 * i]);
        if (block >= 2) out += double(y[2 * i]) * y[2 * i];
      }
      if (block == 0 && first) *first = y;
    }
    return 10 * std::log10(out / in);
  };
  for (double hz : {100.0, 1000.0, 10000.0, 19000.0}) EXPECT_NEAR(gain(hz, nullptr), 0, 0.05) << hz;
  for (double hz : {24200.0, 30000.0, 40000.0}) EXPECT_LT(gain(hz, nullptr), -65) << hz;
  std::vector<float> impulse;
  gain(0, &impulse);
  const auto peak = std::max_element(impulse.begin(), impulse.end()) - impulse.begin();
  EXPECT_EQ(peak, 2 * (100 + HalfBandDecimator::kDelayFrames));
}

TEST(AudioEngine, TheAudioThreadReadsNoSoundFontAllocatesNothingAndAFullQueueIsReported) {
  TempDir dir;
  EngineSoundOutput output(44100);
  FluidSynthOutput synth(&output, {kTestSoundFont});
  SamplePlayer samples(output);
  samples.listDevices();
  const std::string click =
      writeFile(dir.path("click.wav"), waveBytes(clickValues(44100), 44100, 1, 16));
  MidiHandle handle = 0;
  ASSERT_EQ(synth.open(kMidiMapperId, &handle), midi_result::kOk);
  const int opensBefore = soundFontOpensOnAudioThread();
  // Every program on a channel of its own, then a hit and a sample on each: the kits were
  // read at load and the sample decoded when it was handed over.
  const auto epoch = std::chrono::steady_clock::now();
  output.engine().setEpoch(epoch);
  for (std::uint32_t program = 0; program < 128; ++program) {
    const std::uint32_t channel = program % 16;
    const auto due = epoch + milliseconds(20 * program);
    ASSERT_EQ(synth.sendShortAt(handle, kProgramChange + channel + (program << 8), due), 0);
    ASSERT_EQ(synth.sendShortAt(handle, kNoteOn + channel + (38u << 8) + (100u << 16), due), 0);
    if (program % 8 == 0) samples.PlayB(click, 10, 0, due);
  }
  // Rendered as a device's callback renders, its blocks entered on time.
  const int frames = 44100 * 3;
  std::vector<std::int16_t> pcm(2 * frames);
  resetAllocationsCounted();
  countAllocationsHere(true);
  for (int done = 0; done < frames; done += 256) {
    output.engine().renderLive(pcm.data() + 2 * done, std::min(256, frames - done),
                               epoch + std::chrono::microseconds(done * 1000000LL / 44100));
  }
  countAllocationsHere(false);
  EXPECT_EQ(allocationsCounted(), 0);
  // Nor does it lock: not even the synthesiser's own mutex, on each message and render.
  EXPECT_EQ(locksCounted(), 0) << (mutexCounted() ? "" : "(locks not counted)");
  EXPECT_TRUE(std::any_of(pcm.begin(), pcm.end(), [](std::int16_t v) { return v > 3000; }));
  EXPECT_EQ(soundFontOpensOnAudioThread(), opensBefore);

  // Nothing renders now: the queue fills, and the message that does not fit is refused.
  int sent = 0;
  while (synth.sendShortAt(handle, kNoteOn + (36u << 8) + (100u << 16), epoch) == 0) {
    ASSERT_LT(++sent, 100000);
  }
  EXPECT_GT(sent, 1000);
}

// A device paced by the system's sleeps, as SDL's disk driver is: 7 % fast, its pace
// wandering by 3 % over seconds, its callbacks entered up to 2 ms late and now and then
// two at once. Hits handed over 40 ms ahead at times of the device's own clock land
// exactly their spacing apart in the frames it plays, whatever the estimate of its pace.
TEST(AudioEngine, HitsPacedByTheDeviceKeepTheirSpacingInItsFrames) {
  constexpr int kRate = 44100, kBlock = 256, kHits = 40;
  AudioEngine engine(kRate);
  engine.setDevicePaced(true);
  engine.setLatency(std::chrono::nanoseconds(kBlock * 1000000000LL / kRate) + milliseconds(2));
  auto click = std::make_shared<PcmSample>();
  click->channels = 1;
  click->pcm.assign(64, 16000);
  auto at = [](double seconds) {
    return DueTime(
        std::chrono::duration_cast<DueTime::duration>(std::chrono::duration<double>(seconds)));
  };
  std::vector<std::int16_t> pcm(2 * kBlock);
  std::vector<long> found;
  double ideal = 1000.0;  // steady seconds at which the next block is due
  std::optional<DueTime> first;
  int posted = 0;
  for (long block = 0; found.size() < kHits && block < 5000; ++block) {
    const double wander = 1 + 0.03 * std::sin(2 * M_PI * static_cast<double>(block) / 700);
    ideal += kBlock / (kRate * 1.07) * wander;
    const bool burst = block % 97 == 1;
    const double late = burst ? 0 : 0.002 * ((block * 7919) % 11) / 10.0;
    const double entered = ideal + late;
    // The producer: the device's time from the engine's estimate, as a playback clock has it.
    if (block == 100) first = engine.deviceTimeAt(at(entered)) + milliseconds(100);
    while (first && posted < kHits &&
           engine.steadyTimeOf(*first + posted * milliseconds(200)) - milliseconds(40) <=
               at(entered)) {
      engine.postSample(0, click, 1, 1, When::at(*first + posted * milliseconds(200)));
      ++posted;
    }
    for (int call = 0; call < (burst ? 2 : 1); ++call) {
      engine.renderLive(pcm.data(), kBlock, at(entered + call * 0.0001));
      for (int i = 0; i < kBlock; ++i) {
        const long frame = engine.position() - kBlock + i;
        if (pcm[2 * i] != 0 && (found.empty() || frame - found.back() > 1000)) {
          found.push_back(frame);
        }
      }
    }
  }
  ASSERT_EQ(found.size(), static_cast<std::size_t>(kHits));
  for (std::size_t i = 1; i < found.size(); ++i) EXPECT_EQ(found[i] - found[i - 1], 8820) << i;
  EXPECT_EQ(engine.lateEvents(), 0u);
}

// A synthesiser that counts the renders it gets after it was replaced. It watches for a
// while during each render, so a render that began with it as setSynth returned is seen.
class CheckedSynth : public SynthSource {
 public:
  explicit CheckedSynth(std::atomic<int>& lateCalls) : lateCalls_(lateCalls) {}
  void render(float* stereo, int frames) override {
    for (int i = 0; i < 300; ++i) {
      if (!live.load()) {
        lateCalls_.fetch_add(1);
        break;
      }
    }
    std::fill(stereo, stereo + 2 * frames, 0.0f);
  }
  void apply(std::uint32_t) override {}
  std::atomic<bool> live{true};

 private:
  std::atomic<int>& lateCalls_;
};

// Short renders back to back against setSynth called as fast as it returns, for up to two
// seconds, so that a render often starts just as a synthesiser is stored. Before each
// call the test writes a value the render thread keeps reading, which keeps the store
// waiting in the processor's store buffer: a handshake that lets the counter read pass
// that store (a release store on x86) is then caught many times a second.
TEST(AudioEngine, AReplacedSynthesiserIsNeverRenderedOnceSetSynthReturns) {
  AudioEngine engine(44100);
  std::atomic<int> lateCalls{0};
  std::atomic<bool> done{false};
  std::atomic<int> traffic{0};
  std::atomic<int> sink{0};
  std::thread audio([&] {
    std::vector<float> block(2 * 16);
    while (!done.load()) {
      engine.renderOffline(block.data(), 16);
      unsigned sum = 0;
      for (int i = 0; i < 1000; ++i) sum += traffic.load(std::memory_order_relaxed);
      sink.store(static_cast<int>(sum & 0xFFFF), std::memory_order_relaxed);
    }
  });
  while (engine.position() == 0) std::this_thread::yield();
  // Kept, not freed, so that a late render is counted instead of undefined; each stays
  // replaced for many rounds before it is used again.
  std::vector<std::unique_ptr<CheckedSynth>> synths;
  for (int i = 0; i < 1024; ++i) synths.push_back(std::make_unique<CheckedSynth>(lateCalls));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (std::size_t i = 0;
       i < 50'000'000 &&
       (i % 4096 != 0 || (lateCalls.load() == 0 && std::chrono::steady_clock::now() < end));
       ++i) {
    CheckedSynth* next = synths[i % synths.size()].get();
    CheckedSynth* previous = synths[(i + synths.size() - 1) % synths.size()].get();
    next->live.store(true);
    traffic.store(static_cast<int>(i), std::memory_order_relaxed);
    engine.setSynth(next);
    previous->live.store(false);
  }
  engine.setSynth(nullptr);
  for (auto& synth : synths) synth->live.store(false);
  done.store(true);
  audio.join();
  EXPECT_EQ(lateCalls.load(), 0);
}

// Constant-valued samples make the mix easy to read.
std::shared_ptr<const PcmSample> dc(int value, int frames) {
  auto s = std::make_shared<PcmSample>();
  s->channels = 1;
  s->pcm.assign(frames, static_cast<std::int16_t>(value));
  return s;
}

TEST(AudioEngine, SlotsCutTheirOwnSampleAndMixWithOthers) {
  AudioEngine engine(44100);
  std::weak_ptr<const PcmSample> first;
  {
    auto a = dc(8192, 1000);
    first = a;
    engine.postSample(3, a, 1.0f, 0.5f, When::atFrame(10));
  }
  engine.postSample(3, dc(4096, 100), 1.0f, 1.0f, When::atFrame(500));  // cuts the first
  engine.postSample(4, dc(2048, 2000), 1.0f, 1.0f, When::atFrame(0));   // mixes
  engine.postMessage(0x90, When::now());                                // no synthesiser: ignored
  const std::vector<float> pcm = render(engine, 3000);
  auto left = [&](int f) { return std::lround(pcm[2 * f] * 32768); };
  auto right = [&](int f) { return std::lround(pcm[2 * f + 1] * 32768); };
  EXPECT_EQ(left(5), 2048);
  EXPECT_EQ(left(10), 8192 + 2048);
  EXPECT_EQ(right(10), 4096 + 2048);
  EXPECT_EQ(left(499), 8192 + 2048);
  EXPECT_EQ(left(500), 4096 + 2048);
  EXPECT_EQ(left(600), 2048);  // the second ended; the first does not come back
  EXPECT_EQ(left(2000), 0);
  EXPECT_FALSE(engine.samplesBusy());
  // The engine handed the finished samples back; the next post releases them.
  engine.collect();
  EXPECT_TRUE(first.expired());

  // A late event goes at the block's first frame; a stale note is dropped.
  engine.postSample(0, dc(100, 10), 1, 1, When::atFrame(1000));
  EXPECT_EQ(std::lround(render(engine, 1)[0] * 32768), 100);
}

TEST(AudioEngine, QueuesKeepEveryItemAcrossThreads) {
  BoundedQueue<int> queue(64);
  constexpr int kEach = 20000;
  std::atomic<bool> go{false};
  auto producer = [&](int base) {
    while (!go) {
    }
    for (int i = 0; i < kEach; ++i) {
      while (!queue.push(base + i)) std::this_thread::yield();
    }
  };
  std::thread a(producer, 0), b(producer, kEach);
  go = true;
  std::vector<int> got;
  int lastA = -1, lastB = kEach - 1;
  bool ordered = true;
  while (got.size() < 2u * kEach) {
    int v;
    if (!queue.pop(v)) continue;
    got.push_back(v);
    int& last = v < kEach ? lastA : lastB;
    ordered = ordered && v > last;
    last = v;
  }
  a.join();
  b.join();
  int v;
  EXPECT_FALSE(queue.pop(v));
  EXPECT_TRUE(ordered);  // each producer's items in its own order
  EXPECT_EQ(std::set<int>(got.begin(), got.end()).size(), 2u * kEach);

  // Samples posted from two threads while a third renders: every one sounds once.
  AudioEngine engine(44100, 256);
  std::atomic<bool> done{false};
  std::atomic<int> posted{0};
  auto poster = [&](int slot) {
    for (int i = 0; i < 200; ++i) {
      while (engine.slotBusy(slot)) std::this_thread::yield();  // none cut by the next
      if (engine.postSample(slot, dc(1000, 5), 1, 1, When::now())) ++posted;
    }
  };
  std::thread p1(poster, 1), p2(poster, 2);
  double sounded = 0;
  std::vector<float> block(2 * 64);
  std::thread renderer([&] {
    while (!done || engine.samplesBusy()) {
      engine.renderOffline(block.data(), 64);
      for (int i = 0; i < 64; ++i) sounded += block[2 * i] * 32768.0 / 1000.0;
    }
  });
  p1.join();
  p2.join();
  done = true;
  renderer.join();
  EXPECT_EQ(posted, 400);
  EXPECT_NEAR(sounded, 5.0 * posted, 0.01);
}

TEST(AudioEngine, DecodedSamplesKeepTheirConvertedSizeAndTheCacheIsBounded) {
  TempDir dir;
  // 8-bit mono at 11025 Hz, one second: 11 kB becomes 44100 16-bit frames, kept mono.
  std::vector<int> values(11025);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = (i % 50 < 25) ? 12000 : -12000;
  auto sample = decodeWave(waveBytes(values, 11025, 1, 8), 44100);
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->channels, 1);
  EXPECT_NEAR(static_cast<double>(sample->frames()), 44100, 64);
  EXPECT_LE(sample->memoryBytes(), 44100 * 2 * 105 / 100);
  // Stereo 16-bit at 48 kHz made 44.1 kHz.
  auto stereo = decodeWave(waveBytes(std::vector<int>(2 * 4800, 1000), 48000, 2, 16), 44100);
  ASSERT_TRUE(stereo);
  EXPECT_EQ(stereo->channels, 2);
  EXPECT_NEAR(static_cast<double>(stereo->frames()), 4410, 32);
  EXPECT_FALSE(decodeWave("RIFF....WAVEjunk", 44100));

  // Cache: 1 kB files against a 3 kB limit, least recently used first, the song kept.
  NullSoundOutput output({"Speakers"});
  SamplePlayer player(output);
  player.listDevices();
  std::vector<std::string> notices;
  player.setNotice([&](const std::string& text) { notices.push_back(text); });
  player.setMemoryLimit(3000);
  std::vector<std::string> files;
  for (int i = 0; i < 8; ++i) {
    files.push_back(writeFile(dir.path("s" + std::to_string(i) + ".wav"),
                              waveBytes(std::vector<int>(488, 0), 44100, 1, 16)));  // 1020 bytes
  }
  auto file = [&](int i) { return files[i]; };
  player.preloadSong({file(0), file(1)});
  for (int i = 2; i < 8; ++i) player.PlayB(file(i), 10, 0);
  EXPECT_LE(player.cachedBytes(), 3000u);
  player.PlayB(file(0), 10, 0);
  player.PlayB(file(1), 10, 0);
  EXPECT_EQ(output.decodes(), 8);  // the song's samples were never dropped
  player.PlayB(file(2), 10, 0);
  EXPECT_EQ(output.decodes(), 9);  // an old one was
  EXPECT_TRUE(notices.empty());
  player.preloadSong({file(0), file(1), file(2), file(3)});
  EXPECT_GT(player.cachedBytes(), 3000u);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("more than"), std::string::npos);

  // A skipped sample is reported once per Play, naming the file.
  notices.clear();
  player.beginPlay();
  for (int i = 0; i < 3; ++i) player.PlayB(dir.path("missing.wav"), 10, 0);
  player.beginPlay();
  player.PlayB(dir.path("gone.wav"), 10, 0);
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[1].find("gone.wav"), std::string::npos);
}

}  // namespace
}  // namespace pulsewright
