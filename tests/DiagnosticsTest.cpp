// The diagnostics pass: every kind of problem at its range, ranges after non-ASCII text
// in all three units, sample files on disk, and the limits on a flood of problems.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tablature/CompiledDocument.h"
#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {
namespace {

struct Expected {
  int line, column, length;
  Severity severity;
  const char* phrase;
};

void expectFound(const std::vector<Diagnostic>& found, const std::vector<Expected>& expected) {
  ASSERT_EQ(found.size(), expected.size()) << [&] {
    std::string all;
    for (const Diagnostic& d : found) all += formatDiagnostic("t", d) + "\n";
    return all;
  }();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Diagnostic& d = found[i];
    const Expected& e = expected[i];
    EXPECT_EQ(d.line, e.line) << d.text;
    EXPECT_EQ(d.column, e.column) << d.text;
    EXPECT_EQ(d.length, e.length) << d.text;
    EXPECT_EQ(d.severity, e.severity) << d.text;
    EXPECT_NE(d.text.find(e.phrase), std::string::npos) << d.text;
  }
}

DiagnosticOptions noSampleFiles() {
  DiagnosticOptions options;
  options.sampleProblem = nullptr;
  return options;
}

TEST(Diagnostics, EveryKindOfProblemAtItsRange) {
  const std::string text =
      "h |x-x-|\r\n"                           // 1 before any section, undefined
      "k = kick\r\n"                           // 2
      "w = wave clap.aif pan 0\r\n"            // 3 not .wav
      "v = wave v.wav\r\n"                     // 4 no pan
      "part = A tempo = 120 notes = 8\r\n"     // 5
      "k |x-x-x-x-|\r\n"                       // 6
      "  k |x-x-g-x-|\r\n"                     // 7 ignored at the g
      "q |x-x-x-x-|\r\n"                       // 8 undefined: plays line 6's sound
      "k |x-x-x-|\r\n"                         // 9 shorter
      "part = C notes = 8\r\n"                 // 10 no tempo
      "k |x-x-x-x-x\r\n"                       // 11 last hit never played
      "part = B tempo = 100 notes = 8\r\n"     // 12 no grid lines
      "part = Verse tempo = 90 notes = 8\r\n"  // 13 name too long
      "k |x-|\r\n"                             // 14
      "|x-x-|\r\n"                             // 15 no symbol
      "song = ACZ";                            // 16 C and Z name no part
  using S = Severity;
  expectFound(
      diagnose(text, noSampleFiles()),
      {{1, 1, 8, S::Error, "before any section line"},
       {1, 1, 1, S::Error, "plays MIDI note 0"},
       {3, 10, 8, S::Error, "played as MIDI note 0"},
       {4, 1, 14, S::Error, "needs 'pan N'"},
       {7, 10, 1, S::Error, "'g' at column 10 is not a hit"},
       {8, 1, 1, S::Error, "plays the sound of line 6 ('k')"},
       {9, 4, 7, S::Warning, "has 6 steps but line 6, the first of part 'A', has 8"},
       {10, 1, 18, S::Error, "it needs tempo = N; the grid lines under it go on in part 'A'"},
       {11, 12, 1, S::Warning, "never played"},
       {12, 8, 1, S::Warning, "part 'B' has no grid lines"},
       {13, 8, 5, S::Warning, "'Verse' has 5 characters"},
       {15, 1, 1, S::Error, "needs a symbol"},
       {16, 9, 1, S::Error, "'C' in the song names no part: part 'A' plays again"},
       {16, 10, 1, S::Error, "'Z' in the song names no part"}});

  // Nothing to say about a sound document, or about none.
  EXPECT_TRUE(diagnose("k = kick\r\npart = A tempo = 120 notes = 8\r\nk |x-x-|\r\nsong = AA",
                       noSampleFiles())
                  .empty());
  EXPECT_TRUE(diagnose("").empty());
  // Nothing carries over from the text checked before.
  expectFound(diagnose("part = A tempo = 120 notes = 8\r\nk |x-|\r\nsong = A", noSampleFiles()),
              {{2, 1, 1, S::Error, "'k' is defined by no voice"}});
  expectFound(
      diagnose("part = A tempo = 120 notes = 8\r\nk |x-|\r\nk = kick\r\nsong = A", noSampleFiles()),
      {{2, 1, 1, S::Error, "plays MIDI note 0; it is defined further down"}});
  expectFound(diagnose("part = A tempo = 120 notes = 8\r\nsong = A", noSampleFiles()),
              {{1, 8, 1, S::Error, "the song cannot start"}});
  expectFound(diagnose("k = kick\r\npart = A tempo = 120 notes = 8\r\nk |x-|", noSampleFiles()),
              {{2, 8, 1, S::Error, "no song line"}});
}

TEST(Diagnostics, RangesAfterNonAsciiTextInBytesCodePointsAndUtf16) {
  // "é" is 2 bytes, 1 code point, 1 UTF-16 unit; "𝄞" is 4 bytes, 1 code point, 2 units.
  const std::string text =
      "k = kick\r\n"
      "part = é tempo = 100 notes = 8\r\nk |x-|\r\n"
      "part = 𝄞 tempo = 100 notes = 8\r\nk |x-|\r\n"
      "k |x-𝄞-x|\r\n"
      "song = é𝄞𝄞Zé";
  const std::vector<Diagnostic> found = diagnose(text, noSampleFiles());
  ASSERT_EQ(found.size(), 2u);
  // The 𝄞 that spoils a grid line: one code point, two UTF-16 units.
  EXPECT_EQ(found[0].line, 6);
  EXPECT_EQ(found[0].column, 6);
  EXPECT_EQ(found[0].length, 1);
  EXPECT_EQ(found[0].utf16Column, 5);
  EXPECT_EQ(found[0].utf16Length, 2);
  EXPECT_NE(found[0].text.find("'𝄞' at column 6"), std::string::npos) << found[0].text;
  // Z: byte 17, code point 11 (from 1), UTF-16 offset 12 (from 0).
  EXPECT_EQ(found[1].line, 7);
  EXPECT_EQ(found[1].column, 11);
  EXPECT_EQ(found[1].length, 1);
  EXPECT_EQ(found[1].utf16Column, 12);
  EXPECT_EQ(found[1].utf16Length, 1);
  EXPECT_NE(found[1].text.find("part '𝄞' plays again"), std::string::npos) << found[1].text;
}

TEST(Diagnostics, SampleFilesAreCheckedOnDisk) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("pw-diag-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string wave = (dir / "good.wav").string();
  const std::string text = (dir / "text.wav").string();
  std::ofstream(wave, std::ios::binary) << std::string("RIFF\x24\0\0\0WAVEfmt ", 16);
  std::ofstream(text, std::ios::binary) << "hello, not a wave file";
  const std::string doc = "a = wave " + wave + " pan 0\r\nb = wave " + text +
                          " pan 0\r\nc = wave " + (dir / "none.wav").string() + " pan 0";
  const std::vector<Diagnostic> found = diagnose(doc);
  std::filesystem::remove_all(dir);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].line, 2);
  EXPECT_EQ(found[0].column, 10);
  EXPECT_EQ(static_cast<std::size_t>(found[0].length), text.size());
  EXPECT_NE(found[0].text.find("not a WAVE file"), std::string::npos);
  EXPECT_EQ(found[1].line, 3);
  EXPECT_NE(found[1].text.find("No such file"), std::string::npos) << found[1].text;
  EXPECT_EQ(formatDiagnostic("s.tab", found[1]).rfind("s.tab:3:10: error: sample file '", 0), 0u);
}

// A part name is found where the compiler read it, whatever the blanks and keywords
// around it and whatever part came before.
TEST(Diagnostics, PartNamesAtTheirRanges) {
  const std::string text =
      "k = kick\r\n"
      "part = A tempo = 120 notes = 8\r\nk |x-|\r\n"              // 2-3
      "part = AB tempo = 120 notes = 8\r\nk |x-|\r\n"             // 4-5
      "PART=\t  CD  tempo=1 notes=8\r\nk |x-|\r\n"                // 6-7
      "beat = A A tempo = 1 notes = 8\r\nk |x-|\r\n"              // 8-9
      "name = \xC3\xA9t\xC3\xA9 bpm = 1 beats = 8\r\nk |x-|\r\n"  // 10-11
      "symbol = A A tempo = 1 notes = 8\r\n"                      // 12, no grid line
      "song = A";
  using S = Severity;
  expectFound(diagnose(text, noSampleFiles()),
              {{4, 8, 2, S::Warning, "'AB' has 2 characters"},
               {6, 9, 3, S::Warning, "'CD ' has 3 characters"},
               {8, 8, 3, S::Warning, "'A A' has 3 characters"},
               {10, 8, 3, S::Warning, "has 3 characters"},
               {12, 10, 3, S::Warning, "'A A' has 3 characters"},
               {12, 10, 3, S::Warning, "part 'A A' has no grid lines"}});
}

TEST(Diagnostics, AFloodOfProblemsIsCut) {
  const std::string kicks = "k = kick\r\npart = A tempo = 120 notes = 8\r\nk |x-|\r\n";
  const std::vector<Diagnostic> song =
      diagnose(kicks + "song = " + std::string(100000, 'Z'), noSampleFiles());
  EXPECT_EQ(song.size(), static_cast<std::size_t>(kMaxDiagnosticsPerLine));
  EXPECT_EQ(song.back().column, 7 + kMaxDiagnosticsPerLine);

  std::string text = kicks + "song = A";
  for (int i = 0; i < 3000; ++i) text += "\r\nq |x-|";
  EXPECT_EQ(diagnose(text, noSampleFiles()).size(), static_cast<std::size_t>(kMaxDiagnostics));
}

TEST(Diagnostics, GridLinesOfADefinedSymbolAreNeverIgnoredInSilence) {
  const std::string text =
      "h = closed hat\r\n"                  // 1
      "part = A tempo = 120 notes = 8\r\n"  // 2
      "h |x-x-x-x-|x-x-x-x-|\r\n"           // 3
      "h |x-x-gg-gg|\r\n"                   // 4 more wrong characters than a slip
      "h x-x-x-x-|\r\n"                     // 5 no first bar line
      "h |x-x-x-x-x-x-x-x-|\r\n"            // 6 the bars of line 3 moved
      "  h' |x-x-x-x-|x-x-x-x-|\r\n"        // 7 a slip in the symbol
      "h\xC3\xA9|x-x-x-x-|x-x-x-x-|\r\n"    // 8 the same, two bytes wide
      "Hint: h |x-x-|\r\n"                  // 9 prose
      "song = A";
  using S = Severity;
  expectFound(diagnose(text, noSampleFiles()),
              {{4, 8, 1, S::Warning, "grid line ignored: 'g' at column 8"},
               {5, 3, 1, S::Warning, "needs '|' between its symbol 'h' and its grid"},
               {6, 4, 17, S::Warning, "differ from those of line 3 in part 'A'"},
               {7, 4, 1, S::Error, "grid line ignored: ''' at column 4 cannot stand in a symbol"},
               {8, 2, 1, S::Error, "'\xC3\xA9' at column 2 cannot stand in a symbol"}});
}

// A written metre that is none, or that the bars do not fit, is named at its text.
TEST(Diagnostics, AMetreThatCannotBeTheBarsIsNamed) {
  const std::string text =
      "k = kick\r\n"
      "part = A tempo = 120 notes = 8 metre = 6/8\r\nk |x-x-x-|\r\n"    // 2 fits
      "part = B tempo = 120 notes = 8 meter = 6/8\r\nk |x-x-x-x-|\r\n"  // 4 four quarters
      "part = C tempo = 120 notes = 8 metre = 6/7\r\nk |x-x-x-|\r\n"    // 6 no metre
      "song = ABC";
  using S = Severity;
  expectFound(
      diagnose(text, noSampleFiles()),
      {{4, 40, 3, S::Warning, "metre = 6/8 does not fit the bars of part 'B', which make 4/4"},
       {6, 40, 3, S::Warning, "metre = 6/7 is no metre"}});
}

// A voice line whose words name no voice still defines nothing, and says which voices
// its words are nearest to; the grid lines of its symbol point back at it.
TEST(Diagnostics, AVoiceLineInWordsOfNoVoiceNamesTheNearest) {
  const std::string text =
      "c = crash\r\n"                       // 1
      "  hh = hihat\r\n"                    // 2
      "Tempo = fast\r\n"                    // 3 a remark like no voice
      "z = zebra\r\n"                       // 4
      "part = A tempo = 120 notes = 8\r\n"  // 5
      "c |x-x-|\r\n"                        // 6
      "z |x-x-|\r\n"                        // 7
      "song = A";
  using S = Severity;
  expectFound(diagnose(text, noSampleFiles()),
              {{1, 1, 9, S::Warning,
                "'crash' names no voice, so this line defines no 'c': did you mean Crash 1 or "
                "Crash 2?"},
               {2, 3, 10, S::Warning, "did you mean Closed Hat, Pedal Hat or Open Hat?"},
               {4, 1, 9, S::Warning, "a voice line names one of Bass Drum, Snare Drum"},
               {6, 1, 1, S::Error,
                "'c' is defined by no voice or wave line above it: line 1 ('c = crash') is "
                "meant to define it but names no voice; this line plays MIDI note 0"},
               {7, 1, 1, S::Error, "line 4 ('z = zebra') is meant to define it"}});
  // What the lines mean is unchanged: they bind nothing.
  TablatureCompiler compiler;
  CompileRequest request;
  request.sampleProblem = nullptr;
  compileDocument(compiler, text, request);
  for (const std::string& symbol : compiler.state().voiceSymbols) EXPECT_EQ(symbol, "");
}

TEST(Diagnostics, WhatADocumentTakesFromTheCompilationBeforeIsNamed) {
  // After a song has played, New and a part with no song line and no voice lines: Play
  // plays the kept song line with the kept voice, and the problems list says so.
  TablatureCompiler played;
  CompileRequest request;
  request.sampleProblem = nullptr;
  compileDocument(played,
                  "h = closed hat\r\npart = G tempo = 120 notes = 8\r\nh |x-x-|\r\n"
                  "part = A tempo = 120 notes = 8\r\nh |x-x-|\r\nsong = GGA",
                  request);
  DiagnosticOptions options = noSampleFiles();
  options.kept = std::make_shared<const CompilerState>(played.state());
  const std::string next = "part = G tempo = 100 notes = 8\r\nh |x-x-|";
  const std::vector<Diagnostic> found = diagnose(next, options);
  using S = Severity;
  expectFound(found, {{1, 8, 1, S::Warning,
                       "no song line here: Play uses the song line kept from the previous "
                       "compilation, `GGA`"},
                      {2, 1, 1, S::Warning,
                       "Play uses the voice kept from the previous "
                       "compilation, Closed Hat"}});
  // And Play does play it: the kept song line over the new part.
  const CompiledDocument compiled = compileDocument(played, next, request);
  EXPECT_TRUE(compiled.song->playable());
  EXPECT_EQ(compiled.song->songLine(), "GGA");
  EXPECT_EQ(compiled.diagnostics.size(), 2u);

  // A fresh compiler has nothing to keep: nothing plays, as the list says.
  EXPECT_NE(diagnose(next, noSampleFiles())[0].text.find("nothing plays"), std::string::npos);

  // The document binds 'h' to a voice it binds again, so the kept voice of 'h' plays.
  expectFound(diagnose("h = snare\r\nx = snare\r\npart = G tempo = 100 notes = 8\r\n"
                       "h |x-x-|\r\nsong = G",
                       options),
              {{4, 1, 1, S::Warning,
                "Play uses the voice kept from the previous compilation, "
                "Closed Hat"}});
  // A symbol that names nothing plays the sound before it, here the kept one.
  expectFound(diagnose("part = G tempo = 100 notes = 8\r\nq |x-x-|\r\nsong = G", options),
              {{2, 1, 1, S::Error,
                "this line plays the sound kept from the previous compilation, Closed Hat"}});
}

}  // namespace
}  // namespace pulsewright
