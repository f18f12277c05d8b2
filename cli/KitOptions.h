#pragma once
// --kit for play, render and record, the document's own kit line, and
// `pulsewright-cli kits`, which lists the kits found.

#include <iosfwd>
#include <string>

#include "padmap/PadMap.h"
#include "playback/KitChoice.h"

namespace CLI {
class App;
}

namespace pulsewright {

struct CliContext;
class Timeline;

void addKitOption(CLI::App& command, std::string& kit);

// The kit `option` names, else the one the document's kit line names, loaded for
// `sampleRate` (its progress shown on a terminal, what it leaves out said once).
// kExitOk with *choice set (empty when no kit is named); kExitError, with the kits
// found listed, when the name matches none.
int chooseKit(const std::string& option, const std::string& documentText, const PadMap& padMap,
              int sampleRate, std::ostream& err, KitChoice* choice);
// Names the voices `song` plays that the kit has no instrument for (once).
void reportMissingVoices(const KitChoice& choice, const Timeline& song, const PadMap& padMap,
                         std::ostream& err);

void addKitsCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
