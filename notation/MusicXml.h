#pragma once
// The score as a MusicXML 4.0 partwise document: one drum-set part on a five-line
// percussion staff, hands in voice 1 with stems up, feet in voice 2 with stems down.

#include <string>

#include "notation/Score.h"

namespace pulsewright {

// `midiChannel` counts from 1 (10 for drums).
std::string writeMusicXml(const Score& score, int midiChannel = 10);

}  // namespace pulsewright
