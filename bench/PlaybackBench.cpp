// Playback timing: plays a song of N steps of 10 ms into a recording output on the real
// clock and reports how far each tick lands from the ideal schedule (the time of Play
// plus the sum of the durations before), idle and with the other core kept busy.
// Usage: pw_bench_playback [steps]   (default 10000, that is 100 s per run)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "playback/Player.h"

using namespace pulsewright;
using Clock = std::chrono::steady_clock;

namespace {

class TickTimes : public StepOutput {
 public:
  void sendChannelMessage(int kind, int, int, DueTime) override {
    if (kind == 0x90) times.push_back(Clock::now());  // one note on per step
  }
  void playSample(const std::string&, std::int16_t, std::int16_t, DueTime) override {}
  std::vector<Clock::time_point> times;
};

class Done : public Player::Listener {
 public:
  void statusChanged(std::uint64_t, const std::string&) override {}
  void songEnded(std::uint64_t) override {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    cv.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return ended; });
  }
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
};

void measure(const char* label, int steps) {
  SongParts parts;
  parts.parts.resize(2);
  parts.parts[0].steps.resize(1);
  TimelinePart& part = parts.parts[1];
  part.name.assign(1, 'A');  // GCC 12 warns falsely of overlap on = "A"
  part.program = -1;
  TimelineItem hit;
  hit.kind = TimelineItem::Kind::Note;
  hit.note = 36;
  hit.velocity = static_cast<std::uint8_t>(velocityOfLevel(5));
  for (int s = 0; s < steps; ++s) {
    part.steps.push_back(TimelineStep{10, {}, static_cast<std::uint32_t>(s)});
    part.items.push_back(hit);
  }
  part.tailDurations = {10, 10};
  auto song = makeSong(std::make_shared<const Timeline>(Timeline::build(std::move(parts), "A")));

  TickTimes out;
  out.times.reserve(static_cast<std::size_t>(steps));
  Done done;
  SteadyPlaybackClock clock;
  Player player(out, clock, &done);
  player.play(song);
  const Clock::time_point start = player.playStartedAt();
  done.wait();

  std::vector<double> late;  // ms after the ideal time
  for (std::size_t i = 0; i < out.times.size(); ++i) {
    const auto ideal = start + std::chrono::milliseconds(10 * static_cast<long>(i + 1));
    late.push_back(std::chrono::duration<double, std::milli>(out.times[i] - ideal).count());
  }
  const double last = late.back();
  std::vector<double> sorted = late;
  std::sort(sorted.begin(), sorted.end());
  auto pct = [&](double p) { return sorted[static_cast<std::size_t>(p * (sorted.size() - 1))]; };
  double largest = 0;
  for (double d : late) largest = std::max(largest, std::abs(d));
  std::printf(
      "%-10s ticks %zu  p50 %.3f ms  p99 %.3f ms  largest %.3f ms  last tick %.3f ms late\n", label,
      late.size(), pct(0.5), pct(0.99), largest, last);
}

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::max(10, std::atoi(argv[1])) : 10000;
  measure("idle", steps);
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    volatile unsigned long x = 0;
    while (!stop.load(std::memory_order_relaxed)) x = x + 1;
  });
  measure("one busy", steps);
  stop = true;
  busy.join();
  return 0;
}
