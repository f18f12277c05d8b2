#pragma once
// pulsewright-cli export: writes a document's song as a Standard MIDI File.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

// The command's synopsis, after "pulsewright-cli ".
inline constexpr char kExportUsage[] =
    "export FILE -o OUT.mid [--channel 1-16] [--preset 1|2 | --padmap FILE.drm]\n";

// Exit status 0; 1 when the document has nothing to play (no file is written); 2 when
// the arguments, the input or the output fail. Sample hits, which a MIDI file cannot
// hold, are left out and counted on `err`.
int runExportCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err);

}  // namespace pulsewright
