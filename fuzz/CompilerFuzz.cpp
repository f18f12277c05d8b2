// Feeds arbitrary bytes to the compiler as a document, twice (state carries over), holds
// the fast paths of line matching to the patterns they stand in for, and holds the
// diagnostics' ranges inside their lines.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"
#include "tablature/Diagnostics.h"
#include "tablature/LinePatterns.h"
#include "tablature/LineScan.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

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
  // The fields read by hand are the patterns' captures, at the same place in the line.
  for (const LineField field : {LineField::SectionName, LineField::SectionTempo,
                                LineField::SectionNotes, LineField::SectionProgram,
                                LineField::WaveFile, LineField::WavePan, LineField::WaveSymbol}) {
    std::string_view byHand;
    std::string_view byPattern;
    const bool found = matcher.extract(field, line, &byHand);
    require(found == matcher.patternExtract(field, line, &byPattern));
    require(!found || (byHand.data() == byPattern.data() && byHand.size() == byPattern.size()));
  }
  // So are the section fields read with the one-pass tests.
  LineTests tests;
  line_scan::SectionFields fields;
  if (line_scan::classify(line, &tests, &fields)) {
    const std::pair<LineField, std::string_view> read[] = {
        {LineField::SectionName, fields.name},
        {LineField::SectionTempo, fields.tempo},
        {LineField::SectionNotes, fields.notes},
        {LineField::SectionProgram, fields.program}};
    const int readTests[] = {line_test::kSectionName, line_test::kSectionTempo,
                             line_test::kSectionNotes, line_test::kProgram};
    for (std::size_t f = 0; f < 4; ++f) {
      std::string_view byPattern;
      require(tests[readTests[f]] == matcher.patternExtract(read[f].first, line, &byPattern));
      require(!tests[readTests[f]] || (read[f].second.data() == byPattern.data() &&
                                       read[f].second.size() == byPattern.size()));
    }
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

  DiagnosticOptions options;
  options.sampleProblem = [](const std::string& path) {
    return path.size() % 2 == 0 ? std::string() : std::string("missing");
  };
  std::vector<std::string_view> lines;
  for (std::size_t from = 0;;) {
    const std::size_t end = text.find("\r\n", from);
    lines.push_back(
        std::string_view(text).substr(from, end == std::string::npos ? end : end - from));
    if (end == std::string::npos) break;
    from = end + 2;
  }
  const std::vector<Diagnostic> found = diagnose(text, options);
  require(found.size() <= static_cast<std::size_t>(kMaxDiagnostics));
  for (const Diagnostic& d : found) {
    require(d.line >= 1 && static_cast<std::size_t>(d.line) <= lines.size());
    const std::string_view line = lines[static_cast<std::size_t>(d.line) - 1];
    require(d.column >= 1 && d.length >= 0 && d.utf16Column >= 0 && d.utf16Length >= d.length);
    require(static_cast<std::size_t>(d.column - 1 + d.length) <= line.size());
    require(!d.text.empty());
  }

  std::size_t start = 0;
  while (start <= bytes.size()) {
    std::size_t end = bytes.find("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    checkLine(compiler.matcher(), bytes.substr(start, end - start));
    start = end + 2;
  }
  return 0;
}
