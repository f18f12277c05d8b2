#pragma once
// pulsewright-cli export FILE -o OUT.mid|OUT.musicxml [--channel 1-16] [--max-length SECONDS]
// [--preset 1|2 | --padmap FILE.drm]: writes a document's song as a Standard MIDI File or
// a MusicXML score. Exit status 0; 1 when the document has nothing to play (no file is
// written); 2 when the arguments, the input or the output fail, or the song is longer
// than --max-length; 128 + the signal when SIGINT, SIGTERM or SIGHUP stopped it (no
// partial file is left). Sample hits, which a MIDI file cannot hold, are left out and
// counted on standard error.

#include "cli/Command.h"

namespace pulsewright {

void addExportCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
