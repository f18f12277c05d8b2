// How closely MIDI clock keeps its schedule, and how a MIDI clock from outside is followed.
//
// 1. Clock out on JACK, at periods 64, 256 and 1024 (or those given as arguments): the
//    player plays 8 quarters at 120 with its clock sent to a port of a private JACK
//    server (dummy driver), read by a client in this process that notes each clock's
//    frame. The figures: whether every quarter had exactly 24 clocks, and the clocks'
//    deviation from their schedule once a constant latency and the server's own rate
//    are taken out (straight-line fit): the p99 of each of five runs and their median
//    (as pw_bench_jack gives it) beside how far the server's own frame clock strayed
//    from the system clock in that run, and median and p99 over all clocks. A server
//    that waited for a client the machine held back loses frames against the system
//    clock, and a player's thread held back past the clock's 30 ms look-ahead sends
//    late: both are the machine's load, given beside.
// 2. Clock out to a port that sends at once (ALSA's path): how late the player hands
//    each clock over against its due time, median and p99 — what an ALSA port adds to
//    that is its own delivery.
// 3. Clock in from a source at 90 a minute with up to 2 ms of jitter a clock: the fitted
//    tempo's error, and how far each beat's due time lies from the source's own beat.
//
// libjack keeps state about the servers a process has met, so each period runs in a child.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchJack.h"
#include "midi/PortClockOutput.h"
#include "padmap/PadMap.h"
#include "platform/SystemMidiPorts.h"
#include "playback/MidiClockFollower.h"
#include "playback/Player.h"
#include "tablature/TablatureCompiler.h"

namespace {

using namespace pulsewright;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kRuns = 5;
constexpr int kQuarters = 8;
constexpr char kSong[] =
    "k = kick drum\r\npart = A tempo = 120 notes = 8\r\nk |xxxxxxxx|\r\nsong = AA\r\n";

std::shared_ptr<const Song> song() {
  TablatureCompiler compiler;
  compiler.compile(kSong, defaultPadMap(), nullptr);
  return makeSong(compiler.song());
}

class SilentOutput : public StepOutput {
 public:
  void sendChannelMessage(int, int, int, DueTime) override {}
  void playSample(const std::string&, std::int16_t, std::int16_t, DueTime) override {}
};

class EndWait : public Player::Listener {
 public:
  void statusChanged(std::uint64_t, const std::string&) override {}
  void songEnded(std::uint64_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    cv_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return ended_; });
    ended_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ended_ = false;
};

struct Receiver {
  static constexpr std::size_t kCapacity = 1 << 14;
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  std::vector<long> frames = std::vector<long>(kCapacity);  // of the clocks
  std::vector<int> status = std::vector<int>(kCapacity);
  std::atomic<std::size_t> count{0};
  // Each cycle's first frame and the time its callback was entered (microseconds).
  std::vector<std::pair<long, double>> entries = std::vector<std::pair<long, double>>(kCapacity);
  std::atomic<std::size_t> entryCount{0};
  static int process(jack_nframes_t n, void* self) {
    auto* r = static_cast<Receiver*>(self);
    const jack_nframes_t start = jack_last_frame_time(r->client);
    if (const std::size_t e = r->entryCount.load(); e < kCapacity) {
      r->entries[e] = {static_cast<long>(start), static_cast<double>(jack_get_time())};
      r->entryCount.store(e + 1);
    }
    void* buffer = jack_port_get_buffer(r->port, n);
    const jack_nframes_t events = jack_midi_get_event_count(buffer);
    std::size_t c = r->count.load();
    for (jack_nframes_t i = 0; i < events && c < kCapacity; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
      r->frames[c] = static_cast<long>(start + event.time);
      r->status[c++] = event.buffer[0];
    }
    r->count.store(c);
    return 0;
  }
};

std::vector<double> fitResiduals(const std::vector<double>& x, const std::vector<double>& y) {
  std::vector<double> r = benchjack::signedResiduals(x, y);
  for (double& v : r) v = std::abs(v);
  return r;
}

// How far the server's frame clock strays from the system clock in a run (as
// pw_bench_jack measures it). A synchronous server that waits for a client held back by
// the machine loses frames against the system clock.
double clockWander(const Receiver& r) {
  std::vector<double> frameMs, entryMs;
  for (std::size_t i = 0; i < r.entryCount.load(); ++i) {
    frameMs.push_back(static_cast<double>(r.entries[i].first - r.entries[0].first) / 48.0);
    entryMs.push_back((r.entries[i].second - r.entries[0].second) / 1000.0);
  }
  return benchjack::clockWander(frameMs, entryMs);
}

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

std::string load() {
  std::ifstream in("/proc/loadavg");
  std::string one;
  in >> one;
  return one;
}

int measureJack(int period) {
  const benchjack::DummyServer jackd("pwsyncbench", period);
  if (!jackd.started()) {
    std::printf("period %d: jackd does not start\n", period);
    return 1;
  }
  Receiver r;
  r.client = jackd.openClient("receiver");
  int status = 1;
  if (r.client) {
    r.port = jack_port_register(r.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(r.client, &Receiver::process, &r);
    jack_activate(r.client);
    const auto played = song();
    std::vector<double> deviations;
    std::vector<double> runP99;
    std::vector<double> runWander;
    bool exact = true;
    int runs = 0;
    for (int run = 0; run < kRuns; ++run) {
      SystemMidiPorts ports("bench");
      int device = -1;
      for (int i = 0; i < ports.deviceCount(); ++i) {
        if (ports.deviceName(i) == "receiver:in") device = i;
      }
      MidiHandle handle = 0;
      if (device < 0 || ports.open(device, &handle) != 0) break;
      r.count = 0;
      r.entryCount = 0;
      {
        PortClockOutput clockOut(ports, handle);
        SilentOutput silent;
        SteadyPlaybackClock clock;
        EndWait ended;
        Player player(silent, clock, &ended);
        player.setClockOutput(&clockOut);
        player.play(played);
        ended.wait();
      }
      ports.close(handle);
      std::this_thread::sleep_for(milliseconds(50));
      std::vector<double> index, heard;
      for (std::size_t k = 0; k < r.count; ++k) {
        if (r.status[k] != 0xF8) continue;
        index.push_back(static_cast<double>(index.size()));
        heard.push_back(static_cast<double>(r.frames[k] - r.frames[0]) / 48.0);
      }
      exact = exact && index.size() == static_cast<std::size_t>(24 * kQuarters);
      const std::vector<double> residuals = fitResiduals(index, heard);
      for (double d : residuals) deviations.push_back(d);
      runP99.push_back(quantile(residuals, 0.99));
      runWander.push_back(clockWander(r));
      ++runs;
    }
    if (runs == kRuns) {
      std::string perRun;
      for (std::size_t k = 0; k < runP99.size(); ++k) {
        perRun += " " + std::to_string(runP99[k]).substr(0, 6) + " (server strays " +
                  std::to_string(runWander[k]).substr(0, 6) + ")";
      }
      std::printf(
          "JACK clock out, period %4d: %s 24 clocks a quarter; deviation from the schedule, "
          "latency and rate removed: p99 of each run%s ms (median %.4f ms); all %d clocks: "
          "median %.4f ms, p99 %.4f ms (load %s)\n",
          period, exact ? "exactly" : "NOT", perRun.c_str(), quantile(runP99, 0.5),
          static_cast<int>(deviations.size()), quantile(deviations, 0.5),
          quantile(deviations, 0.99), load().c_str());
      status = exact ? 0 : 1;
    }
    jack_client_close(r.client);
  } else {
    std::printf("period %d: no JACK server answers\n", period);
  }
  return status;
}

// The clock as a port that sends at once gets it: when the player hands each clock over.
class LatenessOutput : public ClockOutput {
 public:
  void sendSystem(std::uint32_t word, DueTime due) override {
    if (word == kMidiClock) {
      late.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
    }
  }
  std::vector<double> late;
};

void measureSendAtOnce() {
  const auto played = song();
  std::vector<double> late;
  for (int run = 0; run < kRuns; ++run) {
    LatenessOutput clockOut;
    clockOut.late.reserve(24 * kQuarters);
    SilentOutput silent;
    SteadyPlaybackClock clock;
    EndWait ended;
    {
      Player player(silent, clock, &ended);
      player.setClockOutput(&clockOut);
      player.play(played);
      ended.wait();
    }
    late.insert(late.end(), clockOut.late.begin(), clockOut.late.end());
  }
  std::printf(
      "Clock out to a port that sends at once (ALSA's path): handed over late by median "
      "%.4f ms, p99 %.4f ms (%zu clocks, load %s)\n",
      quantile(late, 0.5), quantile(late, 0.99), late.size(), load().c_str());
}

void measureClockIn() {
  MidiClockFollower follower;
  const DueTime origin = DueTime{} + std::chrono::seconds(100);
  const double period = 60.0 / 90 / kClocksPerQuarter;
  std::mt19937 random(1);
  std::uniform_real_distribution<double> jitter(-0.002, 0.002);
  auto at = [&](double seconds) {
    return origin +
           std::chrono::duration_cast<DueTime::duration>(std::chrono::duration<double>(seconds));
  };
  const std::uint8_t start[] = {0xFA};
  const std::uint8_t clock[] = {0xF8};
  follower.take(start, 1, origin);
  std::vector<double> errors, tempos;
  for (int k = 0; k < 24 * 256; ++k) {
    follower.take(clock, 1, at(k * period + jitter(random)));
    const int next = k + 1;
    if (next % kClocksPerQuarter == 0 && next >= 2 * kClocksPerQuarter) {
      DueTime due;
      if (follower.dueOf(next, &due)) {
        errors.push_back(
            std::abs(std::chrono::duration<double, std::milli>(due - at(next * period)).count()));
      }
      tempos.push_back(std::abs(follower.tempo() - 90) / 90 * 100);
    }
  }
  std::printf(
      "Clock in at 90 a minute, +-2 ms jitter: tempo error median %.3f %%, worst %.3f %%; "
      "beats due off the source's beat by median %.3f ms, p99 %.3f ms (%zu beats)\n",
      quantile(tempos, 0.5), quantile(tempos, 1.0), quantile(errors, 0.5), quantile(errors, 0.99),
      errors.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> periods;
  for (int i = 1; i < argc; ++i) periods.push_back(std::atoi(argv[i]));
  if (periods.empty()) periods = {64, 256, 1024};
  int failures = 0;
  for (int period : periods) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
      const int status = measureJack(period);
      std::fflush(stdout);
      std::_Exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  measureSendAtOnce();
  measureClockIn();
  return failures == 0 ? 0 : 1;
}
