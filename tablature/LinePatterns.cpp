#include "tablature/LinePatterns.h"

#include <re2/re2.h>
#include <re2/set.h>

#include <mutex>
#include <stdexcept>

#include "tablature/LineScan.h"

namespace pulsewright {

namespace {

using V = DrumVoice;
using F = VoiceForm;

// Voice words, in pad order. Ride and Bell accept "cymbal" as well as "cymbol", so
// the forms "ride cymbal", "cymbal bell" and "bell cymbal" bind as users write them.
const std::array<std::string_view, kVoiceCount> kVoiceWords = {
    R"((?:[Bb][Aa][Ss][Ss]|[Kk][Ii][Cc][Kk])(?:\s*[Dd][Rr][Uu][Mm])?)",
    R"((?:[Ss][Nn][Aa][Rr][Ee])(?:\s*[Dd][Rr][Uu][Mm])?)",
    R"((?:[Cc][Ll][Oo][Ss][Ee][Dd])(?:\s*[Hh][Ii])?(?:[\s\-]*[Hh][Aa][Tt])?)",
    R"((?:[Pp][Ee][Dd][Aa][Ll])(?:\s*[Hh][Ii])?(?:[\s\-]*[Hh][Aa][Tt])?)",
    R"((?:[Oo][Pp][Ee][Nn])(?:\s*[Hh][Ii])?(?:[\s\-]*[Hh][Aa][Tt])?)",
    R"((?:[Tt][Oo][Mm])\s*(?:1|[Oo][Nn][Ee]))",
    R"((?:[Tt][Oo][Mm])\s*(?:2|[Tt][Ww][Oo]))",
    R"((?:[Tt][Oo][Mm])\s*(?:3|[Tt][Hh][Rr][Ee][Ee]))",
    R"((?:[Tt][Oo][Mm])\s*(?:4|[Ff][Oo][Uu][Rr]))",
    R"((?:[Rr][Ii][Dd][Ee])\s*(?:[Cc][Yy][Mm][Bb][AaOo][Ll])?)",
    R"((?:[Cc][Yy][Mm][Bb][AaOo][Ll]\s*)?(?:[Bb][Ee][Ll][Ll])\s*(?:[Cc][Yy][Mm][Bb][AaOo][Ll])?)",
    R"((?:[Cc][Rr][Aa][Ss][Hh])\s*(?:1|[Oo][Nn][Ee]))",
    R"((?:[Cc][Rr][Aa][Ss][Hh])\s*(?:2|[Tt][Ww][Oo]))",
    R"((?:[Pp][Ee][Rr][Cc])\s*(?:1|[Oo][Nn][Ee]))",
    R"((?:[Pp][Ee][Rr][Cc])\s*(?:2|[Tt][Ww][Oo]))",
    R"((?:[Hh][Aa][Nn][Dd]\s*)?(?:[Cc][Ll][Aa][Pp])[Ss]?)",
    R"((?:[Cc][Oo][Ww])\s*(?:[Bb][Ee][Ll][Ll]))",
};

const std::array<std::string_view, 5> kMetaKeyPatterns = {
    R"([Aa][Uu][Tt][Hh][Oo][Rr])", R"([Dd][Ee][Ss][Cc][Rr][Ii][Pp][Tt][Ii][Oo][Nn])",
    R"([Aa][Rr][Tt][Ii][Ss][Tt])", R"([Gg][Ee][Nn][Rr][Ee])",
    R"([Tt][Ii][Tt][Ll][Ee])",
};

constexpr std::string_view kSectionKeyword =
    R"(^\s*(?:[Ss][Yy][Mm][Bb][Oo][Ll]|[Nn][Aa][Mm][Ee]|[Pp][Aa][Rr][Tt]|[Bb][Ee][Aa][Tt])\s*=\s*)";
constexpr std::string_view kTempoWords =
    R"(\s*(?:[Tt][Ee][Mm][Pp][Oo]|[Ss][Pp][Ee][Ee][Dd]|[Bb][Pp][Mm])\s*=\s*)";
constexpr std::string_view kNotesWords =
    R"(\s*(?:[Nn][Oo][Tt][Ee][Ss]|[Bb][Ee][Aa][Tt][Ss])\s*=\s*)";
constexpr std::string_view kProgramWords = R"(\s*(?:[Pp][Rr][Oo][Gg][Rr][Aa][Mm])\s*=\s*)";
constexpr std::string_view kWaveHead = R"(^\s*\w+\s*=\s*[Ww][Aa][Vv][Ee]\s*)";
constexpr std::string_view kGridChars = R"([\[\]\-0-9\|xXoO]+)";

std::string cat(std::initializer_list<std::string_view> pieces) {
  std::string s;
  for (std::string_view p : pieces) s += p;
  return s;
}

LinePatternSources buildSources() {
  namespace t = line_test;
  LinePatternSources s;
  auto field = [&s](LineField f) -> std::string& { return s.fields[static_cast<int>(f)]; };

  s.tests[t::kWave] = R"(^\s*\w+\s*=\s*[Ww][Aa][Vv][Ee]\s*[^\n\r]+)";
  field(LineField::WaveSymbol) = R"(^\s*(\w+)\s*=\s*[Ww][Aa][Vv][Ee]\s*.*?\s*[pP][Aa][Nn])";
  field(LineField::WaveFile) = cat({kWaveHead, R"((.*?)\s*[pP][Aa][Nn])"});
  field(LineField::WavePan) = R"(\s*[pP][aA][nN]\s*=?\s*\+?(-?[0-9]+))";

  for (int k = 0; k < 5; ++k) {
    const std::string head = cat({R"(^\s*[mM][eE][tT][aA]\s*)", kMetaKeyPatterns[k], R"(\s*=\s*)"});
    s.tests[t::kMetaFirst + k] = head + R"([^\n\r]*[\n\r]?$)";
    field(metaField(static_cast<MetaKey>(k))) = head + R"(([^\n\r]*)[\n\r]?$)";
  }

  for (int i = 0; i < 34; ++i) {
    const VoiceAssignment a = kVoiceAssignmentOrder[i];
    const std::string_view words = kVoiceWords[index(a.voice)];
    if (a.form == F::VoiceFirst) {
      s.tests[t::kVoiceFirst + i] = cat({R"(^\s*)", words, R"(\s*=\s*\w+.*$)"});
      field(voiceField(i)) = cat({R"(^\s*)", words, R"(\s*=\s*(\w+).*$)"});
    } else {
      s.tests[t::kVoiceFirst + i] = cat({R"(^\s*[^=\s]+\s*=\s*)", words, R"(.*$)"});
      field(voiceField(i)) = cat({R"(^\s*([^=\s]+)\s*=\s*)", words, R"(.*$)"});
    }
  }

  s.tests[t::kSong] = R"(^\s*[Ss][Oo][Nn][Gg]\s*=\s*[^\n\r]*[\n\r]?$)";
  field(LineField::Song) = R"(^\s*[Ss][Oo][Nn][Gg]\s*=\s*([^\n\r]*)[\n\r]?$)";

  s.tests[t::kSectionKeyword] = std::string(kSectionKeyword);
  s.tests[t::kSectionName] = cat({kSectionKeyword, R"([^=]+\s+\w+\s*=)"});
  s.tests[t::kSectionTempo] = cat({kTempoWords, R"(\d+)"});
  s.tests[t::kSectionNotes] = cat({kNotesWords, R"(\d+)"});
  s.tests[t::kProgram] = cat({kProgramWords, R"(\d+)"});
  field(LineField::SectionName) = cat({kSectionKeyword, R"(([^=]+)\s+\w+\s*=)"});
  field(LineField::SectionTempo) = cat({kTempoWords, R"((\d+))"});
  field(LineField::SectionNotes) = cat({kNotesWords, R"((\d+))"});
  field(LineField::SectionProgram) = cat({kProgramWords, R"((\d+))"});

  s.tests[t::kGrid] = cat({R"(^\s*\w+\s*\|)", kGridChars, R"(\s*$)"});
  field(LineField::GridSymbol) = cat({R"(^\s*(\w+)\s*\|)", kGridChars, R"(\s*$)"});
  field(LineField::GridBody) = cat({R"(^\s*\w+\s*\|()", kGridChars, R"()\s*$)"});
  return s;
}

constexpr std::string_view kBlanks = R"(\t\n\x0B\f\r )";

re2::RE2::Options engineOptions() {
  re2::RE2::Options o;
  o.set_encoding(re2::RE2::Options::EncodingLatin1);  // one byte is one character
  o.set_case_sensitive(true);
  o.set_longest_match(false);
  o.set_log_errors(false);
  o.set_max_mem(64 << 20);
  return o;
}

}  // namespace

const std::array<VoiceAssignment, 34> kVoiceAssignmentOrder = {{
    {F::VoiceFirst, V::BassDrum},   {F::VoiceFirst, V::SnareDrum},  {F::SymbolFirst, V::BassDrum},
    {F::SymbolFirst, V::SnareDrum}, {F::VoiceFirst, V::ClosedHat},  {F::VoiceFirst, V::PedalHat},
    {F::VoiceFirst, V::OpenHat},    {F::SymbolFirst, V::ClosedHat}, {F::SymbolFirst, V::PedalHat},
    {F::SymbolFirst, V::OpenHat},   {F::VoiceFirst, V::Tom1},       {F::VoiceFirst, V::Tom2},
    {F::VoiceFirst, V::Tom3},       {F::VoiceFirst, V::Tom4},       {F::SymbolFirst, V::Tom1},
    {F::SymbolFirst, V::Tom2},      {F::SymbolFirst, V::Tom3},      {F::SymbolFirst, V::Tom4},
    {F::SymbolFirst, V::Crash1},    {F::SymbolFirst, V::Crash2},    {F::VoiceFirst, V::Crash1},
    {F::VoiceFirst, V::Crash2},     {F::SymbolFirst, V::Perc1},     {F::SymbolFirst, V::Perc2},
    {F::VoiceFirst, V::Perc1},      {F::VoiceFirst, V::Perc2},      {F::SymbolFirst, V::Ride},
    {F::VoiceFirst, V::Ride},       {F::SymbolFirst, V::Bell},      {F::VoiceFirst, V::Bell},
    {F::SymbolFirst, V::Claps},     {F::VoiceFirst, V::Claps},      {F::SymbolFirst, V::CowBell},
    {F::VoiceFirst, V::CowBell},
}};

const LinePatternSources& linePatternSources() {
  static const LinePatternSources sources = buildSources();
  return sources;
}

std::string toEngineSyntax(std::string_view pattern) {
  std::string out;
  out.reserve(pattern.size() * 2);
  bool inClass = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\' && i + 1 < pattern.size()) {
      const char next = pattern[++i];
      if (next == 's') {
        if (inClass) {
          out += kBlanks;
        } else {
          out += '[';
          out += kBlanks;
          out += ']';
        }
      } else {
        out += c;
        out += next;
      }
      continue;
    }
    if (inClass) {
      if (c == ']') inClass = false;
      out += c;
    } else if (c == '[') {
      inClass = true;
      out += c;
      // A ']' right after '[' or '[^' would be a member in RE2; none of the patterns has one.
    } else if (c == '.') {
      out += R"([^\n\r])";
    } else {
      out += c;
    }
  }
  return out;
}

bool isSectionLine(const LineTests& tests) {
  return tests[line_test::kSectionKeyword] && tests[line_test::kSectionName] &&
         tests[line_test::kSectionTempo] && tests[line_test::kSectionNotes];
}

std::vector<std::string> describeLineKinds(const LineTests& tests) {
  namespace t = line_test;
  std::vector<std::string> kinds;
  if (tests[t::kWave]) kinds.emplace_back("wave sample");
  for (int k = 0; k < 5; ++k) {
    if (tests[t::kMetaFirst + k]) kinds.push_back("meta " + std::string(kMetaKeyWords[k]));
  }
  for (int i = 0; i < 34; ++i) {
    if (!tests[t::kVoiceFirst + i]) continue;
    const VoiceAssignment a = kVoiceAssignmentOrder[i];
    kinds.push_back("voice " + std::string(kVoiceCaptions[index(a.voice)]) +
                    (a.form == F::VoiceFirst ? " (voice first)" : " (symbol first)"));
  }
  if (tests[t::kSong]) kinds.emplace_back("song");
  if (isSectionLine(tests))
    kinds.emplace_back(tests[t::kProgram] ? "section with program" : "section");
  if (tests[t::kGrid]) kinds.emplace_back("grid");
  return kinds;
}

namespace {
std::unique_ptr<re2::RE2> compileOne(const std::string& source) {
  auto re = std::make_unique<re2::RE2>(toEngineSyntax(source), engineOptions());
  if (!re->ok()) throw std::logic_error("line pattern does not compile: " + source);
  return re;
}

// A pattern compiled when first used: most documents need only the one-pass set and a
// few fields, and compiling all of them took longer than checking a short document.
class LazyPattern {
 public:
  const re2::RE2& get(const std::string& source) const {
    std::call_once(once_, [&] { re_ = compileOne(source); });
    return *re_;
  }

 private:
  mutable std::once_flag once_;
  mutable std::unique_ptr<re2::RE2> re_;
};
}  // namespace

struct LineMatcher::Compiled {
  std::array<LazyPattern, line_test::kCount> tests;
  std::array<LazyPattern, kFieldCount> fields;
  std::unique_ptr<re2::RE2::Set> set;
  mutable std::vector<int> hits;
};

LineMatcher::LineMatcher() : compiled_(std::make_unique<Compiled>()) {
  const LinePatternSources& sources = linePatternSources();
  compiled_->set = std::make_unique<re2::RE2::Set>(engineOptions(), re2::RE2::UNANCHORED);
  for (const std::string& source : sources.tests) {
    if (compiled_->set->Add(toEngineSyntax(source), nullptr) < 0) {
      throw std::logic_error("line pattern does not compile: " + source);
    }
  }
  if (!compiled_->set->Compile()) throw std::logic_error("line patterns do not compile as a set");
  compiled_->hits.reserve(line_test::kCount);
}

LineMatcher::~LineMatcher() = default;

bool LineMatcher::test(int testNumber, std::string_view line) const {
  return re2::RE2::PartialMatch(
      re2::StringPiece(line.data(), line.size()),
      compiled_->tests[static_cast<std::size_t>(testNumber)].get(
          linePatternSources().tests[static_cast<std::size_t>(testNumber)]));
}

LineTests LineMatcher::classify(std::string_view line) const {
  LineTests passed;
  // Every test but the grid test needs a literal "=" in the line, and most lines of a
  // song are grid lines, which have none: those need only the one test.
  if (line.find('=') == std::string_view::npos) {
    if (isGridLine(line)) passed.set(line_test::kGrid);
    return passed;
  }
  // Section and wave-sample lines are read by hand unless they may be voice, meta or
  // song lines too.
  if (line_scan::classify(line, &passed)) return passed;
  const re2::StringPiece text(line.data(), line.size());
  re2::RE2::Set::ErrorInfo error{};
  compiled_->hits.clear();
  if (compiled_->set->Match(text, &compiled_->hits, &error)) {
    for (int hit : compiled_->hits) passed.set(hit);
  } else if (error.kind != re2::RE2::Set::kNoError) {
    // The one-pass automaton ran out of memory on this line: test one pattern at a
    // time, which falls back to a slower engine that is still linear.
    for (int i = 0; i < line_test::kCount; ++i) {
      if (test(i, line)) passed.set(i);
    }
  }
  return passed;
}

namespace {
using line_scan::isBlank;
using line_scan::isWord;
std::string_view leadingWord(std::string_view line, std::size_t* end) {
  std::size_t i = 0;
  while (i < line.size() && isBlank(line[i])) ++i;
  const std::size_t start = i;
  while (i < line.size() && isWord(line[i])) ++i;
  *end = i;
  return line.substr(start, i - start);
}
}  // namespace

bool isGridChar(char c) {
  return line_scan::isGrid(c);
}

bool LineMatcher::isGridLine(std::string_view line) {
  std::string_view symbol;
  std::string_view body;
  return line_scan::gridLine(line, &symbol, &body);
}

void LineMatcher::gridFields(std::string_view line, std::string_view* symbol,
                             std::string_view* body) {
  std::size_t i = 0;
  *symbol = leadingWord(line, &i);
  const std::size_t bar = line.find('|', i);
  if (bar == std::string_view::npos) {
    *body = {};
    return;
  }
  std::size_t end = line.size();
  while (end > bar + 1 && isBlank(line[end - 1])) --end;
  *body = line.substr(bar + 1, end - bar - 1);
}

std::string_view LineMatcher::waveSymbol(std::string_view line) {
  std::size_t end = 0;
  return leadingWord(line, &end);
}

bool LineMatcher::extract(LineField field, std::string_view line, std::string_view* value) const {
  switch (field) {
    case LineField::SectionName: return line_scan::sectionName(line, value);
    case LineField::SectionTempo: return line_scan::sectionTempo(line, value);
    case LineField::SectionNotes: return line_scan::sectionNotes(line, value);
    case LineField::SectionProgram: return line_scan::sectionProgram(line, value);
    case LineField::WaveFile: return line_scan::waveFile(line, value);
    case LineField::WavePan: return line_scan::wavePan(line, value);
    case LineField::WaveSymbol: {
      std::string_view file;
      if (!line_scan::waveFile(line, &file)) return false;
      *value = waveSymbol(line);
      return true;
    }
    default: return patternExtract(field, line, value);
  }
}

bool LineMatcher::patternExtract(LineField field, std::string_view line,
                                 std::string_view* value) const {
  re2::StringPiece capture;
  const auto f = static_cast<std::size_t>(field);
  if (!re2::RE2::PartialMatch(re2::StringPiece(line.data(), line.size()),
                              compiled_->fields[f].get(linePatternSources().fields[f]), &capture)) {
    return false;
  }
  *value = std::string_view(capture.data(), capture.size());
  return true;
}

}  // namespace pulsewright
