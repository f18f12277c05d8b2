// Import of a web drum tab: the median time to import a generated 10,000-line tab of
// stacked systems with count lines, repeats and a few distinct grooves.
// Usage: pw_bench_tabimport [runs]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tabimport/DrumTabImport.h"

using namespace pulsewright;

namespace {

std::string generateTab(int lineCount) {
  static const char* kHats[] = {"|x-x-x-x-x-x-x-x-|x-x-x-x-x-x-x-o-|",
                                "|x-x-x-x-x-x-x-x-|x-x-x-x-x-X-x-x-|"};
  static const char* kSnares[] = {"|----o-------o---|----o--g-g--o---|",
                                  "|----o-------o---|----o-----ooooo-|"};
  static const char* kKicks[] = {"|o-----o---o-----|o-----o---o--o--|",
                                 "|o---o---o---o---|o---o---o---o---|"};
  std::string text = "Generated groove\nTempo: 112\n\n";
  int lines = 3;
  int system = 0;
  while (lines < lineCount) {
    text += "    1 e + a 2 e + a 3 e + a 4 e + a\n";
    text += std::string("HH") + kHats[system % 2] + (system % 7 == 0 ? " x2" : "") + "\n";
    text += std::string("Rd") + "|----------------|--------------b-|\n";
    text += std::string("SD") + kSnares[(system / 2) % 2] + "\n";
    text += std::string("BD") + kKicks[(system / 3) % 2] + "\n";
    text += "\n";
    lines += 6;
    ++system;
  }
  return text;
}

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  const std::string tab = generateTab(10000);
  std::vector<double> times;
  std::size_t documentBytes = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const TabImportResult result = importDrumTab(tab);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    documentBytes = result.document.size();
  }
  std::printf(
      "import of a 10,000-line tab (%zu bytes -> %zu bytes): median %.2f ms over %d runs (budget "
      "100 ms)\n",
      tab.size(), documentBytes, medianOf(times), runs);
  return 0;
}
