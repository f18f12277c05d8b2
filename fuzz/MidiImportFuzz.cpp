// Feeds arbitrary bytes to the MIDI file reader and importer, as a file from anywhere may
// hold anything. The reader must never read past the end of the bytes (the address
// sanitizer watches that), a refusal must say why, and what the importer writes must be
// a document that checks clean.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "midifile/MidiImport.h"
#include "tablature/Diagnostics.h"
#include "text/DocumentText.h"

using namespace pulsewright;

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so that a read past the end is caught.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  MidiImportOptions options;
  options.grid = size > 0 && data[size - 1] % 7 < 6 ? 0 : 16;
  const MidiImportResult result = importMidiFile(std::string_view(bytes), options);
  if (!result.ok()) {
    require(result.document.empty());
    return 0;
  }
  require(!result.document.empty() && result.document.back() == '\n');
  require(isValidUtf8(result.document));
  DiagnosticOptions diagnostics;
  diagnostics.sampleProblem = nullptr;
  require(diagnose(joinLinesWithCrLf(result.document), diagnostics).empty());
  return 0;
}
