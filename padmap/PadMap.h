#pragma once
// The pad map: for each drum voice, the text of its note-number entry. Entries stay
// text until a reader converts them, so whatever the user typed is kept as typed.

#include <array>
#include <optional>
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

// A pad entry read as a number: optional blanks around an optional sign and digits with
// an optional fraction; nothing when the text is no number.
std::optional<double> padEntryNumber(std::string_view text);

// The "+" and "-" buttons: the entry read as a number plus (minus) one, in its shortest
// decimal form ("36.5" gives "37.5"). Each keeps only its own bound: "+" gives "127" when
// the result is above 127, "-" gives "0" when it is below 0. An entry that is no number
// stays as it is and the bound applies: "127" for "+", "0" for "-".
std::string padEntryPlus(std::string_view entry);
std::string padEntryMinus(std::string_view entry);

// The folder of pad-map files holds one file per name; a name that is empty, "." or
// "..", or holds a "/" or a NUL, would write elsewhere and is refused.
bool isSafePadMapName(std::string_view name);

inline constexpr std::string_view kPadMapFileExtension = ".drm";

}  // namespace pulsewright
