#include <gtest/gtest.h>

#include "padmap/PadMap.h"
#include "playback/Sequencer.h"
#include "tablature/TablatureCompiler.h"
#include "tests/support/RecordingStepOutput.h"
#include "tests/support/TestDocuments.h"

namespace pulsewright {
namespace {

// A song of one part "A" made of typed steps; durations past the steps are its tail.
std::shared_ptr<const Song> oneTypedPart(std::vector<std::int16_t> durations,
                                         const std::vector<std::vector<TimelineItem>>& steps,
                                         std::vector<std::string> files = {}) {
  SongParts parts;
  parts.parts.resize(2);
  parts.parts[0].steps.resize(1);
  TimelinePart& a = parts.parts[1];
  a.name = "A";
  a.program = -1;
  for (std::size_t s = 0; s < durations.size(); ++s) {
    if (s >= steps.size()) {
      a.tailDurations.push_back(durations[s]);
      continue;
    }
    TimelineStep step;
    step.duration = durations[s];
    step.firstItem = static_cast<std::uint32_t>(a.items.size());
    for (const TimelineItem& item : steps[s]) a.items.push_back(item);
    a.steps.push_back(step);
  }
  parts.sampleFiles = std::move(files);
  return makeSong(std::make_shared<const Timeline>(Timeline::build(std::move(parts), "A")));
}

TimelineItem note(std::uint8_t number, std::uint8_t velocity) {
  TimelineItem item;
  item.kind = number == 0 ? TimelineItem::Kind::Rest : TimelineItem::Kind::Note;
  item.note = number;
  item.velocity = velocity;
  return item;
}

// Ticks until the song is over; keeps the status and the interval after every tick.
struct TickLog {
  std::vector<std::string> statuses;
  std::vector<int> intervals;
  bool ended = false;
};

TickLog playThrough(Sequencer& seq, StepOutput& out, int maxTicks = 10000) {
  TickLog run;
  for (int i = 0; i < maxTicks && seq.running(); ++i) {
    const auto r = seq.tick(out);
    run.statuses.push_back(r.status);
    run.intervals.push_back(seq.interval());
    if (r.songOver) {
      run.ended = true;
      break;
    }
  }
  return run;
}

const char* kTwoParts[] = {
    "k = kick",
    "s = snare",
    "part = A tempo = 120 notes = 8",
    "k |x-x-|",
    "part = B tempo = 60 notes = 4",
    "s |X-|",
};

std::string twoParts(std::string_view songLine) {
  std::string text;
  for (const char* line : kTwoParts) text += std::string(line) + "\r\n";
  return text + "song = " + std::string(songLine);
}

// The notes a run sent, in order: "A" for each kick note on, "B" for each snare.
std::string noteOrder(const std::vector<std::string>& events) {
  std::string order;
  for (const std::string& e : events) {
    if (e == "90 36 76") order += 'A';
    if (e == "90 38 101") order += 'B';
  }
  return order;
}

TEST(Sequencer, FollowsTheSongAndEndsAfterItsLastCharacter) {
  TablatureCompiler compiler;
  RecordingStepOutput out;
  Sequencer seq;

  auto song = compileSong(compiler, twoParts("AAB"));
  ASSERT_TRUE(seq.play(song));
  EXPECT_EQ(seq.interval(), 250);  // step 0 of part 1
  TickLog run = playThrough(seq, out);
  EXPECT_TRUE(run.ended);
  // A has four steps (two hits), B two steps (one hit): A twice, then B.
  EXPECT_EQ(noteOrder(out.take()), "AAAAB");
  ASSERT_EQ(run.statuses.size(), 10u);
  EXPECT_EQ(run.statuses[0], "Song Part:1  Part: A  Step: 1");
  EXPECT_EQ(run.statuses[5], "Song Part:2  Part: A  Step: 2");
  EXPECT_EQ(run.statuses[8], "Song Part:3  Part: B  Step: 1");
  EXPECT_EQ(run.statuses.back(), "");  // the status line is cleared at the end
  EXPECT_EQ(run.intervals[7], 250);
  EXPECT_EQ(run.intervals[8], 1000);
  EXPECT_FALSE(seq.running());
  EXPECT_EQ(seq.songPosition(), 4);  // Stop keeps the song position
  EXPECT_EQ(seq.currentPart(), 1);
  EXPECT_EQ(seq.currentStep(), 0);

  // A blank names no part: the part before plays again in its place.
  ASSERT_TRUE(seq.play(compileSong(compiler, twoParts("A B"))));
  playThrough(seq, out);
  EXPECT_EQ(noteOrder(out.take()), "AAAAB");

  // A character that names no part at the start plays part 1.
  ASSERT_TRUE(seq.play(compileSong(compiler, twoParts("?B"))));
  playThrough(seq, out);
  EXPECT_EQ(noteOrder(out.take()), "AAB");
}

TEST(Sequencer, TheLaterOfTwoPartsWithOneNamePlays) {
  TablatureCompiler compiler;
  RecordingStepOutput out;
  Sequencer seq;
  auto song = compileSong(compiler,
                          doc({"k = kick", "s = snare", "part = A tempo = 120 notes = 8", "k |x-|",
                               "part = A tempo = 120 notes = 8", "s |x-|", "song = A"}));
  ASSERT_TRUE(seq.play(song));
  playThrough(seq, out);
  const auto events = out.take();
  EXPECT_EQ(events, (std::vector<std::string>{"90 38 76", "80 38 0", "90 0 12", "80 0 0"}));
}

TEST(Sequencer, SendsTheProgramBeforeTheNotesOfEveryStep) {
  TablatureCompiler compiler;
  RecordingStepOutput out;
  Sequencer seq;
  auto song = compileSong(compiler, doc({"k = kick", "h = closed hat", "s = snare",
                                         "part = A tempo = 120 notes = 8 program = 5", "h |x-|",
                                         "s |--|", "k |-X|", "song = A"}));
  ASSERT_TRUE(seq.play(song));
  playThrough(seq, out);
  // Step 0 is "42,5|0,0|0,0|", step 1 "0,0|0,0|36,7|".
  EXPECT_EQ(out.take(),
            (std::vector<std::string>{
                "c0 5 0", "90 42 76", "80 42 0", "90 0 12", "80 0 0", "90 0 12",
                "80 0 0",  //
                "c0 5 0", "90 0 12", "80 0 0", "90 0 12", "80 0 0", "90 36 101", "80 36 0"}));

  // The six messages of "42,5|0,0|36,7|" on channel 16.
  auto table = oneTypedPart({10, 10, 10}, {{note(42, 76), note(0, 12), note(36, 101)}});
  out.channel = 15;
  ASSERT_TRUE(seq.play(table));
  seq.tick(out);
  EXPECT_EQ(out.take(), (std::vector<std::string>{"9f 42 76", "8f 42 0", "9f 0 12", "8f 0 0",
                                                  "9f 36 101", "8f 36 0"}));
}

TEST(Sequencer, ProgramsMidiCannotCarryAreNotSent) {
  TablatureCompiler compiler;
  RecordingStepOutput out;
  Sequencer seq;
  auto song = compileSong(compiler, doc({"k = kick", "part = A tempo = 120 notes = 8 program = 200",
                                         "k |x-|", "song = A"}));
  ASSERT_TRUE(seq.play(song));
  playThrough(seq, out);
  EXPECT_EQ(out.take(), (std::vector<std::string>{"90 36 76", "80 36 0", "90 0 12", "80 0 0"}));
}

TEST(Sequencer, AFreshRunWithoutSongLinePlaysStepZeroOfThePlaceholder) {
  TablatureCompiler compiler;
  RecordingStepOutput out;
  Sequencer seq;
  auto song = compileSong(compiler, doc({"k = kick", "part = A tempo = 120 notes = 8", "k |x-|"}));
  ASSERT_TRUE(seq.play(song));
  TickLog run = playThrough(seq, out);
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.statuses.size(), 1u);
  EXPECT_EQ(out.take(), (std::vector<std::string>{"c0 0 0"}));  // program 0, empty step

  // A later document without a song line plays the song line of the one before.
  compileSong(compiler, twoParts("B"));
  song = compileSong(compiler,
                     doc({"k = kick", "s = snare", "part = B tempo = 120 notes = 8", "s |x-|"}));
  EXPECT_EQ(song->timeline.songLine(), "B");
}

TEST(Sequencer, SongsThatCannotPlayEndInsteadOfHanging) {
  TablatureCompiler compiler;
  RecordingStepOutput out;
  Sequencer seq;
  // No part at all, and a first part whose tempo gives no duration.
  EXPECT_FALSE(seq.play(compileSong(compiler, doc({"k = kick", "song = A"}))));
  EXPECT_FALSE(seq.running());
  EXPECT_FALSE(seq.play(compileSong(
      compiler, doc({"k = kick", "part = A tempo = 0 notes = 8", "k |x-|", "song = A"}))));
  // A second part without durations ends the song when it is reached.
  auto song = compileSong(compiler, doc({"k = kick", "part = A tempo = 120 notes = 8", "k |x-|",
                                         "part = B tempo = 120 notes = 0", "k |x-|", "song = AB"}));
  ASSERT_TRUE(seq.play(song));
  TickLog run = playThrough(seq, out);
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.statuses.size(), 3u);

  // A part without step tables plays nothing for its character and the song goes on.
  song = compileSong(compiler, doc({"k = kick", "part = A tempo = 120 notes = 8", "k |x-|",
                                    "part = E tempo = 120 notes = 8", "song = AEA"}));
  ASSERT_TRUE(seq.play(song));
  out.take();
  run = playThrough(seq, out);
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(noteOrder(out.take()), "AA");
}

TEST(Sequencer, NegativeDurationsKeepTheIntervalAndBadItemsAreSafe) {
  RecordingStepOutput out;
  Sequencer seq;
  // Notes outside 0-127 never reach the port; a fraction rounds half to even; a file
  // whose name holds "#" is played whole.
  PadMap map = defaultPadMap();
  map[index(DrumVoice::BassDrum)] = "128";
  map[index(DrumVoice::SnareDrum)] = "-1";
  map[index(DrumVoice::ClosedHat)] = "36.5";
  TablatureCompiler compiler;
  auto parsed =
      compileSong(compiler,
                  doc({"k = kick", "s = snare", "h = closed hat",
                       R"(w = wave C:\drums\kick#2.wav pan -20)", "part = A tempo = 120 notes = 8",
                       "k |x--|", "s |x--|", "h |9--|", "w |-9-|", "song = A"}),
                  map);
  const TimelinePart& typed = parsed->timeline.parts()[1];
  std::vector<std::vector<TimelineItem>> steps;
  for (const TimelineStep& step : typed.steps) {
    steps.emplace_back();
    for (const TimelineItem& item : typed.itemsOf(step)) {
      if (!item.isRest()) steps.back().push_back(item);
    }
  }
  steps.resize(4);  // the four steps a tick can play; two tail steps follow
  // Durations the text cannot write: a negative one keeps the interval before.
  auto song = oneTypedPart({100, -5, 40, 0, 0, 0}, steps, parsed->timeline.sampleFiles());
  ASSERT_TRUE(seq.play(song));
  seq.tick(out);
  EXPECT_EQ(seq.interval(), 100);
  EXPECT_EQ(out.take(), (std::vector<std::string>{"90 36 127", "80 36 0"}));
  seq.tick(out);
  EXPECT_EQ(seq.interval(), 100);  // -5 keeps the interval before
  EXPECT_EQ(out.take(), (std::vector<std::string>{R"(sample C:\drums\kick#2.wav 10 -20)"}));
  EXPECT_FALSE(seq.tick(out).songOver);
  EXPECT_EQ(seq.interval(), 40);
  // A step of 0 ms stops the clock: the song ends instead of hanging in Playing.
  EXPECT_TRUE(seq.tick(out).songOver);
  EXPECT_FALSE(seq.running());
}

TEST(Sequencer, VelocitiesAndSongCharacters) {
  const int expected[] = {12, 25, 38, 50, 63, 76, 88, 101, 114, 127};
  for (int level = 0; level <= 9; ++level) EXPECT_EQ(velocityOfLevel(level), expected[level]);
  EXPECT_EQ(velocityOfLevel(-5), 0);
  EXPECT_EQ(velocityOfLevel(50), 127);
  EXPECT_EQ(songCharacters("AéB"), (std::vector<std::string>{"A", "é", "B"}));
  EXPECT_EQ(songCharacters("A\xFF"), (std::vector<std::string>{"A", "\xFF"}));
}

// A new version of a song goes on from the playing part and step, found by its name.
TEST(Sequencer, ANewVersionGoesOnFromThePartAndStepByName) {
  auto version = [](std::string_view aGrid, std::string_view songLine) {
    TablatureCompiler compiler;
    return compileSong(compiler, doc({"k = kick", "part = A tempo = 120 notes = 8", aGrid,
                                      "part = B tempo = 120 notes = 8", "k |x-x-|",
                                      "part = C tempo = 120 notes = 8", "k |xxxx|", songLine}));
  };
  const auto played = version("k |x---|x---|", "song = AB");
  auto at = [&](const std::shared_ptr<const Song>& song, int position, int step) {
    int p = 0;
    int s = 0;
    if (!continueAt(song->timeline, "A", position, step, &p, &s)) return std::string("end");
    return std::to_string(p) + ":" + std::to_string(s);
  };
  EXPECT_EQ(at(played, 1, 4), "1:4");
  EXPECT_EQ(at(version("k |x---|x---|", "song = BAC"), 1, 4), "2:4");   // moved on
  EXPECT_EQ(at(version("k |x---|x---|", "song = CBA"), 2, 4), "3:4");   // the next one
  EXPECT_EQ(at(version("k |x---|x---|", "song = ABCB"), 3, 4), "1:4");  // only before
  EXPECT_EQ(at(version("k |x---|", "song = ABC"), 1, 4), "2:0");        // too short now
  EXPECT_EQ(at(version("k |x---|x---|", "song = BCB"), 1, 4), "2:0");   // gone
  EXPECT_EQ(at(version("k |x---|x---|", "song = BCB"), 2, 0), "2:0");
  EXPECT_EQ(at(version("k |x---|x---|", "song = B"), 1, 4), "end");

  // The sequencer takes the new version over between two ticks and plays on from there.
  RecordingStepOutput out;
  Sequencer seq;
  ASSERT_TRUE(seq.play(played));
  for (int i = 0; i < 4; ++i) seq.tick(out);
  EXPECT_TRUE(seq.atBarLine());
  ASSERT_TRUE(seq.continueWith(version("k |x---|xxxx|", "song = AB")));
  out.take();
  const Sequencer::TickResult next = seq.tick(out);
  EXPECT_EQ(next.tick.songPosition, 1);
  EXPECT_EQ(next.tick.step, 4);
  EXPECT_FALSE(seq.atBarLine());
  EXPECT_EQ(out.take(), (std::vector<std::string>{"90 36 76", "80 36 0"}));
  seq.tick(out);
  EXPECT_EQ(out.take(), (std::vector<std::string>{"90 36 76", "80 36 0"}));
}

}  // namespace
}  // namespace pulsewright
