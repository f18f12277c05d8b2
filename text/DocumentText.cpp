#include "text/DocumentText.h"

#include <array>
#include <cstdint>

#include "text/Utf8.h"

namespace pulsewright {

namespace {

// Code points of the bytes 0x80 to 0x9F in Windows-1252; the five bytes it leaves
// undefined keep their C1 code point.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<std::uint8_t>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = 0;
    char32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto c = static_cast<std::uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += len;
  }
  return true;
}

std::string decodeDocumentBytes(std::string_view bytes, DocumentEncoding* encoding) {
  if (isValidUtf8(bytes)) {
    if (encoding != nullptr) *encoding = DocumentEncoding::Utf8;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return std::string(bytes);
  }
  if (encoding != nullptr) *encoding = DocumentEncoding::Windows1252;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 0x80) {
      out += c;
    } else if (b < 0xA0) {
      appendUtf8(out, kWindows1252High[b - 0x80]);
    } else {
      appendUtf8(out, b);
    }
  }
  return out;
}

std::optional<std::string> encodeWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = nextCodePoint(utf8, i);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    std::size_t k = 0;
    while (k < kWindows1252High.size() && kWindows1252High[k] != cp) ++k;
    if (k == kWindows1252High.size()) return std::nullopt;
    out += static_cast<char>(0x80 + k);
  }
  return out;
}

std::string joinLinesWithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace pulsewright
