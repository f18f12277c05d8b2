#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "cli/CliApp.h"
#include "tests/support/TestFiles.h"

namespace pulsewright {
namespace {

TEST(PlayCommand, LogsEveryEventWithItsTimeSincePlay) {
  const std::string song = tempPath("log.tab");
  writeFile(song,
            "k = kick\r\nw = wave /nonexistent/clap.wav pan -20\r\n"
            "part = A tempo = 1500 notes = 4 program = 25\r\nk |x-|\r\nw |-X|\r\nsong = AA\r\n");
  const std::string log = tempPath("play.log");
  std::istringstream in;
  std::ostringstream out, err;
  ASSERT_EQ(
      runCli({"play", song, "--device", "none", "--channel", "10", "--log", log}, in, out, err), 0)
      << err.str();
  const std::vector<std::string> lines = readLines(log);
  // Two steps of 10 ms, twice: the program change, the kick's note and the sample line's
  // rest on the first; the program change, the kick line's rest and the sample on the second.
  ASSERT_EQ(lines.size(), 19u);
  const std::regex midi(R"((\d+\.\d{3}) midi ([0-9a-f]{2}) (\d+) (\d+))");
  const std::regex sample(R"((\d+\.\d{3}) sample (\d+) (-?\d+) (.*))");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, midi)) << lines[0];
  EXPECT_EQ(m[2], "c9");
  EXPECT_EQ(m[3], "25");
  EXPECT_GE(std::stod(m[1]), 10.0);  // nothing sounds at the moment of Play
  EXPECT_TRUE(std::regex_match(lines[1], m, midi) && m[2] == "99" && m[3] == "36" && m[4] == "76");
  EXPECT_TRUE(std::regex_match(lines[2], m, midi) && m[2] == "89" && m[3] == "36" && m[4] == "0");
  ASSERT_TRUE(std::regex_match(lines[8], m, sample)) << lines[8];
  EXPECT_EQ(m[2], "8");
  EXPECT_EQ(m[3], "-20");
  EXPECT_EQ(m[4], "/nonexistent/clap.wav");
  EXPECT_GE(std::stod(m[1]), 20.0);
  EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"(\d+\.\d{3} end)"))) << lines.back();
  double previous = 0;
  for (const std::string& line : lines) {
    const double ms = std::stod(line);
    EXPECT_GE(ms, previous);
    previous = ms;
  }
}

TEST(PlayCommand, RefusesWhatItCannotPlay) {
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(runCli({"play", tempPath("missing.tab"), "--device", "none"}, in, out, err), 2);
  EXPECT_NE(err.str().find("missing.tab"), std::string::npos);
  const std::string song = tempPath("ok.tab");
  writeFile(song, "k = kick\r\npart = A tempo = 120 notes = 8\r\nk |x|\r\n");
  EXPECT_EQ(runCli({"play", song, "--channel", "17", "--device", "none"}, in, out, err), 2);
  EXPECT_EQ(runCli({"play", song, "--device", "no such device anywhere"}, in, out, err), 2);
  EXPECT_NE(err.str().find("no MIDI device matches"), std::string::npos);
  // A document with no part plays nothing and ends at once.
  const std::string empty = tempPath("empty.tab");
  writeFile(empty, "just words\r\n");
  const std::string log = tempPath("empty.log");
  EXPECT_EQ(runCli({"play", empty, "--device", "none", "--log", log}, in, out, err), 0);
  const std::vector<std::string> lines = readLines(log);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d+\.\d{3} end)"))) << lines[0];
}

TEST(PlayCommand, PracticeOptionsAndALogThatCannotBeWritten) {
  const std::string song = tempPath("practice.tab");
  writeFile(song, "k = kick\r\npart = A tempo = 1500 notes = 4\r\nk |x-|\r\nsong = A\r\n");
  std::istringstream in;
  std::ostringstream out, err;
  // A full disk fails the play with the system's reason instead of pretending success.
  EXPECT_EQ(runCli({"play", song, "--device", "none", "--log", "/dev/full"}, in, out, err), 2);
  EXPECT_NE(err.str().find("No space left on device"), std::string::npos) << err.str();

  // Three passes at half speed after a bar of count-in at 1500 bpm (40 ms a beat): the
  // clicks, then every pass right after the one before.
  const std::string log = tempPath("practice.log");
  ASSERT_EQ(runCli({"play", song, "--device", "none", "--log", log, "--loop", "3", "--count-in",
                    "--tempo-scale", "0.5"},
                   in, out, err),
            0)
      << err.str();
  std::vector<double> kicks, clicks;
  for (const std::string& line : readLines(log)) {
    if (line.find(" midi 90 36 ") != std::string::npos) kicks.push_back(std::stod(line));
    if (line.find(" midi 90 7") != std::string::npos) clicks.push_back(std::stod(line));
  }
  ASSERT_EQ(clicks.size(), 4u);
  EXPECT_NEAR(clicks[1] - clicks[0], 80.0, 0.01);
  ASSERT_EQ(kicks.size(), 3u);
  EXPECT_NEAR(kicks[0] - clicks[0], 320.0, 0.01);
  EXPECT_NEAR(kicks[1] - kicks[0], 160.0, 0.01);  // a kick and a rest of 80 ms each
  EXPECT_EQ(runCli({"play", song, "--device", "none", "--tempo-scale", "3"}, in, out, err), 2);
}

// The logged events without their end line: "<ms> midi <status> <data1> <data2>".
std::vector<std::string> loggedEvents(const std::string& log) {
  std::vector<std::string> lines = readLines(log);
  if (!lines.empty() && lines.back().find(" end") != std::string::npos) lines.pop_back();
  return lines;
}

TEST(PlayCommand, MutedAndSoloedVoicesAreLeftOutAndTheRestPlaysAsBefore) {
  const std::string song = tempPath("mute.tab");
  writeFile(song,
            "k = kick\r\ns = snare\r\nh = closed hat\r\npart = A tempo = 1500 notes = 8\r\n"
            "h |xxXx|\r\ns |XxxX|\r\nk |xxxx|\r\nsong = AA\r\n");
  std::istringstream in;
  std::ostringstream out, err;
  auto play = [&](std::vector<std::string> extra) {
    const std::string log = tempPath("mute.log");
    std::vector<std::string> args = {"play", song, "--device", "none", "--log", log};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(runCli(args, in, out, err), 0) << err.str();
    return loggedEvents(log);
  };
  const std::vector<std::string> all = play({});
  // What a hat-only play must log: every line of the full play that is no kick or snare.
  std::vector<std::string> hats;
  for (const std::string& line : all) {
    if (line.find(" 36 ") == std::string::npos && line.find(" 38 ") == std::string::npos) {
      hats.push_back(line);
    }
  }
  ASSERT_EQ(all.size(), 48u);  // 8 ticks of three notes, each an on and an off
  ASSERT_EQ(hats.size(), 16u);
  EXPECT_EQ(play({"--mute", "k,s"}), hats);
  EXPECT_EQ(play({"--solo", "h"}), hats);
  EXPECT_EQ(play({"--mute", "Bass Drum", "--solo", "k,Closed Hat"}), hats);

  // A name no grid line plays is refused before anything sounds.
  err.str("");
  EXPECT_EQ(runCli({"play", song, "--device", "none", "--mute", "k,x"}, in, out, err), 2);
  EXPECT_NE(
      err.str().find("--mute: no grid line of " + song + " plays \"x\" (its voices: h, s, k)"),
      std::string::npos)
      << err.str();
}

TEST(PlayCommand, TheSpeedTrainerPlaysEveryPassFasterUpToItsEnd) {
  const std::string song = tempPath("ramp.tab");
  writeFile(song, "k = kick\r\npart = A tempo = 1500 notes = 4\r\nk |xx|\r\nsong = A\r\n");
  const std::string log = tempPath("ramp.log");
  std::istringstream in;
  std::ostringstream out, err;
  ASSERT_EQ(runCli({"play", song, "--device", "none", "--log", log}, in, out, err), 0);
  std::vector<double> kicks;
  auto readKicks = [&] {
    kicks.clear();
    for (const std::string& line : readLines(log)) {
      if (line.find(" midi 90 36 ") != std::string::npos) kicks.push_back(std::stod(line));
    }
  };
  readKicks();
  ASSERT_EQ(kicks.size(), 2u);
  const double step = kicks[1] - kicks[0];  // at the written tempo

  ASSERT_EQ(runCli({"play", song, "--device", "none", "--log", log, "--loop", "4", "--tempo-ramp",
                    "50:25:90"},
                   in, out, err),
            0)
      << err.str();
  readKicks();
  ASSERT_EQ(kicks.size(), 8u);
  const double scales[] = {0.5, 0.75, 0.9, 0.9};
  for (int pass = 0; pass < 4; ++pass) {
    // Within a pass its own speed; the wait after its last step still at that speed.
    EXPECT_NEAR(kicks[2 * pass + 1] - kicks[2 * pass], step / scales[pass], 0.01) << pass;
    if (pass < 3) {
      EXPECT_NEAR(kicks[2 * pass + 2] - kicks[2 * pass + 1], step / scales[pass], 0.01) << pass;
    }
  }
  EXPECT_NEAR(kicks[0], step / 0.5, 0.01);  // the first wait too

  for (const char* ramp : {"100:5:70", "70:5", "10:5:100", "x:5:100"}) {
    err.str("");
    EXPECT_EQ(runCli({"play", song, "--device", "none", "--tempo-ramp", ramp}, in, out, err), 2)
        << ramp;
    EXPECT_NE(err.str().find("--tempo-ramp"), std::string::npos) << err.str();
  }
  EXPECT_EQ(
      runCli({"play", song, "--device", "none", "--tempo-ramp", "70:5:100", "--tempo-scale", "0.5"},
             in, out, err),
      2);
}

// Each expression mark as `play --log` sends it, one document per row: the hits and
// messages it makes (rests and note-offs aside) at their times since Play. Step 0 plays
// at 100 ms. A mark the drum cannot take plays as a plain hit and is warned about; the
// marks of the song's last step still go out before it ends.
TEST(PlayCommand, EachExpressionMarkPlaysItsGracesRollsSoundsAndCuts) {
  struct Row {
    const char* grid;
    const char* section;
    const char* events;
  };
  const Row rows[] = {
      {"s |f-|", "", "70 90 38 50,100 90 38 76"},
      {"s |F-|", "", "70 90 38 76,100 90 38 101"},
      {"s |d-|", "", "50 90 38 50,75 90 38 50,100 90 38 76"},
      {"s |z-|", "", "100 90 38 76,130 90 38 38,160 90 38 38"},
      {"s |c-|", "", "100 90 37 76"},
      {"s |r-|", "", "100 90 38 101"},
      {"r |b-|", "", "100 90 53 76"},
      {"r |e-|", "", "100 90 59 76"},
      {"h |h-|", "", "100 90 46 76,160 a0 46 127,160 a0 46 0"},
      {"c |x!|", "", "100 90 49 76,200 a0 49 127,200 a0 49 0"},
      {"k |b-|", "", "100 90 36 76"},
      {"st |R-|\ns |x-|", "", "100 90 38 76"},
      // Pairs of quarters of 100 ms split 62:38; the first tick comes one step after Play.
      {"s |xxxx|", " swing = 62", "124 90 38 76,248 90 38 76,324 90 38 76,448 90 38 76"},
      {"s |xx|", " humanize = 8", "105 90 38 76,200 90 38 88"},
  };
  const std::string song = tempPath("marks.tab");
  const std::string log = tempPath("marks.log");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.grid);
    writeFile(song, std::string("k = kick\ns = snare\nr = ride\nh = closed hat\nc = crash 1\n") +
                        "part = A tempo = 600 notes = 4" + row.section + "\n" + row.grid +
                        "\nsong = A\n");
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(runCli({"play", song, "--device", "none", "--sound-device", "none", "--log", log}, in,
                     out, err),
              0)
        << err.str();
    std::string events;
    const std::regex message(R"((\d+)\.000 midi ([0-9a-f]{2}) (\d+) (\d+))");
    for (const std::string& line : readLines(log)) {
      std::smatch m;
      if (!std::regex_match(line, m, message) || m[3] == "0" || m[2] == "80") continue;
      if (!events.empty()) events += ',';
      events += m[1].str() + " " + m[2].str() + " " + m[3].str() + " " + m[4].str();
    }
    EXPECT_EQ(events, row.events);
    if (std::string(row.grid) == "k |b-|") {
      std::ostringstream said, problems;
      runCli({"check", song}, in, said, problems);
      EXPECT_NE(problems.str().find(":7:4: warning: 'b' at column 4 is a bell, which a Bass Drum "
                                    "line cannot take: it plays as a plain hit"),
                std::string::npos)
          << problems.str();
    }
  }
}

}  // namespace
}  // namespace pulsewright
