#pragma once
// Walking UTF-8 text by character, and the two columns the program reports: code points
// counted from 1 (the problems list, messages) and UTF-16 units counted from 0 (Qt's
// text positions).

#include <cstddef>
#include <string>
#include <string_view>

namespace pulsewright {

inline bool isContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length in bytes of the character that starts at `i`; 1 for a byte that does not
// start a whole sequence, so that any bytes can be walked.
std::size_t characterBytes(std::string_view s, std::size_t i);

std::size_t codePointCount(std::string_view s);

// The code point at `i` of valid UTF-8, advancing `i` past it.
char32_t nextCodePoint(std::string_view s, std::size_t& i);

void appendUtf8(std::string& out, char32_t codePoint);

// A place in a line, moved on byte by byte: a reader that walks a line once stays linear.
struct TextColumn {
  int column = 1;
  int utf16 = 0;

  void add(char byte) {
    if (isContinuationByte(byte)) return;  // belongs to the character before
    ++column;
    utf16 += static_cast<unsigned char>(byte) >= 0xF0 ? 2 : 1;
  }
  void add(std::string_view bytes) {
    for (const char c : bytes) add(c);
  }
};

// Byte offsets of one line turned into columns, walking forward from the last answer so
// that many offsets on one long line stay linear.
class LineColumns {
 public:
  void reset(std::string_view line) {
    line_ = line;
    byte_ = 0;
    at_ = {};
  }
  TextColumn at(std::size_t byte) {
    if (byte > line_.size()) byte = line_.size();
    if (byte < byte_) reset(line_);
    while (byte_ < byte) at_.add(line_[byte_++]);
    return at_;
  }

 private:
  std::string_view line_;
  std::size_t byte_ = 0;
  TextColumn at_;
};

}  // namespace pulsewright
