#include <gtest/gtest.h>

#include "platform/AlsaMidiInput.h"
#include "playback/TakeRecorder.h"
#include "recording/Take.h"
#include "tests/support/FakeMidiInput.h"
#include "tests/support/JumpingClock.h"
#include "tests/support/TestDocuments.h"

namespace pulsewright {
namespace {

using std::chrono::milliseconds;

// What the drummer hears: the clicks' due times.
class ClickEar : public StepOutput {
 public:
  void sendChannelMessage(int kind, int data1, int, DueTime due) override {
    std::lock_guard lock(mutex);
    if (kind == 0x90 && (data1 == kClickAccentNote || data1 == kClickNote)) clicks.push_back(due);
  }
  void playSample(const std::string&, std::int16_t, std::int16_t, DueTime) override {}
  std::mutex mutex;
  std::vector<DueTime> clicks;
};

class Ended : public Player::Listener {
 public:
  void statusChanged(std::uint64_t, const std::string&) override {}
  void songEnded(std::uint64_t) override {
    std::lock_guard lock(mutex);
    ended = true;
    cv.notify_all();
  }
  bool wait() {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(10), [&] { return ended; });
  }
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
};

struct Played {
  int pass;
  int step;
  double humanMs;
  int key, velocity, hiHat;
};

// Two bars of sixteenths at 120 (125 ms a step), played twice at half speed with a
// count-in: the kit finds the first beat from the count-in's clicks, as a drummer does,
// and plays with human timing. Its notes come in through a sequencer that stamps them
// and delivers them late by varying amounts, and through an output whose latency the
// user gave (12 ms).
TEST(TakeRecorder, HitsReadAgainstTheSongsClockWithTempoAndLatencyUndone) {
  JumpingClock clock{JumpingClock::TimePoint(std::chrono::seconds(1000))};
  ClickEar ear;
  Ended ended;
  FakeMidiInput input;
  std::vector<std::vector<std::uint8_t>> passedOn;
  TakeRecorder::Settings settings;
  settings.tempoScale = 0.5;
  settings.latencyOffset = milliseconds(12);
  settings.thruChannel = 0;
  TakeRecorder recorder(
      input, settings,
      [&](const std::uint8_t* bytes, int length) { passedOn.emplace_back(bytes, bytes + length); },
      &ended);
  Player player(ear, clock, &recorder);
  player.setTempoScale(0.5);
  const std::string document = doc({"k = kick drum", "part = A tempo = 120 notes = 16",
                                    "k |x---x---x---x---|x---x---x---x---|", "song = A"});
  auto song = compileSong(document);
  PlayOptions options;
  options.countIn = true;
  options.metronome = true;
  options.loops = 2;
  ASSERT_TRUE(player.play(song, options));
  ASSERT_TRUE(ended.wait());

  ASSERT_GE(ear.clicks.size(), 4u);
  const double beat = 1.0;  // seconds, at half speed
  const DueTime first = ear.clicks[0] + std::chrono::duration_cast<DueTime::duration>(
                                            std::chrono::duration<double>(4 * beat));
  const std::vector<Played> played = {
      {0, 0, 0, 36, 110, -1},   {0, 2, 28, 42, 80, 10},   {0, 4, -30, 38, 100, 10},
      {0, 6, 0, 42, 22, 90},    {0, 7, 5, 38, 15, 90},    {0, 20, -12, 37, 70, 90},
      {1, 0, -20, 36, 127, 90}, {1, 31, 30, 49, 100, 90},
  };
  // The drummer warms up during the count-in: not part of the take.
  SequencerTimes sequencer;
  const auto arrive = [&](DueTime stamp, double sinceFirst, int delayMs, std::uint8_t status,
                          int d1, int d2) {
    const DueTime arrival = stamp + milliseconds(delayMs);
    input.push(sequencer.stamp(sinceFirst, arrival), status, static_cast<std::uint8_t>(d1),
               static_cast<std::uint8_t>(d2));
  };
  const DueTime origin = ear.clicks[1];  // the first message's stamp
  const auto since = [&](DueTime t) { return std::chrono::duration<double>(t - origin).count(); };
  arrive(origin, 0, 0, 0x99, 38, 90);
  int lastHiHat = -1;
  int delay = 1;
  for (const Played& p : played) {
    const double songSeconds = p.pass * 4.0 + p.step * 0.125 + p.humanMs / 1000;
    const DueTime heard = first + std::chrono::duration_cast<DueTime::duration>(
                                      std::chrono::duration<double>(songSeconds * 2));
    const DueTime stamp = heard + milliseconds(12);
    if (p.hiHat != lastHiHat && p.hiHat >= 0) {
      arrive(stamp - milliseconds(2), since(stamp - milliseconds(2)), delay, 0xB9, 4, p.hiHat);
      lastHiHat = p.hiHat;
    }
    arrive(stamp, since(stamp), delay, 0x99, p.key, p.velocity);
    arrive(stamp + milliseconds(50), since(stamp + milliseconds(50)), delay, 0x89, p.key, 0);
    delay = delay == 1 ? 7 : 1;  // the scheduler delivers some late
  }
  recorder.poll();

  const std::vector<RecordedHit> hits = recorder.hits();
  ASSERT_EQ(hits.size(), played.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    const Played& p = played[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(hits[i].pass, p.pass);
    EXPECT_NEAR(hits[i].seconds, p.step * 0.125 + p.humanMs / 1000, 1e-6);
    EXPECT_EQ(hits[i].key, p.key);
    EXPECT_EQ(hits[i].velocity, p.velocity);
    EXPECT_EQ(hits[i].hiHatControl, p.hiHat);
  }
  // Written into the part, the take plays every hit on its step; the hi-hat pedal
  // decides between the closed and the open hat, the cross-stick is a snare.
  std::vector<TakeHit> take;
  for (const RecordedHit& h : hits) {
    take.push_back({h.pass, h.seconds, h.key, h.velocity, h.hiHatControl});
  }
  const TakeResult written = writeTake(document, "A", take, TakeMode::Overdub, defaultPadMap());
  ASSERT_TRUE(written.ok()) << written.error;
  const auto again = compileSong(written.document);
  const TimelinePart& part = again->timeline.parts()[1];
  const auto playsOn = [&](int step, int note) {
    for (const TimelineItem& item : part.itemsOf(part.steps[static_cast<std::size_t>(step)])) {
      if (item.kind == TimelineItem::Kind::Note && item.note == note) return true;
    }
    return false;
  };
  const std::pair<int, int> expected[] = {{0, 36}, {2, 42},  {4, 38}, {6, 46},
                                          {7, 38}, {20, 38}, {31, 49}};
  for (const auto& [step, note] : expected) {
    EXPECT_TRUE(playsOn(step, note)) << "step " << step << " note " << note << "\n"
                                     << written.document;
  }
  // The kit sounded on the output's channel, every message of it.
  ASSERT_FALSE(recorder.thruInDevice());
  ASSERT_EQ(passedOn.size(), 1 + 2 * played.size() + 2);
  EXPECT_EQ(passedOn[1], (std::vector<std::uint8_t>{0x90, 36, 110}));
  EXPECT_EQ(passedOn[3], (std::vector<std::uint8_t>{0xB0, 4, 10}));
}

TEST(TakeRecorder, AVanishedInputEndsTheTakeAndKeepsWhatCame) {
  FakeMidiInput input;
  input.thruInDevice = true;
  input.reportedLatency = milliseconds(5);
  TakeRecorder::Settings settings;
  settings.latencyOffset = milliseconds(40);  // the device knows better
  settings.thruChannel = 0;
  TakeRecorder recorder(input, settings, nullptr, nullptr);
  EXPECT_TRUE(recorder.thruInDevice());
  EXPECT_EQ(input.thruChannel, 0);
  EXPECT_EQ(recorder.latency(), milliseconds(5));
  Timeline timeline;
  TimelineTick tick;
  tick.intervalMs = 100;
  const DueTime onset(std::chrono::seconds(10));
  recorder.stepStarted(1, timeline, tick, onset);
  input.push(onset + milliseconds(305), 0x90, 38, 64);
  input.vanish();
  EXPECT_FALSE(recorder.poll());
  EXPECT_TRUE(recorder.inputGone());
  const std::vector<RecordedHit> hits = recorder.hits();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_NEAR(hits[0].seconds, 0.3, 1e-9);
}

}  // namespace
}  // namespace pulsewright
