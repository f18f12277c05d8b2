// MIDI file export of a 100,000-step song, median times: the whole export of a document
// (compile, timeline, file) and the file writer alone on a generated song (a sixteenth
// groove with triplet fills, tempo and program changes between parts).
// Usage: pw_bench_midiexport [runs] [OUT.mid]   (OUT.mid keeps one written file)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "midifile/StandardMidiFile.h"
#include "midifile/TimelineMidi.h"
#include "padmap/PadMap.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"

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

// Four parts of 16 steps and a song line that plays them 6,250 times: 100,000 ticks.
std::string generateDocument() {
  std::string text =
      "meta title = Generated\r\nk = kick drum\r\ns = snare\r\nh = closed hi-hat\r\n"
      "w = wave /samples/clap.wav pan 0\r\n";
  const char* names[] = {"A", "B", "C", "D"};
  for (int p = 0; p < 4; ++p) {
    text += std::string("part = ") + names[p] + " tempo = " + std::to_string(96 + 8 * p) +
            " notes = 16 program = " + std::to_string(p % 2) + "\r\n";
    text += "h |x-x-x-x-x-x-x-x-|\r\ns |----X--2-2--X---|\r\nk |X-----x---X-----|\r\n";
    if (p == 3) text += "w |-------------[xxx]|\r\n";
  }
  text += "song = ";
  for (int i = 0; i < 6250; ++i) text += names[(i / 4) % 4];
  return text + "\r\n";
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
  std::printf("writer alone, 100,000 steps (%zu bytes): median %.2f ms over %d runs\n", file.size(),
              medianOf(times), runs);

  const std::string document = generateDocument();
  const PadMap padMap = defaultPadMap();
  TablatureCompiler compiler;  // its patterns are compiled once, as in a running program
  times.clear();
  std::size_t steps = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    compiler.compile(document, padMap, nullptr);
    const Timeline& timeline = *compiler.song();
    const MidiFileSong exported = midiFileSongOf(timeline);
    file = writeStandardMidiFile(exported, 9);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    steps = exported.steps.size();
  }
  if (argc > 2) std::ofstream(argv[2], std::ios::binary) << file;
  std::printf(
      "export of a %zu-step document (compile, timeline, file of %zu bytes): median %.2f ms "
      "over %d runs (budget 200 ms)\n",
      steps, file.size(), medianOf(times), runs);
  return 0;
}
