#pragma once
// What the importers of XML files (Hydrogen songs, MusicXML scores) read from elements:
// text without the blanks around it, numbers, and where an element stands for a warning.

#include <cstddef>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace pulsewright {

std::string trimmedXmlText(const char* value);
// The trimmed text of `node`'s child element `child` ("" where there is none).
std::string xmlChildText(const pugi::xml_node& node, const char* child);
// A finite number and nothing else; none for empty or other text.
std::optional<double> xmlNumberIn(std::string_view text);
std::optional<double> xmlChildNumber(const pugi::xml_node& node, const char* child);
// The byte offset of `node` in the document: of the "<" that opens an element.
std::size_t xmlOffsetOf(const pugi::xml_node& node);

}  // namespace pulsewright
