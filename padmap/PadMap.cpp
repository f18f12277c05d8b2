#include "padmap/PadMap.h"

#include <charconv>
#include <optional>

namespace pulsewright {

const std::array<DrumMachinePreset, 2> kDrumMachinePresets = {{
    {"Boss Dr.Rythm DR-670", {36, 38, 42, 44, 46, 50, 48, 45, 41, 51, 53, 49, 57, 67, 68, 39, 56}},
    {"Alesis SR-16", {36, 38, 42, 0, 46, 48, 45, 41, 0, 51, 0, 49, 0, 65, 67, 39, 0}},
}};

PadMap presetPadMap(const DrumMachinePreset& preset) {
  PadMap map;
  for (std::size_t i = 0; i < kVoiceCount; ++i) map[i] = std::to_string(preset.notes[i]);
  return map;
}

PadMap defaultPadMap() {
  return presetPadMap(kDrumMachinePresets[0]);
}

std::string formatPadMapFile(const PadMap& map) {
  std::string out;
  for (std::size_t i = 0; i < kVoiceCount; ++i) {
    if (i > 0) out += ',';
    out += '"';
    out += map[i];
    out += '"';
  }
  out += "\r\n";
  return out;
}

namespace {
bool isLineEnd(char c) {
  return c == '\r' || c == '\n';
}
bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
}  // namespace

PadMap parsePadMapFile(std::string_view s) {
  PadMap map;
  std::size_t pos = 0;
  for (std::size_t field = 0; field < kVoiceCount && pos < s.size(); ++field) {
    while (pos < s.size() && isBlank(s[pos])) ++pos;
    std::string value;
    if (pos < s.size() && s[pos] == '"') {
      const std::size_t close = s.find('"', pos + 1);
      const std::size_t end = close == std::string_view::npos ? s.size() : close;
      value.assign(s.substr(pos + 1, end - pos - 1));
      pos = close == std::string_view::npos ? s.size() : close + 1;
      // Whatever stands between the closing quote and the separator is not part of it.
      while (pos < s.size() && s[pos] != ',' && !isLineEnd(s[pos])) ++pos;
    } else {
      std::size_t end = pos;
      while (end < s.size() && s[end] != ',' && !isLineEnd(s[end])) ++end;
      std::size_t last = end;
      while (last > pos && isBlank(s[last - 1])) --last;
      value.assign(s.substr(pos, last - pos));
      pos = end;
    }
    map[field] = std::move(value);
    // One separator: a comma, or a line end (CR LF counts once).
    if (pos < s.size()) {
      if (s[pos] == '\r' && pos + 1 < s.size() && s[pos + 1] == '\n') {
        pos += 2;
      } else {
        ++pos;
      }
    }
  }
  return map;
}

std::optional<double> padEntryNumber(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

namespace {

std::string shortest(double value) {
  if (value == 0) value = 0;  // no "-0"
  char buf[400];              // the longest double in fixed notation fits
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return std::string(buf, result.ptr);
}

}  // namespace

std::string padEntryPlus(std::string_view entry) {
  std::string text(entry);
  if (const auto n = padEntryNumber(entry)) text = shortest(*n + 1);
  const auto now = padEntryNumber(text);
  if (!now || *now > 127) text = "127";
  return text;
}

std::string padEntryMinus(std::string_view entry) {
  std::string text(entry);
  if (const auto n = padEntryNumber(entry)) text = shortest(*n - 1);
  const auto now = padEntryNumber(text);
  if (!now || *now < 0) text = "0";
  return text;
}

bool isSafePadMapName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace pulsewright
