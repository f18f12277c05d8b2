#pragma once
// The drum kit a document names on a line of its own, "meta kit = The Black Pearl 1.0".
// Older documents never have one: such a line is a remark to the compiler, so the song a
// document makes is the same with or without it.

#include <string>
#include <string_view>

namespace pulsewright {

// The name of the last kit line (case and blanks around the words do not count), "" when
// there is none.
std::string documentKit(std::string_view text);

}  // namespace pulsewright
