#include "playback/Practice.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "playback/Player.h"

namespace pulsewright {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())) != 0) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) s.remove_suffix(1);
  return s;
}

// The drum voice a name stands for ("snare drum"), if any.
std::optional<std::size_t> drumNamed(std::string_view name) {
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (sameIgnoringCase(kVoiceCaptions[v], name)) return v;
  }
  return std::nullopt;
}

// The symbols that some item of the song carries, and the drums some item plays.
struct VoicesPlayed {
  std::vector<bool> symbols;
  std::array<bool, kVoiceCount> drums{};
};

VoicesPlayed voicesPlayed(const Timeline& song) {
  VoicesPlayed played;
  played.symbols.assign(song.symbols().size(), false);
  for (const TimelinePart& part : song.parts()) {
    for (const TimelineItem& item : part.items) {
      if (item.symbol >= 0 && static_cast<std::size_t>(item.symbol) < played.symbols.size()) {
        played.symbols[static_cast<std::size_t>(item.symbol)] = true;
      }
      if (item.voice.kind == ItemVoice::Kind::Drum && item.voice.drum < kVoiceCount) {
        played.drums[item.voice.drum] = true;
      }
    }
  }
  return played;
}

std::optional<double> number(std::string_view text) {
  text = trimmed(text);
  if (text.empty()) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

void VoiceMask::toggle(std::vector<std::string>& list, const std::string& voice) {
  const auto found = std::find(list.begin(), list.end(), voice);
  if (found != list.end()) {
    list.erase(found);
  } else {
    list.push_back(voice);
  }
}

std::vector<std::string> splitVoiceList(std::string_view text) {
  std::vector<std::string> names;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view name = trimmed(text.substr(0, comma));
    if (!name.empty()) names.emplace_back(name);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return names;
}

std::vector<std::string> unknownVoices(const VoiceMask& mask, const Timeline& song) {
  const VoicesPlayed played = voicesPlayed(song);
  std::vector<std::string> unknown;
  auto check = [&](const std::string& name) {
    const auto& symbols = song.symbols();
    const auto symbol = std::find(symbols.begin(), symbols.end(), name);
    if (symbol != symbols.end() &&
        played.symbols[static_cast<std::size_t>(symbol - symbols.begin())]) {
      return;
    }
    if (const auto drum = drumNamed(name); drum && played.drums[*drum]) return;
    if (std::find(unknown.begin(), unknown.end(), name) == unknown.end()) unknown.push_back(name);
  };
  for (const std::string& name : mask.muted) check(name);
  for (const std::string& name : mask.soloed) check(name);
  return unknown;
}

std::string voiceChoices(const Timeline& song) {
  const VoicesPlayed played = voicesPlayed(song);
  std::string list;
  for (std::size_t i = 0; i < song.symbols().size(); ++i) {
    if (!played.symbols[i]) continue;
    if (!list.empty()) list += ", ";
    list += song.symbols()[i];
  }
  return list;
}

VoiceFilter::VoiceFilter(const VoiceMask& mask, const Timeline& song) {
  if (mask.empty()) return;
  active_ = true;
  soloing_ = !mask.soloed.empty();
  symbols_.assign(song.symbols().size(), 0);
  auto mark = [&](const std::string& name, std::uint8_t flag) {
    for (std::size_t i = 0; i < song.symbols().size(); ++i) {
      if (song.symbols()[i] == name) symbols_[i] |= flag;
    }
    if (const auto drum = drumNamed(name)) drums_[*drum] |= flag;
  };
  for (const std::string& name : mask.muted) mark(name, kMuted);
  for (const std::string& name : mask.soloed) mark(name, kSoloed);
  // A drum named goes with its grid lines, rests and all.
  for (const TimelinePart& part : song.parts()) {
    for (const TimelineItem item : part.items) {
      if (item.voice.kind != ItemVoice::Kind::Drum || item.voice.drum >= kVoiceCount) continue;
      if (item.symbol >= 0 && static_cast<std::size_t>(item.symbol) < symbols_.size()) {
        symbols_[static_cast<std::size_t>(item.symbol)] |= drums_[item.voice.drum];
      }
    }
  }
}

Timeline withoutSilencedVoices(const Timeline& song, const VoiceMask& mask) {
  const VoiceFilter filter(mask, song);
  // The grid lines stay where they were: only items go.
  SongParts parts{song.parts(), song.sampleFiles(), song.symbols(), song.sounds(),
                  song.sharedGridModel()};
  if (filter.active()) {
    for (TimelinePart& part : parts.parts) {
      TimelineItems kept;
      kept.reserve(part.items.size());
      for (TimelineStep& step : part.steps) {
        const std::size_t first = kept.size();
        for (const TimelineItem item : part.itemsOf(step)) {
          if (filter.sounds(item)) kept.push_back(item);
        }
        step.firstItem = static_cast<std::uint32_t>(first);
      }
      part.items = std::move(kept);
    }
  }
  return Timeline::build(std::move(parts), song.songLine());
}

double TempoRamp::scaleOf(int pass) const {
  if (!on()) return 1.0;
  const double percent = std::min(endPercent, startPercent + stepPercent * std::max(pass, 0));
  return percent / 100.0;
}

std::optional<TempoRamp> parseTempoRamp(std::string_view text, std::string* error) {
  const std::string low = std::to_string(static_cast<int>(kMinTempoScale * 100));
  const std::string high = std::to_string(static_cast<int>(kMaxTempoScale * 100));
  auto fail = [&](const std::string& why) -> std::optional<TempoRamp> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  std::vector<std::optional<double>> parts;
  while (true) {
    const std::size_t colon = text.find(':');
    parts.push_back(number(text.substr(0, colon)));
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
  }
  if (parts.size() != 3 || !parts[0] || !parts[1] || !parts[2]) {
    return fail("START:STEP:END in percent expected, such as 70:5:100");
  }
  TempoRamp ramp{*parts[0], *parts[1], *parts[2]};
  const double lowest = kMinTempoScale * 100;
  const double highest = kMaxTempoScale * 100;
  if (ramp.startPercent < lowest || ramp.endPercent > highest) {
    return fail("the percentages must lie from " + low + " to " + high);
  }
  if (ramp.startPercent > ramp.endPercent) return fail("the start must not lie above the end");
  if (ramp.stepPercent < 0) return fail("the step must not be negative");
  return ramp;
}

BarBeat barBeatOf(const TimelinePart& part, int step) {
  if (step < 0 || part.steps.empty()) return {};
  const auto count = static_cast<int>(part.steps.size());
  step = std::min(step, count - 1);
  // Quarter notes from `from` up to `step`.
  auto quartersBetween = [&](int from) {
    double quarters = 0;
    for (int s = from; s < step; ++s) {
      const StepMusic& m = part.musicOf(part.steps[static_cast<std::size_t>(s)]);
      if (m.noteSize > 0 && m.tupletDivisor > 0) quarters += 4.0 / m.noteSize / m.tupletDivisor;
    }
    return quarters;
  };
  const Metre& metre = part.metre;
  const bool compound = metre.beatUnit == 8 && metre.beats % 3 == 0 && metre.beats > 3;
  const double beatQuarters =
      metre.beatUnit > 0 ? 4.0 / metre.beatUnit * (compound ? 3.0 : 1.0) : 1.0;
  // A little slack so that sums of thirds still land on their beat.
  constexpr double kSlack = 1e-6;
  if (part.bars.size() >= 2) {
    // The bar lines the step stands behind; the closing bar line starts no bar.
    const auto after = std::upper_bound(part.bars.begin(), part.bars.end(), step);
    const int bar = std::max(1, static_cast<int>(after - part.bars.begin()));
    const int barStart = part.bars[static_cast<std::size_t>(bar - 1)];
    const double beats = quartersBetween(barStart) / beatQuarters;
    return {bar, static_cast<int>(std::floor(beats + kSlack)) + 1};
  }
  const double beats = std::floor(quartersBetween(0) / beatQuarters + kSlack);
  const int perBar = std::max(1, compound ? metre.beats / 3 : metre.beats);
  const auto whole = static_cast<long long>(beats);
  return {static_cast<int>(whole / perBar) + 1, static_cast<int>(whole % perBar) + 1};
}

}  // namespace pulsewright
