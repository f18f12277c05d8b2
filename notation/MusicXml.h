#pragma once
// The score as a MusicXML 4.0 partwise document: one drum-set part on a five-line
// percussion staff, hands in voice 1 with stems up, feet in voice 2 with stems down.

#include <functional>
#include <string>
#include <string_view>

#include "notation/Score.h"

namespace pulsewright {

// `midiChannel` counts from 1 (10 for drums).
std::string writeMusicXml(const Score& score, int midiChannel = 10);

// The song's score written into `sink` a piece at a time as it is made, measure by measure
// (the song is read twice: first for the drums it uses), so that a long song's score and
// document are never held whole. `info` receives the score without its measures (its
// warnings, the samples left out). False when the sink refused a piece, or, before any
// piece, when the score is unwritable (info->unwritable says why). `keepGoing`, when
// given, is asked at every measure, in both readings: once it says no, the score stops
// there and false is returned.
bool streamMusicXml(const ScoreSource& source, int midiChannel,
                    const std::function<bool(std::string_view)>& sink, Score* info = nullptr,
                    const std::function<bool()>& keepGoing = {});

}  // namespace pulsewright
