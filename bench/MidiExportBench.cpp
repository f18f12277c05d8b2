// MIDI file export: the median time to write a 100,000-step song (a sixteenth-note groove
// with triplet fills, tempo and program changes between parts) as a Standard MIDI File.
// Usage: pw_bench_midiexport [runs] [OUT.mid]   (OUT.mid keeps one written file)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "midifile/StandardMidiFile.h"

using namespace pulsewright;

namespace {

MidiFileSong generateSong(int stepCount) {
  MidiFileSong song;
  song.title = "Generated";
  song.steps.reserve(static_cast<std::size_t>(stepCount));
  for (int i = 0; i < stepCount; ++i) {
    const int bar = i / 16;
    MidiFileStep step;
    const bool fill = bar % 8 == 7;
    step.noteSize = fill ? 8 : 16;
    step.divisor = fill ? 3 : 1;
    step.tempo = bar % 32 < 16 ? 96 : 104;
    step.program = bar % 64 < 32 ? 0 : 16;
    step.notes.push_back({42, i % 4 == 0 ? 101 : 76});
    if (i % 8 == 4) step.notes.push_back({38, 101});
    if (i % 8 == 0) step.notes.push_back({36, 88});
    if (i % 16 == 15) step.samples = 1;
    song.steps.push_back(std::move(step));
  }
  return song;
}

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  const MidiFileSong song = generateSong(100000);
  std::vector<double> times;
  std::string file;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    file = writeStandardMidiFile(song, 9);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  if (argc > 2) std::ofstream(argv[2], std::ios::binary) << file;
  std::printf(
      "export of a 100,000-step song (%zu bytes): median %.2f ms over %d runs (budget 200 ms)\n",
      file.size(), medianOf(times), runs);
  return 0;
}
