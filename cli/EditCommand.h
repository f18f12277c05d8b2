#pragma once
// pulsewright-cli edit FILE [-o OUT] --set PART:VOICE:STEP=MARK ... --clear PART:VOICE:STEP:
// sets and clears steps of a document's grid lines, in the order given, changing no other
// byte. VOICE is a grid symbol or a drum name; STEP counts the part's steps from 1 across
// bars. A voice with no grid line in the part gets one. The document keeps its encoding,
// byte-order mark and line ends, and is written atomically (to FILE unless -o says
// otherwise). Prints FILE:LINE:COL: set s from - to X for every step changed. Exit status
// 0; 2 for a part, voice, step or mark that does not exist, or an input or output that
// fails, and nothing is written then.

#include "cli/Command.h"

namespace pulsewright {

void addEditCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
