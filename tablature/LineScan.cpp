#include "tablature/LineScan.h"

#include <initializer_list>

#include "tablature/Timeline.h"
#include "text/Utf8.h"

namespace pulsewright::line_scan {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

std::size_t skipBlanks(std::string_view line, std::size_t i) {
  while (i < line.size() && isBlank(line[i])) ++i;
  return i;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// `word` (lower-case letters) at `at`, in either case, as [Pp][Aa][Nn] reads it.
bool wordAt(std::string_view line, std::size_t at, std::string_view word) {
  if (at > line.size() || line.size() - at < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k) {
    // Setting 0x20 lowers an ASCII capital and changes no other byte into a small letter.
    if ((static_cast<unsigned char>(line[at + k]) | 0x20) != static_cast<unsigned char>(word[k]))
      return false;
  }
  return true;
}

template <typename Words>
bool anyWordAt(std::string_view line, std::size_t at, const Words& words) {
  for (const std::string_view word : words) {
    if (wordAt(line, at, word)) return true;
  }
  return false;
}

// What every voice word begins with: "bass drum", "cymbal bell", "hand clap", ...
constexpr std::array<std::string_view, 15> kVoiceWordStarts = {
    "bass", "kick", "snare", "closed", "pedal", "open", "tom", "ride",
    "cymb", "bell", "crash", "perc",   "hand",  "clap", "cow"};

// Whether a voice word can start with byte `c`: none starts with another.
constexpr std::array<bool, 256> kVoiceInitials = [] {
  std::array<bool, 256> initials{};
  for (const std::string_view word : kVoiceWordStarts)
    initials[static_cast<unsigned char>(word[0])] = true;
  return initials;
}();

// anyWordAt(line, at, kVoiceWordStarts), most lines turned away at their first byte.
bool voiceWordAt(std::string_view line, std::size_t at) {
  if (at >= line.size()) return false;
  const auto initial = static_cast<unsigned char>(static_cast<unsigned char>(line[at]) | 0x20);
  if (!kVoiceInitials[initial]) return false;
  for (const std::string_view word : kVoiceWordStarts) {
    if (static_cast<unsigned char>(word[0]) == initial && wordAt(line, at, word)) return true;
  }
  return false;
}

// ^\s*(?:symbol|name|part|beat)\s*= : the position after the "=", or kNone.
// `first` is where the line's blanks end.
std::size_t afterSectionKeyword(std::string_view line, std::size_t first) {
  const std::size_t i = first;
  for (const std::string_view keyword : {"symbol", "name", "part", "beat"}) {
    if (!wordAt(line, i, keyword)) continue;
    const std::size_t eq = skipBlanks(line, i + keyword.size());
    return eq < line.size() && line[eq] == '=' ? eq + 1 : kNone;
  }
  return kNone;
}

// Whether the text before `end` ends in one of `words`.
template <typename Words>
bool endsInWord(std::string_view line, std::size_t end, const Words& words) {
  for (const std::string_view word : words) {
    if (end >= word.size() && wordAt(line, end - word.size(), word)) return true;
  }
  return false;
}

// \s*(?:WORDS)\s*=\s*(\d+) at its first match. Each "=" can follow only the words
// that end where the blanks before it begin, so the "="s are tried in order: the first
// that completes a match is the match that starts first.
template <typename Words>
bool numberAfter(std::string_view line, const Words& words, std::string_view* digits) {
  for (std::size_t eq = line.find('='); eq != kNone; eq = line.find('=', eq + 1)) {
    std::size_t end = eq;
    while (end > 0 && isBlank(line[end - 1])) --end;
    if (!endsInWord(line, end, words)) continue;
    std::size_t i = skipBlanks(line, eq + 1);
    const std::size_t first = i;
    while (i < line.size() && isDigit(line[i])) ++i;
    if (i == first) continue;
    *digits = line.substr(first, i - first);
    return true;
  }
  return false;
}

constexpr std::array<std::string_view, 3> kTempoWords = {"tempo", "speed", "bpm"};
constexpr std::array<std::string_view, 2> kNotesWords = {"notes", "beats"};
constexpr std::array<std::string_view, 1> kProgramWords = {"program"};

// ^\s*\w+\s*=\s*wave : the position after "wave", or kNone.
std::size_t afterWaveWord(std::string_view line, std::size_t first) {
  std::size_t i = first;
  const std::size_t word = i;
  while (i < line.size() && isWord(line[i])) ++i;
  if (i == word) return kNone;
  i = skipBlanks(line, i);
  if (i == line.size() || line[i] != '=') return kNone;
  i = skipBlanks(line, i + 1);
  return wordAt(line, i, "wave") ? i + 4 : kNone;
}

bool nameAfter(std::string_view line, std::size_t from, std::string_view* name);
bool waveAfter(std::string_view line, std::size_t from);

// The tempo, note size and program tests at once, each with its digits, which are those
// numberAfter finds: each "=" is looked back from once.
void sectionNumberTests(std::string_view line, std::size_t first, bool* tempo, bool* notes,
                        bool* program, SectionFields* fields) {
  *tempo = *notes = *program = false;
  for (std::size_t eq = line.find('='); eq != kNone; eq = line.find('=', eq + 1)) {
    if (eq == first) continue;  // nothing but blanks before it
    std::size_t end = eq;
    while (end > 0 && isBlank(line[end - 1])) --end;
    bool* found = nullptr;
    std::string_view* value = nullptr;
    if (endsInWord(line, end, kTempoWords)) {
      found = tempo;
      value = &fields->tempo;
    } else if (endsInWord(line, end, kNotesWords)) {
      found = notes;
      value = &fields->notes;
    } else if (endsInWord(line, end, kProgramWords)) {
      found = program;
      value = &fields->program;
    }
    if (found == nullptr || *found) continue;
    const std::size_t digits = skipBlanks(line, eq + 1);
    std::size_t i = digits;
    while (i < line.size() && isDigit(line[i])) ++i;
    *found = i > digits;
    if (*found) *value = line.substr(digits, i - digits);
    if (*tempo && *notes && *program) return;
  }
}

bool isLineEnd(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

namespace {
// ^\s*(\w+)\s*\|(GRID+)\s*$, GRID the grid characters and, with kMarks, the expression
// marks: the blanks, the word and the grid characters are disjoint classes, so each run
// ends where the next class begins.
template <bool kMarks>
bool scanGridLine(std::string_view line, std::string_view* symbol, std::string_view* body) {
  const std::size_t n = line.size();
  std::size_t i = skipBlanks(line, 0);
  const std::size_t word = i;
  while (i < n && isWord(line[i])) ++i;
  if (i == word) return false;
  const std::size_t wordEnd = i;
  i = skipBlanks(line, i);
  if (i == n || line[i] != '|') return false;
  const std::size_t grid = ++i;
  if constexpr (kMarks) {
    while (i < n && (isGrid(line[i]) || isExpressionMark(line[i]))) ++i;
  } else {
    // The grid characters are most of a grid line: four are tested at once while they last.
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    while (n - i >= 4 &&
           (kCharClasses[bytes[i]] & kCharClasses[bytes[i + 1]] & kCharClasses[bytes[i + 2]] &
            kCharClasses[bytes[i + 3]] & kGridClass) != 0)
      i += 4;
    while (i < n && isGrid(line[i])) ++i;
  }
  if (i == grid) return false;
  const std::size_t gridEnd = i;
  if (skipBlanks(line, i) != n) return false;
  *symbol = line.substr(word, wordEnd - word);
  *body = line.substr(grid, gridEnd - grid);
  return true;
}
}  // namespace

bool gridLine(std::string_view line, std::string_view* symbol, std::string_view* body) {
  return scanGridLine<false>(line, symbol, body);
}

bool markedGridLine(std::string_view line, std::string_view* symbol, std::string_view* body) {
  return scanGridLine<true>(line, symbol, body);
}

bool stickingLine(std::string_view line, std::string_view* body) {
  const std::size_t n = line.size();
  std::size_t i = skipBlanks(line, 0);
  if (!wordAt(line, i, kStickingSymbol)) return false;
  i += kStickingSymbol.size();
  if (i < n && isWord(line[i])) return false;
  i = skipBlanks(line, i);
  if (i == n || line[i] != '|') return false;
  const std::size_t grid = ++i;
  bool hand = false;
  for (; i < n && !isBlank(line[i]); ++i) {
    const char c = line[i];
    if (c == '|' || c == '[' || c == ']') continue;
    if (!isStickingChar(c)) return false;
    hand = hand || c != '-';
  }
  if (!hand || skipBlanks(line, i) != n) return false;
  *body = line.substr(grid, i - grid);
  return true;
}

bool sectionNumberItem(std::string_view line, std::string_view word, WrittenNumber* number) {
  for (std::size_t at = 1; at + word.size() <= line.size(); ++at) {
    if (!isBlank(line[at - 1]) || !wordAt(line, at, word)) continue;
    std::size_t p = skipBlanks(line, at + word.size());
    if (p >= line.size() || line[p] != '=') continue;
    p = skipBlanks(line, p + 1);
    const std::size_t start = p;
    double value = 0.0;
    std::size_t digits = 0;
    while (p < line.size() && isDigit(line[p]) && digits < 6) {
      value = value * 10 + (line[p++] - '0');
      ++digits;
    }
    if (digits == 0) continue;
    if (p < line.size() && line[p] == '.') {
      double scale = 0.1;
      ++p;
      while (p < line.size() && isDigit(line[p]) && scale > 1e-6) {
        value += (line[p++] - '0') * scale;
        scale /= 10;
      }
    }
    if (p < line.size() && !isBlank(line[p])) continue;
    number->text = line.substr(start, p - start);
    number->value = value;
    return true;
  }
  return false;
}

bool sectionKeyword(std::string_view line) {
  return afterSectionKeyword(line, skipBlanks(line, 0)) != kNone;
}

bool sectionName(std::string_view line, std::string_view* name) {
  // KEYWORD\s*=\s*([^=]+)\s+\w+\s*= : [^=] cannot pass an "=", so the text T between
  // the first "=" and the next one must be blanks, the name, at least one blank, a word
  // and blanks. The word is T's last run of word characters; the greedy name takes all
  // blanks before it but the last, and starts after T's leading blanks unless that
  // would leave it empty.
  return nameAfter(line, afterSectionKeyword(line, skipBlanks(line, 0)), name);
}

namespace {
bool nameAfter(std::string_view line, std::size_t from, std::string_view* name) {
  if (from == kNone) return false;
  const std::size_t to = line.find('=', from);
  if (to == kNone) return false;
  const std::string_view t = line.substr(from, to - from);
  std::size_t end = t.size();
  while (end > 0 && isBlank(t[end - 1])) --end;
  if (end == 0 || !isWord(t[end - 1])) return false;
  std::size_t word = end;
  while (word > 0 && isWord(t[word - 1])) --word;
  if (word < 2 || !isBlank(t[word - 1])) return false;
  const std::size_t leading = skipBlanks(t, 0);
  const std::size_t start = leading < word - 1 ? leading : word - 2;
  *name = t.substr(start, word - 1 - start);
  return true;
}
}  // namespace

bool sectionTempo(std::string_view line, std::string_view* digits) {
  return numberAfter(line, kTempoWords, digits);
}

bool sectionNotes(std::string_view line, std::string_view* digits) {
  return numberAfter(line, kNotesWords, digits);
}

bool sectionProgram(std::string_view line, std::string_view* digits) {
  return numberAfter(line, kProgramWords, digits);
}

bool sectionMetre(std::string_view line, WrittenMetre* metre) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t at = 1; at + 5 <= line.size(); ++at) {
    if (!isBlank(line[at - 1])) continue;
    const char word[] = {lower(line[at]),     lower(line[at + 1]), lower(line[at + 2]),
                         lower(line[at + 3]), lower(line[at + 4]), '\0'};
    if (std::string_view(word) != "metre" && std::string_view(word) != "meter") continue;
    std::size_t p = skipBlanks(line, at + 5);
    if (p >= line.size() || line[p] != '=') continue;
    p = skipBlanks(line, p + 1);
    const std::size_t start = p;
    auto number = [&](int* value) {
      const std::size_t from = p;
      *value = 0;
      while (p < line.size() && line[p] >= '0' && line[p] <= '9' && p - from < 4) {
        *value = *value * 10 + (line[p++] - '0');
      }
      return p > from;
    };
    int beats = 0;
    int unit = 0;
    if (!number(&beats) || p >= line.size() || line[p] != '/') continue;
    ++p;
    if (!number(&unit) || (p < line.size() && !isBlank(line[p]))) continue;
    metre->text = line.substr(start, p - start);
    metre->beats = beats;
    metre->unit = unit;
    metre->valid = isWritableMetre(beats, unit);
    return true;
  }
  return false;
}

bool waveTest(std::string_view line) {
  // ...wave\s*[^\n\r]+ : the blanks after "wave" may give one back, so any character
  // up to the first that is not a blank will do, unless it ends a line.
  return waveAfter(line, afterWaveWord(line, skipBlanks(line, 0)));
}

namespace {
bool waveAfter(std::string_view line, std::size_t from) {
  if (from == kNone) return false;
  for (std::size_t i = from; i < line.size(); ++i) {
    if (!isLineEnd(line[i])) return true;
  }
  return false;
}
}  // namespace

bool waveFile(std::string_view line, std::string_view* file) {
  // ...wave\s*(.*?)\s*pan : the greedy blanks take all blanks after "wave" (giving some
  // back could only put them into the file). The file then ends before the first place
  // from which blanks lead to "pan", and holds no CR or LF.
  const std::size_t from = afterWaveWord(line, skipBlanks(line, 0));
  if (from == kNone) return false;
  const std::size_t start = skipBlanks(line, from);
  std::size_t p = start;
  while (p < line.size()) {
    if (!isBlank(line[p])) {
      if (wordAt(line, p, "pan")) {
        *file = line.substr(start, p - start);
        return true;
      }
      ++p;
      continue;
    }
    // Every place in a run of blanks leads to the same character after it.
    const std::size_t after = skipBlanks(line, p);
    if (wordAt(line, after, "pan")) {
      *file = line.substr(start, p - start);
      return true;
    }
    for (std::size_t i = p; i < after; ++i) {
      if (isLineEnd(line[i])) return false;  // the file cannot reach past it
    }
    p = after;
  }
  return false;
}

bool wavePan(std::string_view line, std::string_view* pan) {
  // \s*pan\s*=?\s*\+?(-?[0-9]+) at its first match; each optional character can only
  // be read one way, so the first "pan" followed by a number decides.
  for (std::size_t k = 0; k + 3 <= line.size(); ++k) {
    if (!wordAt(line, k, "pan")) continue;
    std::size_t i = skipBlanks(line, k + 3);
    if (i < line.size() && line[i] == '=') i = skipBlanks(line, i + 1);
    if (i < line.size() && line[i] == '+') ++i;
    const std::size_t first = i;
    if (i < line.size() && line[i] == '-') ++i;
    const std::size_t digits = i;
    while (i < line.size() && isDigit(line[i])) ++i;
    if (i == digits) continue;
    *pan = line.substr(first, i - first);
    return true;
  }
  return false;
}

bool classify(std::string_view line, LineTests* tests, SectionFields* fields) {
  namespace t = line_test;
  const std::size_t eq = line.find('=');
  if (eq == kNone) return false;
  // The voice-first, meta and song tests need their word at the first character that is
  // not a blank; the symbol-first voice tests need a voice word after the first "=".
  const std::size_t first = skipBlanks(line, 0);
  if (wordAt(line, first, "meta") || wordAt(line, first, "song") || voiceWordAt(line, first) ||
      voiceWordAt(line, skipBlanks(line, eq + 1))) {
    return false;
  }
  tests->reset();
  SectionFields read;
  // The wave-sample and section keyword tests need a word where the blanks end.
  if (first < line.size() && isWord(line[first])) {
    tests->set(t::kWave, waveAfter(line, afterWaveWord(line, first)));
    const std::size_t afterKeyword = afterSectionKeyword(line, first);
    tests->set(t::kSectionKeyword, afterKeyword != kNone);
    tests->set(t::kSectionName, nameAfter(line, afterKeyword, &read.name));
  }
  bool tempo = false;
  bool notes = false;
  bool program = false;
  sectionNumberTests(line, first, &tempo, &notes, &program, &read);
  if (fields != nullptr) *fields = read;
  tests->set(t::kSectionTempo, tempo);
  tests->set(t::kSectionNotes, notes);
  tests->set(t::kProgram, program);
  return true;
}

std::string_view leadingWord(std::string_view line) {
  const std::size_t from = skipBlanks(line, 0);
  std::size_t to = from;
  while (to < line.size() && isWord(line[to])) ++to;
  return line.substr(from, to - from);
}

namespace {
// "k. |x-x-|": a grid but for one character in its symbol, which the line's other
// characters would have made a grid line. The symbol run starts at `from`.
GridNearMiss strayInSymbol(std::string_view line, std::size_t from) {
  const std::size_t bar = line.find('|', from);
  if (bar == kNone) return {};
  std::size_t headEnd = bar;
  while (headEnd > from && isBlank(line[headEnd - 1])) --headEnd;
  std::size_t stray = kNone;
  bool word = false;
  for (std::size_t k = from; k < headEnd; k += characterBytes(line, k)) {
    if (isWord(line[k])) {
      word = true;
    } else if (stray != kNone || isBlank(line[k])) {
      return {};  // two words or two strays: prose, not a slip
    } else {
      stray = k;
    }
  }
  if (!word || stray == kNone) return {};
  // The grid runs to the line's end but for blanks of the patterns' \s.
  std::size_t end = line.size();
  auto patternBlank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
  };
  while (end > bar && patternBlank(line[end - 1])) --end;
  if (end == bar + 1) return {};
  for (std::size_t k = bar + 1; k < end; ++k) {
    if (!isGridChar(line[k])) return {};
  }
  return {GridNearMiss::Kind::StrayInSymbol, stray, characterBytes(line, stray), false};
}
}  // namespace

GridNearMiss gridNearMiss(std::string_view line, bool wordDefined) {
  const std::size_t n = line.size();
  const std::size_t word = skipBlanks(line, 0);
  std::size_t i = word;
  while (i < n && isWord(line[i])) ++i;
  const std::size_t wordEnd = i;
  i = skipBlanks(line, i);
  const bool defined = wordDefined && wordEnd > word;
  if (defined && i < n && line[i] != '|' && isGridChar(line[i]))
    return {GridNearMiss::Kind::NoBarAfterSymbol, i, 1, false};
  if (i < n && line[i] != '|') return strayInSymbol(line, word);
  if (i == n) return {};
  const std::size_t bar = i++;
  // It must go on like a grid: mostly grid characters after the bar.
  std::size_t gridChars = 0;
  std::size_t others = 0;
  for (std::size_t k = i; k < n; k += characterBytes(line, k)) {
    if (isGridChar(line[k])) {
      ++gridChars;
    } else if (!isBlank(line[k])) {
      ++others;
    }
  }
  const bool mostlyGrid = gridChars >= 2 * others;
  if (gridChars == 0 || (!mostlyGrid && !defined)) return {};
  if (wordEnd == word) return {GridNearMiss::Kind::NoSymbol, bar, 1, false};
  // Expression marks do not spoil a grid; they count for no more than prose would.
  while (i < n && (isGridChar(line[i]) || isExpressionMark(line[i]))) ++i;
  if (i == n) return {};
  // The first character after the grid's run spoils it (trailing blanks alone would not
  // have, so a blank here has more text after it).
  return {GridNearMiss::Kind::StrayInGrid, i, characterBytes(line, i), mostlyGrid};
}

}  // namespace pulsewright::line_scan
