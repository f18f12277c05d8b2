#pragma once
// Reads the plain-text drum tabs found on the web (`HH|x-x-x-x-|`) and writes them as a
// tablature document: one voice line per drum used, one part per distinct system, and a
// song line that plays the systems in order with their repeats. A section label with a
// repeat count on a line of its own ("Verse x4") names the part of the section's first
// system by its initial and repeats the section's systems, up to the next line of text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pulsewright {

struct TabWarning {
  int line = 0;    // from 1
  int column = 0;  // in code points, from 1
  std::string text;
};

// Tempi outside this range are not taken from the text (and refused on the command line).
inline constexpr int kMinTabTempo = 10;
inline constexpr int kMaxTabTempo = 999;

struct TabImportOptions {
  std::optional<int> tempo;  // overrides every tempo written in the tab
};

struct TabImportResult {
  // False when no instrument line names a drum: there is nothing to write.
  bool found = false;
  std::string document;  // lines end in LF
  std::vector<TabWarning> warnings;
};

// The bytes are decoded as documents are (UTF-8, else Windows-1252).
TabImportResult importDrumTab(std::string_view bytes, const TabImportOptions& options = {});

// "FILE:LINE:COL: warning: text", the form compilers and editors understand.
std::string formatTabWarning(std::string_view file, const TabWarning& warning);

}  // namespace pulsewright
