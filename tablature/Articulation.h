#pragma once
// How a grid mark asks a drum to be struck, beside its level. Old documents have only
// None: every other value comes from a mark that used to make its line ignored.

#include <cstdint>
#include <optional>

namespace pulsewright {

enum class Articulation : std::uint8_t {
  None,
  Flam,        // f F: one grace note before the main note
  Drag,        // d D: two grace notes before the main note
  Buzz,        // z Z: the step filled with a press roll
  CrossStick,  // c C: the side-stick sound of a snare line
  Rimshot,     // r R
  Bell,        // b B: the bell of a cymbal line
  Edge,        // e E: the edge of a cymbal line
  HalfOpen,    // h H: a hi-hat line's half-open hat
  Choke,       // !: no hit; the line's sounding cymbal stops at this step
};

// The articulation of a grid character and its level (lower case 5, upper case 7, a
// choke 0); none for a character that is not an articulation mark.
struct ArticulationMark {
  Articulation articulation = Articulation::None;
  int level = 0;
};
inline std::optional<ArticulationMark> articulationOfMark(char c) {
  const bool upper = c >= 'A' && c <= 'Z';
  const int level = upper ? 7 : 5;
  switch (upper ? static_cast<char>(c - 'A' + 'a') : c) {
    case 'f': return ArticulationMark{Articulation::Flam, level};
    case 'd': return ArticulationMark{Articulation::Drag, level};
    case 'z': return ArticulationMark{Articulation::Buzz, level};
    case 'c': return ArticulationMark{Articulation::CrossStick, level};
    case 'r': return ArticulationMark{Articulation::Rimshot, level};
    case 'b': return ArticulationMark{Articulation::Bell, level};
    case 'e': return ArticulationMark{Articulation::Edge, level};
    case 'h': return ArticulationMark{Articulation::HalfOpen, level};
    case '!': return ArticulationMark{Articulation::Choke, 0};
    default: return std::nullopt;
  }
}

// What the check and the reference call an articulation.
inline const char* articulationName(Articulation articulation) {
  switch (articulation) {
    case Articulation::None: return "hit";
    case Articulation::Flam: return "flam";
    case Articulation::Drag: return "drag";
    case Articulation::Buzz: return "buzz roll";
    case Articulation::CrossStick: return "cross-stick";
    case Articulation::Rimshot: return "rimshot";
    case Articulation::Bell: return "bell";
    case Articulation::Edge: return "edge";
    case Articulation::HalfOpen: return "half-open hi-hat";
    case Articulation::Choke: return "choke";
  }
  return "hit";
}

// The mark that writes `articulation` at `level` (5 or below lower case, above upper).
inline char markOfArticulation(Articulation articulation, int level) {
  const char lower[] = {'x', 'f', 'd', 'z', 'c', 'r', 'b', 'e', 'h', '!'};
  const char c = lower[static_cast<int>(articulation)];
  if (articulation == Articulation::Choke) return c;
  if (articulation == Articulation::None) return level > 5 ? 'X' : 'x';
  return level > 5 ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace pulsewright
