#include "text/NumericValue.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace pulsewright {

double numericValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  const std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t digitsStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  bool anyDigit = i > digitsStart;
  const std::size_t fractionDot = i;
  if (i < text.size() && text[i] == '.') {
    const std::size_t fractionStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    anyDigit = anyDigit || i > fractionStart;
  }
  if (!anyDigit) return 0.0;
  // from_chars ignores the locale (the window's locale may use a decimal comma) and
  // takes no leading plus sign.
  std::size_t from = start;
  if (text[from] == '+') ++from;
  double value = 0.0;
  const auto result = std::from_chars(text.data() + from, text.data() + i, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large when the whole part has a non-zero digit, else too small to tell from 0.
    const std::string_view whole = text.substr(digitsStart, fractionDot - digitsStart);
    const bool large = whole.find_first_not_of('0') != std::string_view::npos;
    const double magnitude = large ? HUGE_VAL : 0.0;
    return text[from] == '-' ? -magnitude : magnitude;
  }
  return value;
}

}  // namespace pulsewright
