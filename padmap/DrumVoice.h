#pragma once
// The seventeen drum voices, in pad order: the order of the Options window's rows,
// of preset columns and of the fields of a pad-map file.

#include <array>
#include <cstddef>
#include <optional>
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

// The names a voice line may give each voice, in pad order, as the compiler's voice
// words accept them ("k = kick drum", "closed hi-hat = h"). The first is the shortest.
inline constexpr std::array<std::string_view, kVoiceCount> kVoiceNames = {
    "bass, kick, bass drum, kick drum, kickdrum",
    "snare, snare drum",
    "closed, closed hat, closed hi-hat, closed hi hat",
    "pedal, pedal hat, pedal hi-hat",
    "open, open hat, open hi-hat",
    "tom 1, tom1, tom one",
    "tom 2, tom2, tom two",
    "tom 3, tom3, tom three",
    "tom 4, tom4, tom four",
    "ride, ride cymbal",
    "bell, cymbal bell, bell cymbal",
    "crash 1, crash1, crash one",
    "crash 2, crash2, crash two",
    "perc 1, perc1, perc one",
    "perc 2, perc2, perc two",
    "clap, claps, hand clap, handclaps",
    "cow bell, cowbell"};

// The symbols drummers conventionally give each voice in grid lines, in pad order.
inline constexpr std::array<std::string_view, kVoiceCount> kVoiceSymbols = {
    "k, bd", "s, sn", "h, hh", "p, ph", "oh", "t1", "t2", "t3", "t4, ft",
    "r, rd", "b, rb", "c, c1", "c2",    "p1", "p2", "cp", "cb"};

// The voice a drum key plays when a MIDI file is read: every General MIDI percussion key
// (35-81) by its family, and the keys electronic kits send for edges, rims and half-open
// hats (22 and 26 hat edges, 23 half-open, 37 cross-stick, 40 rim shot, 43 and 58 floor
// tom and its rim, 52 and 55 china and splash, 53 and 59 ride bell and edge). The default
// pad map's notes come back to their own voices. Nothing for a key of no drum family.
constexpr std::optional<DrumVoice> drumVoiceOfKey(int key) {
  using V = DrumVoice;
  switch (key) {
    case 22: return V::ClosedHat;  // closed hat edge
    case 23:                       // half-open hat
    case 26: return V::OpenHat;    // open hat edge
    case 35:
    case 36: return V::BassDrum;
    case 37:  // side stick
    case 38:
    case 40: return V::SnareDrum;  // electric snare, a rim shot on kits
    case 39: return V::Claps;
    case 41:
    case 43:
    case 58: return V::Tom4;  // floor toms and, on kits, the floor tom's rim
    case 42: return V::ClosedHat;
    case 44: return V::PedalHat;
    case 45: return V::Tom3;
    case 46: return V::OpenHat;
    case 47:
    case 48: return V::Tom2;
    case 50: return V::Tom1;
    case 49:
    case 55: return V::Crash1;  // and the splash
    case 52:
    case 57: return V::Crash2;  // and the china
    case 51:
    case 59: return V::Ride;
    case 53: return V::Bell;
    case 56: return V::CowBell;
    // Hand and Latin percussion: the higher of each pair on Perc 1, the lower on Perc 2.
    case 61:
    case 64:
    case 66:
    case 68:
    case 72:
    case 74:
    case 77:
    case 79:
    case 81: return V::Perc2;
    default: break;
  }
  if (key >= 35 && key <= 81) return V::Perc1;  // 54, 60, 62, 63, 65, 67, 69-71, 73, 75, ...
  return std::nullopt;
}

}  // namespace pulsewright
