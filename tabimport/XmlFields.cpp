#include "tabimport/XmlFields.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pulsewright {

std::string trimmedXmlText(const char* value) {
  std::string_view s(value);
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1));
}

std::string xmlChildText(const pugi::xml_node& node, const char* child) {
  return trimmedXmlText(node.child_value(child));
}

std::optional<double> xmlNumberIn(std::string_view text) {
  const std::string t(text);
  if (t.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<double> xmlChildNumber(const pugi::xml_node& node, const char* child) {
  return xmlNumberIn(xmlChildText(node, child));
}

std::size_t xmlOffsetOf(const pugi::xml_node& node) {
  // pugixml gives an element's offset as that of its name.
  const std::ptrdiff_t name = node.offset_debug();
  return static_cast<std::size_t>(
      std::max<std::ptrdiff_t>(node.type() == pugi::node_element ? name - 1 : name, 0));
}

}  // namespace pulsewright
