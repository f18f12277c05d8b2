#pragma once
// pulsewright-cli play: compiles a document and plays it in real time through a MIDI
// device, the built-in synthesiser or nowhere, optionally logging every event with the
// time it was sent.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

int runPlayCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err);

}  // namespace pulsewright
