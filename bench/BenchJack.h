#pragma once
// What the JACK benches share: a private JACK server on the dummy driver, the straight-
// line fit that takes a constant latency and the server's rate out of heard frames, and
// the wander of the server's own frame clock against the system clock.

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace benchjack {

// jackd -d dummy at 48 kHz, synchronous, named for this process; the clients this process
// opens meet it. Stopped when it goes.
class DummyServer {
 public:
  DummyServer(const std::string& prefix, int period) {
    const std::string server = prefix + std::to_string(::getpid());
    ::setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    const std::string p = std::to_string(period);
    const char* argv[] = {"jackd", "-n", server.c_str(), "-S", "-t",      "2000", "-d",
                          "dummy", "-r", "48000",        "-p", p.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "jackd", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid_ = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~DummyServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  DummyServer(const DummyServer&) = delete;
  DummyServer& operator=(const DummyServer&) = delete;
  bool started() const { return pid_ > 0; }
  // A client named `name` once the server answers (up to 10 s); null if it never does.
  jack_client_t* openClient(const char* name) const {
    jack_client_t* client = nullptr;
    for (int i = 0; i < 100 && client == nullptr && started(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      client = jack_client_open(name, JackNoStartServer, nullptr);
    }
    return client;
  }

 private:
  pid_t pid_ = 0;
};

// Residuals of a straight-line fit of y against x, in the order of x.
inline std::vector<double> signedResiduals(const std::vector<double>& x,
                                           const std::vector<double>& y) {
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = static_cast<double>(x.size());
  for (std::size_t k = 0; k < x.size(); ++k) {
    sx += x[k], sy += y[k], sxx += x[k] * x[k], sxy += x[k] * y[k];
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double offset = (sy - slope * sx) / n;
  std::vector<double> r;
  r.reserve(x.size());
  for (std::size_t k = 0; k < x.size(); ++k) r.push_back(y[k] - (slope * x[k] + offset));
  return r;
}

// How far the server's frame clock strays from the system clock: callbacks are entered
// late by the scheduler now and then, so only the earliest entry of each 100 ms counts;
// the spread of those against a straight line is the clock's own wander.
inline double clockWander(const std::vector<double>& frameMs, const std::vector<double>& entryMs) {
  if (frameMs.size() < 3) return 0;
  const std::vector<double> r = signedResiduals(frameMs, entryMs);
  std::vector<double> minima;
  for (std::size_t i = 0; i < r.size();) {
    double least = r[i];
    const double end = frameMs[i] + 100;
    for (; i < r.size() && frameMs[i] < end; ++i) least = std::min(least, r[i]);
    minima.push_back(least);
  }
  const auto [low, high] = std::minmax_element(minima.begin(), minima.end());
  return *high - *low;
}

}  // namespace benchjack
