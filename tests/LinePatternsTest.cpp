#include <gtest/gtest.h>
#include <re2/re2.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "tablature/LinePatterns.h"
#include "tablature/LineScan.h"

namespace pulsewright {
namespace {

TEST(LinePatterns, FortySevenTestsAndFortyNineFieldsAllDistinct) {
  const LinePatternSources& s = linePatternSources();
  ASSERT_EQ(s.tests.size(), 47u);
  ASSERT_EQ(s.fields.size(), 49u);
  std::set<std::string> seen;
  for (const std::string& p : s.tests) {
    EXPECT_FALSE(p.empty());
    EXPECT_TRUE(seen.insert(p).second) << "test pattern twice: " << p;
  }
  seen.clear();
  for (const std::string& p : s.fields) {
    EXPECT_FALSE(p.empty());
    EXPECT_TRUE(seen.insert(p).second) << "field pattern twice: " << p;
  }
  // Each is compiled when first used: every one must compile.
  const LineMatcher m;
  std::string_view value;
  for (int f = 0; f < kFieldCount; ++f) {
    EXPECT_NO_THROW(m.patternExtract(static_cast<LineField>(f), "x", &value)) << f;
  }
  for (int t = 0; t < line_test::kCount; ++t) EXPECT_NO_THROW(m.test(t, "x")) << t;
}

// RE2's own \s has no vertical tab and its '.' matches CR; the rewritten pattern must
// match on a line exactly what the language's pattern means.
TEST(LinePatterns, RewrittenPatternsKeepTheirMeaningOnCrLfAndVerticalTab) {
  struct Case {
    const char* pattern;
    std::string line;
    bool matches;
  };
  const std::vector<Case> cases = {
      {R"(^a\sb$)",
       "a\x0B"
       "b",
       true},
      {R"(^a\sb$)", "a\rb", true},
      {R"(^a\sb$)", "a\nb", true},
      {R"(^a\sb$)", "a\fb", true},
      {R"(^a\sb$)", "a\tb", true},
      {R"(^a\sb$)", "a_b", false},
      {R"(^a.b$)", "a\rb", false},
      {R"(^a.b$)", "a\nb", false},
      {R"(^a.b$)",
       "a\x0B"
       "b",
       true},
      {R"(^a.b$)", "a\tb", true},
      {R"(^a.*$)", "abc\r", false},
      {R"(^[^=\s]+$)",
       "a\x0B"
       "b",
       false},
      {R"(^[^=\s]+$)", "a\rb", false},
      {R"(^[^=\s]+$)", "ab", true},
      {R"(^[\s\-]+$)", "-\x0B-\r", true},
      {R"(^[.]$)", ".", true},
      {R"(^[.]$)", "x", false},
      {R"(^\.$)", "x", false},
      {R"(^\[.\]$)", "[x]", true},
      {R"(^\[.\]$)", "[\r]", false},
      {R"(^[^\n\r]+$)", "a\rb", false},
      {R"(^\d\w$)", "7_", true},
  };
  for (const Case& c : cases) {
    const std::string rewritten = toEngineSyntax(c.pattern);
    const re2::RE2 re(rewritten);
    ASSERT_TRUE(re.ok()) << c.pattern << " -> " << rewritten;
    EXPECT_EQ(re2::RE2::PartialMatch(c.line, re), c.matches)
        << c.pattern << " -> " << rewritten << " on " << testing::PrintToString(c.line);
  }
}

TEST(LinePatterns, LineKindsAcrossCrLfAndVerticalTab) {
  namespace t = line_test;
  const LineMatcher m;
  struct Case {
    std::string line;
    int test;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"song = AB\r", t::kSong, true},  // one CR or LF may end the value
      {"song = AB\rC", t::kSong, false},
      {"meta title = x\n", t::kMetaFirst + static_cast<int>(MetaKey::Title), true},
      {"meta title = x\ny", t::kMetaFirst + static_cast<int>(MetaKey::Title), false},
      {"h |x-x-|\r", t::kGrid, true},
      {"h\x0B|x-x-|\x0B", t::kGrid, true},
      {"h |x-\rx-|", t::kGrid, false},
      {"kick\x0B=\x0Bk", t::kVoiceFirst, true},
      {"kick = k\rjunk", t::kVoiceFirst, false},  // '.' stops at CR, so '$' is not reached
      {"k = kick\njunk", t::kVoiceFirst + 2, false},
      {"k = wave\r", t::kWave, false},
      {"k = wave\ra", t::kWave, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(m.test(c.test, c.line), c.passes) << testing::PrintToString(c.line);
    EXPECT_EQ(m.classify(c.line)[c.test], c.passes) << testing::PrintToString(c.line);
  }
  std::string_view song;
  ASSERT_TRUE(m.extract(LineField::Song, "song = AB\r", &song));
  EXPECT_EQ(song, "AB");
}

// The one-pass set must say exactly what the single patterns say, line by line.
TEST(LinePatterns, OnePassClassifyAgreesWithEachTestAlone) {
  std::vector<std::string> lines = {
      "",
      "   ",
      "meta title = Basic rock",
      "METAAUTHOR=",
      "meta genre = Funk  ",
      "meta artist = x",
      "meta description = Ghost notes, \"quoted\"",
      "w1 = wave C:\\Samples\\clap.wav pan -20",
      "t = wave C:\\Samples\\timpani.wav pan 5",
      "w = wave x",
      "clap = wave C:\\x.wav pan 0",
      "part = A tempo = 120 notes = 8",
      "part = B tempo = 120 notes = 8 program = 0",
      "part = snare tempo = 90 notes = 8",
      "part = A tempo = 120",
      "part=A,tempo=100,notes=8",
      "Beat = X bpm = 100 beats = 4",
      "symbol = Verse 1 speed = 60 notes = 4 program = 40000",
      "name = A  tempo = 90 notes = 8",
      "song = AAB",
      "SONG=",
      "h |x-x-x-x-|x-x-x-x-|",
      "h |x-x- x-x-|",
      "h x-x-x-x-|",
      "  k  |[xxx]-x-x-|   ",
      "h |||",
      "crash1 = crash 1",
      "tom1 = tom 1",
      "k = kickboxing",
      "a+b = cowbell",
      "just a remark: kick = k",
      "k = kick drum\r",
      std::string("h |x-x-|\x0B"),
      "caf\xC3\xA9 = snare",
      "h |x-x-|y",
      "|x-|",
      "h ||",
      "h |",
      "_ |0|",
      "h\t|x-|\t\f",
      "h\xC3\xA9 |x|",
      "h |x-|\r\n",
      "h | x-|",
      "hh\n|x-|",
      "h |" + std::string(20000, 'x') + "|",
      "w = wave " + std::string(20000, 'a') + " pan 1",
  };
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::string name(kVoiceCaptions[v]);
    lines.push_back(name + " = s" + std::to_string(v));
    lines.push_back("s" + std::to_string(v) + " = " + name);
  }
  lines.push_back("ride cymbal = r");
  lines.push_back("b = cymbal bell");
  lines.push_back("hand claps = c");

  const LineMatcher m;
  std::vector<int> passedBy(line_test::kCount, 0);
  for (const std::string& line : lines) {
    const LineTests set = m.classify(line);
    for (int i = 0; i < line_test::kCount; ++i) {
      const bool alone = m.test(i, line);
      EXPECT_EQ(set[i], alone) << "test " << i << " on " << line.substr(0, 60);
      passedBy[i] += alone ? 1 : 0;
    }
  }
  // Every test is passed by some line, so the comparison covers all of them.
  for (int i = 0; i < line_test::kCount; ++i) EXPECT_GT(passedBy[i], 0) << "test " << i;
}

// Section and wave-sample lines are read by hand; on every line the hand-read tests and
// fields must be those of the patterns, down to the same characters of the line.
TEST(LinePatterns, HandReadLinesAgreeWithThePatterns) {
  std::vector<std::string> lines = {
      "part = A tempo = 120 notes = 16",
      "part = A   tempo = 120 notes = 8",
      "part =  x tempo=1 notes=2",
      "part =   tempo = 1 notes = 1",
      "part = \r\n tempo = 1",
      "part = ab c d= 3",
      "part = A tempo! = 1",
      "part = A tempo",
      "part = = tempo = 1",
      "part = kick tempo = 1 notes = 2",
      "  Beat=X\tbpm=100 BEATS = 4 PROGRAM=+5",
      "symbol = x y z = tempo = 5 notes = 7 program = 12 program = 13",
      "name = A tempo =  notes = 8 tempo = 9",
      "partner = kick",
      "part = B tempo = 120 notes = 8 program = 0",
      "x program=7",
      "PROGRAM  =  \t 99 program = 3",
      "part = Tom's tempo = 1 notes = 1",
      "w = wave x.wav pan -20",
      "w = wave x.wav pan = +-20",
      "w = wave x.wav pan = +20",
      "w = wave x.wav pan pan 5",
      "w = wave pan 1",
      "w = wavepan1",
      "w = wave\r x pan 1",
      "w = wave x\r pan 1",
      "w = wave x\ry pan 1",
      "w = wave \r",
      "w = wave\r",
      "w = wave  \x0B",
      "w = wave a.wav Pan",
      "w1 = WAVE C:\\pan\\clap.wav PAN 3",
      "kick = wave a.wav pan 1",
      "x = wave tempo = 5.wav pan 1 notes = 2",
      "part = wave tempo = 1 notes = 2 pan 3",
      "= wave pan 1",
      "a b = wave x pan 1",
      "song = AB pan 1",
  };
  // Lines put together at random from the pieces these patterns turn on.
  const std::vector<std::string> pieces = {
      "part",  "PaRt",    "symbol", "name", "beat", "tempo",    "Speed", "bpm", "notes",
      "BEATS", "program", "wave",   "pan",  "Pan",  "meta",     "=",     "=",   " ",
      "  ",    "\t",      "\r",     "\n",   "\x0B", "\f",       "+",     "-",   "5",
      "120",   "x",       "A",      "_",    ".wav", "\xC3\xA9", "|",     "kick"};
  std::mt19937 random(18);
  for (int n = 0; n < 2000; ++n) {
    std::string line;
    const int count = 1 + static_cast<int>(random() % 12);
    for (int k = 0; k < count; ++k) line += pieces[random() % pieces.size()];
    lines.push_back(line);
  }

  const LineMatcher m;
  const std::vector<LineField> handFields = {LineField::SectionName,  LineField::SectionTempo,
                                             LineField::SectionNotes, LineField::SectionProgram,
                                             LineField::WaveFile,     LineField::WavePan,
                                             LineField::WaveSymbol};
  std::vector<int> found(handFields.size(), 0);
  for (const std::string& line : lines) {
    const LineTests set = m.classify(line);
    for (int i = 0; i < line_test::kCount; ++i)
      ASSERT_EQ(set[i], m.test(i, line)) << "test " << i << " on " << testing::PrintToString(line);
    for (std::size_t f = 0; f < handFields.size(); ++f) {
      std::string_view hand;
      std::string_view pattern;
      const bool byHand = m.extract(handFields[f], line, &hand);
      ASSERT_EQ(byHand, m.patternExtract(handFields[f], line, &pattern))
          << "field " << static_cast<int>(handFields[f]) << " on " << testing::PrintToString(line);
      if (!byHand) continue;
      ++found[f];
      EXPECT_EQ(hand.data(), pattern.data()) << testing::PrintToString(line);
      EXPECT_EQ(hand.size(), pattern.size()) << testing::PrintToString(line);
    }
    // The section fields the one-pass tests read on the way are the patterns' captures.
    LineTests tests;
    line_scan::SectionFields fields;
    if (!line_scan::classify(line, &tests, &fields)) continue;
    const std::vector<std::pair<int, std::string_view>> read = {
        {line_test::kSectionName, fields.name},
        {line_test::kSectionTempo, fields.tempo},
        {line_test::kSectionNotes, fields.notes},
        {line_test::kProgram, fields.program}};
    for (std::size_t f = 0; f < read.size(); ++f) {
      std::string_view pattern;
      ASSERT_EQ(tests[read[f].first], m.patternExtract(handFields[f], line, &pattern))
          << "field " << f << " on " << testing::PrintToString(line);
      if (!tests[read[f].first]) continue;
      EXPECT_EQ(read[f].second.data(), pattern.data()) << testing::PrintToString(line);
      EXPECT_EQ(read[f].second.size(), pattern.size()) << testing::PrintToString(line);
    }
  }
  for (std::size_t f = 0; f < handFields.size(); ++f) EXPECT_GT(found[f], 2) << "field " << f;
}

}  // namespace
}  // namespace pulsewright
