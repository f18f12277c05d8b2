#include "editor/DocumentFile.h"

#include <algorithm>
#include <cstring>

namespace pulsewright {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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
  std::string decoded = decodeDocumentBytes(bytes, &doc.format.encoding);
  if (doc.format.encoding != DocumentEncoding::Utf8) doc.format.byteOrderMark = false;
  doc.format.lineEnding = firstLineEnding(decoded);

  // Line ends become LF in place, the runs between CRs moved down whole: a byte at a time,
  // or into a copy, holds the window up on a large file.
  std::size_t out = 0;
  for (std::size_t in = 0; in < decoded.size();) {
    const std::size_t cr = std::min(decoded.find('\r', in), decoded.size());
    if (out != in) std::memmove(decoded.data() + out, decoded.data() + in, cr - in);
    out += cr - in;
    if (cr == decoded.size()) break;
    decoded[out++] = '\n';
    in = cr + 1;
    if (in < decoded.size() && decoded[in] == '\n') ++in;
  }
  decoded.resize(out);
  if (!decoded.empty() && decoded.back() == '\n') decoded.pop_back();
  doc.text = std::move(decoded);
  return doc;
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
