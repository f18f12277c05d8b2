// Expression marks, sticking lines, swing and humanize as the compiler reads them: the
// items, warnings and part fields every output starts from.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestDocuments.h"

namespace pulsewright {
namespace {

const std::string kMarks = doc({
    "k = kick",
    "s = snare",
    "h = closed hat",
    "r = ride",
    "part = A tempo = 120 notes = 8 swing = 62 humanize = 8",
    "st |R-L-rlB-|",
    "s |f-D-z-cR|",
    "h |h-H-b-!-|",
    "k |b-h-!-F-|",
    "r |e-B-x-!-|",
    "song = A",
});

// What one item is, as a short text: articulation, mark, level and kind.
std::string itemText(const TimelineItem& item) {
  const char* kinds[] = {"note", "rest", "sample", "skip"};
  return std::string(articulationName(item.articulation)) + " " + item.mark + " " +
         std::to_string(item.level) + " " + kinds[static_cast<int>(item.kind)];
}

// What check says of `text`, as "t:LINE:COL: warning: ..." lines.
std::vector<std::string> warnings(const std::string& text) {
  DiagnosticOptions options;
  options.sampleProblem = nullptr;
  std::vector<std::string> found;
  for (const Diagnostic& d : diagnose(text, options)) found.push_back(formatDiagnostic("t", d));
  return found;
}

TEST(Expression, MarksBecomeItemsAndMisplacedOnesPlainHitsWithAWarning) {
  TablatureCompiler compiler;
  compiler.compile(kMarks, defaultPadMap(), nullptr);
  const TimelinePart& part = compiler.song()->parts()[1];
  ASSERT_EQ(part.steps.size(), 8u);
  // Step by step, the snare, hat, kick and ride lines' items.
  auto column = [&](std::size_t line) {
    std::vector<std::string> texts;
    for (const TimelineStep& step : part.steps) {
      const TimelineItems::Range items = part.itemsOf(step);
      texts.push_back(line < items.size() ? itemText(items[line]) : "");
    }
    return texts;
  };
  using Texts = std::vector<std::string>;
  EXPECT_EQ(column(0), (Texts{"flam f 5 note", "hit - 0 rest", "drag D 7 note", "hit - 0 rest",
                              "buzz roll z 5 note", "hit - 0 rest", "cross-stick c 5 note",
                              "rimshot R 7 note"}));
  EXPECT_EQ(column(1), (Texts{"half-open hi-hat h 5 note", "hit - 0 rest",
                              "half-open hi-hat H 7 note", "hit - 0 rest", "bell b 5 note",
                              "hit - 0 rest", "choke ! 0 skip", "hit - 0 rest"}));
  // The kick takes only the flam; its choke plays nothing.
  EXPECT_EQ(column(2), (Texts{"hit x 5 note", "hit - 0 rest", "hit x 5 note", "hit - 0 rest",
                              "hit ! 0 skip", "hit - 0 rest", "flam F 7 note", "hit - 0 rest"}));
  EXPECT_EQ(column(3), (Texts{"edge e 5 note", "hit - 0 rest", "bell B 7 note", "hit - 0 rest",
                              "hit x 5 note", "hit - 0 rest", "choke ! 0 skip", "hit - 0 rest"}));
  EXPECT_EQ(part.itemsOf(part.steps[6])[1].note, 42);  // a choke knows what it stops
  EXPECT_EQ(part.itemsOf(part.steps[0])[0].velocity, velocityOfLevel(5));

  EXPECT_EQ(part.sticking, "R-L-rlB-");
  EXPECT_EQ(part.swingPercent, 62);
  EXPECT_EQ(part.humanizeMs, 8);
  // Eighths of 250 ms in pairs of 310 and 190; compile's JSON shows the marks.
  const PartTable table = partTableOf(*compiler.song());
  EXPECT_EQ(table[1].stepTimes,
            (std::vector<std::int16_t>{310, 190, 310, 190, 310, 190, 310, 190, 250, 250}));
  EXPECT_EQ(table[1].stepEvents[0], "38,5,f|42,5,h|36,5|51,5,e|");
  EXPECT_EQ(table[1].stepEvents[6], "38,5,c|42,0,!|36,7,F|51,0,!|");

  EXPECT_EQ(warnings(kMarks),
            (std::vector<std::string>{
                "t:9:4: warning: 'b' at column 4 is a bell, which a Bass Drum line cannot "
                "take: it plays as a plain hit",
                "t:9:6: warning: 'h' at column 6 is a half-open hi-hat, which a Bass Drum "
                "line cannot take: it plays as a plain hit",
                "t:9:8: warning: '!' at column 8 is a choke, which a Bass Drum line cannot "
                "take: it plays nothing"}));
}

TEST(Expression, SectionItemsOutsideTheirRangeAreNamedAndPlayedAtTheNearest) {
  const std::string text =
      doc({"s = snare", "part = A tempo = 120 notes = 8 swing = 80 humanize = 60", "s |x-x-|",
           "part = B tempo = 120 notes = 8 swing = 66.7", "s |x-x-x-|", "song = AB"});
  TablatureCompiler compiler;
  compiler.compile(text, defaultPadMap(), nullptr);
  const std::vector<TimelinePart>& parts = compiler.song()->parts();
  EXPECT_EQ(parts[1].swingPercent, 75);
  EXPECT_EQ(parts[1].humanizeMs, 50);
  EXPECT_EQ(parts[2].swingExactPercent, 66.7);
  EXPECT_EQ(parts[2].steps[0].duration, 334);
  EXPECT_EQ(parts[2].steps[1].duration, 166);
  EXPECT_TRUE(parts[2].sticking.empty());
  EXPECT_EQ(warnings(text),
            (std::vector<std::string>{
                "t:2:40: warning: swing = 80 is outside 50 (straight) to 75: the part "
                "plays with swing 75",
                "t:2:54: warning: humanize = 60 is over 50 ms: the part's hits move by up "
                "to 50 ms"}));
}

// The file read back by midicsv, an independent reader: the graces before their notes,
// the kit's notes for cross-stick, rimshot and bell, and a choke as aftertouch 127 then 0.
TEST(Expression, MidiExportHoldsGracesArticulationNotesAndChokes) {
  if (std::system("midicsv -u >/dev/null 2>&1") == 127) GTEST_SKIP() << "midicsv is not installed";
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("pw-expression-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string tab = (dir / "marks.tab").string();
  const std::string mid = (dir / "marks.mid").string();
  std::ofstream(tab) << "s = snare\nr = ride\nc = crash 1\npart = A tempo = 120 notes = 8\n"
                        "s |-f-d-cR|\nr |b-------|\nc |x-----!-|\nsong = A\n";
  const test::CliRun r = test::cli({"export", tab, "-o", mid});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string csv;
  if (std::FILE* pipe = ::popen(("midicsv " + mid).c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) csv += buffer;
    ::pclose(pipe);
  }
  fs::remove_all(dir);
  // "tick kind note value" of every note on and aftertouch, in file order.
  std::vector<std::string> events;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    int track = 0, tick = 0, channel = 0, note = 0, value = 0;
    char kind[32] = {};
    if (std::sscanf(line.c_str(), "%d, %d, %31[A-Za-z_], %d, %d, %d", &track, &tick, kind, &channel,
                    &note, &value) != 6)
      continue;
    const std::string k = kind;
    if (k == "Note_on_c" && value > 0)
      events.push_back(std::to_string(tick) + " on " + std::to_string(note) + " " +
                       std::to_string(value));
    if (k == "Poly_aftertouch_c")
      events.push_back(std::to_string(tick) + " at " + std::to_string(note) + " " +
                       std::to_string(value));
  }
  // Eighths of 480 ticks at 1.92 ticks a millisecond; graces two levels softer.
  EXPECT_EQ(events, (std::vector<std::string>{"0 on 53 76", "0 on 49 76", "422 on 38 50",
                                              "480 on 38 76", "1344 on 38 50", "1392 on 38 50",
                                              "1440 on 38 76", "2400 on 37 76", "2880 on 38 127",
                                              "2880 at 49 127", "2880 at 49 0"}));
}

}  // namespace
}  // namespace pulsewright
