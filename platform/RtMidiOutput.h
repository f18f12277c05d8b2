#pragma once
// Earlier name of SystemMidiPorts, which now reaches JACK through libjack itself and only
// the ALSA sequencer through RtMidi. New code uses platform/SystemMidiPorts.h.

#include "platform/SystemMidiPorts.h"

namespace pulsewright {

using RtMidiOutput = SystemMidiPorts;

}  // namespace pulsewright
