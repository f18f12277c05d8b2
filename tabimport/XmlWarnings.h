#pragma once
// The warnings of an XML importer, each at the element it is about, and capped: past the
// cap the last one kept gives way to "N more warnings not shown" at the first one left
// out, so a broken file of a million notes warns in a page, not a million lines.

#include <cstddef>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "tabimport/DrumTabImport.h"

namespace pulsewright {

class CappedXmlWarnings {
 public:
  // Warnings go to `out`, placed in `bytes`, the document the nodes were parsed from.
  CappedXmlWarnings(std::string_view bytes, std::size_t cap, std::vector<TabWarning>* out)
      : bytes_(bytes), cap_(cap), out_(out) {}
  void warn(const pugi::xml_node& node, std::string text);
  // Writes the ending for the warnings left out, if any were.
  void finish();

 private:
  std::string_view bytes_;
  std::size_t cap_;
  std::vector<TabWarning>* out_;
  std::size_t suppressed_ = 0;
  pugi::xml_node suppressedAt_;
  // Warnings mostly come in document order: each place is counted on from the last one
  // instead of from the file's start.
  std::size_t countedTo_ = 0;
  int line_ = 1, column_ = 1;
};

}  // namespace pulsewright
