#include "text/DocumentText.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "text/Utf8.h"

namespace pulsewright {

namespace {

// Code points of the bytes 0x80 to 0x9F in Windows-1252; the five bytes it leaves
// undefined keep their C1 code point.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    // Documents are mostly ASCII: eight bytes at a time while none has its high bit set.
    while (i + 8 <= s.size()) {
      std::uint64_t word = 0;
      std::memcpy(&word, s.data() + i, 8);
      if ((word & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i >= s.size()) break;
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
    if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
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

std::string documentTextFromBytes(std::string_view bytes) {
  if (!isValidUtf8(bytes)) return joinLinesWithCrLf(decodeDocumentBytes(bytes));
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  return joinLinesWithCrLf(bytes);
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
  if (text.empty()) return {};
  // The line ends are found with memchr and the lines written through a pointer: a long
  // document's bytes are otherwise looked at one at a time and appended line by line.
  std::string out(text.size() + text.size() / 16 + 2, '\0');
  std::size_t written = 0;
  const char* from = text.data();
  const char* const end = from + text.size();
  auto next = [end](const char* at, char c) {
    const void* found = std::memchr(at, c, static_cast<std::size_t>(end - at));
    return found == nullptr ? end : static_cast<const char*>(found);
  };
  // The next CR and LF at or after `from`: a document of LF or CR LF ends has no lone
  // CR, and one search finds there is none.
  const char* nextCr = next(from, '\r');
  const char* nextLf = next(from, '\n');
  while (true) {
    if (nextCr < from) nextCr = next(from, '\r');
    if (nextLf < from) nextLf = next(from, '\n');
    const char* const lineEnd = std::min(nextCr, nextLf);
    const auto length = static_cast<std::size_t>(lineEnd - from);
    if (out.size() - written < length + 2) out.resize(out.size() + out.size() / 2 + length + 2);
    std::memcpy(out.data() + written, from, length);
    written += length;
    if (lineEnd == end) break;
    out[written++] = '\r';
    out[written++] = '\n';
    from = lineEnd + (*lineEnd == '\r' && lineEnd + 1 < end && lineEnd[1] == '\n' ? 2 : 1);
    if (from == end) break;
  }
  out.resize(written);
  return out;
}

}  // namespace pulsewright
