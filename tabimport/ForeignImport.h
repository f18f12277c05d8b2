#pragma once
// The shared formats a file may hold besides MIDI files and plain drum tabs, told by the
// file's ending and its bytes, and read by their importers: one choice for the command
// line and the window.

#include <string>
#include <string_view>
#include <vector>

#include "tabimport/DrumTabImport.h"

namespace pulsewright {

enum class ForeignFormat { kNone, kGrooveScribeLink, kHydrogen, kMusicXml };

// `ending` is the file name's, lower case with its dot (".h2song"), or "" for none.
ForeignFormat foreignFormatOf(std::string_view ending, std::string_view bytes);
// "GrooveScribe links", "Hydrogen files", "MusicXML scores".
std::string_view foreignFormatName(ForeignFormat format);

struct ForeignImport {
  std::string error;                 // why nothing was imported; empty on success
  std::string document;              // lines end in LF
  std::vector<TabWarning> warnings;  // at the byte of the input they are about
  bool ok() const { return error.empty(); }
};

ForeignImport importForeign(ForeignFormat format, std::string_view bytes);

}  // namespace pulsewright
