// Feeds arbitrary bytes to the Hydrogen song and pattern reader.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/ForeignImportCheck.h"
#include "tabimport/Hydrogen.h"

using namespace pulsewright;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const HydrogenImport result = importHydrogenFile(bytes);
  require(result.ok() || !result.error.empty());
  checkImport(result.error, result.document, result.warnings, lineCount(bytes));
  return 0;
}
