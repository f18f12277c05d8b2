#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "padmap/PadMap.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "tests/midifile/MidiFileReader.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestFiles.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;

// Triplets, a quintuplet and a septuplet; eighths, sixteenths and quarters; 4/4 and 3/4;
// and a part whose shorter second line retimes some steps of its first (D).
constexpr std::string_view kDocument =
    "k = kick\r\ns = snare\r\nh = closed hi-hat\r\n"
    "part = A tempo = 100 notes = 8\r\n"
    "h |x-x-x-x-|[xxx]x-x-x-x|\r\n"
    "k |x---x---|[x--]x------|\r\n"
    "part = B tempo = 90 notes = 16\r\n"
    "s |x-x-x-x-[xxxxx]-x-x-x-|xxxxxxxx-x-x-x-x|\r\n"
    "part = C tempo = 120 notes = 4\r\n"
    "k |[xxxxxxx]xx|x[xxx]x|\r\n"
    "part = D tempo = 120 notes = 8\r\n"
    "s |x-x-x-x-|[xxx]x-x-x-|\r\n"
    "k |x---x---|\r\n"
    "song = ABCAD\r\n";

MusicalTime whole(std::int64_t num, std::int64_t den) {
  return *MusicalTime::of(num, den);
}

// Every step's exact length is that of its own music (or the one before), positions add
// up the lengths, and where the grid has full bars they stand on its bar lines.
TEST(ExactPositions, AgreeWithTheBarLinesAndTheSumOfTheLengths) {
  TablatureCompiler compiler;
  compiler.compile(kDocument, defaultPadMap(), nullptr);
  const Timeline& song = *compiler.song();
  const std::map<std::string, MusicalTime> barLengths = {
      {"A", whole(1, 1)}, {"B", whole(1, 1)}, {"C", whole(3, 4)}};
  for (const TimelinePart& part : song.parts()) {
    if (!part.hasSteps() || part.name.empty()) continue;
    SCOPED_TRACE(part.name);
    MusicalTime sum;
    std::optional<MusicalTime> lengthBefore;
    for (std::size_t s = 0; s < part.steps.size(); ++s) {
      const std::optional<StepPosition> at = part.positionOf(s);
      ASSERT_TRUE(at.has_value()) << s;
      EXPECT_EQ(at->fromPart, sum) << s;
      const std::optional<MusicalTime> own = exactLengthOf(part.musicOf(part.steps[s]));
      EXPECT_EQ(at->ownLength, own.has_value()) << s;
      EXPECT_EQ(at->length, own ? *own : *lengthBefore) << s;
      lengthBefore = at->length;
      sum = *(sum + at->length);
      const auto found = barLengths.find(part.name);
      if (found == barLengths.end()) continue;
      // Full bars: every bar starts a bar length after the one before.
      EXPECT_EQ(*(at->fromBar + *(found->second * at->bar)), at->fromPart) << s;
      EXPECT_TRUE(at->fromBar < found->second) << s;
      const bool onBarLine =
          std::binary_search(part.bars.begin(), part.bars.end(), static_cast<std::int32_t>(s));
      EXPECT_EQ(onBarLine, at->fromBar == MusicalTime{}) << s;
    }
    EXPECT_FALSE(part.positionOf(part.steps.size()).has_value());
  }
  const TimelinePart& a = song.parts()[1];
  EXPECT_EQ(a.positionOf(9)->length, whole(1, 24));
  EXPECT_EQ(a.positionOf(11)->fromPart, whole(9, 8));
  EXPECT_EQ(a.positionOf(11)->bar, 1);
  const TimelinePart& b = song.parts()[2];
  EXPECT_EQ(b.positionOf(10)->length, whole(1, 80));
  const TimelinePart& c = song.parts()[3];
  EXPECT_EQ(c.positionOf(3)->length, whole(1, 28));
  EXPECT_EQ(c.positionOf(10)->fromPart, whole(1, 1));
  // D's second line times steps 0-9 as eighths (its two tail steps too), as it plays:
  // of the triplet only the last step is a third.
  const TimelinePart& d = song.parts()[4];
  EXPECT_EQ(d.positionOf(9)->length, whole(1, 8));
  EXPECT_EQ(d.positionOf(10)->length, whole(1, 24));
  EXPECT_EQ(d.positionOf(11)->fromPart, whole(5, 4) + whole(1, 24));
  EXPECT_EQ(d.positionOf(8)->bar, 1);
}

class ExactMidiTicks : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-exact-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// Read back independently, the exported file starts every step's notes at its exact song
// position times 3840 ticks a whole, rounded (only the septuplet falls between ticks).
TEST_F(ExactMidiTicks, NotesStartAtTheirExactPositions) {
  std::ofstream(dir_ / "song.tab", std::ios::binary) << kDocument;
  const std::string out = (dir_ / "song.mid").string();
  ASSERT_EQ(test::cli({"export", (dir_ / "song.tab").string(), "-o", out}).status, 0);

  TablatureCompiler compiler;
  compiler.compile(kDocument, defaultPadMap(), nullptr);
  const Timeline& song = *compiler.song();
  std::vector<std::int64_t> expected;  // the tick of every note on, in order
  MusicalTime partStart;
  int position = 0;
  Timeline::Cursor cursor = song.begin();
  for (TimelineTick tick; cursor.next(&tick);) {
    const TimelinePart& part = song.parts()[static_cast<std::size_t>(tick.part)];
    const std::optional<StepPosition> at = part.positionOf(static_cast<std::size_t>(tick.step));
    ASSERT_TRUE(at.has_value());
    if (tick.songPosition != position) {
      position = tick.songPosition;
      if (tick.step != 0) FAIL() << "a song position starts at its step 0";
    }
    const MusicalTime songOffset = *(partStart + at->fromPart);
    for (const TimelineItem& item : part.itemsOf(*tick.data)) {
      if (item.kind != TimelineItem::Kind::Note) continue;
      const long double ticks = static_cast<long double>(songOffset.num) * 3840.0L /
                                static_cast<long double>(songOffset.den);
      expected.push_back(std::llround(ticks));
      if (3840 % songOffset.den == 0) {
        EXPECT_EQ(static_cast<long double>(expected.back()), ticks);
      }
    }
    if (tick.step + 1 == static_cast<int>(part.steps.size())) {
      partStart = *(partStart + *(at->fromPart + at->length));
    }
  }
  std::vector<std::int64_t> written;
  for (const test::ReadEvent& e : test::readMidiFile(readFile(out)).events) {
    if ((e.status & 0xF0) == 0x90 && e.data2 > 0) written.push_back(e.tick);
  }
  EXPECT_EQ(written, expected);
  EXPECT_GT(written.size(), 50u);
}

}  // namespace
}  // namespace pulsewright
