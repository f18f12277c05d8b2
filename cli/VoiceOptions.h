#pragma once
// --mute and --solo, shared by play, export and render.

#include <iosfwd>
#include <optional>
#include <string>

#include "playback/Practice.h"

namespace CLI {
class App;
}

namespace pulsewright {

struct VoiceChoice {
  std::string mute;  // "k,s"
  std::string solo;
};

void addVoiceOptions(CLI::App& command, VoiceChoice& choice, bool forExport);

// The mask of the options, or nullopt once every name no grid line of `song` plays is
// reported on `err`.
std::optional<VoiceMask> voiceMaskOf(const VoiceChoice& choice, const std::string& file,
                                     const Timeline& song, std::ostream& err);

}  // namespace pulsewright
