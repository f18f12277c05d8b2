#include <gtest/gtest.h>

#include "padmap/PadMap.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"

namespace pulsewright {
namespace {

Timeline compileTimeline(TablatureCompiler& compiler, const std::string& text) {
  compiler.compile(text, defaultPadMap(), nullptr);
  const CompilerState& s = compiler.state();
  return Timeline::build(s.partTable, s.sourceMap, s.songLine);
}

TEST(Timeline, TicksCarryTimesMusicAndTheGridCharactersBehindTheirItems) {
  TablatureCompiler compiler;
  const Timeline t = compileTimeline(compiler,
                                     "k = kick\r\ns = snare\r\nw = wave /tmp/clap.wav pan -20\r\n"
                                     "part = A tempo = 120 notes = 8 program = 25\r\n"
                                     "  s|-X----|\r\n"
                                     "k |x-[xxx]-|\r\n"
                                     "part = B tempo = 60 notes = 4\r\n"
                                     "w |x-|\r\n"
                                     "song = ABA\r\n");
  ASSERT_TRUE(t.playable());
  std::vector<TimelineTick> ticks;
  auto cursor = t.begin();
  for (TimelineTick tick; cursor.next(&tick);) ticks.push_back(tick);
  // A: six steps (the bracket's three share one eighth; the last grid line times them),
  // B: two, A: six.
  ASSERT_EQ(ticks.size(), 14u);
  const std::int64_t expected[] = {250,  500,  750,  833,  916,  999,  1249,
                                   2249, 3249, 3499, 3749, 3832, 3915, 3998};
  for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(ticks[i].timeMs, expected[i]) << i;
  EXPECT_TRUE(ticks.back().last);
  EXPECT_EQ(ticks[6].character, "B");
  EXPECT_EQ(ticks[6].step, 0);
  EXPECT_EQ(t.parts()[1].program, 25);
  EXPECT_EQ(t.parts()[1].sectionLine, 4);

  // Step 1 of A: the snare's accent, then the kick line's rest, each with its character.
  const TimelinePart& a = t.parts()[1];
  const auto items = a.itemsOf(*ticks[1].data);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, TimelineItem::Kind::Note);
  EXPECT_EQ(items[0].velocity, velocityOfLevel(7));
  EXPECT_EQ(items[0].source, (SourcePosition{5, 6, 5}));
  EXPECT_EQ(items[1].kind, TimelineItem::Kind::Rest);
  EXPECT_EQ(items[1].source, (SourcePosition{6, 5, 4}));
  // Inside the brackets a step is a third of an eighth.
  EXPECT_EQ(ticks[3].data->music.tupletDivisor, 3);
  EXPECT_EQ(ticks[3].data->music.noteSize, 8);
  EXPECT_EQ(ticks[3].data->music.tempo, 120);
  EXPECT_EQ(a.itemsOf(*ticks[3].data)[0].source.column, 8);

  // The sample with its level, pan and file.
  const auto sample = t.parts()[2].itemsOf(*ticks[6].data);
  ASSERT_EQ(sample.size(), 1u);
  EXPECT_EQ(sample[0].kind, TimelineItem::Kind::Sample);
  EXPECT_EQ(t.sampleFile(sample[0].file), "/tmp/clap.wav");
  EXPECT_EQ(sample[0].volume, 6);
  EXPECT_EQ(sample[0].pan, -20);

  // Resuming: the time of a position, and a cursor from there.
  EXPECT_EQ(t.timeOf(3, 1), 3499);
  EXPECT_EQ(t.timeOf(3, 6), -1);
  EXPECT_EQ(t.timeOf(4, 0), -1);
  auto resumed = t.at(3, 1);
  TimelineTick first;
  ASSERT_TRUE(resumed.next(&first));
  EXPECT_EQ(first.songPosition, 3);
  EXPECT_EQ(first.step, 1);
  EXPECT_EQ(first.intervalMs, 250);
  EXPECT_EQ(first.timeMs, 0);
}

TEST(Timeline, SongsThatCannotStartOrEndEarly) {
  TablatureCompiler compiler;
  EXPECT_FALSE(compileTimeline(compiler, "k = kick\r\nsong = A\r\n").playable());
  // A character that names no part keeps the part before; a 0 ms step (tempo 0) ends the
  // song after it.
  const Timeline t = compileTimeline(compiler,
                                     "k = kick\r\npart = A tempo = 120 notes = 8\r\nk |xx|\r\n"
                                     "part = Z tempo = 0 notes = 8\r\nk |xxx|\r\nsong = A?ZA\r\n");
  ASSERT_TRUE(t.playable());
  EXPECT_EQ(t.songLength(), 3);
  EXPECT_EQ(t.lastTickMs(), 1250);
}

}  // namespace
}  // namespace pulsewright
