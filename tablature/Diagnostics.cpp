#include "tablature/Diagnostics.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "fileio/InputFile.h"
#include "padmap/VoiceNames.h"
#include "tablature/CompiledDocument.h"
#include "tablature/LinePatterns.h"
#include "tablature/LineScan.h"
#include "tablature/SamplePath.h"
#include "tablature/TablatureCompiler.h"
#include "text/FileName.h"
#include "text/NumericValue.h"
#include "text/Utf8.h"

namespace pulsewright {

namespace {

using line_scan::isBlank;
// What \s matches in the line patterns.
bool isPatternBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool isHitChar(char c) {
  return c == 'x' || c == 'X' || c == 'o' || c == 'O' || (c >= '0' && c <= '9');
}
// "'x'", or a word for characters that do not show.
std::string quoted(std::string_view s) {
  if (s == " ") return "a blank";
  if (s == "\t") return "a tab";
  if (s.size() == 1 && static_cast<unsigned char>(s[0]) < 0x20) return "a control character";
  return "'" + std::string(s) + "'";
}

std::string_view trimmed(std::string_view s) {
  std::size_t a = 0;
  std::size_t b = s.size();
  while (a < b && isBlank(s[a])) ++a;
  while (b > a && isBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// Sets of symbols looked up by view, so that a lookup costs no copy.
struct ViewHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};
using SymbolSet = std::unordered_set<std::string, ViewHash, std::equal_to<>>;

// The lines of a text (separated by CR LF) by number, found as they are first asked
// for: the compiler's listener asks in order, and the text is not split up front.
class TextLines {
 public:
  explicit TextLines(std::string_view text) : text_(text) { starts_.push_back(0); }
  // Line `n` (from 1); false when the text has fewer lines.
  bool find(int n, std::string_view* line) {
    if (n < 1) return false;
    const auto index = static_cast<std::size_t>(n) - 1;
    // The start of the line after is known, or the text ends with line n.
    while (starts_.size() <= index + 1 && !complete_) {
      const std::size_t end = text_.find("\r\n", starts_.back());
      if (end == std::string_view::npos) {
        complete_ = true;
      } else {
        starts_.push_back(end + 2);
      }
    }
    if (index >= starts_.size()) return false;
    const std::size_t start = starts_[index];
    const std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] - 2 : text_.size();
    *line = text_.substr(start, end - start);
    return true;
  }
  // Line `n` of those find() has found.
  std::string_view operator[](int n) {
    std::string_view line;
    find(n, &line);
    return line;
  }

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
  bool complete_ = false;
};

struct SectionInfo {
  int line = 0;
  std::string_view name;  // inside the line
  int gridLines = 0;
  std::size_t firstSteps = 0;
  int firstGridLine = 0;
  line_scan::WrittenMetre metre;  // its text empty when the line has none
};

// Hears the compiler as it reads and turns what it says into diagnostics with ranges;
// passes the compiler's messages and line kinds on to the caller's listener.
class Pass : public CompileListener {
 public:
  Pass(std::string_view text, const CompileRequest& options, const TablatureCompiler& compiler)
      : options_(options),
        compiler_(compiler),
        keptSongLine_(compiler.state().songLine),
        lines_(text) {}

  void message(int lineNumber, std::string_view text) override {
    messages.emplace_back(text);
    if (options_.listener != nullptr) options_.listener->message(lineNumber, text);
  }

  void voiceBound(int, DrumVoice, std::string_view symbol) override {
    documentSymbols_.emplace(symbol);
  }

  void gridLineRead(int lineNumber, std::string_view symbol, bool symbolDefined, std::size_t steps,
                    const std::vector<std::int32_t>&) override {
    noteSectionOfPreviousLine();
    std::string_view line;
    if (!lines_.find(lineNumber, &line)) return;
    gridLine(lineNumber, line, symbol, symbolDefined, steps);
  }

  void barsDisagree(int lineNumber, int firstLineNumber) override {
    noteSectionOfPreviousLine();
    std::string_view line;
    if (!lines_.find(lineNumber, &line)) return;
    if (!keeps(lineNumber)) return;
    std::string_view symbol;
    std::string_view body;
    LineMatcher::gridFields(line, &symbol, &body);
    const std::string part = sections_.empty() ? std::string() : std::string(sections_.back().name);
    report(lineNumber, body, Severity::Warning,
           "the bar lines of this grid line differ from those of line " +
               std::to_string(firstLineNumber) + " in part '" + part +
               "': the part has no bars to go by and is taken as 4/4");
  }

  void lineClassified(int lineNumber, const LineTests& tests) override {
    namespace t = line_test;
    if (options_.listener != nullptr) options_.listener->lineClassified(lineNumber, tests);
    if (!options_.diagnose) return;
    noteWaveOfPreviousLine();
    noteSectionOfPreviousLine();
    std::string_view line;
    if (!lines_.find(lineNumber, &line)) return;
    if (tests.none()) {
      failedDefinition(lineNumber, line);
      almostGridLine(lineNumber, line);
      return;
    }
    if (tests[t::kWave]) waveLine(lineNumber, line);
    if (tests[t::kSong]) {
      std::string_view value;
      if (compiler_.matcher().extract(LineField::Song, line, &value)) {
        songLine_ = lineNumber;
        songValue_ = value;
      }
    }
    if (isSectionLine(tests)) {
      pendingSection_ = lineNumber;
    } else if (tests[t::kSectionKeyword]) {
      almostSectionLine(lineNumber, line, tests);
    }
  }

  std::vector<std::string> messages;

  std::vector<Diagnostic> finish() {
    if (!options_.diagnose) return {};
    noteWaveOfPreviousLine();
    noteSectionOfPreviousLine();
    partsAndSong();
    // A symbol defined only below its grid line is a common slip worth naming.
    const CompilerState& s = compiler_.state();
    for (const auto& [index, symbol] : undefined_) {
      if (std::find(s.voiceSymbols.begin(), s.voiceSymbols.end(), symbol) != s.voiceSymbols.end() ||
          waveSymbols_.count(symbol) > 0) {
        found_[index].text += "; it is defined further down, which counts only from there on";
      }
    }
    // A line meant to define a symbol that grid lines use, in words like no voice's.
    for (const auto& [symbol, failed] : failedDefinitions_) {
      if (failed.used && !failed.warned) {
        report(failed.line, trimmed(lines_[failed.line]), Severity::Warning,
               "'" + std::string(failed.words) + "' names no voice, so this line defines no '" +
                   symbol + "': a voice line names one of " + voiceList(allVoices()));
      }
    }
    std::stable_sort(found_.begin(), found_.end(), [](const Diagnostic& a, const Diagnostic& b) {
      return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return std::move(found_);
  }

 private:
  // A warning about a line that looks half typed.
  void reportUnfinished(int lineNumber, std::string_view range, std::string text) {
    const std::size_t before = found_.size();
    report(lineNumber, range, Severity::Warning, std::move(text));
    if (found_.size() > before) found_.back().unfinished = true;
  }

  // Whether a report on line `lineNumber` would be kept: past the limits, a long document
  // would otherwise spend its time wording reports that are dropped.
  bool keeps(int lineNumber) const {
    return found_.size() < static_cast<std::size_t>(kMaxDiagnostics) &&
           (lineNumber != countedLine_ || countOnLine_ < kMaxDiagnosticsPerLine);
  }

  // A range given as a view inside line `lineNumber`.
  void report(int lineNumber, std::string_view range, Severity severity, std::string text) {
    if (found_.size() >= static_cast<std::size_t>(kMaxDiagnostics)) return;
    if (lineNumber == countedLine_) {
      if (++countOnLine_ > kMaxDiagnosticsPerLine) return;
    } else {
      countedLine_ = lineNumber;
      countOnLine_ = 1;
    }
    const std::string_view line = lines_[lineNumber];
    std::size_t from = 0;
    std::size_t size = 0;
    if (range.data() >= line.data() && range.data() + range.size() <= line.data() + line.size()) {
      from = static_cast<std::size_t>(range.data() - line.data());
      size = range.size();
    }
    if (columnsLine_ != lineNumber) {
      columns_.reset(line);
      columnsLine_ = lineNumber;
    }
    Diagnostic d;
    d.line = lineNumber;
    const TextColumn start = columns_.at(from);
    const TextColumn end = columns_.at(from + size);
    d.column = start.column;
    d.length = end.column - start.column;
    d.utf16Column = start.utf16;
    d.utf16Length = end.utf16 - start.utf16;
    d.severity = severity;
    d.text = std::move(text);
    found_.push_back(std::move(d));
  }

  // The compiler stores a wave line's symbol while it reads the line, after it told us
  // about it: pick the symbol up at the next line (or at the end).
  void noteWaveOfPreviousLine() {
    if (!pendingWave_) return;
    pendingWave_ = false;
    const CompilerState& s = compiler_.state();
    if (!s.waveNames.empty() && !s.waveNames.back().empty())
      waveSymbols_.insert(s.waveNames.back());
  }

  void waveLine(int lineNumber, std::string_view line) {
    pendingWave_ = true;
    std::string_view file;
    if (!compiler_.matcher().extract(LineField::WaveFile, line, &file)) {
      report(lineNumber, trimmed(line), Severity::Error,
             "a wave line needs 'pan N' after its file name; without it the line defines no "
             "sound");
      return;
    }
    if (file.empty()) {
      report(lineNumber, trimmed(line), Severity::Error, "the wave line names no sample file");
      return;
    }
    std::string_view pan;
    compiler_.matcher().extract(LineField::WavePan, line, &pan);
    if (!endsInWav(file)) {
      const double note = numericValue(pan);
      report(lineNumber, file, Severity::Error,
             "a sample file's name must end in .wav: '" + std::string(file) +
                 "' is played as MIDI note " + std::to_string(static_cast<long long>(note)) +
                 " instead");
      return;
    }
    if (!options_.sampleProblem) return;
    const std::string path(file);
    auto known = sampleProblems_.find(path);
    if (known == sampleProblems_.end()) {
      known =
          sampleProblems_
              .emplace(path, options_.sampleProblem(samplePathFrom(path, options_.documentFolder)))
              .first;
    }
    if (!known->second.empty()) {
      report(lineNumber, file, Severity::Error,
             "sample file '" + path + "' cannot be played: " + known->second);
    }
  }

  // The compiler reads a section line's name after it told us about the line: take the
  // name from it at the line's grid or the next line (or at the end), never sooner.
  void noteSectionOfPreviousLine() {
    if (pendingSection_ == 0) return;
    const int lineNumber = pendingSection_;
    pendingSection_ = 0;
    sectionLine(lineNumber, lines_[lineNumber]);
  }

  // The part name inside a section line, as the compiler read it.
  std::string_view sectionName(std::string_view line) const {
    // The keyword ends at the line's first "="; a name that does not start with a blank
    // starts after the blanks that follow it. Any other takes the pattern's word.
    const std::string& name = compiler_.state().partName;
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos && !name.empty() && !isPatternBlank(name.front())) {
      std::size_t start = equals + 1;
      while (start < line.size() && isPatternBlank(line[start])) ++start;
      if (line.substr(start, name.size()) == name) return line.substr(start, name.size());
    }
    std::string_view found;
    compiler_.matcher().extract(LineField::SectionName, line, &found);
    return found;
  }

  void sectionLine(int lineNumber, std::string_view line) {
    SectionInfo info;
    info.line = lineNumber;
    info.name = sectionName(line);
    if (line_scan::sectionMetre(line, &info.metre) && !info.metre.valid) {
      report(lineNumber, info.metre.text, Severity::Warning,
             "metre = " + std::string(info.metre.text) +
                 " is no metre (1 to 64 beats of 1, 2, 4, 8, 16, 32 or 64): the part's bars "
                 "give its metre");
    }
    sections_.push_back(info);
    const std::size_t count = codePointCount(info.name);
    if (count != 1) {
      report(lineNumber, info.name, Severity::Warning,
             "the part name '" + std::string(info.name) + "' has " + std::to_string(count) +
                 " characters: a song line names parts by one character, so it never plays");
    }
  }

  void almostSectionLine(int lineNumber, std::string_view line, const LineTests& tests) {
    namespace t = line_test;
    std::vector<std::string> missing;
    if (!tests[t::kSectionName]) missing.emplace_back("a name followed by a blank and an item");
    if (!tests[t::kSectionTempo]) missing.emplace_back("tempo = N");
    if (!tests[t::kSectionNotes]) missing.emplace_back("notes = N");
    std::string text = "not a section line: it needs ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
      if (i > 0) text += i + 1 == missing.size() ? " and " : ", ";
      text += missing[i];
    }
    const std::string& current = compiler_.state().partName;
    text += current.empty() ? "; the grid lines under it belong to no part"
                            : "; the grid lines under it go on in part '" + current + "'";
    report(lineNumber, trimmed(line), Severity::Error, text);
  }

  void gridLine(int lineNumber, std::string_view line, std::string_view symbol, bool defined,
                std::size_t steps) {
    if (!options_.diagnose) return;
    const CompilerState& s = compiler_.state();
    // The compiler's symbol is a copy; ranges want the one in the line.
    std::string_view body;
    LineMatcher::gridFields(line, &symbol, &body);
    // Only a section line of this document makes a part that plays.
    const bool inPart = !sections_.empty();
    if (!inPart) {
      report(lineNumber, trimmed(line), Severity::Error,
             "grid line before any section line ('part = A tempo = 120 notes = 8'): it belongs "
             "to no part and never plays");
    }

    if (defined) {
      soundLine_ = lineNumber;
      soundSymbol_ = symbol;
      if (s.soundVoice.kind == ItemVoice::Kind::Drum && !documentSymbols_.contains(symbol) &&
          !waveSymbols_.contains(symbol) && keptWarned_.emplace(symbol).second) {
        report(lineNumber, symbol, Severity::Warning,
               "'" + std::string(symbol) +
                   "' is defined by no voice line of this document: Play uses the voice kept "
                   "from the previous compilation, " +
                   std::string(kVoiceCaptions[s.soundVoice.drum]));
      }
    } else if (keeps(lineNumber)) {
      std::string text =
          "'" + std::string(symbol) + "' is defined by no voice or wave line above it";
      const auto failed = failedDefinitions_.find(symbol);
      if (failed != failedDefinitions_.end()) {
        failed->second.used = true;
        text += ": line " + std::to_string(failed->second.line) + " ('" +
                std::string(trimmed(lines_[failed->second.line])) +
                "') is meant to define it but names no voice; this line plays ";
      } else {
        text += " (such as '" + std::string(symbol) + " = snare'): this line plays ";
      }
      text += soundLine_ > 0 ? "the sound of line " + std::to_string(soundLine_) + " ('" +
                                   std::string(soundSymbol_) + "')"
                             : "MIDI note 0";
      const std::size_t before = found_.size();
      report(lineNumber, symbol, Severity::Error, text);
      if (found_.size() > before) undefined_.emplace_back(before, std::string(symbol));
    }

    if (!body.empty() && isHitChar(body.back())) {
      reportUnfinished(lineNumber, body.substr(body.size() - 1),
                       "the last character of a grid line is never played: end the line with '|'");
    }

    if (!inPart || sections_.empty()) return;
    // Section lines and part records go one for one, so the newest section is this
    // line's part.
    SectionInfo& part = sections_.back();
    if (++part.gridLines == 1) {
      part.firstSteps = steps;
      part.firstGridLine = lineNumber;
    } else if (steps != part.firstSteps && keeps(lineNumber)) {
      reportUnfinished(lineNumber, body,
                       "this grid line has " + std::to_string(steps) + " steps but line " +
                           std::to_string(part.firstGridLine) + ", the first of part '" +
                           std::string(part.name) + "', has " + std::to_string(part.firstSteps));
    }
  }

  static std::vector<DrumVoice> allVoices() {
    std::vector<DrumVoice> voices;
    for (std::size_t v = 0; v < kVoiceCount; ++v) voices.push_back(static_cast<DrumVoice>(v));
    return voices;
  }

  // "SYMBOL = WORDS" (or "WORDS = SYMBOL") that binds nothing: the compiler passes over it
  // as a remark, so the words are likely a voice name misspelt or cut short.
  void failedDefinition(int lineNumber, std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || line.find('=', equals + 1) != std::string_view::npos)
      return;
    const std::string_view left = trimmed(line.substr(0, equals));
    const std::string_view right = trimmed(line.substr(equals + 1));
    auto oneRun = [](std::string_view s, bool (*allowed)(char)) {
      return !s.empty() && std::all_of(s.begin(), s.end(), allowed);
    };
    const bool leftSymbol = oneRun(left, [](char c) { return !isBlank(c); });
    const bool rightSymbol = oneRun(right, [](char c) { return line_scan::isWord(c); });
    std::string_view symbol;
    std::string_view words;
    std::vector<DrumVoice> nearest;
    if (leftSymbol && !right.empty()) {
      symbol = left;
      words = right;
      nearest = nearestVoices(words);
    }
    if (nearest.empty() && rightSymbol && !left.empty()) {
      // The voice-first form, "crash = c".
      std::vector<DrumVoice> before = nearestVoices(left);
      if (!before.empty()) {
        symbol = right;
        words = left;
        nearest = std::move(before);
      }
    }
    if (symbol.empty()) return;
    FailedDefinition& failed = failedDefinitions_[std::string(symbol)];
    failed = {lineNumber, words, false, !nearest.empty()};
    if (nearest.empty()) return;
    report(lineNumber, trimmed(line), Severity::Warning,
           "'" + std::string(words) + "' names no voice, so this line defines no '" +
               std::string(symbol) + "': did you mean " + voiceList(nearest) + "?");
  }

  // A line that starts like a grid line but is none; names the character that spoils it.
  void almostGridLine(int lineNumber, std::string_view line) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && isBlank(line[i])) ++i;
    const std::size_t word = i;
    while (i < n && line_scan::isWord(line[i])) ++i;
    const std::size_t wordEnd = i;
    while (i < n && isBlank(line[i])) ++i;
    // A line that starts with a symbol the document defines and goes on like a grid is
    // surely meant as one, whatever else it holds.
    const std::string symbol(line.substr(word, wordEnd - word));
    const bool definedSymbol =
        wordEnd > word &&
        (waveSymbols_.count(symbol) > 0 ||
         std::find(compiler_.state().voiceSymbols.begin(), compiler_.state().voiceSymbols.end(),
                   symbol) != compiler_.state().voiceSymbols.end());
    if (definedSymbol && i < n && line[i] != '|' && isGridChar(line[i])) {
      report(lineNumber, line.substr(i, 1), Severity::Warning,
             "grid line ignored: a grid line needs '|' between its symbol '" + symbol +
                 "' and its grid");
      return;
    }
    if (i < n && line[i] != '|') {
      strayInSymbol(lineNumber, line, word);
      return;
    }
    if (i == n) return;
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
    if (gridChars == 0 || (gridChars < 2 * others && !definedSymbol)) return;
    if (wordEnd == word) {
      report(lineNumber, line.substr(bar, 1), Severity::Error,
             "grid line ignored: it needs a symbol before the first '|'");
      return;
    }
    while (i < n && isGridChar(line[i])) ++i;
    if (i == n) return;
    // The first character after the grid's run spoils it (trailing blanks alone would not
    // have, so a blank here has more text after it).
    const std::size_t bad = i;
    const std::string_view what = line.substr(bad, characterBytes(line, bad));
    LineColumns columns;
    columns.reset(line);
    const int column = columns.at(bad).column;
    report(lineNumber, what, gridChars < 2 * others ? Severity::Warning : Severity::Error,
           "grid line ignored: " + quoted(what) + " at column " + std::to_string(column) +
               " is not a hit (x X o O 0-9), a rest (-), a bar line (|) or a bracket ([ ])");
  }

  // "k. |x-x-|": a grid but for one character in its symbol, which the line's other
  // characters would have made a grid line. The symbol run starts at `from`.
  void strayInSymbol(int lineNumber, std::string_view line, std::size_t from) {
    const std::size_t bar = line.find('|', from);
    if (bar == std::string_view::npos) return;
    std::size_t headEnd = bar;
    while (headEnd > from && isBlank(line[headEnd - 1])) --headEnd;
    std::size_t stray = std::string_view::npos;
    bool word = false;
    for (std::size_t k = from; k < headEnd; k += characterBytes(line, k)) {
      if (line_scan::isWord(line[k])) {
        word = true;
      } else if (stray != std::string_view::npos || isBlank(line[k])) {
        return;  // two words or two strays: prose, not a slip
      } else {
        stray = k;
      }
    }
    if (!word || stray == std::string_view::npos) return;
    std::size_t end = line.size();
    while (end > bar && isPatternBlank(line[end - 1])) --end;
    if (end == bar + 1) return;
    for (std::size_t k = bar + 1; k < end; ++k) {
      if (!isGridChar(line[k])) return;
    }
    const std::string_view what = line.substr(stray, characterBytes(line, stray));
    LineColumns columns;
    columns.reset(line);
    report(lineNumber, what, Severity::Error,
           "grid line ignored: " + quoted(what) + " at column " +
               std::to_string(columns.at(stray).column) +
               " cannot stand in a symbol (letters, digits and _)");
  }

  void partsAndSong() {
    const std::vector<TimelinePart>& table = compiler_.song()->parts();
    for (std::size_t i = 0; i < sections_.size(); ++i) {
      const SectionInfo& part = sections_[i];
      const Metre& made = i + 1 < table.size() ? table[i + 1].metre : Metre{};
      if (part.metre.valid && part.gridLines > 0 &&
          (made.beats != part.metre.beats || made.beatUnit != part.metre.unit)) {
        report(part.line, part.metre.text, Severity::Warning,
               "metre = " + std::string(part.metre.text) + " does not fit the bars of part '" +
                   std::string(part.name) + "', which make " + std::to_string(made.beats) + "/" +
                   std::to_string(made.beatUnit) + ": it is played and written as " +
                   std::to_string(made.beats) + "/" + std::to_string(made.beatUnit));
      }
      if (part.gridLines > 0) continue;
      if (i == 0) {
        report(part.line, part.name, Severity::Error,
               "the first part has no grid lines, so the song cannot start");
      } else {
        report(part.line, part.name, Severity::Warning,
               "part '" + std::string(part.name) + "' has no grid lines and plays nothing");
      }
    }
    if (sections_.empty()) return;
    if (songLine_ == 0 && !keptSongLine_.empty() && compiler_.state().songLine == keptSongLine_) {
      const SectionInfo& first = sections_.front();
      report(first.line, first.name, Severity::Warning,
             "no song line here: Play uses the song line kept from the previous compilation, `" +
                 keptSongLine_ + "`");
      return;
    }
    if (songLine_ == 0 || songValue_.empty()) {
      const SectionInfo& first = sections_.front();
      report(songLine_ > 0 ? songLine_ : first.line,
             songLine_ > 0 ? trimmed(lines_[songLine_]) : first.name, Severity::Error,
             "no song line names the parts to play ('song = ABA'), so nothing plays");
      return;
    }
    std::unordered_set<std::string> names;
    for (std::size_t i = 1; i < table.size(); ++i) names.insert(table[i].name);
    // The sequencer keeps the part it has when a character names none; it starts at the
    // first part.
    std::string current = table.size() > 1 ? table[1].name : std::string();
    for (std::size_t i = 0; i < songValue_.size();) {
      const std::size_t len = characterBytes(songValue_, i);
      const std::string_view c = songValue_.substr(i, len);
      i += len;
      std::string key(c);
      if (names.count(key) > 0) {
        current = std::move(key);
        continue;
      }
      report(songLine_, c, Severity::Error,
             quoted(c) + " in the song names no part: part '" + current +
                 "' plays again in its place");
    }
  }

  const CompileRequest& options_;
  const TablatureCompiler& compiler_;
  const std::string keptSongLine_;
  SymbolSet documentSymbols_;
  SymbolSet keptWarned_;
  TextLines lines_;
  std::vector<Diagnostic> found_;
  std::vector<SectionInfo> sections_;
  SymbolSet waveSymbols_;
  std::vector<std::pair<std::size_t, std::string>> undefined_;  // report index, symbol
  struct FailedDefinition {
    int line = 0;
    std::string_view words;  // inside the text
    bool used = false;       // by a grid line whose symbol names nothing
    bool warned = false;
  };
  // By symbol, the latest such line.
  std::map<std::string, FailedDefinition, std::less<>> failedDefinitions_;
  std::unordered_map<std::string, std::string> sampleProblems_;
  bool pendingWave_ = false;
  int pendingSection_ = 0;  // a section line whose name the compiler is reading
  int soundLine_ = 0;
  std::string_view soundSymbol_;  // inside the text
  int songLine_ = 0;
  std::string_view songValue_;
  LineColumns columns_;
  int columnsLine_ = 0;
  int countedLine_ = 0;
  int countOnLine_ = 0;
};

}  // namespace

std::string sampleFileProblem(const std::string& path) {
  std::string problem;
  off_t size = 0;
  const int fd = openRegularFile(path, &size, &problem);
  if (fd < 0) return problem;
  char head[12] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  if (n < 0) {
    problem = std::strerror(errno);
  } else if (n < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    problem = "not a WAVE file";
  }
  ::close(fd);
  return problem;
}

CompiledDocument compileDocument(TablatureCompiler& compiler, std::string_view text,
                                 const CompileRequest& request) {
  Pass pass(text, request, compiler);
  compiler.compile(text, request.padMap, &pass);
  CompiledDocument compiled;
  compiled.diagnostics = pass.finish();
  compiled.messages = std::move(pass.messages);
  compiled.song = compiler.song();
  const CompilerState& s = compiler.state();
  compiled.metadata = {s.metaTitle, s.metaAuthor, s.metaArtist, s.metaGenre, s.metaDescription};
  return compiled;
}

std::vector<Diagnostic> diagnose(std::string_view text, const DiagnosticOptions& options) {
  // One compiler per thread: making one compiles every line pattern, which costs more
  // than checking a long document.
  thread_local TablatureCompiler compiler;
  if (options.kept) {
    compiler.restore(*options.kept);
  } else {
    compiler.reset();
  }
  CompileRequest request;
  request.padMap = options.padMap;
  request.sampleProblem = options.sampleProblem;
  request.documentFolder = options.documentFolder;
  return compileDocument(compiler, text, request).diagnostics;
}

std::string_view severityWord(Severity severity) {
  return severity == Severity::Error ? "error" : "warning";
}

std::string formatDiagnostic(std::string_view file, const Diagnostic& d) {
  return std::string(file) + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": " +
         std::string(severityWord(d.severity)) + ": " + d.text;
}

}  // namespace pulsewright
