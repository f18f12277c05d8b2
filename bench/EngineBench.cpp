// Audio engine figures: offline render speed of a song, drum-keyboard key-to-sound time and
// live onset jitter through SDL's disk driver, and sample memory (a large 8-bit WAVE
// decoded; the decoded-sample cache against many different files). Medians of repeated
// runs, since the machine is shared.
//
// With a drum kit: its load time and memory, the callback's time at 32 and 128 sounding
// kit voices in 64-frame blocks beside the General MIDI synthesiser given the same hits,
// and render speed with and without the kit.
//
//   pw_bench_engine [render|keyboard|memory] [SONG.tab]
//   pw_bench_engine kit [KIT NAME] [SONG.tab]
//   pw_bench_engine kitcheck [KIT NAME]   (each hit against its layer's file, the hat choke)

#include <sndfile.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kits/KitLibrary.h"
#include "kits/KitLoader.h"
#include "midi/MidiPort.h"
#include "padmap/PadMap.h"
#include "platform/EngineSoundOutput.h"
#include "platform/FluidSynthOutput.h"
#include "platform/SdlSoundOutput.h"
#include "platform/ShortMessage.h"
#include "playback/SamplePlayer.h"
#include "playback/SongRenderer.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

using namespace pulsewright;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}
double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

long statusKilobytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  }
  return -1;
}

void resetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

std::string tempDir() {
  std::string pattern = (fs::temp_directory_path() / "pw-bench-XXXXXX").string();
  return ::mkdtemp(pattern.data());
}

void put16(std::string& s, int v) {
  s += char(v & 0xFF), s += char((v >> 8) & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF), put16(s, v >> 16);
}
std::string waveHeader(int rate, int channels, int bits, std::uint32_t dataBytes) {
  std::string s = "RIFF";
  put32(s, 36 + dataBytes);
  s += "WAVEfmt ";
  put32(s, 16), put16(s, 1), put16(s, channels), put32(s, rate);
  put32(s, rate * channels * bits / 8), put16(s, channels * bits / 8), put16(s, bits);
  s += "data";
  put32(s, dataBytes);
  return s;
}

int renderBench(const std::string& songPath) {
  std::ifstream in(songPath, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  TablatureCompiler compiler;
  compiler.compile(joinLinesWithCrLf(decodeDocumentBytes(bytes.str())), defaultPadMap(), nullptr);
  auto song = makeSong(compiler.song());
  const std::string dir = tempDir();
  std::vector<double> speeds, seconds, renderSpeeds;
  double audio = 0;
  for (int run = 0; run < 7; ++run) {
    const auto start = Clock::now();
    const RenderResult r = renderSong(*song, dir + "/out.wav", RenderSettings{});
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    audio = static_cast<double>(r.frames) / 44100;
    seconds.push_back(wall);
    speeds.push_back(audio / wall);
    renderSpeeds.push_back(audio / r.renderSeconds);
  }
  fs::remove_all(dir);
  std::printf(
      "render %s: %.2f s of audio; rendering and writing %.0fx real time; with the "
      "sound font load %.3f s in all, %.0fx (medians of 7)\n",
      songPath.c_str(), audio, median(renderSpeeds), median(seconds), median(speeds));
  return 0;
}

// Immediate notes (the live keyboard) through the default 256-frame block: from the call
// to the end of the callback that rendered it, i.e. when the device has the sound. A real
// device adds its own buffer (one or two blocks).
int keyboardBench() {
  const std::string dir = tempDir();
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", (dir + "/keys.raw").c_str(), 1);
  SdlSoundOutput output;
  SamplePlayer samples(output);
  samples.listDevices();
  FluidSynthOutput synth(&output);
  MidiPort port(synth);
  port.listDevices();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<double> ms;
  std::srand(7);
  for (int i = 0; i < 200; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + std::rand() % 40));
    const std::int64_t before = output.engine().position();
    const auto press = Clock::now();
    port.sendChannelMessage(kNoteOn, 38, 100);
    while (output.engine().position() <= before) std::this_thread::yield();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - press).count());
    port.sendChannelMessage(kNoteOff, 38, 0);
  }
  const int blockFrames = output.blockFrames();
  const double block = 1000.0 * blockFrames / kOutputSampleRate;
  port.close();
  output.closeDevice();
  fs::remove_all(dir);
  std::printf(
      "drum keyboard, %d-frame block (%.1f ms): key to rendered p50 %.2f ms, p99 %.2f ms, "
      "max %.2f ms; with one block of device buffer p99 %.2f ms\n",
      blockFrames, block, median(ms), percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()),
      percentile(ms, 0.99) + block);
  return 0;
}

int memoryBench() {
  const std::string dir = tempDir();
  // 60 MB of 8-bit mono at 22.05 kHz.
  const std::uint32_t bytes = 60u << 20;
  {
    std::ofstream out(dir + "/big.wav", std::ios::binary);
    out << waveHeader(22050, 1, 8, bytes);
    std::string chunk(1 << 20, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<char>(128 + ((i / 25) % 2 ? 60 : -60));
    for (std::uint32_t done = 0; done < bytes; done += chunk.size()) out << chunk;
  }
  {
    EngineSoundOutput output;
    SamplePlayer player(output);
    const long before = statusKilobytes("VmRSS:");
    resetPeak();
    const auto start = Clock::now();
    player.preload(dir + "/big.wav");
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "60 MB 8-bit WAVE: decoded in %.2f s, kept %.1f MB (converted size %.1f MB), "
        "peak RSS +%.0f MB, RSS after +%.0f MB\n",
        wall, player.cachedBytes() / 1048576.0, bytes * 2.0 * 2 / 1048576.0,
        (statusKilobytes("VmHWM:") - before) / 1024.0,
        (statusKilobytes("VmRSS:") - before) / 1024.0);
  }
  fs::remove(dir + "/big.wav");
  {
    // 200 different 5 MB files (links to one file: each path is its own cache entry).
    {
      const std::uint32_t data = 5u << 20;
      std::ofstream out(dir + "/five.wav", std::ios::binary);
      out << waveHeader(44100, 2, 16, data) << std::string(data, '\x01');
    }
    for (int i = 0; i < 200; ++i)
      fs::create_hard_link(dir + "/five.wav", dir + "/f" + std::to_string(i) + ".wav");
    EngineSoundOutput output;
    SamplePlayer player(output);
    const long before = statusKilobytes("VmRSS:");
    for (int i = 0; i < 200; ++i) player.preload(dir + "/f" + std::to_string(i) + ".wav");
    output.engine().collect();
    std::printf(
        "200 different 5 MB samples: cache holds %zu files, %.0f MB (limit %.0f MB), "
        "RSS +%.0f MB\n",
        player.cachedFiles(), player.cachedBytes() / 1048576.0, player.memoryLimit() / 1048576.0,
        (statusKilobytes("VmRSS:") - before) / 1024.0);
  }
  fs::remove_all(dir);
  return 0;
}

std::shared_ptr<const Song> readSong(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  TablatureCompiler compiler;
  compiler.compile(joinLinesWithCrLf(decodeDocumentBytes(bytes.str())), defaultPadMap(), nullptr);
  return makeSong(compiler.song());
}

// The callback's time for 64-frame blocks while about `voices` kit voices sound (hits
// topped up before each block); with `kit` null, the synthesiser given the same hits.
void callbackTimes(const std::shared_ptr<const KitSound>& kit, int voices,
                   std::vector<int>* hitsPerBlock, std::vector<double>* micros,
                   double* meanSounding) {
  EngineSoundOutput output(kOutputSampleRate);
  FluidSynthOutput synth(&output);
  if (kit) synth.setKit(kit);
  MidiHandle handle = 0;
  if (synth.open(kMidiMapperId, &handle) != midi_result::kOk) return;
  std::vector<int> notes;
  for (int n = 0; n < 128; ++n) {
    if (!kit || kit->instrumentOfNote[static_cast<std::size_t>(n)] >= 0) notes.push_back(n);
  }
  if (kit) {
    // Hats choke each other: keep to the notes that ring on their own.
    std::erase_if(notes, [](int n) { return n == 42 || n == 44 || n == 46; });
  }
  std::vector<std::int16_t> pcm(2 * 64);
  const auto epoch = Clock::now();
  std::srand(11);
  long sounding = 0;
  const int blocks = 6000;
  for (int block = 0; block < blocks; ++block) {
    int hits = 0;
    if (kit) {
      hits = std::max(0, voices - synth.kitVoices().sounding());
      hitsPerBlock->push_back(hits);
    } else {
      hits = (*hitsPerBlock)[static_cast<std::size_t>(block) % hitsPerBlock->size()];
    }
    for (int h = 0; h < hits; ++h) {
      const auto note =
          static_cast<std::uint32_t>(notes[static_cast<std::size_t>(std::rand()) % notes.size()]);
      synth.sendShort(handle, kNoteOn + (note << 8) + ((40u + std::rand() % 88) << 16));
    }
    const auto start = Clock::now();
    output.engine().renderLive(pcm.data(), 64,
                               epoch + std::chrono::microseconds(block * 64 * 1000000LL / 44100));
    micros->push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (kit) sounding += synth.kitVoices().sounding();
  }
  *meanSounding = static_cast<double>(sounding) / blocks;
  synth.close(handle);
}

std::vector<float> readMono(const std::string& path, int* rate) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  std::vector<float> all(static_cast<std::size_t>(info.frames) * info.channels);
  sf_readf_float(f, all.data(), info.frames);
  sf_close(f);
  std::vector<float> left;
  for (std::size_t i = 0; i < all.size(); i += static_cast<std::size_t>(info.channels)) {
    left.push_back(all[i]);
  }
  if (rate) *rate = info.samplerate;
  return left;
}

double correlationAt(const std::vector<float>& audio, long frame, const std::vector<float>& ref,
                     long frames, long skip = 0) {
  double xy = 0, xx = 0, yy = 0;
  for (long i = skip; i < skip + frames && i < static_cast<long>(ref.size()) &&
                      frame + i < static_cast<long>(audio.size());
       ++i) {
    const double x = audio[static_cast<std::size_t>(frame + i)],
                 y = ref[static_cast<std::size_t>(i)];
    xy += x * y, xx += x * x, yy += y * y;
  }
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// Renders hits of known levels on the kit and reads the file back: each hit against the
// file of the layer its level picks (the kit's own rate here, 44.1 kHz), and an open hat
// closed by the closed one.
int kitCheck(const std::string& name) {
  const KitSearch search = findKits();
  const KitInfo* kit = findKit(search.kits, name);
  if (!kit || kit->kind != KitInfo::Kind::kHydrogen) return 1;
  const KitLoadResult loaded = loadKit(*kit, KitLoadOptions{});
  const std::string doc =
      "k = kick\ns = snare\nh = closed hat\noh = open hat\n"
      "part = A tempo = 120 notes = 4\n"
      "k  |1-9-|----|\n"
      "s  |----|x---|\n"
      "oh |----|--x-|\n"
      "h  |----|---x|\n"
      "song = A\n";
  TablatureCompiler compiler;
  compiler.compile(joinLinesWithCrLf(decodeDocumentBytes(doc)), defaultPadMap(), nullptr);
  auto song = makeSong(compiler.song());
  const std::string dir = tempDir();
  RenderSettings settings;
  settings.kit.sound = loaded.sound;
  renderSong(*song, dir + "/check.wav", settings);
  const std::vector<float> audio = readMono(dir + "/check.wav", nullptr);
  fs::remove_all(dir);
  const long step = 22050;
  auto layerFile = [&](DrumVoice voice, int level) {
    const KitInstrumentInfo& i =
        kit->instruments[static_cast<std::size_t>(loaded.voices[index(voice)])];
    const float v = static_cast<float>(velocityOfLevel(level)) / 127.0f;
    for (const KitLayerInfo& l : i.layers) {
      if (v >= l.minVelocity && v <= l.maxVelocity) return l.file;
    }
    return std::string();
  };
  struct Hit {
    const char* what;
    DrumVoice voice;
    int level;
    long frame;
  };
  const Hit hits[] = {{"kick level 1", DrumVoice::BassDrum, 1, 0},
                      {"kick level 9", DrumVoice::BassDrum, 9, 2 * step},
                      {"snare level 5", DrumVoice::SnareDrum, 5, 4 * step},
                      {"open hat level 5", DrumVoice::OpenHat, 5, 6 * step}};
  for (const Hit& h : hits) {
    const std::string file = layerFile(h.voice, h.level);
    const std::vector<float> ref = readMono(file, nullptr);
    const long frames = std::min<long>(static_cast<long>(ref.size()), step);
    std::printf("%s: %s, correlation %.4f at its frame (%.4f one frame off)\n", h.what,
                fs::path(file).filename().c_str(), correlationAt(audio, h.frame, ref, frames),
                correlationAt(audio, h.frame + 1, ref, frames));
  }
  const std::vector<float> soft = readMono(layerFile(DrumVoice::BassDrum, 1), nullptr);
  std::printf("kick level 9 against the level 1 layer's file: correlation %.4f\n",
              correlationAt(audio, 2 * step, soft, step));
  // Open hat, then closed at 7 * step: what is left beyond the closed hat after 256 frames.
  const std::vector<float> closedRef = readMono(layerFile(DrumVoice::ClosedHat, 5), nullptr);
  const long closed = 7 * step;
  for (long after : {0L, 64L, 128L, 256L}) {
    double xy = 0, yy = 0, open = 0, left = 0;
    const long n = 2048;
    for (long i = 0; i < n; ++i) {
      const double y = i + after < static_cast<long>(closedRef.size())
                           ? closedRef[static_cast<std::size_t>(i + after)]
                           : 0;
      xy += audio[static_cast<std::size_t>(closed + after + i)] * y, yy += y * y;
      open += std::pow(audio[static_cast<std::size_t>(closed - n + i)], 2);
    }
    for (long i = 0; i < n; ++i) {
      const double y = i + after < static_cast<long>(closedRef.size())
                           ? closedRef[static_cast<std::size_t>(i + after)]
                           : 0;
      left += std::pow(audio[static_cast<std::size_t>(closed + after + i)] - xy / yy * y, 2);
    }
    std::printf("open hat %ld frames after the closed hat: %.1f dB below its level before\n", after,
                10 * std::log10(std::max(left, 1e-30) / open));
  }
  return 0;
}

int kitBench(const std::string& name, const std::string& songPath) {
  const KitSearch search = findKits();
  const KitInfo* kit = findKit(search.kits, name);
  if (!kit || kit->kind != KitInfo::Kind::kHydrogen) {
    std::printf("no Hydrogen kit called %s (install hydrogen-drumkits)\n", name.c_str());
    return 1;
  }
  std::vector<double> loads;
  KitLoadResult loaded;
  long rss = 0;
  for (int run = 0; run < 5; ++run) {
    loaded = {};
    const long before = statusKilobytes("VmRSS:");
    const auto start = Clock::now();
    loaded = loadKit(*kit, KitLoadOptions{});
    loads.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    rss = statusKilobytes("VmRSS:") - before;
  }
  std::printf(
      "kit %s: loaded in %.3f s (median of 5), %d samples, %.1f MB of samples (budget %.0f MB, "
      "%d left out), RSS +%.0f MB\n",
      kit->name.c_str(), median(loads), loaded.samplesLoaded, loaded.bytes / 1048576.0,
      KitLoadOptions{}.memoryBudget / 1048576.0, loaded.samplesLeftOut, rss / 1024.0);
  for (int voices : {32, 128}) {
    std::vector<int> hits;
    std::vector<double> kitMicros, gmMicros;
    double sounding = 0, unused = 0;
    callbackTimes(loaded.sound, voices, &hits, &kitMicros, &sounding);
    callbackTimes(nullptr, voices, &hits, &gmMicros, &unused);
    std::printf(
        "64-frame callback (%.0f us of audio), %d kit voices (%.1f sounding on average): kit "
        "p50 %.1f us p99 %.1f us; synthesiser with the same hits p50 %.1f us p99 %.1f us\n",
        64e6 / 44100, voices, sounding, median(kitMicros), percentile(kitMicros, 0.99),
        median(gmMicros), percentile(gmMicros, 0.99));
  }
  auto song = readSong(songPath);
  const std::string dir = tempDir();
  for (const bool withKit : {true, false}) {
    RenderSettings settings;
    if (withKit) {
      settings.kit.name = kit->name;
      settings.kit.sound = loaded.sound;
    }
    std::vector<double> speeds, cpuSpeeds;
    double audio = 0;
    for (int run = 0; run < 5; ++run) {
      // The processor time too: on a shared machine the wall clock counts other programs.
      timespec before{}, after{};
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
      const RenderResult r = renderSong(*song, dir + "/out.wav", settings);
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
      audio = static_cast<double>(r.frames) / 44100;
      speeds.push_back(audio / r.renderSeconds);
      const double cpu = static_cast<double>(after.tv_sec - before.tv_sec) +
                         static_cast<double>(after.tv_nsec - before.tv_nsec) * 1e-9;
      cpuSpeeds.push_back(audio / cpu);
    }
    std::printf(
        "render %s (%.1f s) %s: %.0fx real time by the wall clock, %.0fx by processor time "
        "with the sound font and samples loaded (medians of 5)\n",
        songPath.c_str(), audio,
        withKit ? ("on " + kit->name).c_str() : "on the General MIDI synthesiser", median(speeds),
        median(cpuSpeeds));
  }
  fs::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "all";
  if (what == "kitcheck") return kitCheck(argc > 2 ? argv[2] : "The Black Pearl 1.0");
  if (what == "kit") {
    return kitBench(argc > 2 ? argv[2] : "The Black Pearl 1.0",
                    argc > 3 ? argv[3] : PW_EXAMPLES_DIR "/basic-rock.tab");
  }
  const std::string song = argc > 2 ? argv[2] : PW_EXAMPLES_DIR "/basic-rock.tab";
  if (what == "render" || what == "all") renderBench(song);
  if (what == "memory" || what == "all") memoryBench();
  if (what == "keyboard" || what == "all") keyboardBench();
  return 0;
}
