#pragma once
// Halves the rate of a stereo stream: a half-band low-pass (a Kaiser-windowed sinc, flat
// to 20 kHz and 70 dB down from 24.1 kHz at 88.2 kHz in) that keeps every second frame.
// The built-in synthesiser renders at twice the output rate through it, so that its voices,
// which start only on its 64-frame blocks, start within 32 output frames of their frame.
//
// Real-time safe once constructed: no allocation, no lock.

#include <vector>

namespace pulsewright {

class HalfBandDecimator {
 public:
  static constexpr int kMaxFrames = 256;  // output frames per call of input()/decimate()
  // What comes in at input frame 2n goes out as output frame n + kDelayFrames.
  static constexpr int kDelayFrames = 23;

  HalfBandDecimator();

  // Where the next 2 * `frames` input frames (interleaved stereo) go; `frames` <= kMaxFrames.
  float* input() { return line_.data() + 2 * kHistory; }
  // Filters the 2 * `frames` frames written to input() into `frames` frames at `out`.
  void decimate(int frames, float* out);
  // Forgets what came before: the next input starts from silence.
  void reset();

 private:
  static constexpr int kHalf = 47;  // odd, so the outermost taps are not zero
  static constexpr int kHistory = 2 * kHalf;
  std::vector<float> taps_;  // of the odd distances 1, 3, ... kHalf from the centre
  std::vector<float> line_;  // kHistory frames of history, then the input
};

}  // namespace pulsewright
