#pragma once
// pulsewright-cli export FILE -o OUT.mid [--channel 1-16] [--preset 1|2 | --padmap FILE.drm]:
// writes a document's song as a Standard MIDI File. Exit status 0; 1 when the document has
// nothing to play (no file is written); 2 when the arguments, the input or the output
// fail. Sample hits, which a MIDI file cannot hold, are left out and counted on standard
// error.

#include "cli/Command.h"

namespace pulsewright {

void addExportCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
