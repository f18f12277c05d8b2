#pragma once
// The General MIDI percussion names of note numbers 35-81.

#include <array>
#include <string_view>

namespace pulsewright {

inline constexpr int kFirstGeneralMidiDrum = 35;
inline constexpr std::array<std::string_view, 47> kGeneralMidiDrums = {"Acoustic Bass Drum",
                                                                       "Bass Drum 1",
                                                                       "Side Stick",
                                                                       "Acoustic Snare",
                                                                       "Hand Clap",
                                                                       "Electric Snare",
                                                                       "Low Floor Tom",
                                                                       "Closed Hi-Hat",
                                                                       "High Floor Tom",
                                                                       "Pedal Hi-Hat",
                                                                       "Low Tom",
                                                                       "Open Hi-Hat",
                                                                       "Low-Mid Tom",
                                                                       "Hi-Mid Tom",
                                                                       "Crash Cymbal 1",
                                                                       "High Tom",
                                                                       "Ride Cymbal 1",
                                                                       "Chinese Cymbal",
                                                                       "Ride Bell",
                                                                       "Tambourine",
                                                                       "Splash Cymbal",
                                                                       "Cowbell",
                                                                       "Crash Cymbal 2",
                                                                       "Vibraslap",
                                                                       "Ride Cymbal 2",
                                                                       "Hi Bongo",
                                                                       "Low Bongo",
                                                                       "Mute Hi Conga",
                                                                       "Open Hi Conga",
                                                                       "Low Conga",
                                                                       "High Timbale",
                                                                       "Low Timbale",
                                                                       "High Agogo",
                                                                       "Low Agogo",
                                                                       "Cabasa",
                                                                       "Maracas",
                                                                       "Short Whistle",
                                                                       "Long Whistle",
                                                                       "Short Guiro",
                                                                       "Long Guiro",
                                                                       "Claves",
                                                                       "Hi Wood Block",
                                                                       "Low Wood Block",
                                                                       "Mute Cuica",
                                                                       "Open Cuica",
                                                                       "Mute Triangle",
                                                                       "Open Triangle"};

// The name of `note`, or "" for a note General MIDI gives no drum.
constexpr std::string_view generalMidiDrumName(int note) {
  const int i = note - kFirstGeneralMidiDrum;
  return i >= 0 && i < static_cast<int>(kGeneralMidiDrums.size())
             ? kGeneralMidiDrums[static_cast<std::size_t>(i)]
             : std::string_view();
}

}  // namespace pulsewright
