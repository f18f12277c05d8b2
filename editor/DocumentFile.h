#pragma once
// Document files as bytes: how a file's bytes become editor text and back. The editor
// holds its lines separated by LF; each document remembers how its file ended its lines
// and which encoding it used, so that saving an unchanged document gives back its bytes.

#include <optional>
#include <string>
#include <string_view>

#include "text/DocumentText.h"

namespace pulsewright {

enum class LineEnding { CrLf, Lf, Cr };

struct DocumentFormat {
  LineEnding lineEnding = LineEnding::CrLf;
  DocumentEncoding encoding = DocumentEncoding::Utf8;
  bool byteOrderMark = false;  // UTF-8 files only

  bool operator==(const DocumentFormat&) const = default;
};

struct LoadedDocument {
  std::string text;  // UTF-8, lines separated by LF
  DocumentFormat format;
};

struct SavedDocument {
  std::string bytes;
  DocumentFormat format;  // what was written; differs from the request when the text
                          // needed UTF-8 although Windows-1252 was asked for
};

// Decodes a file (UTF-8, else Windows-1252). The file's first line end decides its line
// ending (CR LF when it has none); every line end becomes LF, and the one line end that
// saving appends at the very end is dropped.
LoadedDocument loadDocument(std::string_view bytes);

// The text (UTF-8, LF between lines) followed by one line end, with the format's line
// ending and encoding. Text that Windows-1252 cannot hold is written as UTF-8.
SavedDocument saveDocument(std::string_view text, const DocumentFormat& format);

}  // namespace pulsewright
