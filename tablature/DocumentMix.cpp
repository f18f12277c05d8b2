#include "tablature/DocumentMix.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace pulsewright {

namespace {

bool mixBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string mixLowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view mixTrimmed(std::string_view s) {
  while (!s.empty() && mixBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && mixBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The value of a "meta mix = ..." line, nothing for any other line.
std::optional<std::string_view> mixLineValue(std::string_view line) {
  std::size_t at = 0;
  while (at < line.size() && mixBlank(line[at])) ++at;
  auto take = [&](std::string_view word, bool needBlank) {
    if (line.size() - at < word.size() || mixLowered(line.substr(at, word.size())) != word) {
      return false;
    }
    at += word.size();
    const std::size_t before = at;
    while (at < line.size() && mixBlank(line[at])) ++at;
    return !needBlank || at > before;
  };
  if (!take("meta", true) || !take("mix", false) || !take("=", false)) return std::nullopt;
  return mixTrimmed(line.substr(at));
}

struct MixLine {
  std::size_t offset = 0, length = 0;  // the line, without its end
  std::string_view value;
};

std::vector<MixLine> mixLines(std::string_view text) {
  std::vector<MixLine> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (const auto value = mixLineValue(text.substr(start, end - start))) {
      lines.push_back({start, end - start, *value});
    }
    start = end + 1;
    if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n') {
      ++start;
    }
  }
  return lines;
}

std::optional<double> mixNumber(std::string_view word) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::vector<std::string_view> mixWords(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < s.size()) {
    while (at < s.size() && mixBlank(s[at])) ++at;
    const std::size_t from = at;
    while (at < s.size() && !mixBlank(s[at])) ++at;
    if (at > from) words.push_back(s.substr(from, at - from));
  }
  return words;
}

void readMixEntry(std::string_view entry, DocumentMix& mix) {
  entry = mixTrimmed(entry);
  const std::string low = mixLowered(entry);
  // The longest caption the entry starts with, followed by a blank or nothing.
  std::size_t voice = kVoiceCount, captionLength = 0;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::string caption = mixLowered(kVoiceCaptions[v]);
    if (low.rfind(caption, 0) == 0 && caption.size() > captionLength &&
        (low.size() == caption.size() || mixBlank(low[caption.size()]))) {
      voice = v, captionLength = caption.size();
    }
  }
  if (voice == kVoiceCount) return;
  VoiceMix& m = mix.voices[voice];
  const std::vector<std::string_view> words = mixWords(entry.substr(captionLength));
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string word = mixLowered(words[i]);
    if (word == "mute") {
      m.mute = true;
    } else if (word == "solo") {
      m.solo = true;
    } else if (word == "pan" && i + 1 < words.size()) {
      if (const auto pan = mixNumber(words[i + 1])) {
        m.pan = std::clamp(*pan, -100.0, 100.0);
        ++i;
      }
    } else if (const auto gain = mixNumber(word)) {
      m.gainDb = std::clamp(*gain, kMixMinGainDb, kMixMaxGainDb);
      if (i + 1 < words.size() && mixLowered(words[i + 1]) == "db") ++i;
    } else if (word.size() > 2 && word.ends_with("db")) {
      if (const auto g = mixNumber(std::string_view(word).substr(0, word.size() - 2))) {
        m.gainDb = std::clamp(*g, kMixMinGainDb, kMixMaxGainDb);
      }
    }
  }
}

std::string mixFigure(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  std::string s = buffer;
  if (s.ends_with(".0")) s.resize(s.size() - 2);
  if (s == "-0") s = "0";
  return s;
}

}  // namespace

float VoiceMix::leftGain() const {
  const double gain = std::pow(10.0, gainDb / 20.0);
  return static_cast<float>(pan > 0 ? gain * (1 - pan / 100) : gain);
}

float VoiceMix::rightGain() const {
  const double gain = std::pow(10.0, gainDb / 20.0);
  return static_cast<float>(pan < 0 ? gain * (1 + pan / 100) : gain);
}

bool DocumentMix::plain() const {
  return std::all_of(voices.begin(), voices.end(), [](const VoiceMix& v) { return v.plain(); });
}

bool DocumentMix::anySolo() const {
  return std::any_of(voices.begin(), voices.end(), [](const VoiceMix& v) { return v.solo; });
}

bool DocumentMix::sounds(std::size_t voice) const {
  if (voice >= kVoiceCount) return true;
  const VoiceMix& v = voices[voice];
  return !v.mute && (v.solo || !anySolo());
}

DocumentMix documentMix(std::string_view text) {
  DocumentMix mix;
  const std::vector<MixLine> lines = mixLines(text);
  if (lines.empty()) return mix;
  std::string_view value = lines.back().value;
  while (!value.empty()) {
    const std::size_t end = std::min(value.find(';'), value.size());
    readMixEntry(value.substr(0, end), mix);
    value.remove_prefix(std::min(end + 1, value.size()));
  }
  return mix;
}

std::string formatMix(const DocumentMix& mix) {
  std::string out;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const VoiceMix& m = mix.voices[v];
    if (m.plain()) continue;
    if (!out.empty()) out += "; ";
    out += kVoiceCaptions[v];
    if (m.gainDb != 0) out += " " + mixFigure(m.gainDb) + " dB";
    if (m.pan != 0) out += " pan " + mixFigure(m.pan);
    if (m.mute) out += " mute";
    if (m.solo) out += " solo";
  }
  return out;
}

std::optional<TextChange> mixLineChange(std::string_view text, const DocumentMix& mix) {
  if (documentMix(text) == mix) return std::nullopt;
  const std::string value = formatMix(mix);
  const std::vector<MixLine> lines = mixLines(text);
  if (lines.empty()) {
    return TextChange{0, 0, "meta mix = " + value + "\r\n"};
  }
  const MixLine& last = lines.back();
  if (!value.empty()) return TextChange{last.offset, last.length, "meta mix = " + value};
  // A plain mix: the line goes with its end.
  std::size_t length = last.length;
  if (last.offset + length < text.size() && text[last.offset + length] == '\r') ++length;
  if (last.offset + length < text.size() && text[last.offset + length] == '\n') ++length;
  return TextChange{last.offset, length, ""};
}

}  // namespace pulsewright
