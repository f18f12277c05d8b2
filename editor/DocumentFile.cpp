#include "editor/DocumentFile.h"

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
  const std::string decoded = decodeDocumentBytes(bytes, &doc.format.encoding);
  if (doc.format.encoding != DocumentEncoding::Utf8) doc.format.byteOrderMark = false;
  doc.format.lineEnding = firstLineEnding(decoded);

  doc.text.reserve(decoded.size());
  // The runs between CRs are copied whole: a byte at a time holds the window up for a
  // tenth of a second on a large file.
  std::string_view rest = decoded;
  while (!rest.empty()) {
    const std::size_t cr = rest.find('\r');
    if (cr == std::string_view::npos) {
      doc.text += rest;
      break;
    }
    doc.text.append(rest.data(), cr);
    doc.text += '\n';
    rest.remove_prefix(cr + 1);
    if (!rest.empty() && rest.front() == '\n') rest.remove_prefix(1);
  }
  if (!doc.text.empty() && doc.text.back() == '\n') doc.text.pop_back();
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
