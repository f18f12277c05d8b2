#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "padmap/PadMap.h"
#include "tests/support/CliRun.h"

namespace pulsewright {
namespace {

using test::cli;
using CliResult = test::CliRun;

class Cli : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pw-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::filesystem::path dir_;
};

const std::string kKick = "k = kick\r\npart = A tempo = 120 notes = 8\r\nk |x-|\r\n";

TEST_F(Cli, FilesOfOneRunShareTheCompilerState) {
  const std::string first =
      write("a.tab", "k = kick\r\nsong = AB\r\npart = A tempo = 120 notes = 8\r\n");
  const std::string second = write("b.tab", "part = B tempo = 60 notes = 4\r\nk |x-|\r\n");
  const CliResult r = cli({"compile", first, second});
  EXPECT_EQ(r.status, 0);
  const std::size_t end = r.out.find('\n');
  ASSERT_NE(end, std::string::npos);
  const std::string line2 = r.out.substr(end + 1);
  EXPECT_EQ(line2.find('\n'), line2.size() - 1);  // one line per file
  EXPECT_NE(line2.find(R"("SongLine":"AB")"), std::string::npos) << line2;
  EXPECT_NE(line2.find(R"("Bass Drum":"k")"), std::string::npos) << line2;
  EXPECT_NE(line2.find(R"("StepTimes":[1000,1000,1000,1000],"StepEvents":["36,5|","0,0|","",""])"),
            std::string::npos)
      << line2;
}

TEST_F(Cli, DashReadsStandardInputWithAnyLineEnds) {
  const CliResult r = cli({"compile", "-"}, "k = kick\npart = A tempo = 120 notes = 8\rk |x-|");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(R"("StepEvents":["36,5|","0,0|","",""])"), std::string::npos) << r.out;
}

TEST_F(Cli, UnreadableInputsAreNamedAndDoNotStopTheOtherFiles) {
  const std::string fifo = (dir_ / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string good = write("good.tab", kKick);
  for (const std::string& bad :
       {(dir_ / "missing.tab").string(), dir_.string(), std::string("/dev/zero"), fifo}) {
    const CliResult r = cli({"compile", bad, good});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("cannot read " + bad + ":"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << bad;  // good.tab still compiled

    const CliResult map = cli({"compile", "--padmap", bad, good});
    EXPECT_EQ(map.status, 2) << bad;
    EXPECT_NE(map.err.find(bad), std::string::npos) << map.err;
  }
}

TEST_F(Cli, CheckListsTheKindsOfEveryLine) {
  const std::string text =
      "k = kick\r\nhello\r\npart = A tempo = 1\r\npart = snare tempo = 90 notes = 8 program = 3\r\n"
      "k |x-|";
  const CliResult r = cli({"check", "-"}, text);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "1: voice Bass Drum (symbol first)\n"
            "2: ignored\n"
            "3: ignored (not a section line: it needs notes = N)\n"
            "4: voice Snare Drum (symbol first), section with program\n"
            "5: grid\n");

  const std::string a = write("a.tab", "song = A");
  const CliResult two = cli({"check", a, a});
  EXPECT_EQ(two.out, a + ":1: song\n" + a + ":1: song\n");
}

TEST_F(Cli, CheckReportsProblemsWithFileLineAndColumn) {
  const std::string file = write("faults.tab",
                                 "k = kick\r\n"
                                 "part = A tempo = 120 notes = 8\r\n"
                                 "k |x-x-|\r\n"
                                 "s |x-o-|\r\n"
                                 "k |x-é-|\r\n"
                                 "part = B notes = 8\r\n"
                                 "song = AB\r\n"
                                 "k. |x-o-|\r\n");
  const CliResult r = cli({"check", file});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, 9), "1: voice ");  // the listing stays as it was
  EXPECT_EQ(r.err,
            file +
                ":4:1: error: 's' is defined by no voice or wave line above it (such as "
                "'s = snare'): this line plays the sound of line 3 ('k')\n" +
                file +
                ":5:6: error: grid line ignored: 'é' at column 6 is not a hit (x X o O 0-9), "
                "an expression mark (f d z c r b e h in either case, !), a rest (-), a bar "
                "line (|) or a bracket ([ ])\n" +
                file +
                ":6:1: error: not a section line: it needs tempo = N; the grid lines under "
                "it go on in part 'A'\n" +
                file +
                ":7:9: error: 'B' in the song names no part: part 'A' plays again in its "
                "place\n" +
                file +
                ":8:2: error: grid line ignored: '.' at column 2 cannot stand in a symbol "
                "(letters, digits and _)\n");
  const std::string fromStdin = cli({"check", "-"}, "k = kick\r\nk |x-|").err;
  EXPECT_NE(fromStdin.find("\n<stdin>:2:1: error: grid line before any section line"),
            std::string::npos)
      << fromStdin;
}

TEST_F(Cli, PresetAndPadMapFileChooseTheNotes) {
  const std::string text =
      "p = pedal hat\r\nt = tom 1\r\npart = A tempo = 120 notes = 8\r\np |x-|\r\nt |x-|";
  EXPECT_NE(cli({"compile", "-"}, text).out.find(R"(["44,5|50,5|",)"), std::string::npos);
  EXPECT_NE(cli({"compile", "--preset", "1", "-"}, text).out.find(R"(["44,5|50,5|",)"),
            std::string::npos);
  EXPECT_NE(cli({"compile", "--preset", "2", "-"}, text).out.find(R"(["0,5|48,5|",)"),
            std::string::npos);
  EXPECT_EQ(cli({"compile", "--preset", "3", "-"}, text).status, 2);

  PadMap map = defaultPadMap();
  map[index(DrumVoice::PedalHat)] = "99";
  const std::string file = write("mine.drm", formatPadMapFile(map));
  const CliResult r = cli({"compile", "--padmap", file, "-"}, text);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(R"(["99,5|50,5|",)"), std::string::npos) << r.out;
}

TEST_F(Cli, JsonEscapesQuotesBackslashesAndControlCharacters) {
  const CliResult r =
      cli({"compile", "-"}, "meta title = a \"q\" \\ b \x01\t\x0B\x0C\x1F end\r\nsong = \\\"");
  EXPECT_EQ(r.status, 0);
  // Form feed has a short escape of its own; the other control characters have none.
  EXPECT_NE(r.out.find(R"("MetaTitle":"a \"q\" \\ b \u0001\t\u000b\f\u001f end")"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(R"("SongLine":"\\\"")"), std::string::npos) << r.out;
}

TEST_F(Cli, HelpVersionAndUsageErrorsFollowTheUsualConventions) {
  const CliResult version = cli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_search(version.out, std::regex(R"(^pulsewright-cli \d+\.\d+\.\d+)")))
      << version.out;
  const CliResult help = cli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* command : {"compile", "check", "play", "devices"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  EXPECT_NE(cli({"play", "--help"}).out.find("--sound-device"), std::string::npos);

  const std::string song = write("a.tab", kKick);
  // Each of these is refused before any file is read, with a reason on standard error.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"bogus"},
                                             {"compile"},
                                             {"compile", "--bogus", song},
                                             {"compile", "--preset", "1", "--padmap", song, song},
                                             {"play", song, song},
                                             {"play", song, "--channel", "0"},
                                             {"play", song, "--channel", "x"},
                                             {"devices", "extra"}}) {
    const CliResult r = cli(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(r.err.rfind("pulsewright-cli: ", 0), 0u) << r.err;
  }
}

// Peak memory (KB) of the built program compiling `doc` into `out`; -1 when it failed.
long compilePeakKb(const std::string& doc, const std::string& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> args = {PW_CLI_PATH, "compile", doc};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, PW_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (spawned != 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss;
}

// The built program compiles a 4 MB grid line with a peak memory, beyond what it takes
// for a document of one line, under twice the JSON it writes. (The sanitizers' shadow
// memory would count in the peak.)
TEST_F(Cli, CompilePeaksUnderTwiceItsOutput) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer build";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "sanitizer build";
#endif
#endif
  std::string grid = "k = kick\npart = A tempo = 120 notes = 8\nsong = A\nk |";
  for (int i = 0; i < 838860; ++i) grid += "x-x-|";
  const std::string out = (dir_ / "out.json").string();
  const long base = compilePeakKb(write("kick.tab", "k = kick\n"), out);
  const long peak = compilePeakKb(write("grid.tab", grid + "\n"), out);
  ASSERT_GT(base, 0);
  ASSERT_GT(peak, 0);
  const auto written = static_cast<long>(std::filesystem::file_size(out));
  EXPECT_GT(written, 30L << 20);
  EXPECT_LT((peak - base) * 1024, 2 * written) << "peak " << peak << " KB, one line " << base;
}

// Record refuses what it cannot do before anything plays: an output that is the input,
// an input no port matches, a part the document lacks; nothing is written.
TEST_F(Cli, RecordRefusesBeforePlaying) {
  const std::string song = write("a.tab", kKick);
  const std::string out = (dir_ / "out.tab").string();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"record", song, "--part", "A", "--input", "x", "-o", song},
           {"record", song, "--part", "A", "--input", "no such kit", "--device", "none", "-o", out},
           {"record", song, "--input", "x", "-o", out},
           {"record", song, "--part", "A", "--input", "x", "--loops", "-1", "-o", out},
           {"record", song, "--part", "B", "--input", "x", "--device", "none", "-o", out}}) {
    const CliResult r = cli(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_EQ(r.err.rfind("pulsewright-cli: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(cli({"record", song, "--part", "A", "--input", "kit", "--device", "none", "-o", out})
                .err.find("no MIDI input matches kit"),
            0u + std::string("pulsewright-cli: ").size());
  EXPECT_FALSE(std::filesystem::exists(out));

  // A hits log that is the output, by its name, another spelling or a link, would
  // replace the take: refused before anything plays.
  std::filesystem::create_directory(dir_ / "sub");
  ASSERT_EQ(::symlink("out.tab", (dir_ / "link.tab").c_str()), 0);
  for (const std::string& log :
       {out, (dir_ / "sub" / ".." / "out.tab").string(), (dir_ / "link.tab").string()}) {
    const CliResult r = cli({"record", song, "--part", "A", "--input", "x", "--device", "none",
                             "-o", out, "--hits-log", log});
    EXPECT_EQ(r.status, 2) << log;
    EXPECT_EQ(r.err, "pulsewright-cli: cannot write " + log + ": it is the output " + out +
                         ": the hits log would replace the take\n");
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Edit changes only the steps it names, in the order given, and says where; a voice with
// no line in the part gets one, bound for it, with the file's own line ends.
TEST_F(Cli, EditSetsAndClearsStepsChangingNoOtherByte) {
  const std::string before =
      "k = kick\r\ns = snare\r\n; groove\r\npart = A tempo = 120 notes = 8\r\n"
      "k |x---x---|x---x---|\r\n  s  |--x-|  \r\nsong = A";
  const std::string song = write("a.tab", before);
  const CliResult r = cli({"edit", song, "--set", "A:s:3=X", "--clear", "A:kick:1", "--set",
                           "A:k:2=o", "--set", "A:Hand Clap:4=7", "--set", "A:s:3=X"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, song + ":6:9: set s from x to X\n" + song + ":5:4: set k from x to -\n" + song +
                       ":5:5: set k from - to o\n" + song + ":8:8: set cl from - to 7\n");
  EXPECT_EQ(readBytes(song),
            "k = kick\r\ns = snare\r\n; groove\r\npart = A tempo = 120 notes = 8\r\n"
            "k |-o--x---|x---x---|\r\n  s  |--X-|  \r\ncl = Claps\r\ncl |---7----|--------|\r\n"
            "song = A");

  // Past the end of a shorter line: it is lengthened with rests, as the part is barred.
  const CliResult longer = cli({"edit", song, "-o", (dir_ / "b.tab").string(), "--set", "A:s:6=5"});
  EXPECT_EQ(longer.status, 0) << longer.err;
  EXPECT_EQ(longer.out, song + ":6:12: set s from - to 5\n");
  EXPECT_NE(readBytes((dir_ / "b.tab").string()).find("  s  |--X--5|  \r\n"), std::string::npos);
  EXPECT_EQ(readBytes(song).find("-5|"), std::string::npos);  // -o leaves FILE as it was
}

// A Windows-1252 file stays Windows-1252 and a byte-order mark stays; LF stays LF.
TEST_F(Cli, EditKeepsTheEncodingTheMarkAndTheLineEnds) {
  const std::string latin =
      write("latin.tab",
            "meta title = Caf\xE9 \x80\nk = kick\npart = A tempo = 90 notes = 4\n"
            "k |x-x-|\n");
  EXPECT_EQ(cli({"edit", latin, "--set", "A:k:2=9"}).status, 0);
  EXPECT_EQ(readBytes(latin),
            "meta title = Caf\xE9 \x80\nk = kick\npart = A tempo = 90 notes = 4\nk |x9x-|\n");
  const std::string marked =
      write("bom.tab", "\xEF\xBB\xBFk = kick\npart = \xC3\xA9 tempo = 90 notes = 4\nk |x-x-|");
  const CliResult r = cli({"edit", marked, "--set", "\xC3\xA9:k:4=x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readBytes(marked),
            "\xEF\xBB\xBFk = kick\npart = \xC3\xA9 tempo = 90 notes = 4\nk |x-xx|");
}

// What does not exist is named, exit 2, and the file is left untouched, even when an
// earlier edit of the same run was good.
TEST_F(Cli, EditRefusesWhatDoesNotExistAndWritesNothing) {
  const std::string before = "k = kick\npart = A tempo = 120 notes = 8\nk |x---|\n";
  const std::string song = write("a.tab", before);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--set", "B:k:1=x"}, "no part is named 'B'"},
      {{"--set", "A:q:1=x"}, "no voice 'q' in part 'A'"},
      {{"--set", "A:k:5=x"}, "part 'A' has 4 steps, not 5"},
      {{"--set", "A:k:0=x"}, "step '0' is no step number"},
      {{"--set", "A:k:1=x", "--set", "A:k:1=z"}, "'z' is no grid mark"},
      {{"--clear", "A:q:1"}, "no voice 'q' in part 'A'"},
      {{"--set", "A:k:1"}, "expected PART:VOICE:STEP=MARK"},
  };
  for (const auto& [edits, message] : cases) {
    std::vector<std::string> args = {"edit", song};
    args.insert(args.end(), edits.begin(), edits.end());
    const CliResult r = cli(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.err.rfind("pulsewright-cli: " + song + ": ", 0), 0U) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readBytes(song), before);
  }
}

}  // namespace
}  // namespace pulsewright
