#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tablature/TablatureCompiler.h"

namespace pulsewright {
namespace {

class RecordingListener : public CompileListener {
 public:
  void message(int lineNumber, std::string_view text) override {
    messages.push_back(std::to_string(lineNumber) + ": " + std::string(text));
  }
  std::vector<std::string> messages;
};

// Lines joined with CR LF, as the editor hands them over.
std::string doc(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

struct Compiled {
  TablatureCompiler compiler;
  RecordingListener listener;
  void run(const std::string& text, const PadMap& map = defaultPadMap()) {
    listener.messages.clear();
    compiler.compile(text, map, &listener);
  }
  const CompilerState& s() const { return compiler.state(); }
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
  const CompilerState& s = c.s();
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

}  // namespace
}  // namespace pulsewright
