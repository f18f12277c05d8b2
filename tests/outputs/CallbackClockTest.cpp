// The callback clock against simulated devices: a schedule of blocks whose frames sound at
// known times, entered by callbacks that come late, in bursts, or not at all for a while.
// The figure is the frame error: how far the clock's frame for a time is from the frame
// the device plays then.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "platform/CallbackClock.h"

namespace pulsewright {
namespace {

struct Device {
  double rate = 44100;  // nominal
  int block = 256;
  double speed = 1;  // its real rate against the nominal one
};

struct Errors {
  double worst = 0;   // largest frame error once settled, in ms
  double spread = 0;  // how far it moves over that time (max - min), in ms
  double rate = 0;    // the learned rate against the real one, minus one
};

// Runs `seconds` of callbacks. `entry(k, due)` says when callback k is entered, `due` being
// when its first frame sounds; `pause(k)` adds a stall (seconds) before block k's
// schedule. Errors count from `settle` seconds on, and `settleAfterPause` after a stall.
Errors simulate(
    const Device& d, double seconds, double settle, const std::function<double(int, double)>& entry,
    const std::function<double(int)>& pause = [](int) { return 0.0; }) {
  CallbackClock clock(d.rate);
  const double realRate = d.rate * d.speed;
  double origin = 100;  // the schedule: frame f of this stretch sounds at origin + f / rate
  double lo = 1e9, hi = -1e9, worst = 0, lastPause = -1e9;
  for (int k = 0;; ++k) {
    const std::int64_t frame = static_cast<std::int64_t>(k) * d.block;
    if (const double p = pause(k); p > 0) {
      origin += p;
      lastPause = origin + frame / realRate;
    }
    const double due = origin + frame / realRate;
    if (due - 100 > seconds) break;
    clock.update(frame, entry(k, due));
    if (due - 100 < settle || due - lastPause < settle) continue;
    // The device plays `frame` at `due`; the clock's frame for that time:
    const double error = (clock.frameAt(due) - static_cast<double>(frame)) / d.rate * 1000;
    lo = std::min(lo, error), hi = std::max(hi, error);
    worst = std::max(worst, std::abs(error));
  }
  return {worst, hi - lo, clock.rate() / realRate - 1};
}

const Device kDevices[] = {{44100, 256}, {48000, 64}, {48000, 1024}};

TEST(CallbackClock, FollowsASteadyDeviceAndOneThatRunsFastOrSlow) {
  for (Device d : kDevices) {
    for (double speed : {1.0, 1.001, 0.999, 1.07, 0.93}) {
      d.speed = speed;
      SCOPED_TRACE(testing::Message() << d.block << " frames at " << d.rate << ", speed " << speed);
      const Errors e = simulate(d, 20, 3, [](int, double due) { return due; });
      EXPECT_LT(e.worst, 0.1);
      EXPECT_LT(std::abs(e.rate), 1e-5);
    }
  }
}

// Entries late by up to 1 ms always, and one in twenty by up to 15 ms more: the frames
// keep a line within a millisecond or so, near the earliest entries.
TEST(CallbackClock, LateWakeUpsBarelyMoveIt) {
  for (Device d : kDevices) {
    for (double speed : {1.0, 1.07, 0.93}) {
      d.speed = speed;
      SCOPED_TRACE(testing::Message() << d.block << " frames, speed " << speed);
      std::mt19937 random(7);
      std::uniform_real_distribution<double> late(0, 0.001), rare(0, 0.015);
      const Errors e = simulate(d, 30, 5, [&](int k, double due) {
        return due + late(random) + (k % 20 == 0 ? rare(random) : 0);
      });
      EXPECT_LT(e.worst, 1.5);
      EXPECT_LT(e.spread, 1.5);
    }
  }
}

// A device that takes two blocks at a time: every second callback comes right after the
// first, now and then or all the time.
TEST(CallbackClock, BurstsOfTwoCallbacksAreNotNewsOfTheDevice) {
  for (Device d : kDevices) {
    for (int every : {2, 25}) {
      for (double speed : {1.0, 1.07}) {
        d.speed = speed;
        SCOPED_TRACE(testing::Message() << d.block << " frames, a burst every " << every
                                        << " callbacks, speed " << speed);
        const double block = d.block / (d.rate * speed);
        const Errors e = simulate(d, 20, 3, [&](int k, double due) {
          return k % every == 1 ? due - block + 0.0001 : due;
        });
        // A device that is always one block early on every second callback is learned as
        // a constant latency of half a block at most.
        EXPECT_LT(e.worst, every == 2 ? 1000 * block / 2 + 0.1 : 0.2);
        EXPECT_LT(e.spread, 0.2);
        EXPECT_LT(std::abs(e.rate), 1e-4);
      }
    }
  }
}

// The device stops for 2 s (a suspended server, a stopped stream) and goes on from the
// frame it had reached: the clock starts its phase afresh, keeps the rate it learned, and
// is within a millisecond of the new schedule half a second later.
TEST(CallbackClock, AStallAndResumeStartsThePhaseAfresh) {
  for (Device d : kDevices) {
    for (double speed : {1.0, 1.07}) {
      d.speed = speed;
      SCOPED_TRACE(testing::Message() << d.block << " frames, speed " << speed);
      const int stallAt = static_cast<int>(8 * d.rate / d.block);
      const Errors e = simulate(
          d, 16, 0.5, [](int, double due) { return due; },
          [&](int k) { return k == stallAt ? 2.0 : 0.0; });
      EXPECT_LT(e.worst, 1.0);
      EXPECT_LT(std::abs(e.rate), 1e-4);
    }
  }
  // A clock reset forgets the rate too; frames that go backwards (another device) restart.
  CallbackClock clock(48000);
  for (int k = 0; k < 1000; ++k) clock.update(k * 64, 50 + k * 64 / 52000.0);
  EXPECT_NEAR(clock.rate(), 52000, 1);
  clock.update(0, 80);
  EXPECT_NEAR(clock.frameAt(81), 52000, 1);
  clock.reset();
  clock.update(0, 90);
  EXPECT_EQ(clock.rate(), 48000);
}

// A JACK server (its rate kept within 0.02 %) that stalls every 20 cycles while the clock
// learns, as a loaded machine's server does: its frames seem 5 % slow, which is no rate
// of its own. Later its frames move once by 8 ms, and the port moves the phase by as
// much as the cycles came late: the clock is as near the schedule as before, at the
// same rate.
TEST(CallbackClock, AServerWhoseFramesMoveKeepsItsRateAndMovesItsPhase) {
  CallbackClock clock(48000, {0.03, 0.03, 0.3, 0.0002});
  const double block = 256 / 48000.0;
  double origin = 100;
  auto due = [&](int k) { return origin + k * block; };
  auto error = [&](int k) { return (clock.frameAt(due(k)) - k * 256.0) / 48; };  // ms
  int k = 0;
  for (; due(k) < 100.4; ++k) {
    if (k % 20 == 19) origin += 0.005;
    clock.update(std::int64_t{k} * 256, due(k));
  }
  EXPECT_NEAR(clock.rate(), 48000, 48000 * 0.0002);
  for (; due(k) < 105; ++k) clock.update(std::int64_t{k} * 256, due(k));
  const double rate = clock.rate(), before = error(k - 1);
  origin += 0.008;
  for (int late = 0; late < 4; ++late, ++k) clock.update(std::int64_t{k} * 256, due(k));
  clock.shiftPhase(due(k - 1) - clock.timeOf((k - 1) * 256.0));
  EXPECT_NEAR(error(k - 1), 0, 0.01);
  EXPECT_NEAR(clock.rate(), rate, 0.5);
  EXPECT_LT(std::abs(before), 8);
}

// A device paced by 5 ms sleeps (SDL's disk driver): 256 frames per sleep, its overshoot
// and the callback's own time, which grows once sound starts, so the device runs about
// 14 % fast and then 1 % slower than at first. Hits every 250 ms from half a second after
// the device opened (a command-line play) get frames that keep a straight line against
// their due times: a rate still being learned while they play would bend it.
TEST(CallbackClock, HitsSoonAfterTheDeviceOpenedKeepAStraightLine) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> overshoot(30e-6, 120e-6);
    CallbackClock clock(44100);
    const double latency = 256.0 / 44100 + 0.002;
    std::vector<double> due, frames;
    double time = 100;
    for (std::int64_t frame = 0; time < 108.5; frame += 256) {
      clock.update(frame, time);
      // Each hit is handed over at its due time and taken by the next callback.
      while (100.45 + 0.25 * static_cast<double>(due.size()) <= time) {
        due.push_back(100.45 + 0.25 * static_cast<double>(due.size()));
        frames.push_back(clock.frameAt(due.back() + latency));
      }
      time += 0.005 + overshoot(random) + (time < 100.15 ? 20e-6 : 80e-6);
    }
    // Against a line through the nine nearest hits.
    const std::size_t n = due.size();
    ASSERT_GE(n, 30u);
    double worst = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t from = std::min(i - std::min<std::size_t>(i, 4), n - 9);
      double st = 0, sf = 0, stt = 0, stf = 0;
      for (std::size_t j = from; j < from + 9; ++j) {
        st += due[j], sf += frames[j], stt += due[j] * due[j], stf += due[j] * frames[j];
      }
      const double slope = (9 * stf - st * sf) / (9 * stt - st * st);
      const double line = (sf - slope * st) / 9 + slope * due[i];
      worst = std::max(worst, std::abs(frames[i] - line) / slope * 1000);
    }
    EXPECT_LT(worst, 0.25);
  }
}

}  // namespace
}  // namespace pulsewright
