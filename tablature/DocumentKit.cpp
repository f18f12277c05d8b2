#include "tablature/DocumentKit.h"

#include <cctype>

namespace pulsewright {

namespace {

bool blank(char c) {
  return c == ' ' || c == '\t';
}

// Takes `word` (any case) at `at`, then the blanks after it.
bool take(std::string_view line, std::size_t& at, std::string_view word) {
  if (line.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[at + i])) != word[i]) return false;
  }
  at += word.size();
  while (at < line.size() && blank(line[at])) ++at;
  return true;
}

}  // namespace

std::string documentKit(std::string_view text) {
  std::string kit;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    std::size_t at = 0;
    while (at < line.size() && blank(line[at])) ++at;
    const std::size_t afterMeta = at + 4;
    if (!take(line, at, "meta") || at == afterMeta) continue;  // "metakit" is no kit line
    if (!take(line, at, "kit") || !take(line, at, "=")) continue;
    std::string_view value = line.substr(at);
    while (!value.empty() && blank(value.back())) value.remove_suffix(1);
    if (!value.empty()) kit = std::string(value);
  }
  return kit;
}

}  // namespace pulsewright
