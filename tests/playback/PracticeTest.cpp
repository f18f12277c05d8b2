#include <gtest/gtest.h>

#include "playback/Practice.h"
#include "tests/support/TestDocuments.h"

namespace pulsewright {
namespace {

std::string at(const TimelinePart& part, int step) {
  const BarBeat b = barBeatOf(part, step);
  return std::to_string(b.bar) + ":" + std::to_string(b.beat);
}

const TimelinePart& firstPart(TablatureCompiler& compiler, const std::string& text) {
  static std::shared_ptr<const Song> kept;
  kept = compileSong(compiler, "k = kick\r\n" + text + "\r\nsong = A");
  return kept->timeline.parts()[1];
}

TEST(Practice, BarAndBeatFollowThePartsBarLinesAndMetre) {
  TablatureCompiler compiler;
  const TimelinePart& waltz =
      firstPart(compiler, "part = A tempo = 120 notes = 8\r\nk |x-x-x-|x-x-x-|");
  ASSERT_EQ(waltz.metre, (Metre{3, 4, true}));
  EXPECT_EQ(at(waltz, 0), "1:1");
  EXPECT_EQ(at(waltz, 5), "1:3");
  EXPECT_EQ(at(waltz, 6), "2:1");  // 4/4 counting would say 1:4
  EXPECT_EQ(at(waltz, 11), "2:3");

  const TimelinePart& four =
      firstPart(compiler, "part = A tempo = 120 notes = 16\r\nk |x-x-x-x-x-x-x-x-|x-x-x-x-|");
  EXPECT_EQ(at(four, 3), "1:1");
  EXPECT_EQ(at(four, 4), "1:2");
  EXPECT_EQ(at(four, 15), "1:4");
  EXPECT_EQ(at(four, 16), "2:1");
  EXPECT_EQ(at(four, 19), "2:1");  // a short last bar is still its own bar

  // Compound time counts dotted quarters: 12/8 has four beats.
  const TimelinePart& twelve =
      firstPart(compiler, "part = A tempo = 120 notes = 8\r\nk |x--x--x--x--|x--x--x--x--|");
  ASSERT_EQ(twelve.metre, (Metre{12, 8, true}));
  EXPECT_EQ(at(twelve, 2), "1:1");
  EXPECT_EQ(at(twelve, 3), "1:2");
  EXPECT_EQ(at(twelve, 12), "2:1");

  // Triplets weigh a third of their note.
  const TimelinePart& triplets =
      firstPart(compiler, "part = A tempo = 120 notes = 4\r\nk |[x--][x--][x--][x--]|[x--]|");
  EXPECT_EQ(at(triplets, 2), "1:1");
  EXPECT_EQ(at(triplets, 3), "1:2");
  EXPECT_EQ(at(triplets, 12), "2:1");

  // No bar lines inside: bars of the part's metre (4/4) from its first step.
  const TimelinePart& open =
      firstPart(compiler, "part = A tempo = 120 notes = 8\r\nk |x-x-x-x-x-x-");
  EXPECT_EQ(at(open, 2), "1:2");
  EXPECT_EQ(at(open, 8), "2:1");

  // 6/8: two dotted-quarter beats a bar.
  TimelinePart sixEight;
  sixEight.metre = Metre{6, 8, true};
  sixEight.musics.push_back(StepMusic{120, 8, 1});
  sixEight.steps.assign(12, TimelineStep{250, 1, 0});
  sixEight.bars = {0, 6, 12};
  EXPECT_EQ(at(sixEight, 2), "1:1");
  EXPECT_EQ(at(sixEight, 3), "1:2");
  EXPECT_EQ(at(sixEight, 6), "2:1");
  EXPECT_EQ(at(sixEight, 11), "2:2");
  EXPECT_EQ(at(TimelinePart{}, 3), "1:1");  // a part with no step
}

TEST(Practice, TempoRampsAreReadAndBounded) {
  std::string error;
  const std::optional<TempoRamp> ramp = parseTempoRamp("70:5:100", &error);
  ASSERT_TRUE(ramp) << error;
  EXPECT_DOUBLE_EQ(ramp->scaleOf(0), 0.70);
  EXPECT_DOUBLE_EQ(ramp->scaleOf(2), 0.80);
  EXPECT_DOUBLE_EQ(ramp->scaleOf(6), 1.00);
  EXPECT_DOUBLE_EQ(ramp->scaleOf(60), 1.00);  // it stays at the end
  for (const char* bad : {"70:5", "70:5:100:1", "a:5:100", "100:5:70", "10:5:100", "70:5:300",
                          "70:-5:100", "nan:5:100", ""}) {
    EXPECT_FALSE(parseTempoRamp(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(Practice, MasksNameVoicesBySymbolOrDrumName) {
  TablatureCompiler compiler;
  const std::shared_ptr<const Song> song =
      compileSong(compiler,
                  "k = kick\r\ns = snare\r\nh = closed hat\r\npart = A tempo = 120 notes = 8\r\n"
                  "h |xx|\r\ns |-x|\r\nk |x-|\r\nsong = A");
  const Timeline& t = song->timeline;
  EXPECT_EQ(voiceChoices(t), "h, s, k");
  EXPECT_EQ(unknownVoices(VoiceMask{{"k", "SNARE DRUM", "x"}, {"oh", "x"}}, t),
            (std::vector<std::string>{"x", "oh"}));
  EXPECT_EQ(splitVoiceList(" k, s ,,h"), (std::vector<std::string>{"k", "s", "h"}));

  auto sounding = [&](const VoiceMask& mask) {
    const Timeline quiet = withoutSilencedVoices(t, mask);
    std::string symbols;
    for (const TimelineItem& item : quiet.parts()[1].items) symbols += t.symbols()[item.symbol];
    EXPECT_EQ(quiet.lastTickMs(), t.lastTickMs());
    return symbols;
  };
  EXPECT_EQ(sounding({}), "hskhsk");
  EXPECT_EQ(sounding({{"k", "Snare Drum"}, {}}), "hh");
  EXPECT_EQ(sounding({{}, {"s"}}), "ss");
  EXPECT_EQ(sounding({{"s"}, {"s", "k"}}), "kk");  // muted outranks soloed
}

}  // namespace
}  // namespace pulsewright
