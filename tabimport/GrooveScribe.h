#pragma once
// GrooveScribe links: a URL whose fields are lanes of drum marks, one lane per drum
// (`?TimeSig=4/4&Div=16&Tempo=80&Measures=1&H=|x-x-x-x-|...`). Read into a document of
// one part that holds the link's measures, and written back from a part of a song.

#include <string>
#include <string_view>
#include <vector>

#include "tabimport/DrumTabImport.h"
#include "tablature/CompiledDocument.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// Whether `bytes` (a command-line argument or a file's contents) is one link: text with a
// query of fields, and a lane or a TimeSig or Div among them.
bool looksLikeGrooveScribeLink(std::string_view bytes);

struct GrooveScribeImport {
  std::string error;                 // why nothing was imported; empty on success
  std::string document;              // lines end in LF
  std::vector<TabWarning> warnings;  // at the byte of the link they are about
  bool ok() const { return error.empty(); }
};

GrooveScribeImport importGrooveScribeLink(std::string_view bytes);

struct GrooveScribeExport {
  std::string error;  // why no link was written
  std::string link;   // without a line end
  std::vector<std::string> warnings;
  bool ok() const { return error.empty(); }
};

// The link of part `part` (an index into song.parts()).
GrooveScribeExport grooveScribeLinkOf(const Timeline& song, const SongMetadata& metadata, int part);

// The part a link is written for by default: the song's first part with steps.
int firstSongPart(const Timeline& song);

}  // namespace pulsewright
