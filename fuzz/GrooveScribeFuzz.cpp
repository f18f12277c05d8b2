// Feeds arbitrary bytes to the GrooveScribe link reader, as a link pasted from anywhere
// may hold anything.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/ForeignImportCheck.h"
#include "tabimport/GrooveScribe.h"

using namespace pulsewright;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!looksLikeGrooveScribeLink(bytes)) return 0;
  const GrooveScribeImport result = importGrooveScribeLink(bytes);
  checkImport(result.error, result.document, result.warnings, lineCount(bytes));
  return 0;
}
