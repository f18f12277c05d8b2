#pragma once
// The compiler's state as one line of JSON, in the state's own names.

#include <string>
#include <string_view>
#include <vector>

#include "tablature/TablatureCompiler.h"

namespace pulsewright {

std::string jsonString(std::string_view text);

std::string stateToJson(const CompilerState& state, const std::vector<std::string>& messages);

}  // namespace pulsewright
