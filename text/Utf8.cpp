#include "text/Utf8.h"

#include <cstdint>

namespace pulsewright {

std::size_t characterBytes(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const std::size_t len = b < 0xC0 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
  if (i + len > s.size()) return 1;
  for (std::size_t k = 1; k < len; ++k) {
    if (!isContinuationByte(s[i + k])) return 1;
  }
  return len;
}

std::size_t codePointCount(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += characterBytes(s, i)) ++n;
  return n;
}

char32_t nextCodePoint(std::string_view s, std::size_t& i) {
  const auto b = static_cast<std::uint8_t>(s[i]);
  std::size_t len = 1;
  char32_t cp = b;
  if (b >= 0xF0) {
    len = 4;
    cp = b & 0x07;
  } else if (b >= 0xE0) {
    len = 3;
    cp = b & 0x0F;
  } else if (b >= 0xC0) {
    len = 2;
    cp = b & 0x1F;
  }
  for (std::size_t k = 1; k < len && i + k < s.size(); ++k) {
    cp = (cp << 6) | (static_cast<std::uint8_t>(s[i + k]) & 0x3F);
  }
  i += len;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace pulsewright
