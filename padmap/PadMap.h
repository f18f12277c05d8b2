#pragma once
// The pad map: for each drum voice, the text of its note-number entry. Entries stay
// text until a reader converts them, so whatever the user typed is kept as typed.

#include <array>
#include <string>
#include <string_view>

#include "padmap/DrumVoice.h"

namespace pulsewright {

using PadMap = std::array<std::string, kVoiceCount>;

struct DrumMachinePreset {
  std::string_view name;
  std::array<int, kVoiceCount> notes;
};

// The chooser's two fixed items, in list order.
extern const std::array<DrumMachinePreset, 2> kDrumMachinePresets;

PadMap presetPadMap(const DrumMachinePreset& preset);

// The map every run starts with: the first preset.
PadMap defaultPadMap();

// One line of seventeen double-quoted fields separated by commas, ended by CR LF.
std::string formatPadMapFile(const PadMap& map);

// Reads seventeen fields: separated by commas or line ends, blanks before a field
// skipped, a quoted field runs to the next quote (commas allowed inside), any other
// field runs to the next comma or line end less its trailing blanks. Fields past the
// seventeenth are ignored; missing ones come back empty.
PadMap parsePadMapFile(std::string_view bytes);

}  // namespace pulsewright
