#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "text/NumericValue.h"

namespace pulsewright {
namespace {

// Tempo, note size, pad entries and event items are all read this way.
TEST(NumberReading, ReadsTheLeadingNumberOrZero) {
  const std::string nines(400, '9');
  const struct {
    std::string text;
    double value;
  } cases[] = {
      {"120", 120},
      {"  +5", 5},
      {"+5", 5},
      {"\t-2.5 bpm", -2.5},
      {".5", 0.5},
      {"5.", 5},
      {"007", 7},
      {"1,5", 1},
      {"1e3", 1},
      {"12abc", 12},
      {"", 0},
      {"abc", 0},
      {"+", 0},
      {"-", 0},
      {".", 0},
      {"+.", 0},
      {"++5", 0},
      {"+-5", 0},
      {"+ 5", 0},
      {"x5", 0},
      {nines, HUGE_VAL},
      {"-" + nines, -HUGE_VAL},
      {"0." + std::string(400, '0') + "1", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(numericValue(c.text), c.value) << '"' << c.text.substr(0, 20) << '"';
  }
}

}  // namespace
}  // namespace pulsewright
