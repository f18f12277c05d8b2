#pragma once

#include <string_view>

namespace pulsewright {

// The leading decimal number of a text (blanks before it skipped, optional sign,
// digits, optional fraction), 0 when the text has none. Tempo, note size, pad
// entries and event items are read this way.
double numericValue(std::string_view text);

}  // namespace pulsewright
