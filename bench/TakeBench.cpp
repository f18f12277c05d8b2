// Writing a take, median times: a two-bar take into a song of one part; 10,000 hits
// over 40 passes into one part of a long song of two-bar parts; a hit on every sixteenth
// of one long part (five grid lines for the hats). The long cases run at two sizes, so
// the second figure shows the work grows with the document, not with its square.
// Usage: pw_bench_take [runs]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "padmap/PadMap.h"
#include "recording/Take.h"

using namespace pulsewright;

namespace {

constexpr double kStep = 0.125;  // a sixteenth at 120

std::string bar(int hitEvery) {
  std::string text;
  for (int s = 0; s < 16; ++s) text += s % hitEvery == 0 ? 'x' : '-';
  return text + "|";
}

std::string song(int parts) {
  std::string doc = "k = kick\nh = closed hat\ns = snare\n";
  for (int p = 0; p < parts; ++p) {
    doc += "part = P" + std::to_string(p) + " tempo = 120 notes = 16\n";
    doc += "h |" + bar(2) + bar(2) + "\ns |" + bar(8) + bar(8) + "\nk |" + bar(4) + bar(4) + "\n\n";
  }
  return doc + "song = P0\n";
}

std::string longPart(int bars) {
  std::string doc = "k = kick\nh = closed hat\ns = snare\npart = A tempo = 120 notes = 16\n";
  for (const char* symbol : {"h", "h", "h", "h", "h", "s", "k"}) {
    doc += std::string(symbol) + " |";
    for (int b = 0; b < bars; ++b) doc += bar(16);
    doc += "\n";
  }
  return doc + "song = A\n";
}

std::vector<TakeHit> take(int hits, int stepsPerPass) {
  std::vector<TakeHit> out;
  std::uint32_t seed = 7;
  for (int i = 0; i < hits; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const double jitter = static_cast<int>((seed >> 8) % 61) - 30;  // up to 30 ms
    const int step = i % stepsPerPass;
    const int keys[] = {42, 38, 36, 46, 37};
    out.push_back({i / stepsPerPass, step * kStep + jitter / 1000.0, keys[i % 5],
                   static_cast<int>(20 + (seed >> 16) % 100), (seed >> 4) % 2 == 0 ? 0 : 90});
  }
  return out;
}

double medianMs(int runs, const std::string& doc, const std::string& part,
                const std::vector<TakeHit>& hits, TakeMode mode) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    const TakeResult result = writeTake(doc, part, hits, mode, defaultPadMap());
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (!result.ok()) {
      std::fprintf(stderr, "take refused: %s\n", result.error.c_str());
      std::exit(1);
    }
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  {
    const std::string doc = song(1);
    std::printf("a song of one part (%zu bytes), 32 hits: overdub %.2f ms\n", doc.size(),
                medianMs(runs, doc, "P0", take(32, 32), TakeMode::Overdub));
  }
  for (const int parts : {1000, 2000}) {
    const std::string doc = song(parts);
    const std::string part = "P" + std::to_string(parts / 2);
    std::printf(
        "song of %d parts (%zu bytes), 10,000 hits into %s: overdub %.1f ms, replace %.1f ms\n",
        parts, doc.size(), part.c_str(),
        medianMs(runs, doc, part, take(10000, 32), TakeMode::Overdub),
        medianMs(runs, doc, part, take(10000, 32), TakeMode::Replace));
  }
  for (const int bars : {2500, 5000}) {
    const std::string doc = longPart(bars);
    const std::vector<TakeHit> hits = take(bars * 16, bars * 16);
    std::printf("one part of %d bars (%zu bytes), %zu hits: overdub %.1f ms, replace %.1f ms\n",
                bars, doc.size(), hits.size(), medianMs(runs, doc, "A", hits, TakeMode::Overdub),
                medianMs(runs, doc, "A", hits, TakeMode::Replace));
  }
  return 0;
}
