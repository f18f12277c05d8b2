#pragma once
// A JACK server for tests: jackd2's dummy driver under a private name, jack_midi_dump on
// request, and the cleaning of what servers leave under /dev/shm. CTest runs every test
// in a process of its own: libjack keeps state about the servers a process has met, so
// two servers one after the other in one process are not supported here.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace pulsewright::jacktest {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

inline constexpr auto kStartTimeout = std::chrono::seconds(20);
inline constexpr char kDumpPort[] = "midi-monitor:input";

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One child process, stopped and reaped by its id.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& outputFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // The child ends with the test program, even one that aborts, so that no server is left
    // to hold the next runs' slots.
    std::vector<std::string> words = {"setpriv", "--pdeathsig", "KILL", "--"};
    words.insert(words.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const auto& a : words) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() { stop(SIGTERM); }
  bool started() const { return pid_ > 0; }
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exitStatus_ = status;
      return false;
    }
    return true;
  }
  // Waits for it to end by itself; -1 on timeout.
  int wait(std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (running()) {
      if (Clock::now() > end) return -1;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return exitStatus_;
  }
  void signal(int number) {
    if (running()) ::kill(pid_, number);
  }
  // Asks it to end, and kills it when it does not within a few seconds.
  void stop(int signal) {
    if (!running()) return;
    ::kill(pid_, signal);
    if (wait(std::chrono::seconds(5)) == -1 && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &exitStatus_, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  int exitStatus_ = 0;
};

inline bool commandSucceeds(const std::vector<std::string>& argv, const std::string& outputFile) {
  Child child(argv, outputFile);
  return child.started() && child.wait(std::chrono::seconds(10)) == 0;
}

inline std::set<std::string> shmEntries() {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/dev/shm", ec)) names.insert(e.path().filename());
  return names;
}

// Whether a JACK server other than this test's runs: a process named jackd or jackdbus.
inline bool otherServerRuns() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string comm = readFile((e.path() / "comm").string());
    if (comm == "jackd\n" || comm == "jackdbus\n") return true;
  }
  return false;
}

// Removes what JACK leaves under /dev/shm: the files of the server named `server` (a
// killed server leaves its semaphores and segments), and, when no other server runs, all
// of JACK's files there (the numbered segments, the registry, the clients' metadata
// store). Done before the server starts too: files that a killed run left behind would
// keep their servers in the registry, and libjack refuses a ninth server.
class ShmCleaner {
 public:
  explicit ShmCleaner(std::string server) : server_(std::move(server)) { clean(); }
  ~ShmCleaner() { clean(); }

 private:
  void clean() const {
    const bool otherServer = otherServerRuns();
    std::error_code ec;
    for (const auto& n : shmEntries()) {
      const bool ours = n.find("_" + server_ + "_") != std::string::npos;
      if (ours || (!otherServer && n.rfind("jack", 0) == 0)) {
        fs::remove_all(fs::path("/dev/shm") / n, ec);
      }
    }
  }

  std::string server_;
};

// A JACK server on the dummy driver under a private name, which this process's clients
// use; no client may start a server of its own.
class JackServer {
 public:
  JackServer() {
    static int serial = 0;
    name_ = "pwtest" + std::to_string(::getpid()) + "n" + std::to_string(++serial);
    dir_ = fs::temp_directory_path() / ("pw-jack-" + name_);
    fs::create_directories(dir_);
    ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    cleaner_ = std::make_unique<ShmCleaner>(name_);
  }
  ~JackServer() {
    pause(false);
    dump_.reset();
    kill(SIGTERM);
    cleaner_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts the server and waits until jack_lsp reaches it (polled every 0.2 s). The server
  // waits for its clients each cycle (synchronous mode): on a busy machine a client that
  // misses a cycle would otherwise lose that cycle's messages, a fault of no code here.
  bool start(int period = 64) {
    server_ = std::make_unique<Child>(
        std::vector<std::string>{"jackd", "-n", name_, "-S", "-t", "2000", "-d", "dummy", "-r",
                                 "48000", "-p", std::to_string(period)},
        log("jackd"));
    if (!server_->started()) return false;
    return waitFor(
        [&] { return server_->running() && ports().find("system:") != std::string::npos; });
  }
  // Starts jack_midi_dump with absolute times and line-buffered output; waits for its port.
  bool startDump() {
    dump_ = std::make_unique<Child>(
        std::vector<std::string>{"stdbuf", "-oL", "jack_midi_dump", "-a"}, log("dump"));
    return dump_->started() &&
           waitFor([&] { return ports().find(kDumpPort) != std::string::npos; });
  }
  std::string ports() {
    if (!commandSucceeds({"jack_lsp"}, log("lsp"))) return {};
    return readFile(log("lsp"));
  }
  // The bytes of every event jack_midi_dump printed ("  1234: 90 2a 4c note on ...").
  std::vector<std::vector<int>> dumped() const {
    std::vector<std::vector<int>> events;
    std::istringstream lines(readFile(log("dump")));
    std::string line;
    while (std::getline(lines, line)) {
      const auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::istringstream words(line.substr(colon + 1));
      std::vector<int> bytes;
      std::string word;
      while (words >> word && word.size() == 2 && std::isxdigit(word[0]) &&
             std::isxdigit(word[1])) {
        bytes.push_back(std::stoi(word, nullptr, 16));
      }
      if (!bytes.empty()) events.push_back(bytes);
    }
    return events;
  }
  bool waitForEvents(std::size_t count) {
    return waitFor([&] { return dumped().size() >= count; });
  }
  void kill(int signal) {
    if (server_) server_->stop(signal);
  }
  // Stops (SIGSTOP) or resumes (SIGCONT) the server without ending it.
  void pause(bool stopped) {
    if (server_) server_->signal(stopped ? SIGSTOP : SIGCONT);
  }
  // The absolute frame of every event jack_midi_dump printed.
  std::vector<long> dumpedFrames() const {
    std::vector<long> frames;
    std::istringstream dump(readFile(log("dump")));
    for (std::string line; std::getline(dump, line);) {
      const auto colon = line.find(':');
      if (colon != std::string::npos) frames.push_back(std::stol(line.substr(0, colon)));
    }
    return frames;
  }
  std::string log(const std::string& what) const { return (dir_ / (what + ".log")).string(); }

 private:
  template <typename Condition>
  bool waitFor(Condition condition) {
    const auto end = Clock::now() + kStartTimeout;
    while (Clock::now() < end) {
      if (condition()) return true;
      std::this_thread::sleep_for(milliseconds(200));
    }
    return false;
  }

  std::string name_;
  fs::path dir_;
  std::unique_ptr<ShmCleaner> cleaner_;
  std::unique_ptr<Child> server_;
  std::unique_ptr<Child> dump_;
};

}  // namespace pulsewright::jacktest
