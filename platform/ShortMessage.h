#pragma once
// Unpacking of a packed MIDI short message into the bytes that go on the wire.

#include <cstdint>

namespace pulsewright {

// Message kinds; the status byte is the kind plus the channel.
inline constexpr int kNoteOn = 0x90;
inline constexpr int kNoteOff = 0x80;
inline constexpr int kProgramChange = 0xC0;
// Polyphonic aftertouch: electronic kits send 127 then 0 on a cymbal's key to choke it.
inline constexpr int kPolyPressure = 0xA0;
// Channels 0 to 15 fit the low nibble of the status byte.
inline constexpr int kMidiChannels = 16;

// MIDI clock, Start, Continue, Stop and Song Position Pointer: what a song follows.
inline bool isClockMessage(int status) {
  return status == 0xF8 || status == 0xFA || status == 0xFB || status == 0xFC || status == 0xF2;
}

// Writes the bytes of `word` (status in bits 0-7, then the data bytes) to `bytes` and
// returns how many the message has: 3 for note off/on, key pressure, controller and
// pitch bend, 2 for program change and channel pressure, 1-3 for the system common and
// real-time messages. Returns 0 for a word that is no valid short message: a status byte
// below 0x80, system exclusive, a data byte with its top bit set, or anything in
// bits 24-31 (what an out-of-range data value carries over into). Such a word would
// corrupt the running stream of the receiver, so no backend sends it.
int shortMessageBytes(std::uint32_t word, std::uint8_t bytes[3]);

}  // namespace pulsewright
