#pragma once
// Exact musical time: a fraction of a whole note, always reduced, its denominator above 0.
// Sums and multiples are checked: one that does not fit 64 bits gives none, so that no
// position is ever wrong, only missing.

#include <cstdint>
#include <numeric>
#include <optional>
#include <string>

namespace pulsewright {

// Products of two 64-bit terms, which the checks need whole.
__extension__ using WideInt = __int128;

struct MusicalTime {
  std::int64_t num = 0;
  std::int64_t den = 1;

  // num / den reduced; none for a zero denominator or one that does not fit.
  static std::optional<MusicalTime> of(std::int64_t num, std::int64_t den) {
    if (den == 0) return std::nullopt;
    const std::int64_t g = std::gcd(num, den);  // above 0, as den is not 0
    num /= g;
    den /= g;
    if (den < 0) {
      if (num == INT64_MIN || den == INT64_MIN) return std::nullopt;
      num = -num;
      den = -den;
    }
    return MusicalTime{num, den};
  }

  bool operator==(const MusicalTime&) const = default;
  bool operator<(const MusicalTime& other) const {
    return static_cast<WideInt>(num) * other.den < static_cast<WideInt>(other.num) * den;
  }

  // "3/8", "1" or "0".
  std::string text() const {
    return den == 1 ? std::to_string(num) : std::to_string(num) + "/" + std::to_string(den);
  }
};

namespace musical_time_detail {
inline std::optional<MusicalTime> fromWide(WideInt num, WideInt den) {
  if (den == 0) return std::nullopt;
  WideInt a = num < 0 ? -num : num;
  WideInt b = den < 0 ? -den : den;
  while (b != 0) {
    const WideInt r = a % b;
    a = b;
    b = r;
  }
  num /= a;
  den /= a;
  if (den < 0) {
    num = -num;
    den = -den;
  }
  if (num > INT64_MAX || num < -INT64_MAX || den > INT64_MAX) return std::nullopt;
  return MusicalTime{static_cast<std::int64_t>(num), static_cast<std::int64_t>(den)};
}
}  // namespace musical_time_detail

inline std::optional<MusicalTime> operator+(const MusicalTime& a, const MusicalTime& b) {
  if (a.den == b.den) {  // the common case: steps of one length
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a.num, b.num, &sum)) return MusicalTime::of(sum, a.den);
  }
  std::int64_t left = 0;
  std::int64_t right = 0;
  std::int64_t sum = 0;
  std::int64_t den = 0;
  if (!__builtin_mul_overflow(a.num, b.den, &left) &&
      !__builtin_mul_overflow(b.num, a.den, &right) && !__builtin_add_overflow(left, right, &sum) &&
      !__builtin_mul_overflow(a.den, b.den, &den)) {
    return MusicalTime::of(sum, den);
  }
  return musical_time_detail::fromWide(
      static_cast<WideInt>(a.num) * b.den + static_cast<WideInt>(b.num) * a.den,
      static_cast<WideInt>(a.den) * b.den);
}

inline std::optional<MusicalTime> operator-(const MusicalTime& a, const MusicalTime& b) {
  return a + MusicalTime{-b.num, b.den};
}

inline std::optional<MusicalTime> operator*(const MusicalTime& a, std::int64_t times) {
  std::int64_t num = 0;
  if (!__builtin_mul_overflow(a.num, times, &num)) return MusicalTime::of(num, a.den);
  return musical_time_detail::fromWide(static_cast<WideInt>(a.num) * times, a.den);
}

// The whole number nearest to `t` × `units`, halves away from zero (as std::llround);
// none when it does not fit.
inline std::optional<std::int64_t> roundedUnits(const MusicalTime& t, std::int64_t units) {
  const WideInt scaled = static_cast<WideInt>(t.num) * units;
  const WideInt half = t.den;  // compare 2 × remainder with den
  WideInt q = scaled / t.den;
  const WideInt r = scaled % t.den;
  if (2 * (r < 0 ? -r : r) >= half) q += scaled < 0 ? -1 : 1;
  if (q > INT64_MAX || q < INT64_MIN) return std::nullopt;
  return static_cast<std::int64_t>(q);
}

}  // namespace pulsewright
