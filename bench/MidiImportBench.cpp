// MIDI file import, median times and the peak memory: a played-in groove of 10,000 and of
// 1,000,000 notes (sixteenths at 100 and 112 beats a minute, every onset up to 15 ms
// early or late, velocities that wander, so that most bars differ), type 1 with a tempo
// track. Budgets: 50 ms for 10,000 notes; 5 s and 300 MB for 1,000,000.
// Usage: pw_bench_midiimport [runs] [OUT.mid]   (OUT.mid keeps the large file)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "midifile/MidiImport.h"

using namespace pulsewright;

namespace {

void quantity(std::string& out, std::uint32_t v) {
  char bytes[4];
  int n = 0;
  do {
    bytes[n++] = static_cast<char>(v & 0x7F);
    v >>= 7;
  } while (v != 0);
  while (n > 1) out += static_cast<char>(bytes[--n] | 0x80);
  out += bytes[0];
}

void bigEndian(std::string& out, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string chunk(const std::string& data) {
  std::string out = "MTrk";
  bigEndian(out, static_cast<std::uint32_t>(data.size()), 4);
  return out + data;
}

std::string generateFile(int noteCount) {
  constexpr int kQuarter = 480;
  constexpr int kSixteenth = kQuarter / 4;
  std::uint32_t seed = 2024;
  auto random = [&](int range) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(2 * range + 1)) - range;
  };
  struct Event {
    std::int64_t tick;
    std::uint8_t key, velocity;
  };
  std::vector<Event> events;
  events.reserve(static_cast<std::size_t>(noteCount) * 2);
  int notes = 0;
  for (std::int64_t step = 0; notes < noteCount; ++step) {
    const std::int64_t tick = step * kSixteenth;
    auto hit = [&](int key, int velocity) {
      if (notes == noteCount) return;
      const std::int64_t at = std::max<std::int64_t>(0, tick + random(12));  // 15 ms at 100
      events.push_back({at, static_cast<std::uint8_t>(key),
                        static_cast<std::uint8_t>(std::clamp(velocity + random(6), 1, 127))});
      events.push_back({at + kSixteenth / 2, static_cast<std::uint8_t>(key), 0});
      ++notes;
    };
    hit(step % 32 == 30 ? 46 : 42, step % 4 == 0 ? 101 : 70);
    if (step % 8 == 4) hit(38, 110);
    if (step % 8 == 0 || step % 16 == 10) hit(36, 100);
    if (step % 64 == 0) hit(49, 120);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.tick < b.tick; });
  std::string drums;
  drums.reserve(events.size() * 4);
  std::int64_t last = 0;
  for (const Event& e : events) {
    quantity(drums, static_cast<std::uint32_t>(e.tick - last));
    last = e.tick;
    drums += '\x99';
    drums += static_cast<char>(e.key);
    drums += static_cast<char>(e.velocity);
  }
  drums += std::string("\x00\xFF\x2F\x00", 4);

  // The tempo moves between 100 and 112 every 64 bars.
  std::string tempo;
  const std::int64_t bars = last / (4 * kQuarter) + 1;
  std::int64_t at = 0;
  for (std::int64_t bar = 0; bar < bars; bar += 64) {
    const std::uint32_t us = (bar / 64) % 2 == 0 ? 600000 : 535714;
    quantity(tempo, static_cast<std::uint32_t>(bar * 4 * kQuarter - at));
    at = bar * 4 * kQuarter;
    tempo += std::string("\xFF\x51\x03", 3);
    bigEndian(tempo, us, 3);
  }
  tempo += std::string("\x00\xFF\x2F\x00", 4);

  std::string file = "MThd";
  bigEndian(file, 6, 4);
  bigEndian(file, 1, 2);
  bigEndian(file, 2, 2);
  bigEndian(file, kQuarter, 2);
  return file + chunk(tempo) + chunk(drums);
}

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Figures {
  double medianMs;
  std::size_t documentBytes;
  std::size_t parts;
};

Figures measure(const std::string& file, int runs) {
  std::vector<double> times;
  Figures f{};
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const MidiImportResult result = importMidiFile(file);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (!result.ok()) {
      std::fprintf(stderr, "import failed: %s\n", result.error.c_str());
      std::exit(1);
    }
    f.documentBytes = result.document.size();
    f.parts = 0;
    for (std::size_t at = result.document.find("\npart = "); at != std::string::npos;
         at = result.document.find("\npart = ", at + 1)) {
      ++f.parts;
    }
  }
  f.medianMs = medianOf(times);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  const std::string small = generateFile(10'000);
  const Figures s = measure(small, runs);
  std::printf(
      "import of 10,000 notes (%zu bytes -> %zu bytes, %zu parts): median %.2f ms over %d runs "
      "(budget 50 ms)\n",
      small.size(), s.documentBytes, s.parts, s.medianMs, runs);

  const std::string large = generateFile(1'000'000);
  if (argc > 2) std::ofstream(argv[2], std::ios::binary) << large;
  const int largeRuns = std::max(1, std::min(runs, 3));
  const Figures l = measure(large, largeRuns);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "import of 1,000,000 notes (%zu bytes -> %zu bytes, %zu parts): median %.0f ms over %d "
      "runs (budget 5000 ms); peak memory of the whole run %.0f MB (budget 300 MB)\n",
      large.size(), l.documentBytes, l.parts, l.medianMs, largeRuns,
      static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
