#include <gtest/gtest.h>

#include <utility>

#include "midifile/StandardMidiFile.h"
#include "tests/midifile/MidiFileReader.h"

namespace pulsewright {
namespace {

using test::ReadEvent;
using test::ReadFile;

MidiFileStep step(int noteSize, int divisor, double tempo, int program,
                  std::vector<MidiFileNote> notes = {}, int samples = 0) {
  MidiFileStep s;
  s.noteSize = noteSize;
  s.divisor = divisor;
  s.tempo = tempo;
  s.program = program;
  s.notes = std::move(notes);
  s.samples = samples;
  return s;
}

std::vector<std::int64_t> ticksOf(const ReadFile& f, int track, std::uint8_t status,
                                  int data1 = -1) {
  std::vector<std::int64_t> ticks;
  for (const ReadEvent& e : f.events) {
    if (e.track == track && e.status == status && (data1 < 0 || e.data1 == data1))
      ticks.push_back(e.tick);
  }
  return ticks;
}

// Triplets, septuplets whose ends round, a slower part and a part change: every event
// at its tick and time, read back through an independent reader.
TEST(MidiFile, WritesMusicalTimeWithRoundedStepEnds) {
  MidiFileSong song;
  song.title = "Test song";
  song.author = "Someone";
  song.genre = "Funk";
  for (int i = 0; i < 3; ++i) song.steps.push_back(step(8, 3, 100, 5, {{36, 100}}));
  for (int i = 0; i < 7; ++i) song.steps.push_back(step(16, 7, 100, 5, {{42, 76}}));
  song.steps.push_back(step(4, 1, 150, 5, {{38, 127}, {0, 50}, {200, 50}, {49, 0}}));
  song.steps.push_back(step(4, 1, 150, 7, {}, 2));
  song.steps.push_back(step(1, 1, 150, -1));  // a whole bar of rest
  for (int i = 0; i < 100; ++i) song.steps.push_back(step(1, 1, 150, 7));
  song.steps.push_back(step(16, 1, 150, 7, {{51, 64}, {51, 64}}, 1));

  MidiFileSummary summary;
  const std::string bytes = writeStandardMidiFile(song, 9, &summary);
  const ReadFile f = test::readMidiFile(bytes);
  EXPECT_EQ(f.format, 1);
  EXPECT_EQ(f.tracks, 2);
  EXPECT_EQ(f.division, 960);

  const std::int64_t last = 720 + 960 + 960 + 3840 * 101;
  using T = std::vector<std::int64_t>;
  EXPECT_EQ(ticksOf(f, 1, 0x99),
            (T{0, 160, 320, 480, 514, 549, 583, 617, 651, 686, 720, 720, last, last}));
  // Half a step, at most a sixteenth; the last step's notes end too.
  EXPECT_EQ(ticksOf(f, 1, 0x89),
            (T{80, 240, 400, 497, 531, 566, 600, 634, 668, 703, 960, 960, last + 120, last + 120}));
  EXPECT_EQ(ticksOf(f, 1, 0xC9), (T{0, 1680}));
  EXPECT_EQ(ticksOf(f, 0, 0xFF, 0x51), (T{0, 720}));
  EXPECT_EQ(summary.notes, 14u);
  EXPECT_EQ(summary.samplesLeftOut, 3u);
  EXPECT_EQ(summary.lengthTicks, last + 240);

  for (const ReadEvent& e : f.events) {
    if (e.track == 1 && e.status == 0x99 && e.tick == 160) {
      EXPECT_DOUBLE_EQ(e.ms, 100.0);
    } else if (e.track == 1 && e.status == 0x99 && e.tick == 720) {
      EXPECT_DOUBLE_EQ(e.ms, 450.0);
      EXPECT_TRUE((e.data1 == 38 && e.data2 == 127) || (e.data1 == 0 && e.data2 == 50));
    } else if (e.track == 1 && e.status == 0x99 && e.tick == last) {
      EXPECT_NEAR(e.ms, 450 + 400 + 400 + 101 * 1600.0, 1e-6);
    } else if (e.status == 0xFF && e.data1 == 0x2F) {
      EXPECT_EQ(e.tick, last + 240);
    }
  }
  std::vector<std::string> texts;
  for (const ReadEvent& e : f.events) {
    if (e.track == 0 && e.status == 0xFF && (e.data1 == 0x03 || e.data1 == 0x01))
      texts.push_back(e.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Test song", "Author: Someone", "Genre: Funk"}));
}

}  // namespace
}  // namespace pulsewright
