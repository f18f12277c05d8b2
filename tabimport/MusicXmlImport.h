#pragma once
// MusicXML drum scores (.musicxml, .xml, and compressed .mxl): the unpitched notes of
// the score's drum parts, each on the voice its instrument's MIDI note, its name or its
// place on the staff tells, measure by measure on the grid that holds its onsets. Alike
// measures are one part; repeats and endings are played out in the song line.

#include <string>
#include <string_view>
#include <vector>

#include "tabimport/DrumTabImport.h"

namespace pulsewright {

// Whether the bytes are a partwise or timewise MusicXML score, or a ZIP archive.
bool looksLikeMusicXml(std::string_view bytes);

struct MusicXmlImport {
  std::string error;
  std::string document;              // lines end in LF
  std::vector<TabWarning> warnings;  // in the score's XML (for .mxl: its inner file)
  bool ok() const { return error.empty(); }
};

// `bytes` is the XML, or a compressed score (a ZIP archive) holding it.
MusicXmlImport importMusicXml(std::string_view bytes);

}  // namespace pulsewright
