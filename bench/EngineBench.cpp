// Audio engine figures: offline render speed of a song, drum-keyboard key-to-sound time and
// live onset jitter through SDL's disk driver, and sample memory (a large 8-bit WAVE
// decoded; the decoded-sample cache against many different files). Medians of repeated
// runs, since the machine is shared.
//
//   pw_bench_engine [render|keyboard|memory] [SONG.tab]

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

#include "midi/MidiPort.h"
#include "padmap/PadMap.h"
#include "platform/EngineSoundOutput.h"
#include "platform/FluidSynthOutput.h"
#include "platform/SdlSoundOutput.h"
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

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "all";
  const std::string song = argc > 2 ? argv[2] : PW_EXAMPLES_DIR "/basic-rock.tab";
  if (what == "render" || what == "all") renderBench(song);
  if (what == "memory" || what == "all") memoryBench();
  if (what == "keyboard" || what == "all") keyboardBench();
  return 0;
}
