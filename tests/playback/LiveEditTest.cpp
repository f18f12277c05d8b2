// play --watch: the document is saved three times while it plays (a changed voice, a save
// that does not play, another change) and the log shows what took over, and when.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "tests/support/TestFiles.h"

extern char** environ;

namespace pulsewright {
namespace {

constexpr int kStepMs = 20;  // tempo 750, sixteenth notes
constexpr int kBarSteps = 4;
constexpr int kPartSteps = 8;

std::string version(const std::string& kick, const std::string& second) {
  return "k = kick\r\ns = snare\r\nh = closed hi-hat\r\npart = A tempo = 750 notes = 16\r\n" +
         kick + "\r\n" + second + "\r\nsong = A\r\n";
}

// What each version plays on each step of the part: the notes struck.
using Hits = std::vector<std::set<int>>;
Hits hitsOf(const std::string& kick, int kickNote, const std::string& second, int secondNote) {
  Hits hits(kPartSteps);
  auto add = [&](const std::string& grid, int note) {
    int step = 0;
    for (char c : grid.substr(grid.find('|'))) {
      if (c == '|') continue;
      if (c == 'x') hits[static_cast<std::size_t>(step)].insert(note);
      ++step;
    }
  };
  add(kick, kickNote);
  add(second, secondNote);
  return hits;
}

bool waitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 1000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The log's note-ons (note 0 is a rest) by tick time, and its change lines.
struct Log {
  std::map<long, std::set<int>> ticks;
  std::vector<std::pair<long, long>> changes;  // took over at, handed over before
  std::vector<long> offGrid;
  bool ended = false;
};

long ms(double value) {
  return std::lround(value);
}

Log readLog(const std::string& path) {
  Log log;
  for (const std::string& line : readLines(path)) {
    double at = 0;
    double handed = 0;
    unsigned status = 0;
    unsigned note = 0;
    unsigned velocity = 0;
    if (std::sscanf(line.c_str(), "%lf midi %x %u %u", &at, &status, &note, &velocity) == 4) {
      if (std::abs(at - ms(at)) > 1e-3 || ms(at) % kStepMs != 0) log.offGrid.push_back(ms(at));
      std::set<int>& tick = log.ticks[ms(at)];
      if (status == 0x90 && note != 0) tick.insert(static_cast<int>(note));
    } else if (std::sscanf(line.c_str(), "%lf change %lf", &at, &handed) == 2) {
      log.changes.emplace_back(ms(at), ms(handed));
    } else if (line.find(" end") != std::string::npos) {
      log.ended = true;
    }
  }
  return log;
}

TEST(LiveEdit, SavesTakeOverAtTheNextBarLineAndABrokenSaveChangesNothing) {
  const std::string doc = tempPath("live.tab");
  const std::string log = tempPath("live.log");
  const std::string err = tempPath("live.err");
  const std::string hat = "h |x-x-|x-x-|";
  const std::string kick = "k |x---|x---|";
  const std::string snare = "s |x-x-|x-x-|";
  const std::string kick2 = "k |x-x-|xxxx|";
  writeFile(doc, version(kick, hat));
  std::remove(log.c_str());

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> args = {PW_CLI_PATH, "play",   doc, "--watch", "--device",
                                   "none",      "--loop", "0", "--log",   log};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, PW_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // A failed step ends the test, never leaving the player playing on.
  struct Reaper {
    pid_t& pid;
    ~Reaper() {
      if (pid <= 0) return;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{pid};

  // Waits until the song stands mid-bar, `after` ms or more into it.
  auto midBar = [&](long after) {
    return waitFor([&] {
      const Log now = readLog(log);
      if (now.ticks.empty()) return false;
      const long last = now.ticks.rbegin()->first;
      return last >= after && (last / kStepMs - 1) % kBarSteps == 2;
    });
  };
  auto changes = [&] { return readLog(log).changes.size(); };

  // A changed voice, saved in place.
  ASSERT_TRUE(midBar(3 * kBarSteps * kStepMs));
  writeFile(doc, version(kick, snare));
  ASSERT_TRUE(waitFor([&] { return changes() == 1; })) << readFile(err);

  // Half a line typed: reported, and the music goes on unchanged.
  ASSERT_TRUE(midBar(readLog(log).changes[0].first + 2 * kBarSteps * kStepMs));
  writeFile(doc, version(kick, snare + "\r\nh |x-x"));
  ASSERT_TRUE(waitFor([&] { return readFile(err).find("does not play") != std::string::npos; }));
  // Deleted: reported once.
  std::remove(doc.c_str());
  ASSERT_TRUE(waitFor([&] { return readFile(err).find("cannot read") != std::string::npos; }));

  // Another change, saved as editors do: a new file renamed over the old one.
  ASSERT_TRUE(midBar(readLog(log).ticks.rbegin()->first + 2 * kBarSteps * kStepMs));
  writeFile(doc + ".new", version(kick2, snare));
  ASSERT_EQ(std::rename((doc + ".new").c_str(), doc.c_str()), 0);
  ASSERT_TRUE(waitFor([&] { return changes() == 2; })) << readFile(err);
  ASSERT_TRUE(midBar(readLog(log).changes[1].first + kBarSteps * kStepMs));
  ::kill(pid, SIGINT);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;

  const std::string problems = readFile(err);
  EXPECT_NE(problems.find(":7:"), std::string::npos) << problems;  // the half-typed line
  EXPECT_EQ(count(problems, "does not play"), 1) << problems;
  EXPECT_EQ(count(problems, "cannot read"), 1) << problems;
  const Log played = readLog(log);
  EXPECT_TRUE(played.ended);
  EXPECT_TRUE(played.offGrid.empty()) << played.offGrid.front();
  ASSERT_EQ(played.changes.size(), 2u);
  // Every step of the grid has its tick, one after the other, none moved.
  long expected = kStepMs;
  for (const auto& [at, notes] : played.ticks) {
    ASSERT_EQ(at, expected) << "a tick missing or moved";
    expected += kStepMs;
  }
  const std::vector<Hits> versions = {hitsOf(kick, 36, hat, 42), hitsOf(kick, 36, snare, 38),
                                      hitsOf(kick2, 36, snare, 38)};
  std::size_t playing = 0;
  for (const auto& [at, notes] : played.ticks) {
    const long tick = at / kStepMs - 1;
    if (playing < played.changes.size() && at == played.changes[playing].first) ++playing;
    EXPECT_EQ(notes, versions[playing][static_cast<std::size_t>(tick % kPartSteps)])
        << "tick at " << at << " ms, version " << playing;
  }
  for (const auto& [at, handedOver] : played.changes) {
    // On a bar line, the first at or after the first tick not yet sent when it came.
    EXPECT_EQ((at / kStepMs - 1) % kBarSteps, 0) << at;
    EXPECT_GE(at, handedOver);
    EXPECT_LT(at - handedOver, kBarSteps * kStepMs);
  }
}

// play --watch of a symbolic link: saves of the file behind it, a save written in two
// pieces, and saves into its folder renamed away or deleted and made again are each seen
// once, and none is judged before its last piece.
TEST(LiveEdit, SavesAreSeenThroughLinksInPiecesAndInAFolderMadeAgain) {
  namespace fs = std::filesystem;
  const std::string folder = tempPath("watched");
  const std::string doc = folder + "/live.tab";
  const std::string link = tempPath("watched-link.tab");
  const std::string log = tempPath("watched.log");
  const std::string err = tempPath("watched.err");
  fs::remove_all(folder);
  fs::remove_all(folder + ".old");
  fs::remove(link);
  std::remove(log.c_str());
  fs::create_directory(folder);
  ASSERT_EQ(::symlink(doc.c_str(), link.c_str()), 0);
  const std::string hat = "h |x-x-|x-x-|";
  const std::string kick = "k |x---|x---|";
  const std::string snare = "s |x-x-|x-x-|";
  const std::string kick2 = "k |x-x-|xxxx|";
  writeFile(doc, version(kick, hat));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> args = {PW_CLI_PATH, "play",   link, "--watch", "--device",
                                   "none",      "--loop", "0",  "--log",   log};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, PW_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  struct Reaper {
    pid_t& pid;
    ~Reaper() {
      if (pid <= 0) return;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{pid};
  auto changes = [&] { return readLog(log).changes.size(); };
  ASSERT_TRUE(waitFor([&] { return readLog(log).ticks.size() > 2; })) << readFile(err);

  // Saved in place behind the link.
  writeFile(doc, version(kick, snare));
  ASSERT_TRUE(waitFor([&] { return changes() == 1; })) << readFile(err);

  // In two pieces 50 ms apart; the first alone ends in a half-typed grid line.
  const std::string whole = version(kick2, snare);
  const std::size_t cut = whole.find("|xx") + 3;
  writeFile(doc, whole.substr(0, cut));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::ofstream(doc, std::ios::binary | std::ios::app) << whole.substr(cut);
  ASSERT_TRUE(waitFor([&] { return changes() == 2; })) << readFile(err);

  // The folder renamed away, made again and saved into.
  ASSERT_EQ(std::rename(folder.c_str(), (folder + ".old").c_str()), 0);
  fs::create_directory(folder);
  writeFile(doc, version(kick, hat));
  ASSERT_TRUE(waitFor([&] { return changes() == 3; })) << readFile(err);

  // The folder deleted, made again and saved into.
  fs::remove_all(folder);
  fs::create_directory(folder);
  writeFile(doc, version(kick2, hat));
  ASSERT_TRUE(waitFor([&] { return changes() == 4; })) << readFile(err);

  ::kill(pid, SIGINT);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
  EXPECT_EQ(count(readFile(err), "does not play"), 0) << readFile(err);
  EXPECT_EQ(readLog(log).changes.size(), 4u);
  fs::remove_all(folder);
  fs::remove_all(folder + ".old");
  fs::remove(link);
}

}  // namespace
}  // namespace pulsewright
