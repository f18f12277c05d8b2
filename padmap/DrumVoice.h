#pragma once
// The seventeen drum voices, in pad order: the order of the Options window's rows,
// of preset columns and of the fields of a pad-map file.

#include <array>
#include <cstddef>
#include <string_view>

namespace pulsewright {

enum class DrumVoice : std::size_t {
  BassDrum,
  SnareDrum,
  ClosedHat,
  PedalHat,
  OpenHat,
  Tom1,
  Tom2,
  Tom3,
  Tom4,
  Ride,
  Bell,
  Crash1,
  Crash2,
  Perc1,
  Perc2,
  Claps,
  CowBell,
};

inline constexpr std::size_t kVoiceCount = 17;

constexpr std::size_t index(DrumVoice v) {
  return static_cast<std::size_t>(v);
}

// Row captions of the Options window, in pad order.
inline constexpr std::array<std::string_view, kVoiceCount> kVoiceCaptions = {
    "Bass Drum", "Snare Drum", "Closed Hat", "Pedal Hat", "Open Hat", "Tom 1",
    "Tom 2",     "Tom 3",      "Tom 4",      "Ride",      "Bell",     "Crash 1",
    "Crash 2",   "Perc 1",     "Perc 2",     "Claps",     "Cow Bell"};

}  // namespace pulsewright
