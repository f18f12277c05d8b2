#include "cli/StateJson.h"

#include <cstdint>
#include <cstdio>

#include "tablature/DocumentText.h"

namespace pulsewright {

namespace {

void appendEscaped(std::string& out, std::string_view text, bool utf8) {
  for (char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        // Control characters, and bytes of text that is not UTF-8 (read as Latin-1),
        // are written as escapes so the output is always valid JSON.
        if (b < 0x20 || (!utf8 && b >= 0x80)) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(b));
          out += buf;
        } else {
          out += c;
        }
    }
  }
}

void appendString(std::string& out, std::string_view text) {
  out += '"';
  appendEscaped(out, text, isValidUtf8(text));
  out += '"';
}

void appendStrings(std::string& out, const std::vector<std::string>& items) {
  out += '[';
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    appendString(out, items[i]);
  }
  out += ']';
}

void appendKey(std::string& out, std::string_view key) {
  out += ",\"";
  out += key;
  out += "\":";
}

void appendField(std::string& out, std::string_view key, std::string_view value) {
  appendKey(out, key);
  appendString(out, value);
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out;
  appendString(out, text);
  return out;
}

std::string stateToJson(const CompilerState& s, const std::vector<std::string>& messages) {
  std::string out = "{\"PartTable\":[";
  for (std::size_t i = 0; i < s.partTable.size(); ++i) {
    const PartRecord& r = s.partTable[i];
    if (i > 0) out += ',';
    out += "{\"Program\":" + std::to_string(r.program) + ",\"Name\":";
    appendString(out, r.name);
    out += ",\"StepTimes\":";
    if (r.hasSteps()) {
      out += '[';
      for (std::size_t n = 0; n < r.stepTimes.size(); ++n) {
        if (n > 0) out += ',';
        out += std::to_string(r.stepTimes[n]);
      }
      out += "],\"StepEvents\":";
      appendStrings(out, r.stepEvents);
    } else {
      out += "null,\"StepEvents\":null";
    }
    out += '}';
  }
  out += ']';
  appendField(out, "SongLine", s.songLine);
  appendKey(out, "VoiceSymbols");
  out += '{';
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (v > 0) out += ',';
    appendString(out, kVoiceCaptions[v]);
    out += ':';
    appendString(out, s.voiceSymbols[v]);
  }
  out += '}';
  appendKey(out, "HaveWaves");
  out += std::to_string(s.haveWaves);
  appendKey(out, "WaveNames");
  appendStrings(out, s.waveNames);
  appendKey(out, "WaveFiles");
  appendStrings(out, s.waveFiles);
  appendKey(out, "WavePans");
  appendStrings(out, s.wavePans);
  appendField(out, "MetaTitle", s.metaTitle);
  appendField(out, "MetaAuthor", s.metaAuthor);
  appendField(out, "MetaArtist", s.metaArtist);
  appendField(out, "MetaGenre", s.metaGenre);
  appendField(out, "MetaDescription", s.metaDescription);
  appendField(out, "PartName", s.partName);
  appendField(out, "PartTempo", s.partTempo);
  appendField(out, "PartNotes", s.partNotes);
  appendField(out, "PartProgram", s.partProgram);
  appendField(out, "SoundRef", s.soundRef);
  appendKey(out, "TupletDivisor");
  out += std::to_string(s.tupletDivisor);
  appendKey(out, "Messages");
  appendStrings(out, messages);
  out += '}';
  return out;
}

}  // namespace pulsewright
