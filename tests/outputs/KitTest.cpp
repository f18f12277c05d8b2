// Drum kits end to end: a tiny Hydrogen kit made here (samples of several rates, depths
// and formats), rendered through pulsewright-cli and read back with libsndfile; and the
// kit's voices on the audio thread, which allocate nothing and free no kit in use.

#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "AudioTestUtil.h"
#include "kits/KitLibrary.h"
#include "kits/KitLoader.h"
#include "kits/KitVoiceFile.h"
#include "platform/EngineSoundOutput.h"
#include "platform/FluidSynthOutput.h"
#include "platform/ShortMessage.h"
#include "tests/support/CliRun.h"
#include "tests/support/CountedAllocations.h"
#include "tests/support/TinyKit.h"
#include "tests/support/TinySoundFont.h"

namespace pulsewright {
namespace {

using namespace test;

constexpr int kRate = 44100;
constexpr long kStep = kRate / 2;  // a quarter note at 120 beats a minute

class Kits : public ::testing::Test {
 protected:
  void SetUp() override {
    makeTinyKit(dir_.path("kits/tiny"));
    std::filesystem::create_directories(dir_.path("kits/broken"));
    writeFile(dir_.path("kits/broken/drumkit.xml"), "<drumkit_info><name>Broken</name>");
    std::filesystem::create_directories(dir_.path("kits/empty"));
    ::setenv(kKitsVariable, dir_.path("kits").c_str(), 1);
    // Where the window keeps voice maps: this test's own, never the user's.
    ::setenv("XDG_DATA_HOME", dir_.path("data").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv(kKitsVariable);
    ::unsetenv("XDG_DATA_HOME");
  }
  TempDir dir_;
};

std::vector<float> readChannel(const std::string& path, int channel) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f || channel >= info.channels) return {};
  std::vector<float> stereo(static_cast<std::size_t>(info.frames) * info.channels);
  sf_readf_float(f, stereo.data(), info.frames);
  sf_close(f);
  std::vector<float> out;
  for (std::size_t i = static_cast<std::size_t>(channel); i < stereo.size();
       i += static_cast<std::size_t>(info.channels)) {
    out.push_back(stereo[i]);
  }
  return out;
}

std::vector<float> readLeft(const std::string& path) {
  return readChannel(path, 0);
}

// The root-mean-square level of `frames` frames from `from` (what the file holds of them).
double levelOf(const std::vector<float>& audio, long from, long frames) {
  double sum = 0;
  for (long i = from; i < from + frames && i < static_cast<long>(audio.size()); ++i) {
    sum += double(audio[static_cast<std::size_t>(i)]) * audio[static_cast<std::size_t>(i)];
  }
  return std::sqrt(sum / static_cast<double>(frames));
}

// How alike the rendered frames are to `tone` started at `frame`, over `frames` frames
// from `skip` frames into it.
double correlation(const std::vector<float>& audio, long frame, const Tone& tone, long frames,
                   long skip = 0) {
  double xy = 0, xx = 0, yy = 0;
  for (long i = skip; i < skip + frames && frame + i < static_cast<long>(audio.size()); ++i) {
    const double x = audio[static_cast<std::size_t>(frame + i)], y = tone.at(double(i) / kRate);
    xy += x * y, xx += x * x, yy += y * y;
  }
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

constexpr char kSong[] =
    "k = kick\ns = snare\nh = closed hat\noh = open hat\nr = ride\n"
    "part = A tempo = 120 notes = 4\n"
    "k  |1-9-|----|----|\n"
    "s  |----|-x-x|----|\n"
    "oh |----|----|x---|\n"
    "h  |----|----|-x--|\n"
    "r  |----|----|---x|\n"
    "song = A\n";

TEST_F(Kits, ARenderPlaysEachHitsLayerAtItsFrameChokesTheHatAndSaysWhatItLeftOut) {
  const std::string doc = writeFile(dir_.path("song.tab"), kSong);
  const std::string out = dir_.path("kit.wav");
  const CliRun run = cli({"render", doc, "-o", out, "--kit", "tiny test kit"});
  ASSERT_EQ(run.status, 0) << run.err;
  // What could not load is named once with its instrument; the voice the kit lacks too.
  EXPECT_NE(run.err.find("Tiny Test Kit: Tom Hi: tom-gone.wav left out: the file is missing"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("Crash: crash.wav left out: it cannot be decoded"), std::string::npos);
  EXPECT_NE(run.err.find("Tiny Test Kit has no instrument for Ride: the General MIDI "
                         "synthesiser plays it"),
            std::string::npos);
  const std::vector<float> audio = readLeft(out);
  ASSERT_GT(audio.size(), static_cast<std::size_t>(12 * kStep));

  // Level 1 and level 9 kicks: each its own layer, at its exact frame.
  EXPECT_GE(correlation(audio, 0, kSoftKick, 8000), 0.99);
  EXPECT_LT(correlation(audio, 0, kHardKick, 8000), 0.5);
  EXPECT_GE(correlation(audio, 2 * kStep, kHardKick, 8000), 0.99);
  // Two samples in one range take turns (Ogg, then 96 kHz float WAV).
  EXPECT_GE(correlation(audio, 5 * kStep, kSnareA, 8000), 0.99);
  EXPECT_GE(correlation(audio, 7 * kStep, kSnareB, 8000), 0.99);
  EXPECT_GE(correlation(audio, 8 * kStep, kOpenHat, 4000), 0.99);
  // The closed hat cuts the open one: within one 256-frame block only it sounds.
  const long closed = 9 * kStep;
  EXPECT_GE(correlation(audio, closed, kClosedHat, 4000, 256), 0.999);
  // What is left once the closed hat, scaled as rendered, is taken away.
  double open = 0, xy = 0, yy = 0;
  for (long i = 0; i < 4000; ++i) {
    open += std::pow(audio[static_cast<std::size_t>(closed - 4000 + i)], 2);
    const double y = kClosedHat.at(double(256 + i) / kRate);
    xy += audio[static_cast<std::size_t>(closed + 256 + i)] * y, yy += y * y;
  }
  double after = 0;
  for (long i = 0; i < 4000; ++i) {
    after += std::pow(audio[static_cast<std::size_t>(closed + 256 + i)] -
                          xy / yy * kClosedHat.at(double(256 + i) / kRate),
                      2);
  }
  EXPECT_LT(after / open, 1e-4);

  // The document may name its kit itself; the same frames come out.
  const std::string named =
      writeFile(dir_.path("named.tab"), std::string("meta kit = Tiny Test Kit\n") + kSong);
  const std::string out2 = dir_.path("named.wav");
  ASSERT_EQ(cli({"render", named, "-o", out2}).status, 0);
  EXPECT_EQ(readLeft(out2), audio);
  // ...and compiles to the same song as without the line.
  EXPECT_EQ(cli({"compile", named}).out, cli({"compile", doc}).out);
}

// The document's mixer, read by render: the snare 6 dB down and hard left, the ride (a
// voice the synthesiser plays) muted, the kick as it was; and the song it compiles to is
// the one without the line. A voice map kept as the window keeps it plays in the CLI too.
TEST_F(Kits, RenderAppliesTheDocumentsMixAndTheVoiceMapKeptBesideThePadMaps) {
  const std::string plainDoc = writeFile(dir_.path("song.tab"), kSong);
  const std::string mixedDoc =
      writeFile(dir_.path("mixed.tab"),
                std::string("meta mix = Snare Drum -6 dB pan -100; Ride mute\n") + kSong);
  ASSERT_EQ(
      cli({"render", plainDoc, "-o", dir_.path("plain.wav"), "--kit", "Tiny Test Kit"}).status, 0);
  const CliRun mixed =
      cli({"render", mixedDoc, "-o", dir_.path("mixed.wav"), "--kit", "Tiny Test Kit"});
  ASSERT_EQ(mixed.status, 0) << mixed.err;
  const std::vector<float> plainLeft = readChannel(dir_.path("plain.wav"), 0);
  const std::vector<float> mixedLeft = readChannel(dir_.path("mixed.wav"), 0);
  const std::vector<float> mixedRight = readChannel(dir_.path("mixed.wav"), 1);
  ASSERT_GT(plainLeft.size(), static_cast<std::size_t>(12 * kStep));
  ASSERT_GT(mixedLeft.size(), static_cast<std::size_t>(8 * kStep));
  const long snare = 5 * kStep, ride = 11 * kStep;
  EXPECT_NEAR(levelOf(mixedLeft, 0, 8000) / levelOf(plainLeft, 0, 8000), 1.0, 1e-6);
  EXPECT_NEAR(levelOf(mixedLeft, snare, 8000) / levelOf(plainLeft, snare, 8000),
              std::pow(10.0, -6.0 / 20), 1e-3);
  // Silent but for the 16-bit file's last bit.
  EXPECT_LT(levelOf(mixedRight, snare, 8000), 1e-3 * levelOf(plainLeft, snare, 8000));
  EXPECT_GT(levelOf(plainLeft, ride, 8000), 1e-3);
  EXPECT_LT(levelOf(mixedLeft, ride, 8000), 1e-2 * levelOf(plainLeft, ride, 8000));
  EXPECT_EQ(cli({"compile", mixedDoc}).out, cli({"compile", plainDoc}).out);

  // The snare played on the kick's samples, the kick sent to the synthesiser.
  std::string problem;
  const std::optional<KitInfo> kit = readHydrogenKit(dir_.path("kits/tiny"), &problem);
  ASSERT_TRUE(kit) << problem;
  KitVoiceMap chosen;
  chosen.fill(-1);
  chosen[index(DrumVoice::SnareDrum)] = 0;
  chosen[index(DrumVoice::BassDrum)] = kKitVoiceSynthesiser;
  ASSERT_TRUE(writeKitVoiceChoices(defaultPadMapFolder(), *kit, chosen, &problem)) << problem;
  const CliRun remapped =
      cli({"render", plainDoc, "-o", dir_.path("remapped.wav"), "--kit", "Tiny Test Kit"});
  ASSERT_EQ(remapped.status, 0) << remapped.err;
  EXPECT_NE(remapped.err.find("Tiny Test Kit has no instrument for Bass Drum and Ride: the General "
                              "MIDI synthesiser plays them"),
            std::string::npos)
      << remapped.err;
  const std::vector<float> audio = readLeft(dir_.path("remapped.wav"));
  EXPECT_GE(std::max(correlation(audio, snare, kSoftKick, 8000),
                     correlation(audio, snare, kHardKick, 8000)),
            0.99);
}

// The best likeness of the tiny sound font's tone to the audio from `frame`, the tone
// starting up to 400 frames either side (the synthesiser's blocks and its decimator).
double soundFontLikeness(const std::vector<float>& audio, long frame, double hz) {
  double best = 0;
  for (long lag = -400; lag < 400; ++lag) {
    double xy = 0, xx = 0, yy = 0;
    if (frame + lag < 0) continue;
    for (long i = 0; i < kRate / 10 && frame + lag + i < static_cast<long>(audio.size()); ++i) {
      const double x = audio[static_cast<std::size_t>(frame + lag + i)];
      const double y = tinySoundFontTone(hz, double(i) / kRate);
      xy += x * y, xx += x * x, yy += y * y;
    }
    if (xx > 0) best = std::max(best, xy / std::sqrt(xx * yy));
  }
  return best;
}

// An SF2 kit plays its preset in render; the synthesiser takes the mixer's gain and pan
// (a voice louder than the sound font has it too); and a synthesiser closed between songs
// switches to a sound-font kit and back, or keeps the General MIDI font when the kit's
// font cannot load.
TEST_F(Kits, SoundFontKitsAndTheMixerPlayOnTheSynthesiser) {
  writeTinySoundFont(dir_.path("kits/tiny.sf2"), "Tiny SF2 Kit", 500);
  const std::string plainDoc = writeFile(dir_.path("song.tab"), kSong);
  const CliRun onKit =
      cli({"render", plainDoc, "-o", dir_.path("sf2.wav"), "--kit", "Tiny SF2 Kit"});
  ASSERT_EQ(onKit.status, 0) << onKit.err;
  EXPECT_GT(soundFontLikeness(readLeft(dir_.path("sf2.wav")), 5 * kStep, 500), 0.9);

  const std::string mixedDoc =
      writeFile(dir_.path("mixed.tab"),
                std::string("meta mix = Snare Drum 6 dB; Ride -12 dB pan -100\n") + kSong);
  ASSERT_EQ(cli({"render", plainDoc, "-o", dir_.path("gm.wav")}).status, 0);
  ASSERT_EQ(cli({"render", mixedDoc, "-o", dir_.path("gm-mixed.wav")}).status, 0);
  std::vector<float> plain[2], mixed[2];
  for (int c = 0; c < 2; ++c) {
    plain[c] = readChannel(dir_.path("gm.wav"), c);
    mixed[c] = readChannel(dir_.path("gm-mixed.wav"), c);
  }
  const long snare = 5 * kStep;
  for (int c = 0; c < 2; ++c) {
    EXPECT_NEAR(levelOf(mixed[c], 0, 8000) / levelOf(plain[c], 0, 8000), 1.0, 0.02) << c;
    EXPECT_NEAR(levelOf(mixed[c], snare, 8000) / levelOf(plain[c], snare, 8000), 2.0, 0.06) << c;
  }
  // A ride alone, 12 dB down and to the left, as a balance turns the right side down: what
  // is left on the right is its reverb.
  const char kRide[] = "r = ride\npart = A tempo = 120 notes = 4\nr |x---|\nsong = A\n";
  ASSERT_EQ(
      cli({"render", writeFile(dir_.path("ride.tab"), kRide), "-o", dir_.path("ride.wav")}).status,
      0);
  ASSERT_EQ(cli({"render",
                 writeFile(dir_.path("ride-mixed.tab"),
                           std::string("meta mix = Ride -12 dB pan -100\n") + kRide),
                 "-o", dir_.path("ride-mixed.wav")})
                .status,
            0);
  const double rideLeft = levelOf(readChannel(dir_.path("ride-mixed.wav"), 0), 0, 8000) /
                          levelOf(readChannel(dir_.path("ride.wav"), 0), 0, 8000);
  const double rideRight = levelOf(readChannel(dir_.path("ride-mixed.wav"), 1), 0, 8000) /
                           levelOf(readChannel(dir_.path("ride.wav"), 1), 0, 8000);
  EXPECT_NEAR(rideLeft, 0.25, 0.02);
  EXPECT_LT(rideRight, 0.1);

  EngineSoundOutput output(kRate);
  FluidSynthOutput synth(&output, {kTestSoundFont});
  MidiHandle handle = 0;
  ASSERT_EQ(synth.open(kMidiMapperId, &handle), midi_result::kOk);
  EXPECT_FALSE(synth.useSoundFontKit(dir_.path("kits/tiny.sf2"), 0, 0));  // not while open
  synth.close(handle);
  ASSERT_TRUE(synth.useSoundFontKit(dir_.path("kits/tiny.sf2"), 0, 0));
  ASSERT_EQ(synth.open(kMidiMapperId, &handle), midi_result::kOk);
  const auto epoch = std::chrono::steady_clock::now();
  output.engine().setEpoch(epoch);
  synth.sendShortAt(handle, kNoteOn + (38u << 8) + (100u << 16), epoch);
  std::vector<float> block(2 * kRate / 4);
  output.engine().renderOffline(block.data(), kRate / 4);
  std::vector<float> heard;
  for (std::size_t i = 0; i < block.size(); i += 2) heard.push_back(block[i]);
  EXPECT_GT(soundFontLikeness(heard, 0, 500), 0.9);
  synth.close(handle);
  EXPECT_FALSE(synth.useSoundFontKit(dir_.path("kits/none.sf2"), 0, 0));
  EXPECT_EQ(synth.soundFont(), kTestSoundFont);
  ASSERT_TRUE(synth.useSoundFontKit("", 0, 0));
  EXPECT_EQ(synth.soundFont(), kTestSoundFont);
}

TEST_F(Kits, KitsAreListedAndAnUnknownKitExitsWithTheList) {
  const CliRun list = cli({"kits"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("Tiny Test Kit: Hydrogen kit, 6 instruments, 8 layers, licence CC0, in " +
                          dir_.path("kits/tiny")),
            std::string::npos)
      << list.out;
  // A folder without a kit description, and one that is not well-formed, are said.
  EXPECT_NE(list.err.find("kits/empty/drumkit.xml"), std::string::npos) << list.err;
  EXPECT_NE(list.err.find("kits/broken/drumkit.xml: not well-formed XML"), std::string::npos);

  const std::string doc = writeFile(dir_.path("song.tab"), kSong);
  const CliRun unknown = cli({"render", doc, "-o", dir_.path("x.wav"), "--kit", "No Such Kit"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--kit: no kit is called \"No Such Kit\"; the kits found:\n"),
            std::string::npos)
      << unknown.err;
  EXPECT_NE(unknown.err.find("  Tiny Test Kit: Hydrogen kit"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.path("x.wav")));
}

TEST_F(Kits, AKitOverTheMemoryBudgetLoadsWhatFitsAndNamesWhatItLeftOut) {
  std::string problem;
  const std::optional<KitInfo> kit = readHydrogenKit(dir_.path("kits/tiny"), &problem);
  ASSERT_TRUE(kit) << problem;
  KitLoadOptions options;
  options.memoryBudget = 200 << 10;  // the kicks fit, the rest does not
  KitLoader loader(*kit, options);
  const KitLoadResult result = loader.take();
  EXPECT_EQ(loader.progress(), 1.0);
  ASSERT_TRUE(result.sound);
  EXPECT_LE(result.bytes, options.memoryBudget);
  EXPECT_EQ(result.samplesLoaded, 2);
  EXPECT_NE(result.problems[0].find("Test Snare: snare-a.ogg left out: it would take"),
            std::string::npos)
      << result.problems[0];
  EXPECT_EQ(result.problems.back(),
            "Tiny Test Kit: 4 samples left out: the kit takes more than the 0.2 MB kept for "
            "samples");
  // The kick plays from the kit; the snare, left with no sample, from the synthesiser.
  EXPECT_GE(result.voices[index(DrumVoice::BassDrum)], 0);
  EXPECT_EQ(result.voices[index(DrumVoice::SnareDrum)], -1);
  EXPECT_EQ(result.sound->instrumentOfNote[38], -1);
}

// What the command prints, readable while it still runs.
class SharedText : public std::streambuf {
 public:
  std::string text() {
    std::lock_guard lock(mutex_);
    return text_;
  }
  // Waits up to a minute (a slow sanitizer build) for `words` to be printed.
  bool waitFor(const std::string& words) {
    for (int i = 0; i < 6000; ++i) {
      if (text().find(words) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    std::lock_guard lock(mutex_);
    text_ += static_cast<char>(c);
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::lock_guard lock(mutex_);
    text_.append(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  std::mutex mutex_;
  std::string text_;
};

// A save of the document that names another kit while it plays: the new kit is loaded
// beside the playing one and takes over; a name that matches nothing changes nothing.
// Each save waits for what the one before printed, so a slow machine only takes longer.
TEST_F(Kits, ASaveNamingAnotherKitPlaysOnItFromThenOn) {
  makeTinyKit(dir_.path("kits/other"), "Other Test Kit");
  const std::string raw = dir_.path("out.raw");
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  const std::string body = "k = kick\npart = A tempo = 240 notes = 4\nk |x-x-|\nsong = A\n";
  const std::string doc = writeFile(dir_.path("live.tab"), "meta kit = Tiny Test Kit\n" + body);
  SharedText said;
  std::ostream err(&said);
  std::ostringstream out;
  std::istringstream in;
  int status = -1;
  // A minute of music at most; the test ends it once the last save has taken over.
  std::thread player([&] {
    status = runCli({"play", doc, "--watch", "--loop", "60"}, in, out, err);
  });
  // The device plays once the saves are watched.
  bool sounding = false;
  for (int i = 0; i < 6000 && !sounding; ++i) {
    std::error_code ec;
    sounding = std::filesystem::file_size(raw, ec) > 0 && !ec;
    if (!sounding) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(sounding);
  writeFile(doc, "meta kit = No Such Kit\n" + body);
  EXPECT_TRUE(said.waitFor("the kit played before plays on")) << said.text();
  writeFile(doc, "meta kit = Other Test Kit\n" + body);
  EXPECT_TRUE(said.waitFor("now playing on Other Test Kit")) << said.text();
  ::kill(::getpid(), SIGTERM);  // stops the play as Ctrl+C does
  player.join();
  ::unsetenv("SDL_AUDIODRIVER");
  EXPECT_EQ(status, 128 + SIGTERM) << said.text();
  EXPECT_NE(said.text().find("no kit is called \"No Such Kit\""), std::string::npos);
}

TEST(KitVoiceMap, VoicesFindTheirInstrumentsByNameUnlessTheKitGivesRealNotes) {
  KitInfo kit;
  for (const char* name :
       {"Pearl Kick",          "Pearl Side Stick", "Pearl Snare",          "Hand Clap",
        "Pearl Snare Rimshot", "Pearl Tom Floor",  "Sabian Hat Closed",    "Pearl Tom 2",
        "Sabian Hat Pedal",    "Pearl Tom 1",      "Sabian Hat Semi-Open", "Sabian Hat Open",
        "Sabian Hat Choke",    "Cowbell",          "Paiste Ride",          "Paiste Bell",
        "Paiste Ride Flink",   "Sabian Crash",     "Sabian Crash Flink",   "Zildjian Splash"}) {
    KitInstrumentInfo i;
    i.name = name;
    i.midiNote = 60;  // one note for all: no note of its own
    i.layers.resize(1);
    kit.instruments.push_back(i);
  }
  EXPECT_FALSE(kitGivesNotes(kit));
  const KitVoiceMap map = mapKitVoices(kit);
  auto nameOf = [&](DrumVoice v) {
    const int i = map[index(v)];
    return i < 0 ? std::string("-") : kit.instruments[static_cast<std::size_t>(i)].name;
  };
  using V = DrumVoice;
  const std::pair<V, const char*> expected[] = {{V::BassDrum, "Pearl Kick"},
                                                {V::SnareDrum, "Pearl Snare"},
                                                {V::ClosedHat, "Sabian Hat Closed"},
                                                {V::PedalHat, "Sabian Hat Pedal"},
                                                {V::OpenHat, "Sabian Hat Open"},
                                                {V::Tom1, "Pearl Tom 1"},
                                                {V::Tom2, "Pearl Tom 2"},
                                                {V::Tom4, "Pearl Tom Floor"},
                                                {V::Ride, "Paiste Ride"},
                                                {V::Bell, "Paiste Bell"},
                                                {V::Crash1, "Sabian Crash"},
                                                {V::Crash2, "Sabian Crash Flink"},
                                                {V::Claps, "Hand Clap"},
                                                {V::CowBell, "Cowbell"},
                                                {V::Perc1, "-"}};
  for (const auto& [voice, name] : expected) {
    EXPECT_EQ(nameOf(voice), name) << kVoiceCaptions[index(voice)];
  }
  // Real notes win over names: note 36 is the kick whatever it is called.
  for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
    kit.instruments[i].midiNote = static_cast<int>(70 + i);
  }
  kit.instruments[3].midiNote = 36;  // "Hand Clap"
  EXPECT_TRUE(kitGivesNotes(kit));
  EXPECT_EQ(mapKitVoices(kit)[index(V::BassDrum)], 3);
}

// A kit of one long mono sample on every note, for the audio thread's tests.
std::shared_ptr<KitSound> droneKit(float level, int groupOfHats) {
  auto kit = std::make_shared<KitSound>();
  kit->samples.resize(1);
  kit->samples[0].pcm.assign(kRate * 2, level);
  for (int note = 0; note < 128; ++note) {
    KitInstrument i;
    i.layers.push_back({0, 1, 1, 0});
    if (note == 42 || note == 46) i.muteGroup = groupOfHats;
    kit->instruments.push_back(i);
    if (kit->instruments.size() == KitSound::kMaxInstruments) break;
  }
  for (int note = 0; note < 128; ++note)
    kit->instrumentOfNote[note] = static_cast<std::int16_t>(note);
  return kit;
}

TEST(KitVoices, TheAudioThreadAllocatesNothingKeepsTheLimitAndFreesNoKitInUse) {
  EngineSoundOutput output(kRate);
  FluidSynthOutput synth(&output, {kTestSoundFont});
  std::shared_ptr<KitSound> first = droneKit(0.001f, 0);
  // One note left to the synthesiser, mixed: its voices are found and mixed in place.
  first->instrumentOfNote[35] = -1;
  synth.kitVoices().setNoteMix(35, 0.5f, 2.0f);
  std::weak_ptr<KitSound> firstAlive = first;
  synth.setKit(std::move(first));
  MidiHandle handle = 0;
  ASSERT_EQ(synth.open(kMidiMapperId, &handle), midi_result::kOk);
  const auto epoch = std::chrono::steady_clock::now();
  output.engine().setEpoch(epoch);
  // 300 hits at once, far past the limit, then a hat choke, each at its frame.
  for (std::uint32_t i = 0; i < 300; ++i) {
    const std::uint32_t note = 30 + i % 40;
    ASSERT_EQ(synth.sendShortAt(handle, kNoteOn + (note << 8) + (100u << 16), epoch), 0);
  }
  std::vector<std::int16_t> pcm(2 * 256);
  resetAllocationsCounted();
  countAllocationsHere(true);
  for (int block = 0; block < 8; ++block) {
    output.engine().renderLive(pcm.data(), 256, epoch + std::chrono::microseconds(5805 * block));
  }
  const int afterBurst = synth.kitVoices().sounding();
  countAllocationsHere(false);
  // The stolen voices have faded out; the limit sounds on.
  EXPECT_EQ(afterBurst, KitVoices::kDefaultPolyphony);

  // A kit change while it plays: the old kit stays alive until the audio thread lets go.
  synth.setKit(droneKit(0.002f, 1));
  synth.kitVoices().collect();
  EXPECT_FALSE(firstAlive.expired());
  countAllocationsHere(true);
  for (int block = 8; block < 16; ++block) {
    output.engine().renderLive(pcm.data(), 256, epoch + std::chrono::microseconds(5805 * block));
  }
  countAllocationsHere(false);
  synth.kitVoices().collect();
  EXPECT_TRUE(firstAlive.expired());
  EXPECT_EQ(allocationsCounted(), 0);
  EXPECT_EQ(locksCounted(), 0) << (mutexCounted() ? "" : "(locks not counted)");
  synth.close(handle);
}

}  // namespace
}  // namespace pulsewright
