#pragma once
// Which drum voices a misspelt or shortened voice name most likely means, for the
// warning on a voice line that binds nothing ("c = crash" names no voice; Crash 1 and
// Crash 2 are nearest).

#include <string>
#include <string_view>
#include <vector>

#include "padmap/DrumVoice.h"

namespace pulsewright {

// The voices nearest to `words`, in pad order; empty when the words are like no voice
// name (so that a remark such as "tempo = 120" is not taken for one). Case, blanks and
// hyphens do not count.
std::vector<DrumVoice> nearestVoices(std::string_view words);

// "Crash 1", "Crash 1 or Crash 2", "Tom 1, Tom 2, Tom 3 or Tom 4".
std::string voiceList(const std::vector<DrumVoice>& voices);

}  // namespace pulsewright
