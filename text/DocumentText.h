#pragma once
// How document bytes become the text the compiler reads.

#include <optional>
#include <string>
#include <string_view>

namespace pulsewright {

enum class DocumentEncoding { Utf8, Windows1252 };

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The bytes as UTF-8 when they are valid UTF-8, else as Windows-1252 (documents written
// on older systems), always returned as UTF-8. A leading UTF-8 byte-order mark is
// dropped so that the first line reads like any other.
std::string decodeDocumentBytes(std::string_view bytes, DocumentEncoding* encoding = nullptr);

// CR LF, LF and a lone CR each end a line; the lines are joined with CR LF, the
// separator the compiler splits at.
std::string joinLinesWithCrLf(std::string_view text);

// Both of the above at once, with one copy of the text when the bytes are UTF-8: what the
// compiler reads from a document file.
std::string documentTextFromBytes(std::string_view bytes);

bool isValidUtf8(std::string_view bytes);

// UTF-8 text in Windows-1252, or nothing when a character has no byte there. The five
// bytes that Windows-1252 leaves undefined come back from their C1 code points, as the
// decoder maps them.
std::optional<std::string> encodeWindows1252(std::string_view utf8);

}  // namespace pulsewright
