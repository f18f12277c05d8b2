#include "tabimport/DrumTabImport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>

#include "padmap/DrumVoice.h"
#include "tablature/ImportWriter.h"
#include "text/DocumentText.h"
#include "text/Utf8.h"

namespace pulsewright {

namespace {

using V = DrumVoice;

struct Label {
  std::string_view name;  // lower case
  DrumVoice voice;
};

// Labels as drummers write them; compared ignoring case. The full words are read too,
// since many tabs spell the drums out.
constexpr Label kLabels[] = {
    {"hh", V::ClosedHat},    {"h", V::ClosedHat},   {"ch", V::ClosedHat}, {"hc", V::ClosedHat},
    {"hihat", V::ClosedHat}, {"oh", V::OpenHat},    {"hf", V::PedalHat},  {"ph", V::PedalHat},
    {"fh", V::PedalHat},     {"sd", V::SnareDrum},  {"s", V::SnareDrum},  {"sn", V::SnareDrum},
    {"snare", V::SnareDrum}, {"bd", V::BassDrum},   {"b", V::BassDrum},   {"k", V::BassDrum},
    {"kd", V::BassDrum},     {"kick", V::BassDrum}, {"cc", V::Crash1},    {"c", V::Crash1},
    {"cr", V::Crash1},       {"c1", V::Crash1},     {"crash", V::Crash1}, {"c2", V::Crash2},
    {"rc", V::Ride},         {"r", V::Ride},        {"rd", V::Ride},      {"ri", V::Ride},
    {"ride", V::Ride},       {"ht", V::Tom1},       {"t1", V::Tom1},      {"t", V::Tom1},
    {"mt", V::Tom2},         {"t2", V::Tom2},       {"lt", V::Tom3},      {"ft", V::Tom3},
    {"f", V::Tom3},          {"t3", V::Tom3},       {"t4", V::Tom4},      {"cb", V::CowBell},
    {"cow", V::CowBell},     {"cp", V::Claps},      {"cl", V::Claps},
};

// How the document's voice lines name each voice ("k = kick drum"), as the compiler binds
// them.
constexpr std::array<std::string_view, kVoiceCount> kTabVoiceCaptions = {
    "kick drum", "snare",  "closed hi-hat", "pedal hi-hat", "open hi-hat", "tom 1",
    "tom 2",     "tom 3",  "tom 4",         "ride cymbal",  "bell",        "crash 1",
    "crash 2",   "perc 1", "perc 2",        "claps",        "cow bell"};

constexpr int kDefaultTempo = 120;
constexpr int kMaxRepeat = 999;
constexpr std::size_t kMaxWarnings = 500;

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isSpace(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::optional<DrumVoice> voiceOfLabel(std::string_view label) {
  std::string lower(label);
  for (char& c : lower) c = lowerAscii(c);
  for (const Label& l : kLabels) {
    if (l.name == lower) return l.voice;
  }
  return std::nullopt;
}

// "xN", "XN" or "(xN)", nothing else: the repeat count, 0 when it is none of those.
int repeatMarker(std::string_view text) {
  text = trim(text);
  const bool bracket = !text.empty() && text.front() == '(';
  if (bracket) {
    if (text.back() != ')') return 0;
    text = trim(text.substr(1, text.size() - 2));
  }
  if (text.size() < 2 || (text[0] != 'x' && text[0] != 'X')) return 0;
  text = trim(text.substr(1));
  if (text.empty() || text.size() > 6) return 0;
  int n = 0;
  for (char c : text) {
    if (!isDigit(c)) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

// A section label with a repeat count on a line of its own ("Verse x4", "Chorus: (x2)",
// "[Intro] x2"): the label, without brackets and colon, and the count; 0 for any other line.
// "Repeat x4" is no label but a repeat of the system above.
int sectionLabel(std::string_view line, std::string_view* label) {
  const std::string_view t = trim(line);
  for (std::size_t p = 1; p < t.size(); ++p) {
    if (!isSpace(t[p]) && t[p] != '(') continue;
    const int count = repeatMarker(t.substr(p));
    if (count == 0) continue;
    std::string_view name = trim(t.substr(0, p));
    if (!name.empty() && name.back() == ':') name = trim(name.substr(0, name.size() - 1));
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
      name = trim(name.substr(1, name.size() - 2));
    // A few words at most: a sentence that ends in "x2" is prose.
    if (name.empty() || name.size() > 24 || !isAlpha(name.front())) return 0;
    int words = 1;
    for (std::size_t k = 0; k < name.size(); ++k) {
      const char c = name[k];
      if (!isAlpha(c) && !isDigit(c) && !isSpace(c) && c != '-' && c != '\'') return 0;
      if (isSpace(c) && !isSpace(name[k + 1])) ++words;
    }
    if (words > 3) return 0;
    *label = name;
    return count;
  }
  return 0;
}

bool isRepeatWord(std::string_view label) {
  std::string lower(label);
  for (char& c : lower) c = lowerAscii(c);
  return lower == "repeat" || lower == "play" || lower == "loop";
}

// One instrument line read into steps. Levels are 0 for a rest, else 1-9.
struct InstrumentLine {
  int line = 0;
  int labelColumn = 1;
  int endColumn = 1;  // just after the last bar line
  std::optional<DrumVoice> voice;
  DrumVoice second = V::OpenHat;  // the voice of the line's second kind of hit
  std::vector<int> barLengths;
  std::vector<std::uint8_t> main;
  std::vector<std::uint8_t> other;
  int repeat = 0;
};

std::string tabPartName(std::size_t n);

enum class Role { Hat, Cymbal, Plain };

Role roleOf(DrumVoice v) {
  if (v == V::ClosedHat) return Role::Hat;
  if (v == V::Ride || v == V::Crash1 || v == V::Crash2) return Role::Cymbal;
  return Role::Plain;
}

class Importer {
 public:
  explicit Importer(const TabImportOptions& options) : options_(options) {}
  TabImportResult run(std::string_view bytes);

 private:
  struct System {
    std::vector<InstrumentLine> lines;
    int repeat = 0;
    // The label of the section that this system opens, with the section's repeat count.
    std::string_view label;
    int sectionRepeat = 0;
    bool endsSection = false;  // the last system of a labelled section
  };
  struct Mark {
    int line;
    int value;
    int value2;
  };

  void warn(int line, int column, std::string text);
  bool readInstrumentLine(std::string_view line, int lineNumber, InstrumentLine* out);
  void readBar(std::string_view bar, int column, Role role, InstrumentLine* out);
  void readMarks(std::string_view line, int lineNumber);
  void buildPart(System& system);
  void addToSong(const std::string& name, int count);
  template <typename T>
  T markFor(const std::vector<Mark>& marks, int line, T fallback, T (*make)(const Mark&)) const;

  const TabImportOptions& options_;
  std::vector<TabWarning> warnings_;
  std::size_t suppressed_ = 0;
  TabWarning firstSuppressed_;
  std::vector<Mark> tempos_;
  std::vector<Mark> signatures_;
  ImportWriter writer_{kTabVoiceCaptions, tabPartName};
  // The song as runs of one part name, so that a repeat costs nothing until written.
  std::vector<std::pair<std::string, int>> song_;
  // The song of the labelled section being read, and its count (0 outside one).
  std::vector<std::pair<std::string, int>> sectionSong_;
  int sectionRepeat_ = 0;
  int sectionLine_ = 0;
  // Systems that got no part name because the names ran out.
  std::size_t droppedSystems_ = 0;
  std::size_t droppedBars_ = 0;
  TabWarning firstDropped_;
};

void Importer::warn(int line, int column, std::string text) {
  if (warnings_.size() >= kMaxWarnings) {
    if (suppressed_++ == 0) firstSuppressed_ = {line, column, {}};
    return;
  }
  warnings_.push_back({line, column, std::move(text)});
}

std::string describeCharacter(std::string_view c) {
  const auto b = static_cast<unsigned char>(c[0]);
  if (b < 0x20 || b == 0x7F) {
    static const char kHex[] = "0123456789ABCDEF";
    return std::string("U+00") + kHex[b >> 4] + kHex[b & 15];
  }
  return "\"" + std::string(c) + "\"";
}

void Importer::readBar(std::string_view bar, int column, Role role, InstrumentLine* out) {
  // A ":" against a bar line is a repeat sign, not a step.
  if (!bar.empty() && bar.front() == ':') {
    bar.remove_prefix(1);
    ++column;
  }
  if (!bar.empty() && bar.back() == ':') bar.remove_suffix(1);
  int steps = 0;
  for (std::size_t i = 0; i < bar.size(); ++column, ++steps) {
    const std::size_t len = characterBytes(bar, i);
    const std::string_view cp = bar.substr(i, len);
    i += len;
    std::uint8_t level = 0;
    bool other = false;
    const char c = len == 1 ? cp[0] : '\0';
    switch (c) {
      case '-':
      case ' ':
      case '#': break;
      case 'x':
      case 'r': level = 5; break;
      case 'X': level = 7; break;
      case 'o':
        level = 5;
        other = role == Role::Hat;
        break;
      case 'O':
        level = 7;
        other = role == Role::Hat;
        break;
      case 'g': level = 2; break;
      case 'f':
      case 'd': level = 6; break;
      case '+':
        if (role == Role::Hat) level = 5;
        break;
      case 'b':
        if (role == Role::Cymbal) {
          level = 5;
          other = true;
        }
        break;
      case 'B':
        if (role == Role::Cymbal) {
          level = 7;
          other = true;
        }
        break;
      default: break;
    }
    const bool known = level != 0 || c == '-' || c == ' ' || c == '#';
    if (!known) {
      warn(out->line, column,
           describeCharacter(cp) + " is not a drum tab hit here: read as a rest");
    }
    out->main.push_back(other ? 0 : level);
    out->other.push_back(other ? level : 0);
  }
  if (steps > 0) out->barLengths.push_back(steps);
}

// An instrument line: optional blanks, a label, an optional ":" and blanks, then bars
// between "|" characters. False for any other line.
bool Importer::readInstrumentLine(std::string_view line, int lineNumber, InstrumentLine* out) {
  std::size_t i = 0;
  while (i < line.size() && isSpace(line[i])) ++i;
  const std::size_t labelStart = i;
  if (i == line.size() || !isAlpha(line[i])) return false;
  while (i < line.size() && (isAlpha(line[i]) || isDigit(line[i]))) ++i;
  const std::string_view label = line.substr(labelStart, i - labelStart);
  while (i < line.size() && isSpace(line[i])) ++i;
  if (i < line.size() && line[i] == ':') ++i;
  while (i < line.size() && isSpace(line[i])) ++i;
  if (i == line.size() || line[i] != '|') return false;
  const std::size_t firstBar = i;
  // At least one whole bar.
  const std::size_t secondBar = line.find('|', firstBar + 1);
  if (secondBar == std::string_view::npos) return false;

  out->line = lineNumber;
  out->labelColumn = static_cast<int>(labelStart) + 1;  // the label is ASCII, as is all before it
  out->voice = voiceOfLabel(label);
  if (!out->voice) {
    warn(lineNumber, out->labelColumn,
         "unknown instrument label \"" + std::string(label) + "\": line skipped");
    return true;
  }
  const Role role = roleOf(*out->voice);
  out->second = role == Role::Hat ? V::OpenHat : V::Bell;

  int column = static_cast<int>(firstBar) + 1;
  i = firstBar;  // at a "|"
  std::string_view trailing;
  int trailingColumn = 0;
  bool anyBar = false;
  while (true) {
    ++i;
    ++column;
    if (anyBar && i < line.size() && line[i] == '|') {  // "||" ends the bars
      ++i;
      ++column;
      trailing = line.substr(i);
      trailingColumn = column;
      break;
    }
    const std::size_t close = line.find('|', i);
    if (close == std::string_view::npos) {
      trailing = line.substr(i);
      trailingColumn = column;
      break;
    }
    const std::string_view bar = line.substr(i, close - i);
    readBar(bar, column, role, out);
    anyBar = true;
    // Columns count code points.
    column += static_cast<int>(codePointCount(bar));
    i = close;
    out->endColumn = column + 1;
  }
  if (!trim(trailing).empty()) {
    out->repeat = repeatMarker(trailing);
    const std::string_view t = trim(trailing);
    if (out->repeat == 0 && t != ":") {
      warn(lineNumber, trailingColumn + static_cast<int>(trailing.find(t[0])),
           "text after the last bar line is ignored");
    }
  }
  return true;
}

// The column, in code points, of a byte offset into a line.
int columnOf(std::string_view line, std::size_t offset) {
  return 1 + static_cast<int>(codePointCount(line.substr(0, offset)));
}

// Tempo ("96 bpm", "Tempo 96", "Tempo: 96", "♩ = 96") and time signatures ("3/4",
// "6/8", "12/8") written anywhere outside the instrument lines; the first of each on a line.
void Importer::readMarks(std::string_view line, int lineNumber) {
  std::string lower(line);
  for (char& c : lower) c = lowerAscii(c);
  // The whole number at p, or -1 when there is none or it is too long to be a tempo.
  auto numberAt = [&](std::size_t p) {
    int n = 0;
    std::size_t digits = 0;
    while (p < lower.size() && isDigit(lower[p]) && digits < 5) {
      n = n * 10 + (lower[p++] - '0');
      ++digits;
    }
    return digits == 0 || (p < lower.size() && isDigit(lower[p])) ? -1 : n;
  };
  auto skipSeparators = [&](std::size_t p) {
    while (p < lower.size() && (isSpace(lower[p]) || lower[p] == ':' || lower[p] == '=')) ++p;
    return p;
  };
  int tempo = -1;
  std::size_t tempoAt = 0;
  auto candidate = [&](int value, std::size_t at) {
    if (tempo < 0 && value >= 0) {
      tempo = value;
      tempoAt = at;
    }
  };
  for (std::size_t p = lower.find("tempo"); p != std::string::npos && tempo < 0;
       p = lower.find("tempo", p + 5)) {
    candidate(numberAt(skipSeparators(p + 5)), p);
  }
  for (std::size_t p = lower.find("bpm"); p != std::string::npos && tempo < 0;
       p = lower.find("bpm", p + 3)) {
    std::size_t before = p;
    while (before > 0 && isSpace(lower[before - 1])) --before;
    std::size_t digits = before;
    while (digits > 0 && isDigit(lower[digits - 1])) --digits;
    if (digits < before) {
      candidate(numberAt(digits), digits);
    } else {
      candidate(numberAt(skipSeparators(p + 3)), p);
    }
  }
  constexpr std::string_view kQuarterNote = "\xE2\x99\xA9";
  for (std::size_t p = lower.find(kQuarterNote); p != std::string::npos && tempo < 0;
       p = lower.find(kQuarterNote, p + 3)) {
    std::size_t at = p + 3;
    while (at < lower.size() && isSpace(lower[at])) ++at;
    if (at < lower.size() && lower[at] == '=') candidate(numberAt(skipSeparators(at)), p);
  }
  if (tempo >= kMinTabTempo && tempo <= kMaxTabTempo) {
    tempos_.push_back({lineNumber, tempo, 0});
  } else if (tempo >= 0) {
    warn(lineNumber, columnOf(line, tempoAt),
         "tempo " + std::to_string(tempo) + " is outside " + std::to_string(kMinTabTempo) + "-" +
             std::to_string(kMaxTabTempo) + ": ignored");
  }

  for (std::size_t p = lower.find('/'); p != std::string::npos; p = lower.find('/', p + 1)) {
    std::size_t numStart = p;
    while (numStart > 0 && isDigit(lower[numStart - 1])) --numStart;
    if (numStart == p || p - numStart > 2 || (numStart > 0 && lower[numStart - 1] == '/')) continue;
    std::size_t end = p + 1;
    while (end < lower.size() && isDigit(lower[end])) ++end;
    if (end == p + 1 || end - p > 3 || (end < lower.size() && lower[end] == '/'))
      continue;  // a date
    const int num = std::stoi(lower.substr(numStart, p - numStart));
    const int den = std::stoi(lower.substr(p + 1, end - p - 1));
    if (num < 1 || num > 32 || (den != 2 && den != 4 && den != 8 && den != 16)) continue;
    signatures_.push_back({lineNumber, num, den});
    break;
  }
}

// The mark in force at `line`: the last one above it, else the first one in the text.
template <typename T>
T Importer::markFor(const std::vector<Mark>& marks, int line, T fallback,
                    T (*make)(const Mark&)) const {
  if (marks.empty()) return fallback;
  const Mark* found = &marks.front();
  for (const Mark& m : marks) {
    if (m.line >= line) break;
    found = &m;
  }
  return make(*found);
}

// A song names parts one character at a time. After the letters and digits come
// ideographs and syllables: letters that no editor or font treats as spaces, marks or
// line ends, all in the Basic Multilingual Plane and none a surrogate.
struct NameRange {
  std::uint32_t first;
  std::uint32_t last;
};
constexpr NameRange kNameRanges[] = {
    {'A', 'Z'},       {'a', 'z'}, {'0', '9'}, {0x4E00, 0x9FA5},  // CJK unified ideographs
    {0x3400, 0x4DB5},                                            // CJK extension A
    {0xAC00, 0xD7A3},                                            // Hangul syllables
};

constexpr std::size_t countPartNames() {
  std::size_t n = 0;
  for (const NameRange& r : kNameRanges) n += r.last - r.first + 1;
  return n;
}
constexpr std::size_t kPartNameCount = countPartNames();

// The name of the n-th part; "" past the last.
std::string tabPartName(std::size_t n) {
  if (n >= kPartNameCount) return {};
  std::uint32_t cp = 0;
  for (const NameRange& r : kNameRanges) {
    if (n <= r.last - r.first) {
      cp = static_cast<std::uint32_t>(r.first + n);
      break;
    }
    n -= r.last - r.first + 1;
  }
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

void Importer::buildPart(System& system) {
  std::vector<InstrumentLine*> lines;
  for (InstrumentLine& l : system.lines) {
    if (l.voice) lines.push_back(&l);
  }
  if (lines.empty()) return;
  std::size_t length = 0;
  for (const InstrumentLine* l : lines) length = std::max(length, l->main.size());
  if (length == 0) return;
  const InstrumentLine* reference = nullptr;
  for (const InstrumentLine* l : lines) {
    if (l->main.size() == length) {
      reference = l;
      break;
    }
  }
  for (const InstrumentLine* l : lines) {
    if (l->main.size() < length) {
      warn(l->line, l->endColumn,
           "line is " + std::to_string(length - l->main.size()) +
               " steps shorter than the longest of its system: filled with rests");
    }
  }

  // One grid per voice, in the order the voices first appear; two lines of one voice
  // merge, the louder hit winning. A short line's missing steps are rests: only the
  // grids are as long as the longest line, at most one per voice.
  std::vector<std::pair<DrumVoice, std::vector<std::uint8_t>>> grids;
  auto merge = [&](DrumVoice voice, const std::vector<std::uint8_t>& levels) {
    auto it =
        std::find_if(grids.begin(), grids.end(), [&](const auto& g) { return g.first == voice; });
    if (it == grids.end()) {
      grids.emplace_back(voice, std::vector<std::uint8_t>(length, 0));
      it = grids.end() - 1;
    }
    for (std::size_t i = 0; i < levels.size(); ++i) {
      it->second[i] = std::max(it->second[i], levels[i]);
    }
  };
  auto hasHits = [](const std::vector<std::uint8_t>& levels) {
    return std::any_of(levels.begin(), levels.end(), [](std::uint8_t v) { return v != 0; });
  };
  for (const InstrumentLine* l : lines) {
    if (hasHits(l->main)) merge(*l->voice, l->main);
    if (hasHits(l->other)) merge(l->second, l->other);
  }
  // A system of rests still takes its time.
  if (grids.empty())
    grids.emplace_back(*lines.front()->voice, std::vector<std::uint8_t>(length, 0));

  // Note size from the steps of the reference line's usual bar and the time signature.
  std::map<int, int> counts;
  for (int n : reference->barLengths) ++counts[n];
  int steps = reference->barLengths.front();
  for (const auto& [n, count] : counts) {
    if (count > counts[steps]) steps = n;
  }
  const int firstLine = system.lines.front().line;
  const auto signature =
      markFor<std::pair<int, int>>(signatures_, firstLine, {4, 4}, [](const Mark& m) {
        return std::pair{m.value, m.value2};
      });
  const double exact = static_cast<double>(steps) * signature.second / signature.first;
  const int notes = std::max(1, static_cast<int>(std::lround(exact)));
  if (exact != notes) {
    warn(firstLine, system.lines.front().labelColumn,
         std::to_string(steps) + " steps per bar of " + std::to_string(signature.first) + "/" +
             std::to_string(signature.second) +
             " give no whole note size: notes = " + std::to_string(notes) + " used");
  }
  const int tempo = options_.tempo ? *options_.tempo
                                   : markFor<int>(tempos_, firstLine, kDefaultTempo,
                                                  [](const Mark& m) { return m.value; });

  ImportedPart part;
  part.tempo = tempo;
  part.notes = notes;
  part.barSteps.assign(reference->barLengths.begin(), reference->barLengths.end());
  for (const auto& [voice, levels] : grids) {
    part.lineOrder.push_back(voice);
    for (std::size_t step = 0; step < levels.size(); ++step) {
      if (levels[step] != 0)
        part.hits.push_back({static_cast<std::uint32_t>(step), voice, levels[step]});
    }
  }
  part.restVoice = *lines.front()->voice;

  int repeat = system.repeat;
  for (const InstrumentLine& l : system.lines) repeat = std::max(repeat, l.repeat);
  if (repeat > kMaxRepeat) {
    warn(firstLine, 1,
         "repeat count " + std::to_string(repeat) + " cut to " + std::to_string(kMaxRepeat));
    repeat = kMaxRepeat;
  }
  repeat = std::max(repeat, 1);

  // A section's first part is named by its label's initial where that is free.
  const std::string initial =
      system.sectionRepeat > 0 ? std::string(1, system.label.front()) : std::string();
  const std::string name = writer_.name(part, initial);
  if (name.empty()) {
    if (droppedSystems_++ == 0) firstDropped_ = {firstLine, system.lines.front().labelColumn, {}};
    droppedBars_ += reference->barLengths.size() * static_cast<std::size_t>(repeat);
    return;
  }
  addToSong(name, repeat);
}

void Importer::addToSong(const std::string& name, int count) {
  // A labelled section's song is kept apart until its repeats are known.
  std::vector<std::pair<std::string, int>>& song = sectionRepeat_ > 0 ? sectionSong_ : song_;
  if (!song.empty() && song.back().first == name) {
    song.back().second += count;
  } else {
    song.emplace_back(name, count);
  }
}

TabImportResult Importer::run(std::string_view bytes) {
  const std::string text = decodeDocumentBytes(bytes);
  std::vector<System> systems;
  bool inSystem = false;
  // A section label read and not yet given to a system; the section being read.
  std::string_view label;
  int labelCount = 0;
  bool inSection = false;
  auto endSection = [&] {
    if (inSection && !systems.empty()) systems.back().endsSection = true;
    inSection = false;
  };
  int lineNumber = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    ++lineNumber;
    InstrumentLine parsed;
    std::string_view newLabel;
    int newCount = 0;
    if (readInstrumentLine(line, lineNumber, &parsed)) {
      if (!inSystem) {
        systems.emplace_back();
        if (labelCount > 0) {
          endSection();
          systems.back().label = label;
          systems.back().sectionRepeat = labelCount;
          labelCount = 0;
          inSection = true;
        }
      }
      systems.back().lines.push_back(std::move(parsed));
      inSystem = true;
    } else if ((newCount = sectionLabel(line, &newLabel)) > 0 && !isRepeatWord(newLabel)) {
      // The section runs over the systems below it, up to the next line of other text.
      endSection();
      label = newLabel;
      labelCount = newCount;
      inSystem = false;
    } else {
      // "xN" (or "Repeat xN") alone on the line right after a system repeats it.
      const int repeat = !inSystem ? 0 : newCount > 0 ? newCount : repeatMarker(line);
      if (repeat > 0) {
        systems.back().repeat = repeat;
      } else {
        readMarks(line, lineNumber);
        if (!trim(line).empty()) {
          endSection();
          labelCount = 0;
        }
      }
      inSystem = false;
    }
    if (end == text.size()) break;
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }

  endSection();
  for (System& system : systems) {
    if (system.sectionRepeat > 0) {
      sectionRepeat_ = system.sectionRepeat;
      sectionLine_ = system.lines.front().line;
    }
    buildPart(system);
    if (system.endsSection) {
      if (sectionRepeat_ > kMaxRepeat) {
        warn(sectionLine_, 1,
             "repeat count " + std::to_string(sectionRepeat_) + " cut to " +
                 std::to_string(kMaxRepeat));
        sectionRepeat_ = kMaxRepeat;
      }
      // The section's systems as many times as its label says.
      const int times = sectionRepeat_;
      sectionRepeat_ = 0;
      for (int pass = 0; pass < times; ++pass) {
        for (const auto& [name, count] : sectionSong_) addToSong(name, count);
      }
      sectionSong_.clear();
    }
  }

  TabImportResult result;
  result.found = !song_.empty();
  for (const auto& [name, count] : song_) writer_.playNamed(name, count);
  song_ = {};
  if (result.found) result.document = writer_.document();
  if (droppedSystems_ > 0) {
    firstDropped_.text = "the song has no part names left: " + std::to_string(droppedSystems_) +
                         " systems from here (" + std::to_string(droppedBars_) + " bars) left out";
    warnings_.push_back(firstDropped_);
  }
  if (suppressed_ > 0) {
    firstSuppressed_.text = std::to_string(suppressed_) + " more warnings not shown";
    warnings_.push_back(firstSuppressed_);
  }
  result.warnings = std::move(warnings_);
  return result;
}

}  // namespace

TabImportResult importDrumTab(std::string_view bytes, const TabImportOptions& options) {
  return Importer(options).run(bytes);
}

std::string formatTabWarning(std::string_view file, const TabWarning& warning) {
  return std::string(file) + ":" + std::to_string(warning.line) + ":" +
         std::to_string(warning.column) + ": warning: " + warning.text;
}

}  // namespace pulsewright
