// Feeds arbitrary bytes to the compiler as a document, twice (state carries over), and
// holds the fast paths of line matching to the patterns they stand in for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "padmap/PadMap.h"
#include "tablature/DocumentText.h"
#include "tablature/LinePatterns.h"
#include "tablature/TablatureCompiler.h"

using namespace pulsewright;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void checkLine(const LineMatcher& matcher, std::string_view line) {
  const LineTests fast = matcher.classify(line);
  for (int t = 0; t < line_test::kCount; ++t) require(fast[t] == matcher.test(t, line));
  std::string_view value;
  if (fast[line_test::kGrid]) {
    std::string_view symbol;
    std::string_view body;
    LineMatcher::gridFields(line, &symbol, &body);
    require(matcher.extract(LineField::GridSymbol, line, &value) && value == symbol);
    require(matcher.extract(LineField::GridBody, line, &value) && value == body);
  }
  if (fast[line_test::kWave] && matcher.extract(LineField::WaveFile, line, &value)) {
    require(matcher.extract(LineField::WaveSymbol, line, &value) &&
            value == LineMatcher::waveSymbol(line));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TablatureCompiler compiler;
  static const PadMap padMap = defaultPadMap();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // The raw bytes, with every kind of line end the editor may hand over.
  compiler.compile(bytes, padMap, nullptr);
  const std::string text = joinLinesWithCrLf(decodeDocumentBytes(bytes));
  compiler.compile(text, padMap, nullptr);

  std::size_t start = 0;
  while (start <= bytes.size()) {
    std::size_t end = bytes.find("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    checkLine(compiler.matcher(), bytes.substr(start, end - start));
    start = end + 2;
  }
  return 0;
}
