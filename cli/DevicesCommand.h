#pragma once
// pulsewright-cli devices: the MIDI outputs, MIDI inputs and sound devices as the program
// sees them.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

class MidiOutputService;
class SoundOutput;

// Prints "MIDI Mapper", then every MIDI output device, then every sound device, one name
// per line under a heading: MIDI devices with their identifiers (-1 for the mapper, then
// from 0), sound devices numbered from 1.
void printDevices(MidiOutputService& midi, SoundOutput& sound, std::ostream& out);
// Prints the MIDI inputs (what record --input names) under their heading.
void printMidiInputs(const std::vector<std::string>& inputs, std::ostream& out);

}  // namespace pulsewright
