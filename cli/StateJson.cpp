#include "cli/StateJson.h"

#include <nlohmann/json.hpp>

#include "text/DocumentText.h"

namespace pulsewright {

namespace {

using Json = nlohmann::ordered_json;  // keeps the state's own field order

// Text that is not UTF-8 is read as Windows-1252, as documents are, so the output is
// always valid JSON.
std::string utf8(std::string_view text) {
  return isValidUtf8(text) ? std::string(text) : decodeDocumentBytes(text);
}

Json strings(const std::vector<std::string>& items) {
  Json array = Json::array();
  for (const std::string& item : items) array.push_back(utf8(item));
  return array;
}

}  // namespace

std::string jsonString(std::string_view text) {
  return Json(utf8(text)).dump();
}

std::string stateToJson(const CompilerState& s, const std::vector<std::string>& messages) {
  Json parts = Json::array();
  for (const PartRecord& r : s.partTable) {
    parts.push_back({{"Program", r.program},
                     {"Name", utf8(r.name)},
                     {"StepTimes", r.hasSteps() ? Json(r.stepTimes) : Json()},
                     {"StepEvents", r.hasSteps() ? strings(r.stepEvents) : Json()}});
  }
  Json symbols = Json::object();
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    symbols[std::string(kVoiceCaptions[v])] = utf8(s.voiceSymbols[v]);
  }
  const Json state = {{"PartTable", parts},
                      {"SongLine", utf8(s.songLine)},
                      {"VoiceSymbols", symbols},
                      {"HaveWaves", s.haveWaves},
                      {"WaveNames", strings(s.waveNames)},
                      {"WaveFiles", strings(s.waveFiles)},
                      {"WavePans", strings(s.wavePans)},
                      {"MetaTitle", utf8(s.metaTitle)},
                      {"MetaAuthor", utf8(s.metaAuthor)},
                      {"MetaArtist", utf8(s.metaArtist)},
                      {"MetaGenre", utf8(s.metaGenre)},
                      {"MetaDescription", utf8(s.metaDescription)},
                      {"PartName", utf8(s.partName)},
                      {"PartTempo", utf8(s.partTempo)},
                      {"PartNotes", utf8(s.partNotes)},
                      {"PartProgram", utf8(s.partProgram)},
                      {"SoundRef", utf8(s.soundRef)},
                      {"TupletDivisor", s.tupletDivisor},
                      {"Messages", strings(messages)}};
  return state.dump();
}

}  // namespace pulsewright
