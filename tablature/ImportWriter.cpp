#include "tablature/ImportWriter.h"

#include <algorithm>
#include <cstdlib>

#include "tablature/LineScan.h"
#include "text/DocumentText.h"
#include "text/Utf8.h"

namespace pulsewright {

namespace {

char markOfLevel(int level) {
  if (level == 5) return 'x';
  if (level == 7) return 'X';
  return static_cast<char>('0' + std::clamp(level, 0, 9));
}

constexpr std::pair<char32_t, char32_t> kNameRanges[] = {
    {'A', 'Z'},       {'a', 'z'},       {'0', '9'},        {0x4E00, 0x9FFF},
    {0x3400, 0x4DBF}, {0xAC00, 0xD7A3}, {0x20000, 0x2A6DF}};

// One line of text: control characters become blanks, the ends are trimmed.
std::string oneLine(std::string_view value) {
  std::string text = decodeDocumentBytes(value);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

int levelOfImportedVelocity(int velocity) {
  const int v = std::clamp(velocity, 0, 127);
  int best = 0;
  for (int level = 1; level <= 9; ++level) {
    if (std::abs(velocityOfLevel(level) - v) <= std::abs(velocityOfLevel(best) - v)) best = level;
  }
  return best;
}

std::string metreItem(const Metre& metre, std::uint32_t barSteps, int notes) {
  if (!isWritableMetre(metre.beats, metre.beatUnit)) return {};
  const std::optional<Metre> told = metreOfBar(barSteps, notes);
  const bool fullBar =
      static_cast<long>(barSteps) * metre.beatUnit == static_cast<long>(metre.beats) * notes;
  if (!fullBar || !told || (told->beats == metre.beats && told->beatUnit == metre.beatUnit)) {
    return {};
  }
  return " metre = " + std::to_string(metre.beats) + "/" + std::to_string(metre.beatUnit);
}

std::string importedPartName(std::size_t n) {
  for (const auto& [first, last] : kNameRanges) {
    const std::size_t size = last - first + 1;
    if (n >= size) {
      n -= size;
      continue;
    }
    std::string s;
    appendUtf8(s, static_cast<char32_t>(first + n));
    return s;
  }
  return {};
}

void ImportWriter::meta(std::string_view key, std::string_view value) {
  const std::string text = oneLine(value);
  if (!text.empty()) meta_ += "meta " + std::string(key) + " = " + text + "\n";
}

std::string ImportWriter::body(const ImportedPart& part, std::size_t* merged,
                               std::array<bool, kVoiceCount>* voices) const {
  std::vector<std::uint32_t> bars = part.barSteps;
  if (bars.empty()) bars.push_back(std::max<std::uint32_t>(part.steps, 1));
  std::uint32_t total = 0;
  for (std::uint32_t b : bars) total += b;

  // One row of levels per voice; -1 is a rest. Its articulations beside it, the first
  // articulated hit of a step keeping its mark.
  std::array<std::vector<std::int8_t>, kVoiceCount> rows;
  std::array<std::vector<Articulation>, kVoiceCount> articulations;
  for (const ImportedHit& hit : part.hits) {
    if (hit.step >= total) continue;
    std::vector<std::int8_t>& row = rows[index(hit.voice)];
    if (row.empty()) row.assign(total, -1);
    if (row[hit.step] >= 0) ++*merged;
    row[hit.step] = std::max<std::int8_t>(row[hit.step], static_cast<std::int8_t>(hit.level));
    if (hit.articulation != Articulation::None) {
      std::vector<Articulation>& marks = articulations[index(hit.voice)];
      if (marks.empty()) marks.assign(total, Articulation::None);
      if (marks[hit.step] == Articulation::None) marks[hit.step] = hit.articulation;
    }
  }
  bool any = false;
  for (const auto& row : rows) any = any || !row.empty();
  if (!any) {
    // A part of rests still takes its time: on the first voice used, else the kick.
    DrumVoice rest = DrumVoice::BassDrum;
    for (DrumVoice v : kImportedLineOrder) {
      if (used_[index(v)]) {
        rest = v;
        break;
      }
    }
    rows[index(part.restVoice.value_or(rest))].assign(total, -1);
  }
  const bool sticking = part.sticking.find_first_not_of('-') != std::string::npos;
  std::size_t width = sticking ? line_scan::kStickingSymbol.size() : 0;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    (*voices)[v] = !rows[v].empty();
    if (!rows[v].empty()) width = std::max(width, kImportedVoiceSymbols[v].size());
  }

  std::string text =
      " tempo = " + std::to_string(part.tempo) + " notes = " + std::to_string(part.notes);
  if (part.metre) text += metreItem(*part.metre, bars.front(), part.notes);
  if (part.swingPercent != 50) text += " swing = " + std::to_string(part.swingPercent);
  text += '\n';
  std::array<bool, kVoiceCount> written{};
  auto line = [&](DrumVoice voice) {
    const std::size_t v = index(voice);
    if (rows[v].empty() || written[v]) return;
    written[v] = true;
    text += kImportedVoiceSymbols[v];
    text.append(width - kImportedVoiceSymbols[v].size() + 1, ' ');
    std::uint32_t step = 0;
    for (std::uint32_t b : bars) {
      text += '|';
      for (std::uint32_t i = 0; i < b; ++i, ++step) {
        const Articulation a =
            articulations[v].empty() ? Articulation::None : articulations[v][step];
        if (a == Articulation::Choke && rows[v][step] <= 0) {
          text += markOfArticulation(a, 0);
        } else if (rows[v][step] < 0) {
          text += '-';
        } else if (a == Articulation::None || a == Articulation::Choke) {
          text += markOfLevel(rows[v][step]);  // a hit with a choke on its step: the hit
        } else {
          text += markOfArticulation(a, rows[v][step]);
        }
      }
    }
    text += "|\n";
  };
  for (DrumVoice voice : part.lineOrder) line(voice);
  for (DrumVoice voice : kImportedLineOrder) line(voice);
  if (sticking) {
    text += line_scan::kStickingSymbol;
    text.append(width - line_scan::kStickingSymbol.size() + 1, ' ');
    std::uint32_t step = 0;
    for (std::uint32_t b : bars) {
      text += '|';
      for (std::uint32_t i = 0; i < b; ++i, ++step) {
        text += step < part.sticking.size() ? part.sticking[step] : '-';
      }
    }
    text += "|\n";
  }
  return text;
}

bool ImportWriter::play(const ImportedPart& part, int times) {
  const std::size_t mergedBefore = merged_;
  const std::string named = name(part);
  // Each pair of hits on one step counts once per play.
  merged_ = mergedBefore + (merged_ - mergedBefore) * static_cast<std::size_t>(std::max(times, 0));
  if (named.empty()) return false;
  playNamed(named, times);
  return true;
}

std::string ImportWriter::name(const ImportedPart& part, std::string_view wanted) {
  std::array<bool, kVoiceCount> voices{};
  std::string text = body(part, &merged_, &voices);
  auto it = names_.find(text);
  if (it != names_.end()) return it->second;
  std::string name(wanted);
  if (name.empty() || taken_.count(name) != 0) {
    while (!partName_(nextName_).empty() && taken_.count(partName_(nextName_)) != 0) ++nextName_;
    name = partName_(nextName_);
    if (name.empty()) return {};
  }
  taken_.insert(name);
  for (std::size_t v = 0; v < kVoiceCount; ++v) used_[v] = used_[v] || voices[v];
  parts_ += "part = " + name + text + "\n";
  names_.emplace(std::move(text), name);
  return name;
}

void ImportWriter::playNamed(const std::string& name, int times) {
  if (times <= 0) return;
  if (!song_.empty() && song_.back().first == name) {
    song_.back().second += static_cast<std::size_t>(times);
  } else {
    song_.emplace_back(name, static_cast<std::size_t>(times));
  }
  songLength_ += static_cast<std::size_t>(times);
}

std::string ImportWriter::document() const {
  if (songLength_ == 0) return {};
  std::string voices;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (used_[v]) {
      voices += std::string(kImportedVoiceSymbols[v]) + " = " + std::string(captions_[v]) + "\n";
    }
  }
  std::size_t songBytes = 0;
  for (const auto& [name, times] : song_) songBytes += name.size() * times;
  // Written once at its final size: the song may be far longer than the rest.
  std::string doc;
  doc.reserve(meta_.size() + 1 + voices.size() + 1 + parts_.size() + 7 + songBytes + 1);
  doc += meta_;
  if (!doc.empty()) doc += '\n';
  doc += voices;
  doc += '\n';
  doc += parts_;
  doc += "song = ";
  for (const auto& [name, times] : song_) {
    for (std::size_t i = 0; i < times; ++i) doc += name;
  }
  doc += '\n';
  return doc;
}

}  // namespace pulsewright
