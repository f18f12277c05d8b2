// pulsewright-cli render end to end: a tab rendered to a file, read back, its onsets found.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "AudioTestUtil.h"
#include "cli/CliApp.h"
#include "padmap/PadMap.h"
#include "platform/AudioFileWriter.h"
#include "playback/Sequencer.h"
#include "tablature/TablatureCompiler.h"
#include "tests/support/CliRun.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;
using namespace test;

struct Audio {
  int rate = 0, channels = 0;
  std::vector<float> stereo;
};

Audio readAudio(const std::string& path) {
  SF_INFO info{};
  Audio a;
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return a;
  a.rate = info.samplerate;
  a.channels = info.channels;
  a.stereo.resize(static_cast<std::size_t>(info.frames) * info.channels);
  sf_readf_float(f, a.stereo.data(), info.frames);
  sf_close(f);
  return a;
}

// The frames every tick of `text` is due at: the first step at frame 0, as in the MIDI
// file, without the live player's lead-in.
std::vector<long> tickFrames(const std::string& text, int rate) {
  TablatureCompiler compiler;
  compiler.compile(joinLinesWithCrLf(decodeDocumentBytes(text)), defaultPadMap(), nullptr);
  auto song = makeSong(compiler.song());
  std::vector<long> frames;
  auto cursor = song->timeline.begin();
  TimelineTick tick;
  std::int64_t first = -1;
  while (cursor.next(&tick)) {
    if (first < 0) first = tick.timeMs;
    frames.push_back(((tick.timeMs - first) * rate + 500) / 1000);
  }
  return frames;
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-render-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string write(const std::string& name, const std::string& text) const {
    return writeFile(path(name), text);
  }
  fs::path dir_;
};

std::string grid(const std::string& line, int bars) {
  std::string s = line + " |";
  for (int i = 0; i < bars; ++i) s += "xxxxxxxx|";
  return s + "\n";
}

TEST_F(Render, ClickGridAndDrumGridLandOnTheirFrames) {
  const std::string click = write("click.wav", waveBytes(clickValues(44100), 44100, 1, 16));
  const std::string clicks = "c = wave " + click + " pan 0\npart = A tempo = 150 notes = 8\n" +
                             grid("c", 8) + "song = A\n";
  for (int rate : {44100, 48000}) {
    const std::string out = path("clicks.wav");
    const CliRun r =
        cli({"render", write("clicks.tab", clicks), "-o", out, "--rate", std::to_string(rate)});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio a = readAudio(out);
    ASSERT_EQ(a.rate, rate);
    ASSERT_EQ(a.channels, 2);
    const std::vector<long> nominal = tickFrames(clicks, rate);
    ASSERT_EQ(nominal.size(), 64u);
    // Every click on its frame: no jitter at all (the 16-bit file rounds levels only).
    EXPECT_EQ(onsets(a.stereo, 0.02f, rate / 20), nominal) << rate;
  }

  // Hand claps through the synthesiser: within its 64-frame floor.
  const std::string hats =
      "h = claps\npart = A tempo = 150 notes = 8\n" + grid("h", 8) + "song = A\n";
  const std::string out = path("hats.flac");
  const CliRun r = cli({"render", write("hats.tab", hats), "-o", out});
  ASSERT_EQ(r.status, 0) << r.err;
  const Audio a = readAudio(out);
  const std::vector<long> found = onsets(a.stereo, 0.02f, 44100 / 20);
  ASSERT_EQ(found.size(), 64u);
  const std::vector<double> jitter = jitterMs(found, tickFrames(hats, 44100), 44100);
  std::printf("rendered claps: onset jitter p99 %.3f ms, max %.3f ms\n", percentile(jitter, 0.99),
              jitter.back());
  EXPECT_LE(percentile(jitter, 0.99), 1.0);
  // The song rang out and stopped: at most the tail after the last hit.
  EXPECT_LT(a.stereo.size() / 2, static_cast<std::size_t>(44100 * (13 + 5)));
}

float peakOf(const Audio& a) {
  float peak = 0;
  for (float v : a.stereo) peak = std::max(peak, std::abs(v));
  return peak;
}

TEST_F(Render, GainAndNormalizeSetTheLevel) {
  const std::string song =
      write("song.tab",
            "s = snare\nk = kick\npart = A tempo = 150 notes = 8\ns |x-X-|\nk |X-x-|\nsong = AA\n");
  ASSERT_EQ(cli({"render", song, "-o", path("plain.wav")}).status, 0);
  const CliRun louder = cli({"render", song, "-o", path("louder.wav"), "--gain", "6"});
  ASSERT_EQ(louder.status, 0) << louder.err;
  const CliRun normal = cli({"render", song, "-o", path("normal.wav"), "--normalize"});
  ASSERT_EQ(normal.status, 0) << normal.err;
  const Audio plain = readAudio(path("plain.wav"));
  const Audio loud = readAudio(path("louder.wav"));
  const Audio normalized = readAudio(path("normal.wav"));
  ASSERT_GT(peakOf(plain), 0.01f);
  EXPECT_NEAR(peakOf(loud) / peakOf(plain), 1.995f, 0.01f);
  EXPECT_NEAR(20 * std::log10(peakOf(normalized)), -1.0, 0.01);
  // The same frames, scaled: both passes of the normalised render heard the same song.
  ASSERT_EQ(normalized.stereo.size(), plain.stereo.size());
  const float scale = peakOf(normalized) / peakOf(plain);
  // Within the rounding of each 16-bit file, the plain one's scaled up.
  const float rounding = (scale + 1) / 32768;
  for (std::size_t i = 0; i < plain.stereo.size(); i += 97) {
    ASSERT_NEAR(normalized.stereo[i], plain.stereo[i] * scale, rounding) << i;
  }
  const CliRun clipped = cli({"render", song, "-o", path("clipped.wav"), "--gain", "40"});
  EXPECT_EQ(clipped.status, 0);
  EXPECT_NE(clipped.err.find("samples clipped"), std::string::npos) << clipped.err;
}

TEST(AudioFileWriter, WaveBecomesRf64WhenTheDataWouldPassFourGigabytes) {
  std::string reason;
  const std::uint64_t fourGigabytes = std::uint64_t{1} << 32;
  EXPECT_EQ(audioFileFormat("a.wav", 3600 * 48000, &reason), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(audioFileFormat("a.WAV", fourGigabytes / 4, &reason),
            SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
  EXPECT_EQ(audioFileFormat("a.ogg", fourGigabytes, &reason), SF_FORMAT_OGG | SF_FORMAT_VORBIS);
  EXPECT_EQ(audioFileFormat("a.flac", fourGigabytes, &reason), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  EXPECT_EQ(audioFileFormat("a.flac", fourGigabytes * 16, &reason), 0);
  EXPECT_NE(reason.find("FLAC file cannot hold"), std::string::npos) << reason;

  // What a long render would write, told so up front: a short RF64 file a reader takes.
  const std::string path = testing::TempDir() + "/long.wav";
  AudioFileWriter writer;
  ASSERT_TRUE(writer.open(path, 44100, fourGigabytes, {}, &reason)) << reason;
  const std::vector<float> frames = {0.5f, -0.5f, 0.25f, -0.25f, 0.0f, 0.0f};
  ASSERT_TRUE(writer.write(frames.data(), 3, &reason));
  ASSERT_TRUE(writer.commit(&reason)) << reason;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
  EXPECT_EQ(info.frames, 3);
  ::unlink(path.c_str());
}

TEST_F(Render, BadOutputsAndEmptySongsLeaveNoFile) {
  const std::string song =
      write("song.tab", "h = closed hi-hat\npart = A tempo = 120 notes = 4\nh |x-x-|\nsong = A\n");
  write("plain", "a file, not a folder");
  CliRun r = cli({"render", song, "-o", path("plain/out.wav")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(path("plain/out.wav")), std::string::npos) << r.err;

  r = cli({"render", write("empty.tab", "just words\n"), "-o", path("empty.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nothing to play"), std::string::npos) << r.err;

  // A name that asks for a format not written here is refused, not filled with a WAVE.
  r = cli({"render", song, "-o", path("song.mp3")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\".mp3\""), std::string::npos) << r.err;

  EXPECT_EQ(cli({"render", song, "-o", path("x.wav"), "--rate", "22050"}).status, 2);
  EXPECT_EQ(cli({"render", song}).status, 2);
  // Only the inputs are there: no partial or temporary file.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"empty.tab", "plain", "song.tab"}));
}

// A WAVE header for `bytes` of 8-bit PCM at `rate`, followed by silence.
std::string silentWave(std::uint32_t bytes, int rate, int channels) {
  std::string s = waveBytes({}, rate, channels, 8);
  std::string riff, data;
  put32(riff, 36 + bytes);
  put32(data, bytes);
  s.replace(4, 4, riff);
  s.replace(40, 4, data);
  return s + std::string(bytes, '\x80');
}

TEST_F(Render, SamplesTooLargeOnceDecodedAreSkippedByName) {
  // 60 MB at 200 Hz would be 26 GB at 44.1 kHz; 10 frames at 1 Hz are beyond any converter.
  const std::string huge = write("huge.wav", silentWave(60u << 20, 200, 1));
  const std::string slow = write("slow.wav", silentWave(40, 1, 2));
  const std::string click = write("click.wav", waveBytes(clickValues(44100), 44100, 1, 16));
  const std::string song = "a = wave " + huge + " pan 0\nb = wave " + slow + " pan 0\nc = wave " +
                           click + " pan 0\npart = A tempo = 150 notes = 8\n" + grid("a", 1) +
                           grid("b", 1) + grid("c", 1) + "song = A\n";
  const std::string out = path("song.wav");
  const CliRun r = cli({"render", write("song.tab", song), "-o", out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(huge + ": it would take"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(slow + ": its rate of 1 Hz"), std::string::npos) << r.err;
  // The clicks play all the same.
  EXPECT_EQ(onsets(readAudio(out).stereo, 0.02f, 44100 / 20), tickFrames(song, 44100));
}

// Marks, swing and humanize as the render plays them, found again in its frames.
TEST_F(Render, GracesRollsSwingChokesAndHumanizeLandWhereTheyPlay) {
  const std::string click = write("click.wav", waveBytes(clickValues(44100), 44100, 1, 16));
  auto render = [&](const std::string& name, const std::string& lines) {
    const std::string out = path(name + ".wav");
    const std::string song = lines.find("song =") == std::string::npos ? "song = A\n" : "";
    const std::string text = "c = wave " + click + " pan 0\nk = crash 1\n" + lines + song;
    const CliRun r = cli({"render", write(name + ".tab", text), "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return readAudio(out);
  };

  auto framesOf = [](std::vector<long> ms) {
    for (long& m : ms) m = (m * 441 + 5) / 10;
    return ms;
  };
  // Eighths of 250 ms: a flam's grace 30 ms early, a drag's two 50 and 25 ms early, a buzz
  // roll's strokes every 30 ms to the step's end; then swing 66.7 splits each 500 ms pair
  // 334:166 (the song line of "B" plays after "A").
  const Audio marks =
      render("marks",
             "part = A tempo = 120 notes = 8\nc |-f-d-z--|\n"
             "part = B tempo = 120 notes = 8 swing = 66.7\nc |xxxxxx--|\nsong = AB\n");
  EXPECT_EQ(onsets(marks.stereo, 0.02f, 44100 / 200),
            framesOf({220, 250, 700, 725, 750, 1250, 1280, 1310, 1340, 1370, 1400, 1430, 1460, 2000,
                      2334, 2500, 2834, 3000, 3334}));
  // A roll as long as a half note at 60 keeps its strokes to the step's end (the events of
  // one item once ran out at 690 ms); one of 4 s spreads them to its end.
  for (const auto& [notes, strokes, lastMs] :
       {std::tuple{2, 67u, 1980L}, std::tuple{1, 128u, 3969L}}) {
    const Audio roll = render("roll" + std::to_string(notes),
                              "part = A tempo = 60 notes = " + std::to_string(notes) + "\nc |z|\n");
    const std::vector<long> at = onsets(roll.stereo, 0.02f, 44100 / 200);
    ASSERT_EQ(at.size(), strokes) << notes;
    EXPECT_NEAR(at.back(), lastMs * 441 / 10, 441 / 10) << notes;
  }
  // Humanize moves each hit by at most its 8 ms, the same way on every render.
  const std::string human = "part = A tempo = 120 notes = 8 humanize = 8\nc |-xxxxxx--|\n";
  const Audio once = render("human1", human);
  const Audio again = render("human2", human);
  EXPECT_EQ(once.stereo, again.stereo);
  const std::vector<long> moved = onsets(once.stereo, 0.02f, 44100 / 20);
  ASSERT_EQ(moved.size(), 6u);
  bool anyMoved = false;
  for (std::size_t i = 0; i < moved.size(); ++i) {
    const long nominal = static_cast<long>(250 * (i + 1)) * 441 / 10;
    EXPECT_LE(std::abs(moved[i] - nominal), 8 * 441 / 10 + 1) << i;
    anyMoved = anyMoved || moved[i] != nominal;
  }
  EXPECT_TRUE(anyMoved);
  // A choke stops the crash: 50 ms on, a small part of what it rings without one (the
  // synthesiser's reverb goes on).
  const Audio choked = render("choke", "part = A tempo = 120 notes = 8\nk |X---!---|\n");
  const Audio ringing = render("ring", "part = A tempo = 120 notes = 8\nk |X-------|\n");
  auto peakBetween = [&](const Audio& a, long fromMs, long toMs) {
    float peak = 0;
    for (long f = fromMs * 441 / 10;
         f < toMs * 441 / 10 && 2 * f < static_cast<long>(a.stereo.size()); ++f)
      peak = std::max(peak, std::abs(a.stereo[2 * f]));
    return peak;
  };
  EXPECT_EQ(peakBetween(choked, 0, 990), peakBetween(ringing, 0, 990));
  EXPECT_LT(peakBetween(choked, 1050, 1300), peakBetween(ringing, 1050, 1300) / 4);
}

}  // namespace
}  // namespace pulsewright
