#include "editor/DocumentFile.h"

#include <array>
#include <cstdint>

namespace pulsewright {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Code points of the bytes 0x80 to 0x9F; the undefined five keep their C1 code point.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The code point at `i` of valid UTF-8, advancing `i` past it.
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

LineEnding firstLineEnding(std::string_view text) {
  const std::size_t at = text.find_first_of("\r\n");
  if (at == std::string_view::npos) return LineEnding::CrLf;
  if (text[at] == '\n') return LineEnding::Lf;
  if (at + 1 < text.size() && text[at + 1] == '\n') return LineEnding::CrLf;
  return LineEnding::Cr;
}

std::string_view lineEndBytes(LineEnding ending) {
  switch (ending) {
    case LineEnding::Lf: return "\n";
    case LineEnding::Cr: return "\r";
    case LineEnding::CrLf: break;
  }
  return "\r\n";
}

}  // namespace

LoadedDocument loadDocument(std::string_view bytes) {
  LoadedDocument doc;
  doc.format.byteOrderMark = bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark;
  const std::string decoded = decodeDocumentBytes(bytes, &doc.format.encoding);
  if (doc.format.encoding != DocumentEncoding::Utf8) doc.format.byteOrderMark = false;
  doc.format.lineEnding = firstLineEnding(decoded);

  doc.text.reserve(decoded.size());
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const char c = decoded[i];
    if (c == '\r') {
      if (i + 1 < decoded.size() && decoded[i + 1] == '\n') ++i;
      doc.text += '\n';
    } else {
      doc.text += c;
    }
  }
  if (!doc.text.empty() && doc.text.back() == '\n') doc.text.pop_back();
  return doc;
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

SavedDocument saveDocument(std::string_view text, const DocumentFormat& format) {
  SavedDocument saved{{}, format};
  const std::string_view lineEnd = lineEndBytes(format.lineEnding);
  std::string withEnds;
  withEnds.reserve(text.size() + text.size() / 16 + 2);
  for (char c : text) {
    if (c == '\n') {
      withEnds += lineEnd;
    } else {
      withEnds += c;
    }
  }
  withEnds += lineEnd;

  if (format.encoding == DocumentEncoding::Windows1252) {
    if (auto encoded = encodeWindows1252(withEnds)) {
      saved.bytes = std::move(*encoded);
      return saved;
    }
    saved.format.encoding = DocumentEncoding::Utf8;
    saved.format.byteOrderMark = false;
  }
  if (saved.format.byteOrderMark) saved.bytes = kByteOrderMark;
  saved.bytes += withEnds;
  return saved;
}

}  // namespace pulsewright
