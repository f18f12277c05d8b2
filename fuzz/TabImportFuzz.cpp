// Feeds arbitrary bytes to the drum-tab importer, as a tab fetched from the web may hold
// anything. Its warnings must point into the input, and what it writes must be a
// valid UTF-8 document that checks clean: the importer only writes what the compiler reads.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tabimport/DrumTabImport.h"
#include "tablature/Diagnostics.h"
#include "text/DocumentText.h"

using namespace pulsewright;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TabImportResult result = importDrumTab(bytes);

  // CR LF, LF and a lone CR each end a line, as everywhere else.
  const std::string text = joinLinesWithCrLf(decodeDocumentBytes(bytes));
  std::size_t lines = 1;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos;
       at = text.find("\r\n", at + 2)) {
    ++lines;
  }
  for (const TabWarning& w : result.warnings) {
    require(w.line >= 1 && static_cast<std::size_t>(w.line) <= lines);
    require(w.column >= 1 && !w.text.empty());
  }
  if (!result.found) return 0;

  require(!result.document.empty() && result.document.back() == '\n');
  // Read back as Windows-1252, a document would name its parts with other characters.
  require(isValidUtf8(result.document));
  DiagnosticOptions options;
  options.sampleProblem = nullptr;
  require(diagnose(joinLinesWithCrLf(result.document), options).empty());
  return 0;
}
