#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <tuple>

#include "cli/CliApp.h"
#include "tabimport/DrumTabImport.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestFiles.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;

const std::string kTabs = std::string(PW_TEST_DATA_DIR) + "/tabs/";

using test::cli;
using test::CliRun;

class TabImport : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-tabs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    ::chmod(dir_.c_str(), 0700);
    fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  fs::path dir_;
};

// Every tab of the corpus imports to its hand-written document, with exactly the
// warnings written beside it, and that document compiles and checks clean.
TEST_F(TabImport, CorpusImportsToTheWrittenDocumentsWhichCheckClean) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(kTabs)) {
    if (entry.path().extension() != ".txt") continue;
    ++count;
    const std::string stem = entry.path().stem().string();
    const std::string expected = kTabs + stem + ".tab";
    SCOPED_TRACE(stem);
    const CliRun r = cli({"import", entry.path().string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, readFile(expected));
    std::string warnings = readFile(kTabs + stem + ".warnings");
    EXPECT_EQ(std::regex_replace(r.err, std::regex(kTabs), ""), warnings);

    const CliRun check = cli({"check", expected});
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.err, "");
    std::istringstream lines(readFile(expected));
    std::istringstream kinds(check.out);
    std::string line, kind;
    while (std::getline(lines, line) && std::getline(kinds, kind)) {
      EXPECT_EQ(line.empty(), kind.find("ignored") != std::string::npos) << line << " -> " << kind;
    }
  }
  EXPECT_GE(count, 12);
}

// An imported tab, played, sounds every hit of the tab at the tab's own time: stacked
// systems, a repeat, open hats, a ghost note, accents and ride bells.
TEST_F(TabImport, ImportedTabPlaysEveryHitAtTheTabsTime) {
  const std::string tab = write("groove.txt",
                                "Tempo: 250\n"
                                "HH|x-o-x-o-|\n"
                                "SD|--g---X-| x2\n"
                                "\n"
                                "Rd|b-x-b-x-|\n"
                                "BD|X---x---|\n");
  const std::string doc = path("groove.tab");
  ASSERT_EQ(cli({"import", tab, "-o", doc}).status, 0);
  const std::string log = path("play.log");
  const CliRun played = cli({"play", doc, "--device", "none", "--log", log});
  ASSERT_EQ(played.status, 0) << played.err;

  // (step, note, velocity); one step is an eighth at 250 per minute, 120 ms.
  using Hit = std::tuple<int, int, int>;
  std::vector<Hit> expected;
  for (int pass : {0, 8}) {
    for (Hit h : {Hit{0, 42, 76}, Hit{2, 46, 76}, Hit{2, 38, 38}, Hit{4, 42, 76}, Hit{6, 46, 76},
                  Hit{6, 38, 101}}) {
      std::get<0>(h) += pass;
      expected.push_back(h);
    }
  }
  for (const Hit& h : {Hit{16, 53, 76}, Hit{16, 36, 101}, Hit{18, 51, 76}, Hit{20, 53, 76},
                       Hit{20, 36, 76}, Hit{22, 51, 76}}) {
    expected.push_back(h);
  }

  std::vector<Hit> heard;
  std::istringstream lines(readFile(log));
  const std::regex noteOn(R"((\d+\.\d+) midi 9[0-9a-f] (\d+) (\d+))");
  double first = -1;
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    // Rests go out as note 0; a velocity of 0 is a note off.
    if (!std::regex_match(line, m, noteOn) || m[2] == "0" || m[3] == "0") continue;
    const double ms = std::stod(m[1]);
    if (first < 0) first = ms;
    const double steps = (ms - first) / 120.0;
    const int step = static_cast<int>(std::lround(steps));
    EXPECT_NEAR(ms - first, step * 120.0, 15.0) << line;
    heard.emplace_back(step, std::stoi(m[2]), std::stoi(m[3]));
  }
  std::sort(expected.begin(), expected.end());
  std::sort(heard.begin(), heard.end());
  EXPECT_EQ(heard, expected);
}

// More distinct systems than a song has characters to name: every name is valid UTF-8
// and plays, the document checks clean, and the import says what it left out.
TEST_F(TabImport, PartNamesStayValidAndWhatHasNoNameIsCounted) {
  std::string tab;
  constexpr int kSystems = 39000;
  for (int i = 0; i < kSystems; ++i) {
    tab += "SD|";
    for (int bit = 0; bit < 16; ++bit) tab += (i >> bit) & 1 ? 'x' : '-';
    tab += i == kSystems - 1 ? "| x3\n\n" : "|\n\n";
  }
  const CliRun r = cli({"import", write("many.txt", tab), "-o", path("many.tab")});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string doc = readFile(path("many.tab"));
  EXPECT_TRUE(isValidUtf8(doc));
  // 62 letters and digits, then ideographs and syllables; the last systems get none.
  EXPECT_NE(r.err.find("many.txt:77437:1: warning: the song has no part names left: 282 "
                       "systems from here (284 bars) left out"),
            std::string::npos)
      << r.err;
  const CliRun check = cli({"check", path("many.tab")});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.err, "");
}

TEST_F(TabImport, RefusesWhatItCannotReadOrWrite) {
  // No instrument line: a message, exit 1 and no output file.
  const std::string prose = write("prose.txt", "Play it like the record.\nHH = hi-hat\n|x-x-|\n");
  CliRun r = cli({"import", prose, "-o", path("prose.tab")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no drum tab lines found"), std::string::npos);
  EXPECT_FALSE(fs::exists(path("prose.tab")));

  // Binary bytes are decoded, never crash, and find nothing or something.
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) % 256);
  binary += std::string("\nBD|x\xff\0-|\n", 10);
  r = cli({"import", write("noise.bin", binary)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("k |x---|"), std::string::npos) << r.out;

  // --tempo overrides the text; a bad value is refused.
  const std::string tab = write("t.txt", "Tempo 90\nSD|x-x-|\n");
  EXPECT_NE(cli({"import", tab, "--tempo", "75"}).out.find("tempo = 75 notes = 4"),
            std::string::npos);
  EXPECT_EQ(cli({"import", tab, "--tempo", "0"}).status, 2);

  // An output that cannot be written: exit 2, a message naming it, the old file whole
  // and no temporary file left beside it.
  const std::string out = write("keep.tab", "old text\n");
  ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
  if (::access(dir_.c_str(), W_OK) != 0) {  // not when the tests run as root
    r = cli({"import", tab, "-o", out});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write " + out), std::string::npos) << r.err;
  }
  ::chmod(dir_.c_str(), 0700);
  r = cli({"import", tab, "-o", path("no/such/folder/x.tab")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readFile(out), "old text\n");
  r = cli({"import", tab, "-o", out});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(readFile(out).find("song = A"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4);
}

}  // namespace
}  // namespace pulsewright
