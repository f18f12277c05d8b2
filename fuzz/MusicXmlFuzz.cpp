// Feeds arbitrary bytes to the MusicXML reader and, for bytes that start as a ZIP
// archive does, to its reader of compressed scores: neither may read past the bytes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/ForeignImportCheck.h"
#include "tabimport/MusicXmlImport.h"
#include "tabimport/ZipArchive.h"

using namespace pulsewright;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const MusicXmlImport result = importMusicXml(bytes);
  require(result.ok() || !result.error.empty());
  // A compressed score's warnings point into its inner file, of lines unknown here.
  checkImport(result.error, result.document, result.warnings,
              looksLikeZipArchive(bytes) ? 0 : lineCount(bytes));
  return 0;
}
