#pragma once
// What every importer of foreign files must hold to for any bytes: a refusal says why,
// warnings point into the input, and a document is valid UTF-8 that checks clean.

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tabimport/DrumTabImport.h"
#include "tablature/Diagnostics.h"
#include "text/DocumentText.h"
#include "text/Utf8.h"

namespace pulsewright {

inline void require(bool condition) {
  if (!condition) std::abort();
}

// `lines` is how many lines the warnings may point into (0: any).
inline void checkImport(std::string_view error, const std::string& document,
                        const std::vector<TabWarning>& warnings, std::size_t lines) {
  for (const TabWarning& w : warnings) {
    require(w.line >= 1 && w.column >= 1 && !w.text.empty());
    require(lines == 0 || static_cast<std::size_t>(w.line) <= lines);
  }
  if (!error.empty()) {
    require(document.empty());
    return;
  }
  require(!document.empty() && document.back() == '\n');
  require(isValidUtf8(document));
  DiagnosticOptions options;
  options.sampleProblem = nullptr;
  require(diagnose(joinLinesWithCrLf(document), options).empty());
}

// Lines as warnings count them: LF, CR LF and a lone CR each end one.
inline std::size_t lineCount(std::string_view bytes) {
  std::size_t lines = 1;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n')))
      ++lines;
  }
  return lines;
}

}  // namespace pulsewright
