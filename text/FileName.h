#pragma once
// What a file's name says about it.

#include <string_view>

namespace pulsewright {

// Whether `name` ends in ".wav", in any case: the names documents give sample files.
bool endsInWav(std::string_view name);

}  // namespace pulsewright
