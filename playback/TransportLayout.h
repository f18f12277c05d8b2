#pragma once
// A song laid out for the JACK transport (platform/JackTransport.h): each of its MIDI
// messages at its exact musical position and at its time on the song's own clock, its
// bars, and its tempo and metre step by step.

#include <memory>

#include "platform/JackTransport.h"
#include "tablature/Timeline.h"

namespace pulsewright {

class VoiceFilter;

// The messages go on `channel` (0-15); with a filter, only the items it lets sound.
std::shared_ptr<TransportSong> layOutForTransport(const Timeline& song, int channel,
                                                  const VoiceFilter* filter = nullptr);

}  // namespace pulsewright
