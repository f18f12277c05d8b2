#include "tabimport/ForeignImport.h"

#include <utility>

#include "tabimport/GrooveScribe.h"
#include "tabimport/Hydrogen.h"
#include "tabimport/MusicXmlImport.h"

namespace pulsewright {

ForeignFormat foreignFormatOf(std::string_view ending, std::string_view bytes) {
  if (looksLikeGrooveScribeLink(bytes)) return ForeignFormat::kGrooveScribeLink;
  const bool hydrogenName = ending == ".h2song" || ending == ".h2pattern";
  const bool scoreName = ending == ".musicxml" || ending == ".mxl" || ending == ".xml";
  if (hydrogenName || (!scoreName && looksLikeHydrogenFile(bytes))) return ForeignFormat::kHydrogen;
  if (scoreName || looksLikeMusicXml(bytes)) return ForeignFormat::kMusicXml;
  return ForeignFormat::kNone;
}

std::string_view foreignFormatName(ForeignFormat format) {
  switch (format) {
    case ForeignFormat::kGrooveScribeLink: return "GrooveScribe links";
    case ForeignFormat::kHydrogen: return "Hydrogen files";
    case ForeignFormat::kMusicXml: return "MusicXML scores";
    case ForeignFormat::kNone: break;
  }
  return "drum tabs";
}

ForeignImport importForeign(ForeignFormat format, std::string_view bytes) {
  switch (format) {
    case ForeignFormat::kGrooveScribeLink: {
      GrooveScribeImport r = importGrooveScribeLink(bytes);
      return {std::move(r.error), std::move(r.document), std::move(r.warnings)};
    }
    case ForeignFormat::kHydrogen: {
      HydrogenImport r = importHydrogenFile(bytes);
      return {std::move(r.error), std::move(r.document), std::move(r.warnings)};
    }
    case ForeignFormat::kMusicXml: {
      MusicXmlImport r = importMusicXml(bytes);
      return {std::move(r.error), std::move(r.document), std::move(r.warnings)};
    }
    case ForeignFormat::kNone: break;
  }
  return {"no format of these", {}, {}};
}

}  // namespace pulsewright
