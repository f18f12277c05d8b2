#pragma once
// The compiler's state as one line of JSON, in the state's own names, written as it goes
// so that a long song needs no second copy in memory.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"

namespace pulsewright {

std::string jsonString(std::string_view text);

// Writes the state and the song of the compilation that left it, without a line end.
void writeStateJson(std::ostream& out, const CompilerState& state, const Timeline& song,
                    const std::vector<std::string>& messages);

}  // namespace pulsewright
