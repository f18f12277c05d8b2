#pragma once
// pulsewright-cli render: compiles a document and renders it to an audio file through the
// built-in synthesiser and the samples, as fast as the CPU allows.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

// The command's synopsis, after "pulsewright-cli ".
inline constexpr char kRenderUsage[] =
    "render FILE -o OUT.wav|.flac|.ogg [--rate 44100|48000] [--preset 1|2 | --padmap FILE.drm]\n";

// Exit status 0 when written, 1 when the document has nothing to play (no file is made),
// 2 for a bad command line, an unreadable document or an output that cannot be written
// (no partial file is left).
int runRenderCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err);

}  // namespace pulsewright
