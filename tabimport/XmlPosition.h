#pragma once
// Where a byte offset of a file stands, as line and column (code points), from 1.

#include <cstddef>
#include <string_view>
#include <utility>

#include "text/Utf8.h"

namespace pulsewright {

inline std::pair<int, int> lineAndColumnOf(std::string_view bytes, std::size_t offset) {
  int line = 1;
  int column = 1;
  for (std::size_t i = 0; i < offset && i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\n' || (c == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n'))) {
      ++line;
      column = 1;
    } else if (c != '\r' && !isContinuationByte(c)) {
      ++column;
    }
  }
  return {line, column};
}

}  // namespace pulsewright
