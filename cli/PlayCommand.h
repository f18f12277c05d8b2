#pragma once
// pulsewright-cli play: compiles a document and plays it in real time through a MIDI
// device, the built-in synthesiser or nowhere, optionally logging every event with the
// time it was sent.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

// The command's synopsis, after "pulsewright-cli ".
inline constexpr char kPlayUsage[] =
    "play FILE [--device NAME|mapper|none] [--channel 1-16]\n"
    "                            [--preset 1|2 | --padmap FILE.drm] [--sound-device NAME|none]\n"
    "                            [--log FILE] [--loop N] [--count-in] [--tempo-scale F]\n";

int runPlayCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err);

}  // namespace pulsewright
