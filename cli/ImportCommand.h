#pragma once
// pulsewright-cli import FILE [-o OUT.tab] [--tempo BPM] [--channel N] [--grid G]: turns
// a Standard MIDI File (told by its MThd header, whatever its name) or a web drum tab
// into a tablature document, written to OUT.tab (standard output without -o), the
// warnings to standard error as FILE: warning: text. Exit status 0; 1 when a tab has no
// drum tab lines; 2 when the arguments, the input or the output fail (a broken MIDI file,
// one with no drums, a file named .mid that is none); nothing is written then.

#include "cli/Command.h"

namespace pulsewright {

void addImportCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
