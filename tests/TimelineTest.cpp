#include <gtest/gtest.h>

#include "padmap/PadMap.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"

namespace pulsewright {
namespace {

Timeline compileTimeline(TablatureCompiler& compiler, const std::string& text) {
  compiler.compile(text, defaultPadMap(), nullptr);
  return *compiler.song();
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
  EXPECT_EQ(a.musicOf(*ticks[3].data).tupletDivisor, 3);
  EXPECT_EQ(a.musicOf(*ticks[3].data).noteSize, 8);
  EXPECT_EQ(a.musicOf(*ticks[3].data).tempo, 120);
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

TEST(Timeline, ItemsKnowTheirVoiceMarkLevelAndSymbol) {
  TablatureCompiler compiler;
  const Timeline t =
      compileTimeline(compiler,
                      "k = kick\r\nh = closed hat\r\nw = wave /tmp/c,l|ap.wav pan 9\r\n"
                      "part = A tempo = 120 notes = 8\r\n"
                      "h |X-o3|\r\nq |x---|\r\nw |---7|\r\nsong = A\r\n");
  const TimelinePart& a = t.parts()[1];
  ASSERT_EQ(a.steps.size(), 4u);
  const auto first = a.itemsOf(a.steps[0]);
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0].voice, (ItemVoice{ItemVoice::Kind::Drum,
                                       static_cast<std::uint8_t>(index(DrumVoice::ClosedHat))}));
  EXPECT_EQ(first[0].mark, 'X');
  EXPECT_EQ(first[0].level, 7);
  EXPECT_EQ(t.symbols()[static_cast<std::size_t>(first[0].symbol)], "h");
  // An undefined symbol plays the line before's sound, so it has that line's voice.
  EXPECT_EQ(first[1].voice.drumVoice(), DrumVoice::ClosedHat);
  EXPECT_EQ(t.symbols()[static_cast<std::size_t>(first[1].symbol)], "q");
  EXPECT_TRUE(first[2].isRest());
  const auto last = a.itemsOf(a.steps[3]);
  EXPECT_EQ(last[0].mark, '3');
  EXPECT_EQ(last[0].level, 3);
  // A sample whose path holds the characters that separated items plays that file.
  ASSERT_EQ(last[2].kind, TimelineItem::Kind::Sample);
  EXPECT_EQ(last[2].voice.kind, ItemVoice::Kind::Sample);
  EXPECT_EQ(t.sampleFile(last[2].file), "/tmp/c,l|ap.wav");
  EXPECT_EQ(last[2].volume, 8);
  EXPECT_EQ(last[2].pan, 9);
}

// Every grid character of a drum, a sample and an unsendable note line, read back whole,
// copied item by item, and again after the compiler has gone on to another text.
TEST(Timeline, EveryGridCharacterReadsBackAsTheItemItsLineAndLevelSay) {
  const std::string marks = "-xXoO0123456789";
  PadMap padMap = defaultPadMap();
  padMap[index(DrumVoice::SnareDrum)] = "200";  // no MIDI note: a skip
  TablatureCompiler compiler;
  compiler.compile(
      "k = kick\r\ns = snare\r\nw = wave /tmp/clap.wav pan -3\r\n"
      "part = A tempo = 120 notes = 8\r\n"
      "k |" +
          marks + "|\r\n  w|" + marks + "|\r\ns |" + marks + "|\r\nsong = A",
      padMap, nullptr);
  const std::shared_ptr<const Timeline> song = compiler.song();
  const TimelinePart& a = song->parts()[1];
  ASSERT_EQ(a.steps.size(), marks.size());
  auto check = [&](const TimelineItem& item, std::size_t step, int line) {
    const char mark = marks[step];
    const int level = mark == '-'                  ? 0
                      : mark == 'x' || mark == 'o' ? 5
                      : mark == 'X' || mark == 'O' ? 7
                                                   : mark - '0';
    SCOPED_TRACE(std::string("line ") + std::to_string(line) + " mark " + mark);
    EXPECT_EQ(item.mark, mark);
    EXPECT_EQ(item.level, level);
    EXPECT_EQ(song->symbols()[static_cast<std::size_t>(item.symbol)], line == 5   ? "k"
                                                                      : line == 6 ? "w"
                                                                                  : "s");
    const int column = (line == 6 ? 5 : 4) + static_cast<int>(step);
    EXPECT_EQ(item.source, (SourcePosition{line, column, column - 1}));
    if (mark == '-') {
      EXPECT_EQ(item.kind, TimelineItem::Kind::Rest);
      EXPECT_EQ(item.velocity, velocityOfLevel(0));
      EXPECT_EQ(item.sound, -1);
    } else if (line == 5) {
      EXPECT_EQ(item.kind, TimelineItem::Kind::Note);
      EXPECT_EQ(item.note, 36);
      EXPECT_EQ(item.velocity, velocityOfLevel(level));
    } else if (line == 6) {
      EXPECT_EQ(item.kind, TimelineItem::Kind::Sample);
      EXPECT_EQ(item.volume, level + 1);
      EXPECT_EQ(item.pan, -3);
      EXPECT_EQ(song->sampleFile(item.file), "/tmp/clap.wav");
    } else {
      EXPECT_EQ(item.kind, TimelineItem::Kind::Skip);
      EXPECT_EQ(item.velocity, 0);
    }
  };
  TimelineItems copied;
  for (std::size_t s = 0; s < a.steps.size(); ++s) {
    const auto items = a.itemsOf(a.steps[s]);
    ASSERT_EQ(items.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      check(items[i], s, 5 + static_cast<int>(i));
      copied.push_back(items[i]);
    }
  }
  for (std::size_t i = 0; i < copied.size(); ++i)
    check(copied[i], i / 3, 5 + static_cast<int>(i % 3));
  // compile's JSON text of a step is the same from items made whole.
  TimelinePart wholeItems = a;
  wholeItems.items = copied;
  for (std::size_t s = 0; s < a.steps.size(); ++s) {
    std::string fromLines;
    std::string fromWhole;
    appendStepEvents(*song, a, a.steps[s], &fromLines);
    appendStepEvents(*song, wholeItems, wholeItems.steps[s], &fromWhole);
    EXPECT_EQ(fromLines, fromWhole) << s;
    const TimelineItem kick = a.itemsOf(a.steps[s])[0];
    EXPECT_EQ(fromLines.substr(0, 4),
              s == 0 ? std::string("0,0|") : "36," + std::to_string(kick.level));
  }
  // The song handed out stays as it was while the compiler reads other grid lines.
  compiler.compile("k = kick\r\npart = A tempo = 60 notes = 4\r\nk |9999|\r\nk |o|", padMap,
                   nullptr);
  for (std::size_t s = 0; s < a.steps.size(); ++s) check(a.itemsOf(a.steps[s])[0], s, 5);
}

TEST(Timeline, PartsKeepTheirBarLinesAndTheMetreTheySay) {
  TablatureCompiler compiler;
  auto metreOf = [&](const std::string& section, const std::vector<std::string>& grids) {
    std::string text = "k = kick\r\n" + section + "\r\n";
    for (const std::string& g : grids) text += g + "\r\n";
    const Timeline t = compileTimeline(compiler, text + "song = A");
    const Metre m = t.parts()[1].metre;
    return std::to_string(m.beats) + "/" + std::to_string(m.beatUnit) + (m.fromBars ? "" : "?");
  };
  const std::string eighths = "part = A tempo = 120 notes = 8";
  EXPECT_EQ(metreOf(eighths, {"k |x-x-x-x-|x-x-x-x-|"}), "4/4");
  EXPECT_EQ(metreOf(eighths, {"k |x-x-x-|x-x-x-|"}), "3/4");
  EXPECT_EQ(metreOf(eighths, {"k |x--x--x--x--|"}), "12/8");
  EXPECT_EQ(metreOf(eighths, {"k |x-x-x-x-x|"}), "9/8");
  EXPECT_EQ(metreOf("part = A tempo = 120 notes = 16", {"k |x-x-x-x-x-x-x-x-|"}), "4/4");
  EXPECT_EQ(metreOf("part = A tempo = 120 notes = 4", {"k |[x--][x--][x--][x--]|"}), "4/4");
  // Grid lines that disagree on the bars, or none inside: 4/4 as before.
  EXPECT_EQ(metreOf(eighths, {"k |x-x-x-|x-x-x-|", "k |x-x-x-x-|x-x-|"}), "4/4?");
  EXPECT_EQ(metreOf(eighths, {"k |x-x-x-x-x"}), "4/4?");

  const Timeline t = compileTimeline(
      compiler, "k = kick\r\n" + eighths + "\r\nk |x-x-|x-x-|\r\nk |x-x-|x-x-|x-x-|\r\nsong = A");
  EXPECT_EQ(t.parts()[1].bars, (std::vector<std::int32_t>{0, 4, 8, 12}));
}

}  // namespace
}  // namespace pulsewright
