#include "tabimport/GrooveScribe.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "padmap/DrumVoice.h"
#include "tablature/ImportWriter.h"
#include "text/DocumentText.h"
#include "text/Utf8.h"

namespace pulsewright {

namespace {

using V = DrumVoice;

constexpr std::string_view kLinkBase = "https://www.mikeslessons.com/groove/";
constexpr int kDivisions[] = {8, 16, 32, 12, 24, 48};
constexpr int kDefaultTempo = 80;
// A link longer than this many measures is refused: its lanes would be megabytes.
constexpr long kMaxMeasures = 100000;
constexpr long kMaxSteps = 4'000'000;
constexpr std::size_t kMaxWarnings = 200;
// A link's Swing is the way from straight (0) to a triplet feel (50) in percent, and
// past it to 75; a part's swing the first step's share of a pair (50 to 75).
constexpr long kMaxLinkSwing = 75;
int swingPercentOfLink(int linkSwing) {
  return std::min(75, static_cast<int>(std::lround(50.0 + linkSwing / 3.0)));
}
int linkSwingOfPercent(int percent) {
  return static_cast<int>(std::clamp<long>(3L * (percent - 50), 0, kMaxLinkSwing));
}

// A drum lane's field name and what each of its marks plays. A mark may play two drums
// (the kick lane's X is kick and hi-hat foot) or be the nearest of a mark the language
// lacks, said in a warning.
struct LaneMark {
  char mark;
  V voice;
  std::uint8_t level;
  std::optional<V> second = std::nullopt;
  std::string_view nearest = {};  // what the mark is, when it plays only its nearest
  Articulation articulation = Articulation::None;
};

struct Lane {
  std::string_view field;
  std::string_view drum;  // in warnings
  std::vector<LaneMark> marks;
};

const std::vector<Lane>& lanes() {
  static const std::vector<Lane> kLanes = {
      {"H",
       "hi-hat",
       {{'x', V::ClosedHat, 5},
        {'X', V::ClosedHat, 7},
        {'o', V::OpenHat, 5},
        {'O', V::OpenHat, 7},
        {'+', V::ClosedHat, 5},
        {'c', V::Crash1, 5},
        {'r', V::Ride, 5},
        {'b', V::Bell, 5},
        {'m', V::CowBell, 5},
        {'s', V::Crash2, 5, std::nullopt, "a stacker"}}},
      {"S",
       "snare",
       {{'o', V::SnareDrum, 5},
        {'O', V::SnareDrum, 7},
        {'g', V::SnareDrum, 3},
        {'x', V::SnareDrum, 5, std::nullopt, {}, Articulation::CrossStick},
        {'f', V::SnareDrum, 5, std::nullopt, {}, Articulation::Flam},
        {'b', V::SnareDrum, 5, std::nullopt, {}, Articulation::Buzz},
        {'d', V::SnareDrum, 5, std::nullopt, {}, Articulation::Drag}}},
      {"K",
       "kick",
       {{'o', V::BassDrum, 5},
        {'O', V::BassDrum, 7},
        {'x', V::PedalHat, 5},
        {'X', V::BassDrum, 5, V::PedalHat}}},
      {"T1", "tom 1", {{'o', V::Tom1, 5}, {'x', V::Tom1, 5}, {'O', V::Tom1, 7}, {'X', V::Tom1, 7}}},
      {"T2", "tom 2", {{'o', V::Tom2, 5}, {'x', V::Tom2, 5}, {'O', V::Tom2, 7}, {'X', V::Tom2, 7}}},
      {"T3", "tom 3", {{'o', V::Tom3, 5}, {'x', V::Tom3, 5}, {'O', V::Tom3, 7}, {'X', V::Tom3, 7}}},
      {"T4", "tom 4", {{'o', V::Tom4, 5}, {'x', V::Tom4, 5}, {'O', V::Tom4, 7}, {'X', V::Tom4, 7}}},
      {"C",
       "crash",
       {{'x', V::Crash1, 5},
        {'o', V::Crash1, 5},
        {'c', V::Crash1, 5},
        {'X', V::Crash1, 7},
        {'O', V::Crash1, 7}}},
      {"R",
       "ride",
       {{'x', V::Ride, 5},
        {'o', V::Ride, 5},
        {'r', V::Ride, 5},
        {'X', V::Ride, 7},
        {'O', V::Ride, 7},
        {'b', V::Bell, 5}}},
  };
  return kLanes;
}

// Player settings of the link, not the groove: read as nothing, without a word.
constexpr std::string_view kPlayerFields[] = {"Mode", "Metronome", "MetronomeFreq", "MetronomeSolo",
                                              "MetronomeOffsetClickStart"};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A field's text percent-decoded, each byte with the offset it came from.
struct Decoded {
  std::string text;
  std::vector<std::size_t> from;
};

Decoded percentDecoded(std::string_view raw, std::size_t offset, bool plusIsBlank) {
  Decoded d;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    const std::size_t at = offset + i;
    if (c == '%' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 && hexValue(raw[i + 2]) >= 0) {
      c = static_cast<char>(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2]));
      i += 2;
    } else if (c == '+' && plusIsBlank) {
      c = ' ';
    }
    d.text += c;
    d.from.push_back(at);
  }
  return d;
}

struct Field {
  std::string_view name;
  std::string_view value;
  std::size_t nameOffset = 0;
  std::size_t valueOffset = 0;
};

// The fields of the link's query, or none when the text holds no link.
std::optional<std::vector<Field>> fieldsOf(std::string_view bytes, std::size_t* queryStart) {
  std::size_t first = bytes.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  std::size_t last = bytes.find_last_not_of(" \t\r\n");
  const std::string_view text = bytes.substr(first, last - first + 1);
  if (text.find_first_of("\r\n \t") != std::string_view::npos) return std::nullopt;
  const std::size_t question = text.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  std::size_t end = text.find('#', question);
  if (end == std::string_view::npos) end = text.size();
  const std::size_t start = first + question + 1;
  *queryStart = start;
  std::vector<Field> fields;
  std::size_t at = start;
  const std::size_t stop = first + end;
  while (at <= stop) {
    std::size_t amp = bytes.find('&', at);
    if (amp == std::string_view::npos || amp > stop) amp = stop;
    const std::string_view item = bytes.substr(at, amp - at);
    if (!item.empty()) {
      const std::size_t eq = item.find('=');
      Field f;
      f.name = item.substr(0, eq);
      f.nameOffset = at;
      if (eq != std::string_view::npos) {
        f.value = item.substr(eq + 1);
        f.valueOffset = at + eq + 1;
      } else {
        f.valueOffset = amp;
      }
      fields.push_back(f);
    }
    at = amp + 1;
  }
  return fields;
}

bool isLaneField(std::string_view name) {
  return std::any_of(lanes().begin(), lanes().end(),
                     [&](const Lane& l) { return l.field == name; });
}

std::optional<long> wholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

class LinkReader {
 public:
  explicit LinkReader(std::string_view bytes) : bytes_(bytes) {}
  GrooveScribeImport run();

 private:
  void warn(std::size_t offset, std::string text);
  void readLane(const Lane& lane, const Field& field, std::uint32_t steps,
                std::vector<ImportedHit>* hits);
  std::string readStickings(const Field& field, std::uint32_t steps);

  std::string_view bytes_;
  GrooveScribeImport result_;
  std::size_t suppressed_ = 0;
  std::size_t suppressedAt_ = 0;
};

void LinkReader::warn(std::size_t offset, std::string text) {
  if (result_.warnings.size() >= kMaxWarnings) {
    if (suppressed_++ == 0) suppressedAt_ = offset;
    return;
  }
  TabWarning w;
  w.line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset && i < bytes_.size(); ++i) {
    if (bytes_[i] == '\n' ||
        (bytes_[i] == '\r' && (i + 1 >= bytes_.size() || bytes_[i + 1] != '\n'))) {
      ++w.line;
      lineStart = i + 1;
    }
  }
  w.column = 1;
  for (std::size_t i = lineStart; i < offset && i < bytes_.size(); ++i) {
    if (!isContinuationByte(bytes_[i])) ++w.column;
  }
  w.text = std::move(text);
  result_.warnings.push_back(std::move(w));
}

std::string shown(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 0x20 || u >= 0x7F) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string("byte 0x") + kHex[u >> 4] + kHex[u & 15];
  }
  return std::string("\"") + c + "\"";
}

void LinkReader::readLane(const Lane& lane, const Field& field, std::uint32_t steps,
                          std::vector<ImportedHit>* hits) {
  const Decoded d = percentDecoded(field.value, field.valueOffset, false);
  std::uint32_t step = 0;
  std::size_t extra = 0;
  std::size_t extraAt = 0;
  for (std::size_t i = 0; i < d.text.size(); ++i) {
    const char c = d.text[i];
    if (c == '|') continue;
    if (step >= steps) {
      if (extra++ == 0) extraAt = d.from[i];
      continue;
    }
    if (c != '-') {
      const auto mark = std::find_if(lane.marks.begin(), lane.marks.end(),
                                     [&](const LaneMark& m) { return m.mark == c; });
      if (mark == lane.marks.end()) {
        warn(d.from[i], shown(c) + " is no " + std::string(lane.drum) + " mark: left out");
      } else {
        if (!mark->nearest.empty()) {
          warn(d.from[i], std::string(mark->nearest) + " is played as a plain " +
                              std::string(lane.drum) + " hit");
        }
        hits->push_back({step, mark->voice, mark->level, mark->articulation});
        if (mark->second) hits->push_back({step, *mark->second, mark->level});
      }
    }
    ++step;
  }
  if (extra > 0) {
    warn(extraAt, "the " + std::string(lane.drum) + " lane is " + std::to_string(extra) +
                      " steps longer than its measures: those left out");
  } else if (step < steps) {
    warn(field.nameOffset, "the " + std::string(lane.drum) + " lane is " +
                               std::to_string(steps - step) +
                               " steps shorter than its measures: filled with rests");
  }
}

// A hand per step: R, L or B (both); a count or other mark is left out with a word.
std::string LinkReader::readStickings(const Field& field, std::uint32_t steps) {
  const Decoded d = percentDecoded(field.value, field.valueOffset, false);
  std::string hands;
  for (std::size_t i = 0; i < d.text.size() && hands.size() < steps; ++i) {
    const char c = d.text[i];
    if (c == '|') continue;
    const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper == 'R' || upper == 'L' || upper == 'B' || c == '-') {
      hands += upper;
    } else {
      warn(d.from[i], shown(c) + " is no sticking (R, L or B): left out");
      hands += '-';
    }
  }
  if (hands.find_first_not_of('-') == std::string::npos) return {};
  hands.resize(steps, '-');
  return hands;
}

GrooveScribeImport LinkReader::run() {
  std::size_t queryStart = 0;
  const std::optional<std::vector<Field>> fields = fieldsOf(bytes_, &queryStart);
  if (!fields) {
    result_.error = "no GrooveScribe link: a link is one line with a query (?TimeSig=4/4&...)";
    return result_;
  }
  int beats = 4;
  int beatUnit = 4;
  int division = 16;
  long measures = 1;
  int tempo = kDefaultTempo;
  std::vector<const Field*> laneFields;
  const Field* stickings = nullptr;
  int swing = 50;
  ImportWriter writer;
  std::string title, author, comments;
  for (const Field& f : *fields) {
    const std::string value = percentDecoded(f.value, f.valueOffset, true).text;
    if (f.name == "TimeSig") {
      const std::size_t slash = value.find('/');
      const auto b = wholeNumber(std::string_view(value).substr(0, slash));
      const auto u = slash == std::string::npos
                         ? std::nullopt
                         : wholeNumber(std::string_view(value).substr(slash + 1));
      if (!b || !u || *b < 1 || *b > 64 ||
          (*u != 1 && *u != 2 && *u != 4 && *u != 8 && *u != 16 && *u != 32)) {
        result_.error = "TimeSig=" + value + " is no time signature (such as 4/4 or 6/8)";
        return result_;
      }
      beats = static_cast<int>(*b);
      beatUnit = static_cast<int>(*u);
    } else if (f.name == "Div") {
      const auto d = wholeNumber(value);
      if (!d ||
          std::find(std::begin(kDivisions), std::end(kDivisions), *d) == std::end(kDivisions)) {
        result_.error = "Div=" + value + " is no note size of a link (8, 16, 32, 12, 24 or 48)";
        return result_;
      }
      division = static_cast<int>(*d);
    } else if (f.name == "Measures") {
      const auto m = wholeNumber(value);
      if (!m || *m < 1 || *m > kMaxMeasures) {
        result_.error = "Measures=" + value + " is no number of measures (1 to " +
                        std::to_string(kMaxMeasures) + ")";
        return result_;
      }
      measures = *m;
    } else if (f.name == "Tempo") {
      const auto t = wholeNumber(value);
      if (!t) {
        warn(f.valueOffset,
             "Tempo=" + value + " is no tempo: " + std::to_string(kDefaultTempo) + " used");
      } else if (*t < kMinTabTempo || *t > kMaxTabTempo) {
        tempo = static_cast<int>(std::clamp<long>(*t, kMinTabTempo, kMaxTabTempo));
        warn(f.valueOffset,
             "Tempo=" + value + " is out of range: " + std::to_string(tempo) + " used");
      } else {
        tempo = static_cast<int>(*t);
      }
    } else if (f.name == "Swing") {
      const auto s = wholeNumber(value);
      if (!s || *s > kMaxLinkSwing) {
        warn(f.valueOffset, "Swing=" + value + " is no swing (0 to " +
                                std::to_string(kMaxLinkSwing) + "): the steps play evenly");
      } else {
        swing = swingPercentOfLink(static_cast<int>(*s));
      }
    } else if (f.name == "Stickings") {
      stickings = &f;
    } else if (f.name == "Title") {
      title = value;
    } else if (f.name == "Author") {
      author = value;
    } else if (f.name == "Comments") {
      comments = value;
    } else if (isLaneField(f.name)) {
      laneFields.push_back(&f);
    } else if (std::find(std::begin(kPlayerFields), std::end(kPlayerFields), f.name) ==
               std::end(kPlayerFields)) {
      warn(f.nameOffset,
           "unknown field \"" + percentDecoded(f.name, f.nameOffset, true).text + "\" left out");
    }
  }
  if (laneFields.empty()) {
    result_.error = "the link has no drum lanes (H, S, K, T1-T4, C or R)";
    return result_;
  }
  if ((division * beats) % beatUnit != 0) {
    result_.error = "Div=" + std::to_string(division) + " gives no whole number of steps in a " +
                    "measure of " + std::to_string(beats) + "/" + std::to_string(beatUnit);
    return result_;
  }
  const auto perMeasure = static_cast<std::uint32_t>(division * beats / beatUnit);
  if (static_cast<long>(perMeasure) * measures > kMaxSteps) {
    result_.error = "the link's " + std::to_string(measures) + " measures of " +
                    std::to_string(perMeasure) + " steps are more than " +
                    std::to_string(kMaxSteps) + " steps";
    return result_;
  }
  const auto steps = static_cast<std::uint32_t>(perMeasure * measures);

  ImportedPart part;
  part.tempo = tempo;
  part.notes = division;
  part.barSteps.assign(static_cast<std::size_t>(measures), perMeasure);
  part.metre = Metre{beats, beatUnit, true};
  part.swingPercent = swing;
  if (stickings != nullptr) part.sticking = readStickings(*stickings, steps);
  for (const Field* f : laneFields) {
    const Lane& lane = *std::find_if(lanes().begin(), lanes().end(),
                                     [&](const Lane& l) { return l.field == f->name; });
    readLane(lane, *f, steps, &part.hits);
  }
  // In the order they stand in the link.
  std::stable_sort(result_.warnings.begin(), result_.warnings.end(),
                   [](const TabWarning& a, const TabWarning& b) {
                     return a.line != b.line ? a.line < b.line : a.column < b.column;
                   });
  writer.meta("title", title);
  writer.meta("author", author);
  writer.meta("description", comments);
  writer.play(part);
  result_.document = writer.document();
  if (suppressed_ > 0) {
    const std::size_t more = suppressed_;
    result_.warnings.pop_back();
    suppressed_ = 0;
    warn(suppressedAt_, std::to_string(more + 1) + " more warnings not shown");
  }
  return result_;
}

// A snare hit's mark: its articulation where a link has one, else its level's.
char snareMark(const TimelineItem& item) {
  switch (item.articulation) {
    case Articulation::CrossStick: return 'x';
    case Articulation::Flam: return 'f';
    case Articulation::Drag: return 'd';
    case Articulation::Buzz: return 'b';
    default: return item.level >= 7 ? 'O' : item.level <= 3 ? 'g' : 'o';
  }
}

// Percent-encodes all but the characters a query keeps as they are.
std::string encoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

}  // namespace

bool looksLikeGrooveScribeLink(std::string_view bytes) {
  std::size_t queryStart = 0;
  const auto fields = fieldsOf(bytes, &queryStart);
  if (!fields) return false;
  return std::any_of(fields->begin(), fields->end(), [](const Field& f) {
    return isLaneField(f.name) || f.name == "TimeSig" || f.name == "Div";
  });
}

GrooveScribeImport importGrooveScribeLink(std::string_view bytes) {
  return LinkReader(bytes).run();
}

int firstSongPart(const Timeline& song) {
  const auto& parts = song.parts();
  for (const std::string& character : song.songCharacters()) {
    for (std::size_t p = parts.size(); p-- > 1;) {
      if (parts[p].name == character) {
        if (parts[p].hasSteps()) return static_cast<int>(p);
        break;
      }
    }
  }
  return -1;
}

GrooveScribeExport grooveScribeLinkOf(const Timeline& song, const SongMetadata& metadata,
                                      int partIndex) {
  GrooveScribeExport out;
  if (partIndex < 0 || static_cast<std::size_t>(partIndex) >= song.parts().size() ||
      !song.parts()[static_cast<std::size_t>(partIndex)].hasSteps()) {
    out.error = "the song has no part with steps to write";
    return out;
  }
  const TimelinePart& part = song.parts()[static_cast<std::size_t>(partIndex)];
  const StepMusic music = part.musicOf(part.steps.front());
  for (const TimelineStep& s : part.steps) {
    const StepMusic& m = part.musicOf(s);
    if (m.tupletDivisor != 1 || m.noteSize != music.noteSize) {
      out.error = "part " + part.name +
                  " changes its note size or has tuplets: a link has one "
                  "note size";
      return out;
    }
  }
  const int division = static_cast<int>(std::lround(music.noteSize));
  if (std::abs(music.noteSize - division) > 1e-9 ||
      std::find(std::begin(kDivisions), std::end(kDivisions), division) == std::end(kDivisions)) {
    out.error = "part " + part.name + " is in notes of 1/" + std::to_string(music.noteSize) +
                ": a link holds 8, 16, 32, 12, 24 or 48";
    return out;
  }
  const auto steps = static_cast<std::uint32_t>(part.steps.size());
  // The bars as the part's bar lines cut them; a part without any is one bar.
  std::vector<std::uint32_t> cuts;
  for (std::int32_t b : part.bars) {
    if (b > 0 && static_cast<std::uint32_t>(b) < steps &&
        (cuts.empty() || cuts.back() != static_cast<std::uint32_t>(b)))
      cuts.push_back(static_cast<std::uint32_t>(b));
  }
  std::uint32_t perBar = cuts.empty() ? steps : cuts.front();
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const std::uint32_t next = i + 1 < cuts.size() ? cuts[i + 1] : steps;
    if (next - cuts[i] != perBar) {
      out.error = "part " + part.name +
                  " has bars of different lengths: a link's measures are "
                  "alike";
      return out;
    }
  }
  int beats = part.metre.beats;
  int beatUnit = part.metre.beatUnit;
  if (static_cast<long>(perBar) * beatUnit != static_cast<long>(beats) * division) {
    const std::optional<Metre> told = metreOfBar(perBar, division);
    if (!told) {
      out.error = "part " + part.name + " has bars of " + std::to_string(perBar) +
                  " steps, which make no time signature";
      return out;
    }
    beats = told->beats;
    beatUnit = told->beatUnit;
  }
  const std::uint32_t measures = steps / perBar;

  // One row of marks per lane, in the order lanes() lists them.
  std::array<std::string, 9> rows;
  for (std::string& r : rows) r.assign(steps, '-');
  std::array<std::size_t, kVoiceCount> dropped{};
  std::size_t samples = 0;
  std::size_t merged = 0;
  auto put = [&](std::size_t lane, std::uint32_t step, char mark) {
    char& at = rows[lane][step];
    if (at != '-' && at != mark) ++merged;
    // Of two marks on one step the more telling one stays: open over closed, bell over
    // ride, an accent over a plain hit.
    if (at == '-' || mark == 'o' || mark == 'b' || (at == 'x' && mark == 'X') ||
        (at == 'o' && mark == 'O') ||
        (lane == 1 && std::string_view("xfdb").find(mark) != std::string_view::npos))
      at = mark;
  };
  for (std::uint32_t s = 0; s < steps; ++s) {
    bool kick = false, foot = false;
    int kickLevel = 0;
    for (const TimelineItem& item : part.itemsOf(part.steps[s])) {
      if (item.isRest()) continue;
      if (item.voice.kind == ItemVoice::Kind::Sample) {
        ++samples;
        continue;
      }
      if (item.voice.kind != ItemVoice::Kind::Drum) continue;
      const bool loud = item.level >= 7;
      switch (item.voice.drumVoice()) {
        case V::ClosedHat: put(0, s, loud ? 'X' : 'x'); break;
        case V::OpenHat: put(0, s, 'o'); break;
        case V::CowBell:
          if (rows[0][s] == '-') {
            rows[0][s] = 'm';
          } else {
            ++dropped[index(V::CowBell)];
          }
          break;
        case V::SnareDrum: put(1, s, snareMark(item)); break;
        case V::BassDrum:
          kick = true;
          kickLevel = std::max<int>(kickLevel, item.level);
          break;
        case V::PedalHat: foot = true; break;
        case V::Tom1: put(3, s, loud ? 'O' : 'o'); break;
        case V::Tom2: put(4, s, loud ? 'O' : 'o'); break;
        case V::Tom3: put(5, s, loud ? 'O' : 'o'); break;
        case V::Tom4: put(6, s, loud ? 'O' : 'o'); break;
        case V::Crash1:
        case V::Crash2: put(7, s, loud ? 'X' : 'x'); break;
        case V::Ride: put(8, s, loud ? 'X' : 'x'); break;
        case V::Bell: put(8, s, 'b'); break;
        default: ++dropped[item.voice.drum]; break;
      }
    }
    if (kick && foot) {
      rows[2][s] = 'X';
    } else if (kick) {
      rows[2][s] = kickLevel >= 7 ? 'O' : 'o';
    } else if (foot) {
      rows[2][s] = 'x';
    }
  }
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (dropped[v] > 0) {
      out.warnings.push_back(std::to_string(dropped[v]) + " hits of " +
                             std::string(kVoiceCaptions[v]) +
                             " left out: a link has no lane for them");
    }
  }
  if (samples > 0) {
    out.warnings.push_back(std::to_string(samples) +
                           " sample hits left out: a link cannot hold samples");
  }
  if (merged > 0) {
    out.warnings.push_back(std::to_string(merged) +
                           " hits share a lane's step with another: the more telling one kept");
  }

  std::string& link = out.link;
  link = std::string(kLinkBase) + "?TimeSig=" + std::to_string(beats) + "/" +
         std::to_string(beatUnit) + "&Div=" + std::to_string(division) +
         "&Tempo=" + std::to_string(std::lround(music.tempo)) +
         "&Measures=" + std::to_string(measures);
  if (part.swingPercent != 50)
    link += "&Swing=" + std::to_string(linkSwingOfPercent(part.swingPercent));
  if (!metadata.title.empty()) link += "&Title=" + encoded(metadata.title);
  if (!metadata.author.empty()) link += "&Author=" + encoded(metadata.author);
  if (!metadata.description.empty()) link += "&Comments=" + encoded(metadata.description);
  for (std::size_t lane = 0; lane < rows.size(); ++lane) {
    // H, S and K are always written, as GrooveScribe writes them; the others when used.
    if (lane > 2 && rows[lane].find_first_not_of('-') == std::string::npos) continue;
    link += "&" + std::string(lanes()[lane].field) + "=|";
    for (std::uint32_t m = 0; m < measures; ++m) {
      link.append(rows[lane], m * perBar, perBar);
      link += '|';
    }
  }
  if (part.sticking.find_first_not_of('-') != std::string::npos) {
    std::string hands = part.sticking;
    hands.resize(steps, '-');
    link += "&Stickings=|";
    for (std::uint32_t m = 0; m < measures; ++m) {
      link.append(hands, m * perBar, perBar);
      link += '|';
    }
  }
  return out;
}

}  // namespace pulsewright
