#pragma once
// Where the compiled song's steps and items come from in the text.

#include <cstdint>

namespace pulsewright {

// Where a character of the document stands: the line (from 1), the column in code points
// (from 1, as compilers print it) and the offset from the line's start in UTF-16 units
// (from 0, as the editor counts).
struct SourcePosition {
  int line = 0;
  int column = 0;
  int utf16 = 0;
  bool operator==(const SourcePosition&) const = default;
};

// The musical values a step's duration was worked out from.
struct StepMusic {
  double tempo = 0;
  double noteSize = 0;
  int tupletDivisor = 1;
};

}  // namespace pulsewright
