#pragma once
// pulsewright-cli import TAB.txt [-o OUT.tab] [--tempo BPM]: turns a web drum tab into a
// tablature document, written to OUT.tab (standard output without -o), the warnings to
// standard error. Exit status 0; 1 when the tab has no drum tab lines (nothing is
// written); 2 when the arguments, the input or the output fail.

#include "cli/Command.h"

namespace pulsewright {

void addImportCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
