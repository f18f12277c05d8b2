// Live onset jitter through the command line: `pulsewright-cli play` of 64 identical hits
// (a hi-hat of the built-in synthesiser, then a sample) into SDL's disk driver, which
// writes what a device would play to a file. The onsets found there are fitted against
// the due times the play logged, over the nine nearest hits and over the whole song; what
// is left is the jitter. Medians over the runs, since the machine is shared.
//
// The disk driver paces itself by sleeping whole milliseconds, so its rate is the
// machine's: where a 5 ms sleep overshoots by 40 us in one second and 100 us in the next
// (a virtual machine on a busy host), the device's rate moves by a per cent. `play` keeps
// the device's own time when only the device sounds, so the hits keep their spacing in
// its frames whatever its pace; each run still prints how far the mean overshoot of such
// sleeps wandered during it, from a thread beside the play, to show what the clock met.
//
//   pw_bench_live [RUNS] [PATH-TO-pulsewright-cli] [KIT NAME]
//
// With a kit, the hi-hats are played a third time on that kit (its samples placed by the
// engine's own mixer).

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/outputs/AudioTestUtil.h"

extern char** environ;

namespace {

using namespace pulsewright::test;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::vector<float> readRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<float> out;
  std::int16_t v = 0;
  while (in.read(reinterpret_cast<char*>(&v), 2)) out.push_back(v / 32768.0f);
  return out;
}

// The due times (seconds) of the logged note-ons, or of the logged samples.
std::vector<double> loggedDue(const std::string& path, bool samples) {
  std::vector<double> due;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    double ms = 0;
    std::string kind, status;
    int note = 0, velocity = 0;
    if (!(words >> ms >> kind)) continue;
    if (samples && kind == "sample") due.push_back(ms / 1000);
    if (!samples && kind == "midi" && (words >> status >> note >> velocity) &&
        status.rfind('9', 0) == 0 && velocity > 0) {
      due.push_back(ms / 1000);
    }
  }
  return due;
}

int run(const std::string& cli, const std::string& document, const std::string& raw,
        const std::string& log) {
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  const char* argv[] = {cli.c_str(), "play", document.c_str(), "--log", log.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    return -1;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sleeps 5 ms at a time at the audio thread's priority until stopped; returns the
// lowest and highest mean overshoot (microseconds) of its half-second windows.
class SleepPaceProbe {
 public:
  SleepPaceProbe()
      : thread_([this] {
          sched_param param{};
          param.sched_priority = 20;
          pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
          using Clock = std::chrono::steady_clock;
          auto window = Clock::now();
          double sum = 0;
          int n = 0;
          while (!stop_.load()) {
            const auto before = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            sum += std::chrono::duration<double, std::micro>(Clock::now() - before).count() - 5000;
            ++n;
            if (Clock::now() - window >= std::chrono::milliseconds(500)) {
              means_.push_back(sum / n);
              window = Clock::now();
              sum = 0;
              n = 0;
            }
          }
        }) {}
  std::pair<double, double> finish() {
    stop_.store(true);
    thread_.join();
    if (means_.empty()) return {0, 0};
    const auto [low, high] = std::minmax_element(means_.begin(), means_.end());
    return {*low, *high};
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<double> means_;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  const std::string cli = argc > 2 ? argv[2] : PW_CLI_PATH;
  TempDir dir;
  const std::string click =
      writeFile(dir.path("click.wav"), waveBytes(clickValues(44100), 44100, 1, 16));
  // Eighths at 120: a hit every 250 ms, 64 in all.
  const std::string synth = writeFile(dir.path("synth.tab"),
                                      "h = closed hi-hat\npart = A tempo = 120 notes = 8\n"
                                      "h |xxxxxxxx|\nsong = AAAAAAAA\n");
  const std::string sample =
      writeFile(dir.path("sample.tab"), "w = wave " + click + " pan 0" +
                                            "\npart = A tempo = 120 notes = 8\n"
                                            "w |xxxxxxxx|\nsong = AAAAAAAA\n");
  const std::string kitName = argc > 3 ? argv[3] : "";
  const std::string onKit =
      writeFile(dir.path("kit.tab"), "meta kit = " + kitName +
                                         "\nh = closed hi-hat\npart = A tempo = 120 notes = 8\n"
                                         "h |xxxxxxxx|\nsong = AAAAAAAA\n");
  for (const int mode : {0, 1, 2}) {
    if (mode == 2 && kitName.empty()) break;
    const bool samples = mode == 1;
    std::vector<double> p50, p99, whole50, whole99;
    int missing = 0;
    for (int r = 0; r < runs; ++r) {
      const std::string raw = dir.path("out.raw"), log = dir.path("play.log");
      SleepPaceProbe probe;
      const int status = run(cli, mode == 2 ? onKit : samples ? sample : synth, raw, log);
      const auto [lowUs, highUs] = probe.finish();
      if (status != 0) {
        std::printf("play failed\n");
        return 1;
      }
      const std::vector<double> due = loggedDue(log, samples);
      const std::vector<long> found = onsets(readRaw(raw), samples ? 0.05f : 0.02f, 44100 / 10);
      if (due.size() != 64 || found.size() != due.size()) {
        ++missing;
        continue;
      }
      const std::vector<double> local = jitterAgainstLocalFit(found, due, 4);
      const std::vector<double> whole = jitterAgainstFit(found, due);
      p50.push_back(percentile(local, 0.5));
      p99.push_back(percentile(local, 0.99));
      std::printf(
          "  run %d: local fit p99 %.3f ms; 5 ms sleeps overshot %.0f-%.0f us (means of "
          "half seconds), a pace that moved %.1f %%\n",
          r + 1, p99.back(), lowUs, highUs, (highUs - lowUs) / (5000 + lowUs) * 100);
      whole50.push_back(percentile(whole, 0.5));
      whole99.push_back(percentile(whole, 0.99));
    }
    std::printf(
        "%-11s 64 hits, disk driver, %d runs (%d with onsets missing): local fit p50 %.3f ms "
        "p99 %.3f ms; one line through all p50 %.3f ms p99 %.3f ms (medians)\n",
        mode == 2 ? "kit:"
        : samples ? "samples:"
                  : "synthesiser:",
        runs, missing, median(p50), median(p99), median(whole50), median(whole99));
  }
  return 0;
}
