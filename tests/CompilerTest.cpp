#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "tablature/DocumentKit.h"
#include "tablature/DocumentMix.h"
#include "tablature/TablatureCompiler.h"
#include "tests/support/TestDocuments.h"

namespace pulsewright {
namespace {

class RecordingListener : public CompileListener {
 public:
  void message(int lineNumber, std::string_view text) override {
    messages.push_back(std::to_string(lineNumber) + ": " + std::string(text));
  }
  void lineClassified(int, const LineTests&) override { ++lines; }
  std::vector<std::string> messages;
  int lines = 0;
};

struct Compiled {
  TablatureCompiler compiler;
  RecordingListener listener;
  void run(const std::string& text, const PadMap& map = defaultPadMap()) {
    listener.messages.clear();
    listener.lines = 0;
    compiler.compile(text, map, &listener);
  }
  StateView s() const { return stateView(compiler); }
};

const std::string kExample = doc({
    "meta title = Basic rock",
    "k = kick drum",
    "s = snare",
    "h = closed hi-hat",
    R"(w1 = wave C:\Samples\clap.wav pan -20)",
    "part = A tempo = 120 notes = 8",
    "h |x-x-x-x-|x-x-x-x-|",
    "s |--x---x-|--x---x-|",
    "k |x---x---|x---x-x-|",
    "part = B tempo = 120 notes = 8 program = 0",
    "h |o-x-o-x-|o-x-o-x-|",
    "w1 |----x---|----x---|",
    "song = AAB",
});

TEST(Compiler, ExampleDocumentFillsEveryTable) {
  Compiled c;
  c.run(kExample);
  const StateView s = c.s();
  EXPECT_TRUE(c.listener.messages.empty());
  ASSERT_EQ(s.partTable.size(), 3u);
  EXPECT_EQ(s.partTable[0].program, 0);
  EXPECT_EQ(s.partTable[0].name, "");
  EXPECT_EQ(s.partTable[0].stepTimes, std::vector<std::int16_t>{0});
  EXPECT_EQ(s.partTable[0].stepEvents, std::vector<std::string>{""});
  EXPECT_EQ(s.partTable[1].name, "A");
  EXPECT_EQ(s.partTable[1].program, -1);
  EXPECT_EQ(s.partTable[2].name, "B");
  EXPECT_EQ(s.partTable[2].program, 0);

  EXPECT_EQ(s.voiceSymbols[index(DrumVoice::BassDrum)], "k");
  EXPECT_EQ(s.voiceSymbols[index(DrumVoice::SnareDrum)], "s");
  EXPECT_EQ(s.voiceSymbols[index(DrumVoice::ClosedHat)], "h");
  int bound = 0;
  for (const std::string& sym : s.voiceSymbols) bound += sym.empty() ? 0 : 1;
  EXPECT_EQ(bound, 3);

  EXPECT_EQ(s.waveNames, (std::vector<std::string>{"", "w1"}));
  EXPECT_EQ(s.waveFiles, (std::vector<std::string>{"", R"(C:\Samples\clap.wav)"}));
  EXPECT_EQ(s.wavePans, (std::vector<std::string>{"", "-20"}));
  EXPECT_EQ(s.haveWaves, 1);
  EXPECT_EQ(s.songLine, "AAB");
  EXPECT_EQ(s.metaTitle, "Basic rock");
  EXPECT_EQ(s.partName, "B");
  EXPECT_EQ(s.partTempo, "120");
  EXPECT_EQ(s.partNotes, "8");
  EXPECT_EQ(s.partProgram, "0");

  const PartRecord& a = s.partTable[1];
  ASSERT_EQ(a.stepTimes.size(), 18u);
  for (std::int16_t t : a.stepTimes) EXPECT_EQ(t, 250);
  EXPECT_EQ(a.stepEvents[0], "42,5|0,0|36,5|");
  EXPECT_EQ(a.stepEvents[1], "0,0|0,0|0,0|");
  EXPECT_EQ(a.stepEvents[2], "42,5|38,5|0,0|");
  EXPECT_EQ(a.stepEvents[16], "");
  EXPECT_EQ(a.stepEvents[17], "");

  const PartRecord& b = s.partTable[2];
  ASSERT_EQ(b.stepEvents.size(), 18u);
  EXPECT_EQ(b.stepEvents[0], "42,5|0,0|");
  EXPECT_EQ(b.stepEvents[4], R"(42,5|-20#C:\Samples\clap.wav,5|)");
  EXPECT_EQ(s.soundRef, R"(-20#C:\Samples\clap.wav)");
}

using Times = std::vector<std::int16_t>;
using Events = std::vector<std::string>;

// A raw string written over several lines, its line ends turned into CR LF; a line end
// right after the opening quote is dropped.
std::string tab(std::string_view text) {
  if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
  std::string out;
  for (char ch : text) {
    if (ch == '\n') out += '\r';
    out += ch;
  }
  return out;
}

std::string bound(const CompilerState& s) {
  std::string out;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (!s.voiceSymbols[v].empty())
      out += std::string(kVoiceCaptions[v]) + "=" + s.voiceSymbols[v] + ";";
  }
  return out;
}

TEST(Compiler, VoiceWordsInEitherOrderBindExactlyOneVoice) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Kick Drum = k", "Bass Drum=k;"},
      {"KICK = k", "Bass Drum=k;"},
      {"k = kick", "Bass Drum=k;"},
      {"k = Bass Drum", "Bass Drum=k;"},
      {"k = kickdrum", "Bass Drum=k;"},
      {"k = kickboxing", "Bass Drum=k;"},
      {"kick = k and more", "Bass Drum=k;"},
      {"snare drum = s", "Snare Drum=s;"},
      {"h = Closed Hi-Hat", "Closed Hat=h;"},
      {"h = closedhat", "Closed Hat=h;"},
      {"closed hi hat = h", "Closed Hat=h;"},
      {"closedhihat = h", "Closed Hat=h;"},
      {"p = pedal hi-hat", "Pedal Hat=p;"},
      {"open hat = o", "Open Hat=o;"},
      {"TOM ONE = t", "Tom 1=t;"},
      {"t = tom1", "Tom 1=t;"},
      {"t=Tom 1", "Tom 1=t;"},
      {"tom two = t", "Tom 2=t;"},
      {"t = tom three", "Tom 3=t;"},
      {"tom4 = t", "Tom 4=t;"},
      {"ride cymbal = r", "Ride=r;"},
      {"r = ride cymbal", "Ride=r;"},
      {"r = RIDE CYMBOL", "Ride=r;"},
      {"ride = r", "Ride=r;"},
      {"b = cymbal bell", "Bell=b;"},
      {"bell cymbal = b", "Bell=b;"},
      {"cymbol bell = b", "Bell=b;"},
      {"b = bell", "Bell=b;"},
      {"crash one = c", "Crash 1=c;"},
      {"c = crash2", "Crash 2=c;"},
      {"perc 1 = p", "Perc 1=p;"},
      {"p = perc two", "Perc 2=p;"},
      {"handclaps = c", "Claps=c;"},
      {"c = hand clap", "Claps=c;"},
      {"cow bell = cb", "Cow Bell=cb;"},
      {"cb = cowbell", "Cow Bell=cb;"},
      {"a+b = cowbell", "Cow Bell=a+b;"},
      // Both forms match; the later one in the compiler's order wins.
      {"tom1 = tom 1", "Tom 1=tom1;"},
      {"crash1 = crash 1", "Crash 1=crash;"},
      // No voice at all.
      {"k = kik", ""},
      {"kick =", ""},
      {"= kick", ""},
      {"bells = b", ""},
      {"xkick = k", ""},
      {"k == kick", ""},
      {"tom = t", ""},
      {"hi hat = h", ""},
  };
  for (const auto& [line, expected] : cases) {
    Compiled c;
    c.run(line);
    EXPECT_EQ(bound(c.s()), expected) << line;
  }
}

TEST(Compiler, OneLineCanBeOfSeveralKinds) {
  Compiled c;
  c.run(tab(R"(
clap = wave C:\x.wav pan 0
part = snare tempo = 90 notes = 8)"));
  EXPECT_EQ(c.s().waveNames, (Events{"", "clap"}));
  EXPECT_EQ(c.s().waveFiles, (Events{"", R"(C:\x.wav)"}));
  EXPECT_EQ(c.s().wavePans, (Events{"", "0"}));
  ASSERT_EQ(c.s().partTable.size(), 2u);
  EXPECT_EQ(c.s().partTable[1].name, "snare");
  EXPECT_EQ(bound(c.s()), "Snare Drum=part;Claps=wave;");
}

TEST(Compiler, SectionLinesNeedNameTempoAndNoteSize) {
  struct Case {
    std::string line;
    bool section;
    std::string name, tempo, notes;
    int program;
  };
  const std::vector<Case> cases = {
      {"part = A tempo = 120 notes = 8", true, "A", "120", "8", -1},
      {"part = A tempo = 120", false, "", "", "", 0},
      {"part = A notes = 16", false, "", "", "", 0},
      {"part=A,tempo=100,notes=8", false, "", "", "", 0},
      {"part = A B tempo = 100 notes = 8", true, "A B", "100", "8", -1},
      {"part = A  tempo = 90 notes = 8", true, "A ", "90", "8", -1},
      {"part = Verse 1 tempo = 90 notes = 8", true, "Verse 1", "90", "8", -1},
      {"Beat = X bpm = 100 beats = 4", true, "X", "100", "4", -1},
      {"  NAME = C notes = 16 speed = 90 program = 5", true, "C", "90", "16", 5},
      {"symbol = Q tempo = 60 notes = 4 program = 40000", true, "Q", "60", "4", 0},
      {"part = R tempo = 60 notes = 4 program = 32767", true, "R", "60", "4", 32767},
      {"part = N tempo = 60 notes = 4 program = -5", true, "N", "60", "4", -1},
      {"part = A tempo = 90 notes = 8 bpm = 200 notes = 4", true, "A", "90", "8", -1},
      {"part = A mytempo = 70 notes = 8", true, "A", "70", "8", -1},
  };
  for (const Case& k : cases) {
    Compiled c;
    c.run(k.line);
    ASSERT_EQ(c.s().partTable.size(), k.section ? 2u : 1u) << k.line;
    EXPECT_EQ(c.s().partName, k.name) << k.line;
    EXPECT_EQ(c.s().partTempo, k.tempo) << k.line;
    EXPECT_EQ(c.s().partNotes, k.notes) << k.line;
    if (k.section) {
      EXPECT_EQ(c.s().partTable[1].name, k.name) << k.line;
      EXPECT_EQ(c.s().partTable[1].program, k.program) << k.line;
      EXPECT_FALSE(c.s().partTable[1].hasSteps()) << k.line;
    }
  }
  Compiled c;
  c.run("part = P tempo = 1 notes = 1 program = 40000");
  EXPECT_EQ(c.s().partProgram, "40000");
}

TEST(Compiler, WaveSampleFields) {
  struct Case {
    std::string line, name, file, pan;
  };
  const std::vector<Case> cases = {
      {R"(t = wave C:\Samples\timpani.wav pan 5)", "t", R"(C:\Samples\tim)", "5"},
      {"w = wave a.wav pan -30", "w", "a.wav", "-30"},
      {"w = wave a.wav pan = -5", "w", "a.wav", "-5"},
      {"w = wave a.wav pan=+15", "w", "a.wav", "15"},
      {"w = wave a.wav PAN 0", "w", "a.wav", "0"},
      {"w = wave a.wav pan 1 pan 2", "w", "a.wav", "1"},
      {"w=WAVE   My Samples/a b.wav   Pan 3", "w", "My Samples/a b.wav", "3"},
      {"w = wave span.wav pan 4", "w", "s", "4"},
      {"w = wave a.wav pan + 5", "w", "a.wav", ""},
      {"w = wave x", "", "", ""},
  };
  for (const Case& k : cases) {
    Compiled c;
    c.run(k.line);
    EXPECT_EQ(c.s().haveWaves, 1) << k.line;
    EXPECT_EQ(c.s().waveNames, (Events{"", k.name})) << k.line;
    EXPECT_EQ(c.s().waveFiles, (Events{"", k.file})) << k.line;
    EXPECT_EQ(c.s().wavePans, (Events{"", k.pan})) << k.line;
  }
  // A field that is not found does not take the value of the line before.
  Compiled c;
  c.run(tab(R"(
a = wave a.wav pan 1
b = wave x)"));
  EXPECT_EQ(c.s().waveNames, (Events{"", "a", ""}));
  EXPECT_EQ(c.s().waveFiles, (Events{"", "a.wav", ""}));
  EXPECT_EQ(c.s().wavePans, (Events{"", "1", ""}));
  // Nor that of the entry an earlier compilation left at the same index.
  c.run("b = wave x");
  EXPECT_EQ(c.s().waveNames, (Events{"", ""}));
  EXPECT_EQ(c.s().waveFiles, (Events{"", ""}));
  EXPECT_EQ(c.s().wavePans, (Events{"", ""}));
}

TEST(Compiler, GridLinesWithABlankOrWithoutABarAreIgnored) {
  Compiled c;
  c.run(tab(R"(
k = kick
part = A tempo = 120 notes = 8
k |x-x- x-x-|
k x-x-x-x-|
k |x-a-|
part = B tempo = 120 notes = 8
  k|x-x-x-x-|  	)"));
  EXPECT_TRUE(c.listener.messages.empty());
  EXPECT_FALSE(c.s().partTable[1].hasSteps());
  EXPECT_EQ(c.s().partTable[2].stepEvents,
            (Events{"36,5|", "0,0|", "36,5|", "0,0|", "36,5|", "0,0|", "36,5|", "0,0|", "", ""}));
}

TEST(Compiler, SymbolsAreCaseSensitiveAndAnUnboundOneKeepsThePreviousSound) {
  Compiled c;
  c.run(tab(R"(
k = kick
s = snare
part = A tempo = 120 notes = 8
s |x-|
K |x-|
k |x-|)"));
  EXPECT_EQ(c.s().partTable[1].stepEvents[0], "38,5|38,5|36,5|");
  // The next compilation starts with the sound the last one ended on.
  c.run(tab(R"(
part = B tempo = 120 notes = 8
q |-x|)"));
  EXPECT_EQ(c.s().partTable[1].stepEvents, (Events{"0,0|", "36,5|", "", ""}));
}

// Every item of every part with where it was written.
std::string itemsWithSources(const Timeline& song) {
  std::string out;
  for (const TimelinePart& part : song.parts()) {
    for (const TimelineStep& step : part.steps) {
      for (const TimelineItem& item : part.itemsOf(step)) {
        out += std::string(1, item.mark) + std::to_string(item.level) + "@" +
               std::to_string(item.source.line) + ":" + std::to_string(item.source.column) + ":" +
               std::to_string(item.source.utf16) + " ";
      }
      out += "| ";
    }
    out += "\n";
  }
  return out;
}

// Without a listener the compiler copies what it keeps only when it must: what it keeps
// and makes must be the same, including for lines longer than their part's steps, a
// bracket in the middle of a line and a symbol that plays the sound before it.
TEST(Compiler, WhatIsKeptAndMadeIsTheSameWithoutAListener) {
  const std::string first = tab(R"(
k = kick
s = snare
w = wave /s/clap.wav pan 10
part = A tempo = 120 notes = 8
k |x-x-|x-X-|
s |--o-|[xxx]-5|9-x-|
w |x---|x---|x---|x-
q |x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-x-|
part = B tempo = 90 notes = 16
s |x-|
k |x-x-x-|)");
  const std::string second = tab(R"(
part = C tempo = 120 notes = 8
s |x-[xx]-|
z |-x|)");
  Compiled heard;
  TablatureCompiler silent;
  for (const std::string& text : {first, second}) {
    heard.run(text);
    silent.compile(text, defaultPadMap(), nullptr);
    const CompilerState& a = heard.compiler.state();
    const CompilerState& b = silent.state();
    EXPECT_EQ(a.gridSymbol, b.gridSymbol);
    EXPECT_EQ(a.soundRef, b.soundRef);
    EXPECT_EQ(a.soundVoice, b.soundVoice);
    EXPECT_EQ(partTableOf(*heard.compiler.song()).size(), partTableOf(*silent.song()).size());
    const auto heardParts = partTableOf(*heard.compiler.song());
    const auto silentParts = partTableOf(*silent.song());
    for (std::size_t p = 0; p < heardParts.size() && p < silentParts.size(); ++p) {
      EXPECT_EQ(heardParts[p].stepTimes, silentParts[p].stepTimes) << p;
      EXPECT_EQ(heardParts[p].stepEvents, silentParts[p].stepEvents) << p;
    }
    EXPECT_EQ(itemsWithSources(*heard.compiler.song()), itemsWithSources(*silent.song()));
  }
  // "z" names nothing: it plays the sound of the line before it, the snare.
  EXPECT_EQ(silent.state().gridSymbol, "z");
  EXPECT_EQ(silent.state().soundRef, "38");
  const auto c = partTableOf(*silent.song())[1];
  EXPECT_EQ(c.stepEvents[0], "38,5|0,0|");
  EXPECT_EQ(c.stepEvents[1], "0,0|38,5|");
}

TEST(Compiler, MissingSectionMessageOnlyUntilASectionLineHasBeenSeen) {
  const std::string text = tab(R"(
k = kick
k |x-|
k |x-|
part = A tempo = 120 notes = 8
k |x-|)");
  const std::string message(kMissingSectionMessage);
  Compiled c;
  c.run(text);
  EXPECT_EQ(c.listener.messages, (Events{"2: " + message, "3: " + message}));
  const PartRecord first = c.s().partTable[0];
  EXPECT_EQ(first.stepTimes, (Times{0, 0, 0, 0}));  // no tempo known yet
  EXPECT_EQ(first.stepEvents, (Events{"36,5|36,5|", "0,0|0,0|", "", ""}));
  EXPECT_EQ(c.s().partTable[1].stepTimes, (Times{250, 250, 250, 250}));

  c.run(text);
  EXPECT_TRUE(c.listener.messages.empty());
  // The placeholder now uses the tempo and note size the last section line left.
  EXPECT_EQ(c.s().partTable[0].stepTimes, (Times{250, 250, 250, 250}));
  EXPECT_EQ(c.s().partTable[0].stepEvents, first.stepEvents);
}

TEST(Compiler, WaveTableIsRebuiltByEachCompilation) {
  Compiled c;
  c.run(tab(R"(
a = wave a.wav pan 1
b = wave b.wav pan 2
c = wave c.wav pan 3)"));
  EXPECT_EQ(c.s().waveNames, (Events{"", "a", "b", "c"}));
  // Without a wave-sample line the old table is not consulted.
  c.run(tab(R"(
k = kick
part = A tempo = 120 notes = 8
k |x-|
a |x-|)"));
  EXPECT_EQ(c.s().haveWaves, 0);
  EXPECT_EQ(c.s().partTable[1].stepEvents[0], "36,5|36,5|");
  c.run("z = wave z.wav pan 9");
  EXPECT_EQ(c.s().waveNames, (Events{"", "z"}));
  EXPECT_EQ(c.s().waveFiles, (Events{"", "z.wav"}));
  EXPECT_EQ(c.s().wavePans, (Events{"", "9"}));
}

TEST(Compiler, DefinitionsCarryOverToTheNextCompilation) {
  Compiled c;
  c.run(tab(R"(
k = kick
song = AB
meta title = T
part = A tempo = 120 notes = 8)"));
  c.run(tab(R"(
part = B tempo = 60 notes = 4
k |x-|)"));
  EXPECT_EQ(c.s().partTable[1].stepEvents[0], "36,5|");
  EXPECT_EQ(c.s().partTable[1].stepTimes, (Times{1000, 1000, 1000, 1000}));
  EXPECT_EQ(c.s().songLine, "AB");
  EXPECT_EQ(c.s().metaTitle, "T");
}

TEST(Compiler, MetadataAndSongValues) {
  Compiled c;
  c.run(tab(R"(
meta author = A
meta author =
METATITLE=x
meta   genre=Funk  
meta artist = a = b
meta description = d
song = AAB
songs = X)"));
  EXPECT_EQ(c.s().metaAuthor, "");
  EXPECT_EQ(c.s().metaTitle, "x");
  EXPECT_EQ(c.s().metaGenre, "Funk  ");
  EXPECT_EQ(c.s().metaArtist, "a = b");
  EXPECT_EQ(c.s().metaDescription, "d");
  EXPECT_EQ(c.s().songLine, "AAB");
}

TEST(Compiler, GridLinesOfAPartShareItsSteps) {
  Compiled c;
  c.run(tab(R"(
h = closed hat
k = kick
part = A tempo = 120 notes = 8
h |x-x-x-x-|
k |x-|
h |x-|)"));
  const StateView view = c.s();
  const PartRecord& a = view.partTable[1];
  EXPECT_EQ(a.stepEvents, (Events{"42,5|36,5|42,5|", "0,0|0,0|0,0|", "42,5|", "0,0|", "42,5|",
                                  "0,0|", "42,5|", "0,0|", "", ""}));
  EXPECT_EQ(a.stepTimes, Times(10, 250));
}

TEST(Compiler, LinesLongerAndShorterThanAPartsFirstKeepLineOrderInEachStep) {
  // The second line reaches past the first's steps, the others stop short; each line's
  // tail steps take its duration, even where a longer line has steps.
  Compiled c;
  c.run(tab(R"(
h = closed hat
k = kick
part = A tempo = 120 notes = 8
k |x-|
h |x-X[oo]-5|
zz |-x-x|
k |9|)"));
  const StateView view = c.s();
  const PartRecord& a = view.partTable[1];
  EXPECT_EQ(a.stepEvents, (Events{"36,5|42,5|0,0|36,9|", "0,0|0,0|42,5|", "42,7|0,0|", "42,5|42,5|",
                                  "42,5|", "0,0|", "42,5|", "", ""}));
  EXPECT_EQ(a.stepTimes, Times(9, 250));
}

TEST(Compiler, TheGridsLastCharacterIsNeverRead) {
  Compiled c;
  c.run(tab(R"(
h = closed hat
part = A tempo = 120 notes = 8
h |x-x-|
part = B tempo = 120 notes = 8
h |x-x-
part = C tempo = 120 notes = 8
h |-x-x
part = D tempo = 120 notes = 8
h |||)"));
  const StateView view = c.s();
  const PartTable& t = view.partTable;
  EXPECT_EQ(t[1].stepEvents, (Events{"42,5|", "0,0|", "42,5|", "0,0|", "", ""}));
  EXPECT_EQ(t[2].stepEvents, (Events{"42,5|", "0,0|", "42,5|", "", ""}));
  EXPECT_EQ(t[3].stepEvents, (Events{"0,0|", "42,5|", "0,0|", "", ""}));
  EXPECT_EQ(t[3].stepTimes, Times(5, 250));
  EXPECT_EQ(t[4].stepEvents, (Events{"", ""}));
  EXPECT_EQ(t[4].stepTimes, (Times{250, 250}));
}

TEST(Compiler, TupletDivisorCountsTheCharactersBetweenTheBrackets) {
  Compiled c;
  c.run(tab(R"(
h = closed hat
part = A tempo = 120 notes = 8
h |[]x-|
part = B tempo = 120 notes = 8
h |[xx]-|
part = C tempo = 120 notes = 8
h |x-[xxx]-|
part = D tempo = 120 notes = 8
h |[x|x]-|
part = E tempo = 120 notes = 16
h |[xxx]-x-x-
part = F tempo = 120 notes = 8
h |[xx][xxx]-|)"));
  const StateView view = c.s();
  const PartTable& t = view.partTable;
  EXPECT_EQ(t[1].stepTimes, (Times{250, 250, 250, 250}));
  EXPECT_EQ(t[2].stepTimes, (Times{125, 125, 250, 250, 250}));
  EXPECT_EQ(t[3].stepTimes, (Times{250, 250, 83, 83, 83, 250, 250, 250}));
  EXPECT_EQ(t[4].stepTimes, (Times{83, 83, 250, 250, 250}));
  EXPECT_EQ(t[5].stepTimes, (Times{41, 41, 41, 125, 125, 125, 125, 125, 125}));
  EXPECT_EQ(t[6].stepTimes, (Times{125, 125, 83, 83, 83, 250, 250, 250}));
  EXPECT_EQ(c.s().tupletDivisor, 1);
}

TEST(Compiler, ADivisorWhoseBracketIsNeverClosedInTheReadPartCarriesOn) {
  Compiled c;
  c.run(tab(R"(
h = closed hat
part = A tempo = 120 notes = 8
h |x[xx]
h |x-|
part = B tempo = 120 notes = 8
h |x[x-|
part = C tempo = 120 notes = 8
h |x-|
h |[xx])"));
  const StateView view = c.s();
  const PartTable& t = view.partTable;
  // The closing bracket is the last character: the divisor 2 stays for the next line.
  EXPECT_EQ(t[1].stepTimes, (Times{125, 125, 125, 125, 125}));
  EXPECT_EQ(t[1].stepEvents[0], "42,5|42,5|");
  // A "[" with no "]" after it: the rest of the line is outside brackets.
  EXPECT_EQ(t[2].stepTimes, (Times{125, 250, 250, 250, 250}));
  EXPECT_EQ(t[3].stepTimes, (Times{125, 125, 125, 125}));
  EXPECT_EQ(c.s().tupletDivisor, 2);
  // ...and into the next compilation.
  c.run(tab(R"(
part = D tempo = 120 notes = 8
h |x-]-|)"));
  EXPECT_EQ(c.s().partTable[1].stepTimes, (Times{125, 125, 250, 250, 250}));
}

TEST(Compiler, DurationsThatCannotBeComputedOrStoredAreLeftAlone) {
  Compiled c;
  c.run(tab(R"(
h = closed hat
part = A tempo = 0 notes = 8
h |x-|
part = B tempo = 120 notes = 0
h |x-|
part = C tempo = 1 notes = 8
h |x-|
part = D tempo = 1 notes = 7
h |x-|
part = E tempo = 1 notes = 4
h |[xx]-|
h |x-|)"));
  const StateView view = c.s();
  const PartTable& t = view.partTable;
  EXPECT_EQ(t[1].stepTimes, (Times{0, 0, 0, 0}));
  EXPECT_EQ(t[2].stepTimes, (Times{0, 0, 0, 0}));
  EXPECT_EQ(t[3].stepTimes, (Times{30000, 30000, 30000, 30000}));
  EXPECT_EQ(t[4].stepTimes, (Times{0, 0, 0, 0}));  // 34285 ms does not fit
  // 60000 ms does not fit either, and does not overwrite what the first line stored.
  EXPECT_EQ(t[5].stepTimes, (Times{30000, 30000, 0, 0, 0}));
  EXPECT_EQ(t[5].stepEvents[0], "42,5|42,5|");
}

TEST(Compiler, SoundLookupOrder) {
  Compiled c;
  c.run(tab(R"(
k = kick
k = wave a.wav pan 1
w = wave a.wav pan 1
w = wave b.wav pan 2
x = ride
x = closed hat
x = open hat
y = pedal
y = cowbell
part = A tempo = 120 notes = 8
k |x-|
w |x-|
x |x-|
y |x-|)"));
  // A voice beats a sample; a later sample entry beats an earlier one; among voices the
  // hats come last, open, closed, then pedal.
  EXPECT_EQ(c.s().partTable[1].stepEvents[0], "36,5|2#b.wav,5|42,5|44,5|");
}

TEST(Compiler, LinesAreSplitAtCrLfOnly) {
  Compiled c;
  c.run("");
  EXPECT_EQ(c.listener.lines, 0);
  ASSERT_EQ(c.s().partTable.size(), 1u);
  EXPECT_EQ(c.s().partTable[0].stepTimes, Times{0});
  EXPECT_EQ(c.s().partTable[0].stepEvents, Events{""});

  c.run("k = kick\r\n");
  EXPECT_EQ(c.listener.lines, 2);
  EXPECT_EQ(bound(c.s()), "Bass Drum=k;");

  for (const char* text : {"s = snare\nh |x-|", "s = snare\rh |x-|"}) {
    Compiled lone;
    lone.run(text);
    EXPECT_EQ(lone.listener.lines, 1);
    EXPECT_EQ(bound(lone.s()), "");
  }
}

TEST(Compiler, PadMapIsReadWhenTheGridLineIsCompiled) {
  const std::string text = tab(R"(
k = kick
part = A tempo = 120 notes = 8
k |x-|)");
  Compiled c;
  PadMap map = defaultPadMap();
  map[index(DrumVoice::BassDrum)] = "99";
  c.run(text, map);
  EXPECT_EQ(c.s().partTable[1].stepEvents[0], "99,5|");
  map[index(DrumVoice::BassDrum)] = "not a number";
  c.run(text, map);
  EXPECT_EQ(c.s().partTable[1].stepEvents[0], "not a number,5|");
}

TEST(Compiler, LevelsOfEveryGridCharacter) {
  Compiled c;
  c.run(tab(R"(
h = closed hat
part = A tempo = 120 notes = 8
h |0123456789xXoO-|)"));
  EXPECT_EQ(c.s().partTable[1].stepEvents,
            (Events{"42,0|", "42,1|", "42,2|", "42,3|", "42,4|", "42,5|", "42,6|", "42,7|", "42,8|",
                    "42,9|", "42,5|", "42,7|", "42,5|", "42,7|", "0,0|", "", ""}));
}

// The kit line: any case and blanks, the last one wins, and lines that only look alike
// name no kit.
TEST(DocumentKit, TheLastKitLineNamesTheKit) {
  EXPECT_EQ(documentKit("meta title = A\r\n  META  Kit=  The Black Pearl 1.0  \r\nk = kick\r\n"),
            "The Black Pearl 1.0");
  EXPECT_EQ(documentKit("meta kit = One\nmeta kit = Two\n"), "Two");
  EXPECT_EQ(documentKit("meta kit = One\nmeta kit =   \n"), "One");
  for (const char* none :
       {"metakit = X", "meta kits = X", "meta kit X", "k = kick", "# meta kit = X", ""}) {
    EXPECT_EQ(documentKit(none), "") << none;
  }
}

// The mix line: read in any case and spacing, written back in one form, out of range
// values held to the mixer's, and a change that replaces the line, adds it first or
// takes it out with its line end.
TEST(DocumentMix, TheMixLineReadsWritesAndChangesInPlace) {
  const DocumentMix mix = documentMix(
      "k = kick\r\n META mix=snare drum -6.5 dB PAN -40 solo;Ride 99dB mute;"
      " Nothing 3 dB; Tom 1 pan 300\r\n");
  EXPECT_EQ(mix.voices[index(DrumVoice::SnareDrum)], (VoiceMix{-6.5, -40, false, true}));
  EXPECT_EQ(mix.voices[index(DrumVoice::Ride)], (VoiceMix{kMixMaxGainDb, 0, true, false}));
  EXPECT_EQ(mix.voices[index(DrumVoice::Tom1)], (VoiceMix{0, 100, false, false}));
  EXPECT_TRUE(mix.voices[index(DrumVoice::BassDrum)].plain());
  EXPECT_EQ(formatMix(mix), "Snare Drum -6.5 dB pan -40 solo; Tom 1 pan 100; Ride 12 dB mute");
  EXPECT_TRUE(mix.sounds(index(DrumVoice::SnareDrum)));
  EXPECT_FALSE(mix.sounds(index(DrumVoice::BassDrum)));  // another voice is soloed
  EXPECT_FLOAT_EQ(mix.voices[index(DrumVoice::SnareDrum)].rightGain(),
                  static_cast<float>(std::pow(10, -6.5 / 20) * 0.6));
  EXPECT_TRUE(documentMix("k = kick\r\nmetamix = Ride mute\r\n").plain());

  const std::string text = "k = kick\r\nmeta mix = Ride mute\r\nsong = A\r\n";
  DocumentMix louder = documentMix(text);
  EXPECT_FALSE(mixLineChange(text, louder));  // already so
  louder.voices[index(DrumVoice::BassDrum)].gainDb = 3;
  EXPECT_EQ(*mixLineChange(text, louder),
            (TextChange{10, 20, "meta mix = Bass Drum 3 dB; Ride mute"}));
  EXPECT_EQ(*mixLineChange(text, DocumentMix{}), (TextChange{10, 22, ""}));
  EXPECT_EQ(*mixLineChange("k = kick\r\n", louder),
            (TextChange{0, 0, "meta mix = Bass Drum 3 dB; Ride mute\r\n"}));
}

}  // namespace
}  // namespace pulsewright
