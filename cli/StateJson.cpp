#include "cli/StateJson.h"

#include <charconv>

#include "text/DocumentText.h"

namespace pulsewright {

namespace {

// Text that is not UTF-8 is read as Windows-1252, as documents are, so the output is
// always valid JSON. Escapes as JSON libraries do: the two that must be, the short forms
// of the common controls and \u00XX for the rest.
void appendJsonString(std::string* out, std::string_view raw) {
  std::string decoded;
  std::string_view text = raw;
  if (!isValidUtf8(raw)) {
    decoded = decodeDocumentBytes(raw);
    text = decoded;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  *out += '"';
  // Runs of characters that need no escape are copied whole.
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out->append(text.data() + from, i - from);
    from = i + 1;
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\b': *out += "\\b"; break;
      case '\f': *out += "\\f"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        *out += "\\u00";
        *out += kHex[c >> 4];
        *out += kHex[c & 0xF];
    }
  }
  out->append(text.data() + from, text.size() - from);
  *out += '"';
}

// ASCII that a JSON string holds as it is.
bool isPlainJsonText(std::string_view text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') return false;
  }
  return true;
}

// Collects output and hands it to the stream in large pieces.
class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) { buffer_.reserve(kChunk + 4096); }
  ~JsonWriter() { flush(); }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& raw(std::string_view text) {
    buffer_ += text;
    maybeFlush();
    return *this;
  }
  JsonWriter& string(std::string_view text) {
    appendJsonString(&buffer_, text);
    maybeFlush();
    return *this;
  }
  JsonWriter& number(long long value) {
    char digits[24];
    buffer_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    maybeFlush();
    return *this;
  }
  JsonWriter& key(std::string_view name) {
    appendJsonString(&buffer_, name);
    buffer_ += ':';
    return *this;
  }
  JsonWriter& strings(const std::vector<std::string>& items) {
    raw("[");
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) raw(",");
      string(items[i]);
    }
    return raw("]");
  }
  std::string& buffer() { return buffer_; }
  void maybeFlush() {
    if (buffer_.size() >= kChunk) flush();
  }
  void flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kChunk = std::size_t{1} << 16;
  std::ostream& out_;
  std::string buffer_;
};

void writePart(JsonWriter& w, const Timeline& song, const TimelinePart& part) {
  w.raw("{").key("Program").number(part.program).raw(",").key("Name").string(part.name);
  w.raw(",").key("StepTimes");
  if (!part.hasSteps()) {
    w.raw("null,").key("StepEvents").raw("null}");
    return;
  }
  w.raw("[");
  bool first = true;
  auto time = [&](std::int16_t duration) {
    if (!first) w.buffer() += ',';
    first = false;
    w.number(duration);
  };
  for (const TimelineStep& step : part.steps) time(step.duration);
  for (const std::int16_t duration : part.tailDurations) time(duration);
  w.raw("],").key("StepEvents").raw("[");
  // A step's events are written where they go and escaped only when they hold anything
  // but plain ASCII, which they almost never do.
  std::string& out = w.buffer();
  std::string events;
  first = true;
  for (const TimelineStep& step : part.steps) {
    if (!first) out += ',';
    first = false;
    out += '"';
    const std::size_t start = out.size();
    appendStepEvents(song, part, step, &out);
    if (!isPlainJsonText(std::string_view(out).substr(start))) {
      events.assign(out, start);
      out.resize(start - 1);
      appendJsonString(&out, events);
    } else {
      out += '"';
    }
    w.maybeFlush();
  }
  for (std::size_t i = 0; i < part.tailDurations.size(); ++i) {
    if (!first) w.raw(",");
    first = false;
    w.raw("\"\"");
  }
  w.raw("]}");
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out;
  appendJsonString(&out, text);
  return out;
}

void writeStateJson(std::ostream& out, const CompilerState& s, const Timeline& song,
                    const std::vector<std::string>& messages) {
  JsonWriter w(out);
  w.raw("{").key("PartTable").raw("[");
  for (std::size_t p = 0; p < song.parts().size(); ++p) {
    if (p > 0) w.raw(",");
    writePart(w, song, song.parts()[p]);
  }
  w.raw("],").key("SongLine").string(s.songLine);
  w.raw(",").key("VoiceSymbols").raw("{");
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (v > 0) w.raw(",");
    w.key(kVoiceCaptions[v]).string(s.voiceSymbols[v]);
  }
  w.raw("},").key("HaveWaves").number(s.haveWaves);
  w.raw(",").key("WaveNames").strings(s.waveNames);
  w.raw(",").key("WaveFiles").strings(s.waveFiles);
  w.raw(",").key("WavePans").strings(s.wavePans);
  w.raw(",").key("MetaTitle").string(s.metaTitle);
  w.raw(",").key("MetaAuthor").string(s.metaAuthor);
  w.raw(",").key("MetaArtist").string(s.metaArtist);
  w.raw(",").key("MetaGenre").string(s.metaGenre);
  w.raw(",").key("MetaDescription").string(s.metaDescription);
  w.raw(",").key("PartName").string(s.partName);
  w.raw(",").key("PartTempo").string(s.partTempo);
  w.raw(",").key("PartNotes").string(s.partNotes);
  w.raw(",").key("PartProgram").string(s.partProgram);
  w.raw(",").key("SoundRef").string(s.soundRef);
  w.raw(",").key("TupletDivisor").number(s.tupletDivisor);
  w.raw(",").key("Messages").strings(messages);
  w.raw("}");
}

}  // namespace pulsewright
