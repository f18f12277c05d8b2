// Compiler throughput: ns per line on a generated 100,000-line document, and the time
// of single 1 MB lines of shapes that make backtracking engines crawl. Prints medians.
// Usage: pw_bench_compiler [runs] [document]   ("document" skips the long lines)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "padmap/PadMap.h"
#include "tablature/TablatureCompiler.h"

using namespace pulsewright;

namespace {

std::string generateDocument(int lineCount) {
  static const char* kGrids[] = {"|x-x-x-x-|x-x-x-x-|", "|--x---x-|--x---x-|",
                                 "|x---x---|x---x-x-|", "|[xxx]-x-|o-X-5-9-|",
                                 "|X-------|--------|"};
  static const char* kSymbols[] = {"h", "s", "k", "t1", "w1"};
  std::string text;
  text.reserve(static_cast<std::size_t>(lineCount) * 24);
  int lines = 0;
  auto add = [&](const std::string& line) {
    text += line;
    text += "\r\n";
    ++lines;
  };
  add("meta title = Generated");
  add("k = kick drum");
  add("s = snare");
  add("h = closed hi-hat");
  add("t1 = tom 1");
  add("w1 = wave /samples/clap.wav pan -20");
  int part = 0;
  while (lines < lineCount - 1) {
    add("part = " + std::string(1, static_cast<char>('A' + part % 26)) + " tempo = 120 notes = 16");
    ++part;
    for (int g = 0; g < 12 && lines < lineCount - 1; ++g) {
      add(std::string(kSymbols[g % 5]) + " " + kGrids[(g + part) % 5]);
    }
    if (part % 10 == 0) add("This is a remark between parts, ignored by the compiler.");
    if (part % 25 == 0) add("meta author = Somebody");
    if (part % 40 == 0) add("h = closed hat");
  }
  add("song = ABCDEFGHIJ");
  return text;
}

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
double timeMs(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const PadMap map = defaultPadMap();
  TablatureCompiler compiler;

  const int kLines = 100000;
  const std::string doc = generateDocument(kLines);
  std::vector<double> perLine;
  for (int r = 0; r < runs; ++r) {
    const double ms = timeMs([&] { compiler.compile(doc, map, nullptr); });
    perLine.push_back(ms * 1e6 / kLines);
  }
  std::printf("document: %d lines, %zu bytes, %zu parts\n", kLines, doc.size(),
              compiler.song()->parts().size() - 1);
  std::printf("ns per line: median %.0f (min %.0f, max %.0f, %d runs)\n", medianOf(perLine),
              *std::min_element(perLine.begin(), perLine.end()),
              *std::max_element(perLine.begin(), perLine.end()), runs);

  if (argc > 2 && std::string(argv[2]) == "document") return 0;

  const std::size_t kBig = 1 << 20;
  std::string grid = "k |";
  while (grid.size() < kBig) grid += "x-x-|";
  const std::vector<std::pair<const char*, std::string>> shapes = {
      {"grid", "k = kick\r\npart = A tempo = 120 notes = 8\r\n" + grid},
      {"spaces then =", std::string(kBig, ' ') + "="},
      {"part = A, spaces, x", "part = A" + std::string(kBig, ' ') + "x"},
      {"wave, spaces, pan", "w = wave x" + std::string(kBig, ' ') + "y pan 1"},
      {"meta title, spaces, CR", "meta title =" + std::string(kBig, ' ') + "a\rb"},
  };
  for (const auto& [name, text] : shapes) {
    std::vector<double> ms;
    for (int r = 0; r < std::max(3, runs / 2); ++r) {
      ms.push_back(timeMs([&] { compiler.compile(text, map, nullptr); }));
    }
    std::printf("1 MB line, %-24s median %7.1f ms\n", name, medianOf(ms));
  }
  return 0;
}
