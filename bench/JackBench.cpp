// How closely MIDI sent through a JACK port keeps its schedule, on a private JACK server
// with the dummy driver, at periods 64, 256 and 1024 (or those given as arguments).
//
// For each period: 240 messages at uneven spacings, each handed over 30 ms before it is
// due, received by a client in this process that notes the absolute frame of each. The
// figure is the deviation of those frames from the schedule once a constant latency and
// the server's own rate are taken out (a straight-line fit), median of five runs.
//
// Beside it, the server's own clock: the frame at which each cycle starts against the
// time its callback is entered. A driver that sleeps a period at a time under load wanders
// against the system clock; the schedule is on the system clock, so that wander is the
// floor of the first figure.
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
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchJack.h"
#include "platform/JackMidiPort.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kMessages = 240;
constexpr int kRuns = 5;

struct Receiver {
  static constexpr std::size_t kCapacity = 1 << 16;
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  std::vector<long> frames;                      // of each message, in arrival order
  std::vector<std::pair<long, double>> entries;  // (cycle's first frame, entry time in us)
  std::atomic<std::size_t> frameCount{0}, entryCount{0};
  std::atomic<bool> recordEntries{false};

  static int process(jack_nframes_t n, void* self) {
    auto* r = static_cast<Receiver*>(self);
    const jack_nframes_t start = jack_last_frame_time(r->client);
    if (r->recordEntries.load() && r->entryCount < kCapacity) {
      r->entries[r->entryCount] = {start, static_cast<double>(jack_get_time())};
      r->entryCount.fetch_add(1);
    }
    void* buffer = jack_port_get_buffer(r->port, n);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    for (jack_nframes_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) == 0 && r->frameCount < kCapacity) {
        r->frames[r->frameCount] = static_cast<long>(start + event.time);
        r->frameCount.fetch_add(1);
      }
    }
    return 0;
  }
};

// Sorted absolute residuals of a straight-line fit of y against x.
std::vector<double> fitResiduals(const std::vector<double>& x, const std::vector<double>& y) {
  std::vector<double> r = benchjack::signedResiduals(x, y);
  for (double& v : r) v = std::abs(v);
  std::sort(r.begin(), r.end());
  return r;
}

double at(const std::vector<double>& sorted, double q) {
  return sorted.empty() ? 0 : sorted[static_cast<std::size_t>(q * (sorted.size() - 1))];
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int measure(int period) {
  const benchjack::DummyServer jackd("pwbench", period);
  if (!jackd.started()) {
    std::printf("period %d: jackd does not start\n", period);
    return 1;
  }
  Receiver r;
  r.frames.resize(Receiver::kCapacity);
  r.entries.resize(Receiver::kCapacity);
  r.client = jackd.openClient("receiver");
  int status = 1;
  if (r.client) {
    r.port = jack_port_register(r.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(r.client, &Receiver::process, &r);
    jack_activate(r.client);
    const double gaps[] = {3.1, 0.0, 7.37, 1.05, 23.9, 0.4, 11.3};
    std::vector<double> deviation, wander;
    for (int run = 0; run < kRuns; ++run) {
      int rc = 0;
      auto port = pulsewright::JackMidiPort::open("sender", "receiver:in", &rc);
      if (!port) break;
      r.frameCount = 0;
      r.entryCount = 0;
      std::vector<double> dueMs;
      double t = 0;
      for (int k = 0; k < kMessages; ++k, t += gaps[k % 7]) dueMs.push_back(t);
      const auto start = Clock::now() + milliseconds(100);
      r.recordEntries = true;
      for (int k = 0; k < kMessages; ++k) {
        const auto due = start + std::chrono::microseconds(std::lround(dueMs[k] * 1000));
        std::this_thread::sleep_until(due - milliseconds(30));
        const std::uint8_t bytes[] = {0x90, static_cast<std::uint8_t>(k % 128), 1};
        port->sendAt(bytes, 3, due);
      }
      port.reset();  // waits until every message has gone out
      std::this_thread::sleep_for(milliseconds(50));
      r.recordEntries = false;
      if (r.frameCount != static_cast<std::size_t>(kMessages)) {
        std::printf("period %d: %zu of %d messages arrived\n", period, r.frameCount.load(),
                    kMessages);
        break;
      }
      std::vector<double> heard;
      for (int k = 0; k < kMessages; ++k) heard.push_back((r.frames[k] - r.frames[0]) / 48.0);
      deviation.push_back(at(fitResiduals(dueMs, heard), 0.99));
      std::vector<double> frame, entry;
      for (std::size_t i = 0; i < r.entryCount; ++i) {
        frame.push_back((r.entries[i].first - r.entries[0].first) / 48.0);
        entry.push_back((r.entries[i].second - r.entries[0].second) / 1000.0);
      }
      wander.push_back(benchjack::clockWander(frame, entry));
    }
    if (deviation.size() == kRuns) {
      std::printf(
          "JACK period %4d: deviation from the schedule, latency and rate removed, p99 %.3f ms; "
          "the server's own frame clock strays from the system clock by %.3f ms "
          "(medians of %d runs)\n",
          period, median(deviation), median(wander), kRuns);
      status = 0;
    }
    jack_client_close(r.client);
  } else {
    std::printf("period %d: no JACK server answers\n", period);
  }
  return status;
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
      const int status = measure(period);
      std::fflush(stdout);
      std::_Exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
