#include "platform/HalfBandDecimator.h"

#include <algorithm>
#include <cmath>

namespace pulsewright {

namespace {

constexpr double kKaiserBeta = 6.76;  // 70 dB

// The modified Bessel function of order zero, by its series.
double besselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; k < 50 && term > 1e-12 * sum; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

}  // namespace

HalfBandDecimator::HalfBandDecimator()
    : taps_((kHalf + 1) / 2), line_(2 * (kHistory + 2 * kMaxFrames), 0.0f) {
  double sum = 0;
  std::vector<double> taps(taps_.size());
  for (std::size_t i = 0; i < taps.size(); ++i) {
    const double distance = 2.0 * static_cast<double>(i) + 1;
    const double sinc = std::sin(M_PI * distance / 2) / (M_PI * distance / 2);
    const double r = distance / kHalf;
    taps[i] = 0.5 * sinc * besselI0(kKaiserBeta * std::sqrt(1 - r * r)) / besselI0(kKaiserBeta);
    sum += 2 * taps[i];
  }
  // The side taps add up to a half, with the centre's half a gain of one at 0 Hz.
  for (std::size_t i = 0; i < taps.size(); ++i) taps_[i] = static_cast<float>(taps[i] * 0.5 / sum);
}

void HalfBandDecimator::reset() {
  std::fill(line_.begin(), line_.end(), 0.0f);
}

void HalfBandDecimator::decimate(int frames, float* out) {
  const float* x = line_.data();
  const int taps = static_cast<int>(taps_.size());
  for (int m = 0; m < frames; ++m) {
    // The newest input frame of this output is kHistory + 2m + 1; the centre is kHalf back.
    const int centre = kHistory + 2 * m + 1 - kHalf;
    float left = 0.5f * x[2 * centre], right = 0.5f * x[2 * centre + 1];
    for (int i = 0; i < taps; ++i) {
      const int d = 2 * i + 1;
      left += taps_[i] * (x[2 * (centre - d)] + x[2 * (centre + d)]);
      right += taps_[i] * (x[2 * (centre - d) + 1] + x[2 * (centre + d) + 1]);
    }
    out[2 * m] = left;
    out[2 * m + 1] = right;
  }
  // The latest kHistory input frames stay for the next call.
  const int consumed = 2 * frames;
  std::copy(line_.begin() + 2 * consumed, line_.begin() + 2 * (consumed + kHistory), line_.begin());
}

}  // namespace pulsewright
