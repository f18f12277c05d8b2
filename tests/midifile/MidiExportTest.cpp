#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>

#include "cli/CliApp.h"
#include "tests/midifile/MidiFileReader.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestFiles.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;

using test::cli;
using test::CliRun;

class MidiExport : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-midi-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

struct Message {
  double ms;
  int status, data1, data2;
};

// Every golden document, exported and read back, holds exactly the notes, velocities and
// program changes that `play --log` sends for it, at the same times: the log's times are
// the player's whole milliseconds, the file's follow from its tempo map in musical time,
// so they may differ by less than a millisecond per step played before.
TEST_F(MidiExport, EveryGoldenDocumentReadsBackAsItsPlaySchedule) {
  std::vector<fs::path> documents;
  for (const auto& entry : fs::directory_iterator(PW_TEST_DATA_DIR)) {
    if (entry.path().extension() == ".tab") documents.push_back(entry.path());
  }
  ASSERT_GE(documents.size(), 6u);
  // The plays run in real time, all at once.
  std::vector<std::future<int>> plays;
  for (const fs::path& doc : documents) {
    const std::string command = std::string(PW_CLI) + " play '" + doc.string() +
                                "' --device none --channel 10 --log '" +
                                (dir_ / doc.stem()).string() + ".log' > /dev/null 2>&1";
    plays.push_back(
        std::async(std::launch::async, [command] { return std::system(command.c_str()); }));
  }
  for (const fs::path& doc : documents) {
    const std::string mid = (dir_ / doc.stem()).string() + ".mid";
    EXPECT_EQ(cli({"export", doc.string(), "-o", mid}).status, 0) << doc;
  }
  for (auto& p : plays) EXPECT_EQ(p.get(), 0);

  for (const fs::path& doc : documents) {
    SCOPED_TRACE(doc.stem().string());
    // The log: note ons that sound (not the rests' note 0) and program changes.
    std::vector<Message> played;
    std::vector<double> tickTimes;
    std::istringstream log(readFile(dir_ / (doc.stem().string() + ".log")));
    const std::regex midi(R"((\d+\.\d+) midi ([0-9a-f]{2}) (\d+) (\d+))");
    std::smatch m;
    int lastProgram = -1;
    for (std::string line; std::getline(log, line);) {
      if (!std::regex_match(line, m, midi)) continue;
      const Message msg{std::stod(m[1]), std::stoi(m[2], nullptr, 16), std::stoi(m[3]),
                        std::stoi(m[4])};
      if (tickTimes.empty() || tickTimes.back() != msg.ms) tickTimes.push_back(msg.ms);
      if (msg.status == 0xC9 && msg.data1 != lastProgram) {
        played.push_back(msg);
        lastProgram = msg.data1;
      } else if (msg.status == 0x99 && msg.data1 != 0 && msg.data2 != 0) {
        played.push_back(msg);
      }
    }
    ASSERT_FALSE(tickTimes.empty());
    const double first = tickTimes.front();

    const test::ReadFile file = test::readMidiFile(readFile(dir_ / (doc.stem().string() + ".mid")));
    EXPECT_EQ(file.format, 1);
    EXPECT_EQ(file.division, 960);
    std::vector<Message> written;
    for (const test::ReadEvent& e : file.events) {
      if (e.track == 1 && (e.status == 0x99 || e.status == 0xC9)) {
        written.push_back({e.ms, e.status, e.data1, e.data2});
      }
    }
    ASSERT_EQ(written.size(), played.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
      const Message& p = played[i];
      const Message& w = written[i];
      EXPECT_EQ(w.status, p.status) << i;
      EXPECT_EQ(w.data1, p.data1) << i;
      EXPECT_EQ(w.data2, p.data2) << i;
      const auto stepsBefore =
          std::lower_bound(tickTimes.begin(), tickTimes.end(), p.ms) - tickTimes.begin();
      EXPECT_NEAR(w.ms, p.ms - first, 0.6 + static_cast<double>(stepsBefore)) << i;
    }
  }
}

// The time signatures follow the bars of the parts as the song plays them.
TEST_F(MidiExport, TimeSignaturesFollowThePartsBars) {
  std::ofstream(dir_ / "metres.tab") << "k = kick\n"
                                        "part = W tempo = 120 notes = 8\nk |x-x-x-|x-x-x-|\n"
                                        "part = F tempo = 120 notes = 8\nk |x-x-x-x-|\n"
                                        "song = WFW\n";
  const std::string out = (dir_ / "metres.mid").string();
  ASSERT_EQ(cli({"export", (dir_ / "metres.tab").string(), "-o", out}).status, 0);
  std::vector<std::pair<std::int64_t, std::string>> signatures;
  for (const test::ReadEvent& e : test::readMidiFile(readFile(out)).events) {
    if (e.status == 0xFF && e.data1 == 0x58) {
      signatures.emplace_back(e.tick, std::to_string(static_cast<unsigned char>(e.text[0])) + "/" +
                                          std::to_string(1 << e.text[1]));
    }
  }
  // Two bars of 3/4 (2 x 2880 ticks), one of 4/4 (3840), then 3/4 again.
  EXPECT_EQ(signatures, (std::vector<std::pair<std::int64_t, std::string>>{
                            {0, "3/4"}, {5760, "4/4"}, {9600, "3/4"}}));
}

TEST_F(MidiExport, MutedVoicesAreLeftOutOnlyWhenAsked) {
  const std::string doc = std::string(PW_TEST_DATA_DIR) + "/basic-rock.tab";
  const std::string plain = (dir_ / "plain.mid").string();
  const std::string muted = (dir_ / "muted.mid").string();
  ASSERT_EQ(cli({"export", doc, "-o", plain}).status, 0);
  ASSERT_EQ(cli({"export", doc, "-o", muted, "--mute", "k,s"}).status, 0);
  auto notes = [](const std::string& file) {
    std::vector<std::string> on;
    for (const test::ReadEvent& e : test::readMidiFile(readFile(file)).events) {
      if ((e.status & 0xF0) == 0x90 && e.data2 > 0) {
        on.push_back(std::to_string(e.tick) + ":" + std::to_string(e.data1));
      }
    }
    return on;
  };
  std::vector<std::string> withoutKickAndSnare;
  for (const std::string& n : notes(plain)) {
    if (!n.ends_with(":36") && !n.ends_with(":38")) withoutKickAndSnare.push_back(n);
  }
  EXPECT_LT(withoutKickAndSnare.size(), notes(plain).size());
  EXPECT_EQ(notes(muted), withoutKickAndSnare);
  // The solo that leaves the same voices is the same file.
  const std::string soloed = (dir_ / "soloed.mid").string();
  ASSERT_EQ(cli({"export", doc, "-o", soloed, "--solo", "h,w1"}).status, 0);
  EXPECT_EQ(readFile(soloed), readFile(muted));
  const CliRun r = cli({"export", doc, "-o", soloed, "--solo", "oh"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--solo: no grid line"), std::string::npos) << r.err;
}

// A rest longer than one delta time can hold (0x0FFFFFFF ticks) keeps the next hit on
// its tick: the gap is bridged, never cut short.
TEST_F(MidiExport, AGapPastTheLongestDeltaTimeKeepsTheNextHitInPlace) {
  // Whole notes of 3840 ticks: 268,803,840 ticks, more than 19 hours at this tempo.
  constexpr int kRests = 70000;
  const fs::path doc = dir_ / "gap.tab";
  std::ofstream(doc) << "k = kick\npart = A tempo = 240 notes = 1\nk |x" << std::string(kRests, '-')
                     << "x|\nsong = A\n";
  const std::string out = (dir_ / "gap.mid").string();
  const CliRun r = cli({"export", doc.string(), "-o", out, "--max-length", "1e6"});
  ASSERT_EQ(r.status, 0) << r.err;
  const test::ReadFile file = test::readMidiFile(readFile(out));
  std::vector<std::int64_t> hits;
  std::int64_t end = 0;
  for (const test::ReadEvent& e : file.events) {
    if (e.track == 1 && (e.status & 0xF0) == 0x90 && e.data2 > 0) hits.push_back(e.tick);
    if (e.track == 1 && e.status == 0xFF && e.data1 == 0x2F) end = e.tick;
  }
  const std::int64_t whole = 4 * 960;
  EXPECT_EQ(hits, (std::vector<std::int64_t>{0, (kRests + 1) * whole}));
  EXPECT_EQ(end, (kRests + 2) * whole);
}

TEST_F(MidiExport, SaysWhatItLeavesOutAndRefusesWhatItCannotDo) {
  const std::string data = PW_TEST_DATA_DIR;
  const std::string out = (dir_ / "waves.mid").string();
  CliRun r = cli({"export", data + "/waves.tab", "-o", out, "--channel", "3"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("2 sample hits left out"), std::string::npos) << r.err;
  const test::ReadFile file = test::readMidiFile(readFile(out));
  for (const test::ReadEvent& e : file.events) {
    if (e.track == 1 && e.status != 0xFF) {
      EXPECT_EQ(e.status & 0x0F, 2);
    }
  }

  std::ofstream(dir_ / "words.tab") << "just words\n";
  r = cli({"export", (dir_ / "words.tab").string(), "-o", (dir_ / "words.mid").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nothing to play"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "words.mid"));

  EXPECT_EQ(cli({"export", data + "/basic-rock.tab", "-o", out, "--channel", "17"}).status, 2);
  EXPECT_EQ(cli({"export", data + "/basic-rock.tab"}).status, 2);
  r = cli({"export", data + "/basic-rock.tab", "-o", (dir_ / "no/such/dir/x.mid").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos);
  EXPECT_EQ(readFile(out).substr(0, 4), "MThd");
}

}  // namespace
}  // namespace pulsewright
