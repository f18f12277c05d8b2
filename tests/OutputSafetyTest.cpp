// Outputs of every command against its inputs and special files, through the command
// line: in this process where that is enough, as the built program where a signal or
// the real standard output is what matters.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fileio/OutputFile.h"
#include "tests/support/CliRun.h"

extern char** environ;

namespace pulsewright {
namespace {

namespace fs = std::filesystem;
using test::cli;
using test::CliRun;

const std::string kSong = "k = kick\r\npart = A tempo = 120 notes = 8\r\nk |x-x-|\r\nsong = AA\r\n";

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class Outputs : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-out-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> all;
    for (const auto& entry : fs::directory_iterator(dir_)) all.push_back(entry.path().filename());
    std::sort(all.begin(), all.end());
    return all;
  }
  fs::path dir_;
};

TEST_F(Outputs, AnOutputThatIsAnInputIsRefusedAndTheInputKept) {
  const std::string doc = write("same.mid", kSong);
  const std::string tab = write("t.txt", "HH|x-x-x-x-|\nBD|o---o---|\n");
  write("doc.wav", kSong);
  ASSERT_EQ(::symlink("same.mid", path("link.mid").c_str()), 0);
  ASSERT_EQ(::link(doc.c_str(), path("hard.mid").c_str()), 0);
  const std::vector<std::vector<std::string>> runs = {
      {"export", doc, "-o", doc},
      {"export", doc, "-o", path("link.mid")},
      {"export", doc, "-o", path("hard.mid")},
      {"export", path("link.mid"), "-o", doc},
      {"import", tab, "-o", tab},
      {"play", doc, "--device", "none", "--log", doc},
      {"render", path("doc.wav"), "-o", path("doc.wav")},
      {"export", doc, "--padmap", tab, "-o", path("t.mid")},  // a pad map is an input too
  };
  for (const auto& args : runs) {
    const std::string output = args.back();
    if (output == path("t.mid")) {
      // The pad-map file, through a link named like an output.
      fs::remove(path("t.mid"));
      ASSERT_EQ(::symlink("t.txt", path("t.mid").c_str()), 0);
    }
    const CliRun r = cli(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args) << r.err;
    EXPECT_NE(r.err.find("cannot write " + output + ": it is the input"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(contents(doc), kSong);
  EXPECT_EQ(contents(path("doc.wav")), kSong);
  EXPECT_EQ(contents(tab), "HH|x-x-x-x-|\nBD|o---o---|\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"doc.wav", "hard.mid", "link.mid", "same.mid",
                                               "t.mid", "t.txt"}));
}

TEST_F(Outputs, DevicesFifosAndLinksAreWrittenThroughNotReplaced) {
  const std::string doc = write("song.tab", kSong);
  EXPECT_EQ(cli({"export", doc, "-o", "/dev/null"}).status, 0);
  struct stat info {};
  ASSERT_EQ(::stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));

  // A link is followed: the link stays, its target (new or old) gets the file.
  ASSERT_EQ(::symlink("sub/target.mid", path("link.mid").c_str()), 0);
  fs::create_directory(dir_ / "sub");
  ASSERT_EQ(cli({"export", doc, "-o", path("link.mid")}).status, 0);
  EXPECT_TRUE(fs::is_symlink(path("link.mid")));
  EXPECT_EQ(contents(path("sub/target.mid")).substr(0, 4), "MThd");
  ASSERT_EQ(cli({"import", write("t.txt", "BD|o---|\n"), "-o", path("link.mid")}).status, 0);
  EXPECT_TRUE(fs::is_symlink(path("link.mid")));
  EXPECT_NE(contents(path("sub/target.mid")).find("kick"), std::string::npos);

  // A FIFO with a reader gets the bytes; one without is refused at once, not waited on.
  const std::string fifo = path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const CliRun piped = cli({"export", doc, "-o", fifo});
  EXPECT_EQ(piped.status, 0) << piped.err;
  char head[4] = {};
  EXPECT_EQ(::read(reader, head, 4), 4);
  EXPECT_EQ(std::string(head, 4), "MThd");
  ::close(reader);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"export", doc, "-o", fifo}, {"play", doc, "--device", "none", "--log", fifo}}) {
    const CliRun r = cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(fifo + ": a FIFO that no program is reading"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A folder and a read-only file are refused, also for root, and left as they were.
  const std::string locked = write("locked.mid", "keep me");
  ::chmod(locked.c_str(), 0444);
  CliRun r = cli({"export", doc, "-o", locked});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot write " + locked + ": Permission denied"), std::string::npos)
      << r.err;
  EXPECT_EQ(contents(locked), "keep me");
  r = cli({"export", doc, "-o", path("sub")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a folder"), std::string::npos) << r.err;
}

TEST_F(Outputs, ModesNameLengthsAndEndingsOfReplacedFiles) {
  const std::string doc = write("song.tab", kSong);
  // An old file keeps its mode; a new one gets the umask's.
  const std::string old = write("old.mid", "old");
  ::chmod(old.c_str(), 0604);
  const mode_t mask = ::umask(027);
  EXPECT_EQ(cli({"export", doc, "-o", old}).status, 0);
  EXPECT_EQ(cli({"export", doc, "-o", path("new.mid")}).status, 0);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat(old.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0604u);
  ASSERT_EQ(::stat(path("new.mid").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  // Names up to the file-name limit: the temporary name is shortened, not the output's.
  for (std::size_t length : {247u, 251u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".mid";
    const CliRun r = cli({"export", doc, "-o", path(name)});
    EXPECT_EQ(r.status, 0) << length << r.err;
    EXPECT_EQ(contents(path(name)).substr(0, 4), "MThd");
  }

  // export writes what its ending says, or nothing.
  for (const char* name : {"song.mp3", "song.wav", "other.tab"}) {
    const CliRun r = cli({"export", doc, "-o", path(name)});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_NE(r.err.find("name the file .mid, .midi, .musicxml, .xml, .pdf, .url or .h2song"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(path(name)));
  }
  EXPECT_EQ(cli({"export", doc, "-o", path("upper.MIDI")}).status, 0);
  EXPECT_EQ(cli({"export", doc, "-o", path("bare")}).status, 0);
  EXPECT_EQ(contents(path("bare")).substr(0, 4), "MThd");
}

TEST_F(Outputs, ArgumentsThatCannotBeMetAreRefusedBeforeAnyWork) {
  const std::string doc = write("song.tab", kSong);
  for (const char* scale : {"nan", "inf", "-inf", "NaN"}) {
    const CliRun r = cli({"play", doc, "--device", "none", "--tempo-scale", scale});
    EXPECT_EQ(r.status, 2) << scale;
    EXPECT_NE(r.err.find("--tempo-scale"), std::string::npos) << r.err;
  }
  // Steps of 2 s, 20 a pass, 100 passes: over an hour.
  const std::string longSong =
      write("long.tab",
            "k = kick\r\npart = A tempo = 30 notes = 4\r\nk |xxxxxxxxxxxxxxxxxxxx|\r\n"
            "song = " +
                std::string(100, 'A') + "\r\n");
  CliRun r = cli({"render", longSong, "-o", path("long.wav")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(longSong + ": the song lasts 1:06:3"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(", longer than --max-length 1:00:00"), std::string::npos) << r.err;
  r = cli({"render", doc, "-o", path("long.wav"), "--max-length", "0.5"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("the song lasts 0:02, longer than --max-length 0:01"), std::string::npos)
      << r.err;
  for (const char* bad : {"nan", "-1", "inf"}) {
    EXPECT_EQ(cli({"render", doc, "-o", path("x.wav"), "--max-length", bad}).status, 2) << bad;
  }
  for (const char* bad : {"nan", "inf", "1e9"}) {
    EXPECT_EQ(cli({"render", doc, "-o", path("x.wav"), "--gain", bad}).status, 2) << bad;
  }
  EXPECT_EQ(cli({"render", doc, "-o", path("x.wav"), "--gain", "3", "--normalize"}).status, 2);
  EXPECT_EQ(names(), (std::vector<std::string>{"long.tab", "song.tab"}));
}

// The built program, as a shell runs it: standard output goes to `out` ("" keeps it).
struct Program {
  pid_t pid = -1;
  int wait() const {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

Program start(const std::vector<std::string>& args, const std::string& out, const std::string& err,
              const std::string& in = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!in.empty()) posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  if (!out.empty()) posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> all = {PW_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  Program p;
  posix_spawn(&p.pid, PW_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return p;
}

bool waitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 6000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(Outputs, TheProgramReportsAFullStandardOutputAndStopsCleanlyOnSigterm) {
  const std::string doc = write("song.tab", kSong);
  for (const char* command : {"compile", "check"}) {
    const Program p = start({command, doc}, "/dev/full", path("err"));
    EXPECT_EQ(p.wait(), 2) << command;
    EXPECT_NE(contents(path("err")).find("cannot write standard output: No space left on device"),
              std::string::npos)
        << contents(path("err"));
  }
  const std::string tab = write("t.txt", "BD|o---|\n");
  EXPECT_EQ(start({"import", tab}, "/dev/full", path("err")).wait(), 2);
  // /dev/stdout is written as it is, into what the shell opened.
  const std::string captured = write("captured", "");
  EXPECT_EQ(start({"export", doc, "-o", "/dev/stdout"}, captured, path("err")).wait(), 0);
  EXPECT_EQ(contents(captured).substr(0, 4), "MThd");

  // A play stopped by SIGTERM silences and ends its log, as Ctrl+C does.
  const std::string slow =
      write("slow.tab",
            "k = kick\r\npart = A tempo = 60 notes = 8\r\nk |x-x-x-x-x-x-x-x-|\r\nsong = AAAA\r\n");
  const std::string log = path("play.log");
  const Program play = start({"play", slow, "--device", "none", "--log", log}, "", path("err"));
  ASSERT_TRUE(waitFor([&] { return contents(log).find("midi") != std::string::npos; }));
  ::kill(play.pid, SIGTERM);
  EXPECT_EQ(play.wait(), 143);
  const std::string lines = contents(log);
  EXPECT_NE(lines.rfind(" end\n"), std::string::npos) << lines;
  EXPECT_EQ(lines.substr(lines.size() - 4), "end\n") << lines;

  // A render stopped by SIGTERM leaves neither the output nor its temporary file.
  const std::string longSong =
      write("long.tab",
            "k = kick\r\npart = A tempo = 30 notes = 4\r\nk |xxxxxxxxxxxxxxxxxxxx|\r\n"
            "song = " +
                std::string(50, 'A') + "\r\n");
  const std::vector<std::string> before = names();
  const Program render = start({"render", longSong, "-o", path("long.wav")}, "", path("err"));
  ASSERT_TRUE(waitFor([&] { return names().size() > before.size(); }));
  ::kill(render.pid, SIGTERM);
  EXPECT_EQ(render.wait(), 143) << contents(path("err"));
  EXPECT_EQ(names(), before);
}

// An export stopped by SIGINT, SIGTERM or SIGHUP, into either format, says so and leaves
// neither the output nor its temporary file; a song longer than --max-length is refused.
TEST_F(Outputs, AnExportStoppedOrTooLongLeavesNothing) {
  // Passes of 0.8 s: 10,000 last 2:13:20; two million take a while to write.
  const std::string part =
      "k = kick\r\nh = closed hi-hat\r\npart = A tempo = 300 notes = 16\r\n"
      "k |x-x-x-x-x-x-x-x-|\r\nh |xxxxxxxxxxxxxxxx|\r\nsong = ";
  const std::string longSong = write("long.tab", part + std::string(10000, 'A') + "\r\n");
  // Long to write but quick to compile, even under ThreadSanitizer: 100 bars a pass, a
  // song line of 20,000 passes.
  std::string hats;
  for (int bar = 0; bar < 100; ++bar) hats += "xxxxxxxxxxxxxxxx|";
  const std::string endless =
      write("endless.tab", "h = closed hi-hat\r\npart = A tempo = 300 notes = 16\r\nh |" + hats +
                               "\r\nsong = " + std::string(20000, 'A') + "\r\n");
  CliRun refused = cli({"export", longSong, "-o", path("long.mid")});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "pulsewright-cli: " + longSong +
                             ": the song lasts 2:13:20, longer than --max-length 1:00:00 (raise "
                             "--max-length, in seconds, to export it)\n");
  refused = cli({"export", longSong, "-o", path("long.xml"), "--max-length", "60"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("longer than --max-length 1:00 "), std::string::npos) << refused.err;
  EXPECT_EQ(cli({"export", longSong, "-o", path("x.mid"), "--max-length", "nan"}).status, 2);

  const std::vector<std::string> before = names();
  // Each signal once, both formats: the stop is the same code for all three.
  for (const auto& [out, signal] : std::vector<std::pair<const char*, int>>{
           {"long.mid", SIGINT}, {"long.musicxml", SIGTERM}, {"long.mid", SIGHUP}}) {
    const Program p =
        start({"export", endless, "-o", path(out), "--max-length", "1e9"}, "", path("err"));
    ASSERT_TRUE(waitFor([&] { return names().size() > before.size() + 1; })) << out;
    ::kill(p.pid, signal);
    EXPECT_EQ(p.wait(), 128 + signal) << out << " " << signal << contents(path("err"));
    EXPECT_NE(contents(path("err")).find("stopped: " + path(out) + " was not written"),
              std::string::npos)
        << contents(path("err"));
    fs::remove(path("err"));
    EXPECT_EQ(names(), before) << out << " " << signal;
  }
}

// Standard input opened by the shell on the very file named as the output, directly or
// through a link: refused, and the file kept.
TEST_F(Outputs, StandardInputThatIsTheOutputIsRefused) {
  const std::string tab = write("tab.txt", "HH|x-x-x-x-|\nBD|o---o---|\n");
  const std::string doc = write("song.tab", kSong);
  ASSERT_EQ(::symlink("tab.txt", path("link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("song.tab", path("link.mid").c_str()), 0);
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"import", "-", "-o", tab}, tab},
      {{"import", "-", "-o", path("link.txt")}, tab},
      {{"export", "-", "-o", path("link.mid")}, doc},
  };
  for (const auto& [args, in] : runs) {
    const Program p = start(args, "", path("err"), in);
    EXPECT_EQ(p.wait(), 2) << testing::PrintToString(args);
    const std::string err = contents(path("err"));
    EXPECT_NE(err.find("cannot write " + args.back() + ": it is the input read as standard input"),
              std::string::npos)
        << err;
  }
  EXPECT_EQ(contents(tab), "HH|x-x-x-x-|\nBD|o---o---|\n");
  EXPECT_EQ(contents(doc), kSong);
  EXPECT_EQ(names(),
            (std::vector<std::string>{"err", "link.mid", "link.txt", "song.tab", "tab.txt"}));
}

}  // namespace
}  // namespace pulsewright
