#pragma once
// Hydrogen songs (.h2song) and patterns (.h2pattern): XML whose patterns hold notes at
// ticks of 48 to the quarter note. Each column of the song's pattern sequence is a part
// (the patterns played together in it merged), the sequence the song line.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/DrumVoice.h"
#include "tabimport/DrumTabImport.h"
#include "tablature/CompiledDocument.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// The voice a kit's instrument plays, by the words of its name, else by its MIDI note
// (-1 for none); none when neither tells. `nearest` is set to what a mark the language
// lacks (a cross-stick) is, where the voice plays only its nearest.
std::optional<DrumVoice> hydrogenVoiceOf(std::string_view instrumentName, int midiNote,
                                         std::string* nearest);

// Whether the bytes are XML whose root is a Hydrogen song or pattern.
bool looksLikeHydrogenFile(std::string_view bytes);

struct HydrogenImport {
  std::string error;
  std::string document;  // lines end in LF
  std::vector<TabWarning> warnings;
  bool ok() const { return error.empty(); }
};

HydrogenImport importHydrogenFile(std::string_view bytes);

struct HydrogenExport {
  std::string error;
  std::string xml;
  std::vector<std::string> warnings;
  bool ok() const { return error.empty(); }
};

// The drum kit an exported song names for its instruments: Hydrogen's default kit.
inline constexpr std::string_view kHydrogenKit = "GMRockKit";

// A song of one pattern per part the song plays, in song order.
HydrogenExport hydrogenSongOf(const Timeline& song, const SongMetadata& metadata);

}  // namespace pulsewright
