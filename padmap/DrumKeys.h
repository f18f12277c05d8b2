#pragma once
// The on-screen drum keyboard's keys: which computer key plays which drum voice.

#include <array>
#include <string_view>

#include "padmap/DrumVoice.h"

namespace pulsewright {

inline constexpr int kKeyCount = 17;

struct KeyboardKey {
  std::string_view caption;  // the computer key that plays it
  bool black;
  DrumVoice voice;
};

// Left to right, as on a piano: ten white keys with seven black ones over the gaps.
inline constexpr std::array<KeyboardKey, kKeyCount> kKeyboardKeys = {{
    {"Z", false, DrumVoice::BassDrum},
    {"S", true, DrumVoice::SnareDrum},
    {"X", false, DrumVoice::Claps},
    {"D", true, DrumVoice::Tom3},
    {"C", false, DrumVoice::ClosedHat},
    {"V", false, DrumVoice::Tom2},
    {"G", true, DrumVoice::OpenHat},
    {"B", false, DrumVoice::Tom1},
    {"H", true, DrumVoice::Crash1},
    {"N", false, DrumVoice::Ride},
    {"J", true, DrumVoice::Perc1},
    {"M", false, DrumVoice::Perc2},
    {",", false, DrumVoice::PedalHat},
    {"L", true, DrumVoice::Tom4},
    {".", false, DrumVoice::Bell},
    {";", true, DrumVoice::Crash2},
    {"/", false, DrumVoice::CowBell},
}};

// The key that plays `voice`.
int keyOfVoice(DrumVoice voice);

}  // namespace pulsewright
