// MIDI clock and transport on a real JACK server (the dummy driver), read by JACK clients
// of the tests' own. Each test starts its own server, as the other JACK tests do.

#include <gtest/gtest.h>
#include <jack/transport.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "platform/JackTransport.h"
#include "playback/TransportLayout.h"
#include "tests/support/CountedAllocations.h"
#include "tests/support/JackTestReceiver.h"
#include "tests/support/JackTestServer.h"
#include "tests/support/TestDocuments.h"

namespace pulsewright {
namespace {

using namespace jacktest;

constexpr int kServerRate = 48000;

// Four quarters at 480, then two at 240 with a triplet: half a second each.
constexpr char kTwoTempoSong[] =
    "k = kick drum\npart = A tempo = 480 notes = 8\nk |xxxxxxxx|\n"
    "part = B tempo = 240 notes = 8\nk |x-[xxx]x|\nsong = AB\n";
constexpr double kPartFrames = kServerRate / 2.0;

// Under ThreadSanitizer the command runs so slowly that its sends reach the port late and
// in bunches: there these tests look for races and count and order the messages, and
// the normal and AddressSanitizer builds judge their spacing.
#if defined(__SANITIZE_THREAD__)
constexpr bool kJudgeSpacing = false;
#else
constexpr bool kJudgeSpacing = true;
#endif

std::string writeSong(JackServer& jack) {
  const std::string path = jack.log("song.tab");
  std::ofstream(path) << kTwoTempoSong;
  return path;
}

int runPlay(JackServer& jack, const std::vector<std::string>& extra, const std::string& logName) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::vector<std::string> argv = {PW_CLI_PATH, "play", writeSong(jack), "--device", "none"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  Child play(argv, jack.log(logName));
  if (!play.started()) return -1;
  return play.wait(std::chrono::seconds(60));
}

// `pulsewright-cli play --clock-out` to a client of the test's own: Start, exactly 24
// clocks a quarter, Stop; the clocks keep each part's tempo and the tempo scale. A port
// name that matches nothing: exit 2 with the list of ports.
TEST(JackSync, ClockOutCountsTwentyFourAQuarterAtEachTempoAndScale) {
  JackServer jack;
  ASSERT_TRUE(jack.start(256)) << readFile(jack.log("jackd"));
  JackReceiver receiver;
  ASSERT_TRUE(receiver.open("clock-reader"));

  const int wrong = runPlay(jack, {"--clock-out", "no-such-port"}, "wrong");
  EXPECT_TRUE(WIFEXITED(wrong) && WEXITSTATUS(wrong) == 2) << readFile(jack.log("wrong"));
  const std::string said = readFile(jack.log("wrong"));
  EXPECT_NE(said.find("no MIDI port matches no-such-port"), std::string::npos) << said;
  EXPECT_NE(said.find("  clock-reader:in\n"), std::string::npos) << said;

  for (const double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    receiver.clear();
    const int status = runPlay(
        jack, {"--clock-out", "clock-reader", "--tempo-scale", std::to_string(scale)}, "play");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(jack.log("play"));
    const std::vector<JackReceiver::Message> got = receiver.messages();
    ASSERT_EQ(got.size(), 1u + 144 + 1);
    EXPECT_EQ(got.front().status(), 0xFA);
    EXPECT_EQ(got.back().status(), 0xFC);
    EXPECT_EQ(
        std::count_if(got.begin(), got.end(), [](const auto& m) { return m.status() == 0xF8; }),
        144);
    for (std::size_t k = 1; k < got.size(); ++k) EXPECT_GE(got[k].frame, got[k - 1].frame);
    // The spacing of part A's 96 clocks and of part B's 48 (each half a second), shortened
    // by the scale: the median, within 5 % (a late wake-up of a loaded machine that moves
    // a few clocks is no fault here).
    auto medianSpacing = [&](std::size_t from, std::size_t to) {
      std::vector<long> gaps;
      for (std::size_t k = from + 1; k < to; ++k) gaps.push_back(got[k].frame - got[k - 1].frame);
      std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
      return static_cast<double>(gaps[gaps.size() / 2]);
    };
    if (kJudgeSpacing) {
      EXPECT_NEAR(medianSpacing(1, 1 + 96), kPartFrames / 96 / scale,
                  0.05 * kPartFrames / 96 / scale);
      EXPECT_NEAR(medianSpacing(1 + 96, 1 + 144), kPartFrames / 48 / scale,
                  0.05 * kPartFrames / 48 / scale);
    }
    // The Start goes with the first clock.
    EXPECT_EQ(got[0].frame, got[1].frame);
  }
}

// A timebase master of the test's own: 4/4, 100 beats a minute up to the third beat of
// bar 3, 140 from there on.
constexpr double kBar3Frame = 8 * 0.6 * kServerRate;
constexpr double kChangeFrame = kBar3Frame + 2 * 0.6 * kServerRate;
void masterTimebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int, void*) {
  const double f = pos->frame;
  const double beats = f < kChangeFrame ? f * 100 / 60 / kServerRate
                                        : 10 + (f - kChangeFrame) * 140 / 60 / kServerRate;
  pos->valid = JackPositionBBT;
  pos->bar = static_cast<int>(beats / 4) + 1;
  pos->beat = static_cast<int>(std::fmod(beats, 4)) + 1;
  pos->tick = static_cast<int>((beats - std::floor(beats)) * 1920);
  pos->bar_start_tick = (pos->bar - 1) * 4 * 1920.0;
  pos->beats_per_bar = 4;
  pos->beat_type = 4;
  pos->ticks_per_beat = 1920;
  pos->beats_per_minute = f < kChangeFrame ? 100 : 140;
}

bool waitFor(const std::function<bool()>& condition) {
  const auto end = Clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

// `play --transport jack` with another client as timebase master: located to bar 3 and
// started, the first note of bar 3 goes out at the very frame the transport says bar 3
// starts; the master's change to 140 in mid-bar is followed from the next beat on; Stop
// silences the channel.
TEST(JackSync, TransportFollowsTheMastersBarBeatAndTempo) {
  JackServer jack;
  ASSERT_TRUE(jack.start(256)) << readFile(jack.log("jackd"));
  JackReceiver receiver;
  ASSERT_TRUE(receiver.open("transport-reader"));
  jack_client_t* master = jack_client_open("test-master", JackNoStartServer, nullptr);
  ASSERT_NE(master, nullptr);
  ASSERT_EQ(jack_set_timebase_callback(master, 0, masterTimebase, nullptr), 0);
  ASSERT_EQ(jack_activate(master), 0);
  ASSERT_EQ(jack_transport_locate(master, static_cast<jack_nframes_t>(kBar3Frame)), 0);

  const std::string song = jack.log("bars.tab");
  std::ofstream(song) << "k = kick drum\npart = A tempo = 120 notes = 8\nk |xxxxxxxx|\n"
                         "song = AAA\n";
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  Child play({PW_CLI_PATH, "play", song, "--device", "transport-reader", "--transport", "jack"},
             jack.log("play"));
  ASSERT_TRUE(play.started());
  ASSERT_TRUE(waitFor([&] {
    return readFile(jack.log("play")).find("following the JACK transport") != std::string::npos;
  })) << readFile(jack.log("play"));
  EXPECT_EQ(readFile(jack.log("play")).find("timebase master"), std::string::npos);
  jack_transport_start(master);
  ASSERT_TRUE(waitFor([&] { return receiver.messages().size() >= 16; }))
      << readFile(jack.log("play"));
  jack_transport_stop(master);
  ASSERT_TRUE(waitFor([&] { return receiver.messages().size() >= 18; }));
  play.stop(SIGTERM);

  const std::vector<JackReceiver::Message> got = receiver.messages();
  ASSERT_EQ(got.size(), 18u);
  std::vector<long> onsets;
  for (const auto& m : got) {
    if (m.status() == 0x90) onsets.push_back(m.transportFrame);
  }
  ASSERT_EQ(onsets.size(), 8u);
  // Eighths: 14400 frames at 100, 10285.7 at 140 from the change on.
  EXPECT_EQ(onsets[0], static_cast<long>(kBar3Frame));
  for (int k = 1; k < 4; ++k) EXPECT_EQ(onsets[k], static_cast<long>(kBar3Frame) + k * 14400);
  for (int k = 4; k < 8; ++k) {
    const double due = kChangeFrame + (k - 4) * 0.5 * 60 / 140 * kServerRate;
    EXPECT_NEAR(static_cast<double>(onsets[k]), due, 12) << k;  // within a tick of 1/1920
  }
  EXPECT_EQ(got[16].bytes[0], 0xB0);
  EXPECT_EQ(got[16].bytes[1], 120);
  EXPECT_EQ(got[17].bytes[1], 123);
  jack_client_close(master);
}

// The transport player's process callback, and its timebase callback as master, take no
// lock and allocate nothing while the song rolls, is located and stops.
TEST(JackSync, TheTransportCallbacksAllocateNothingAndTakeNoLock) {
  using namespace test;
  JackServer jack;
  ASSERT_TRUE(jack.start(128)) << readFile(jack.log("jackd"));
  JackReceiver receiver;
  ASSERT_TRUE(receiver.open("alloc-reader"));
  auto song = compileSong(
      "k = kick drum\r\npart = A tempo = 240 notes = 16\r\nk |xxxxxxxxxxxxxxxx|\r\nsong = "
      "AAAA\r\n");
  int result = 0;
  auto player = JackTransportPlayer::open("pw-transport", "alloc-reader:in",
                                          layOutForTransport(song->timeline, 9), &result);
  ASSERT_TRUE(player) << result;
  ASSERT_TRUE(player->offerTimebase());
  std::this_thread::sleep_for(milliseconds(100));  // the first cycles are behind
  resetAllocationsCounted();
  watchAllocationsOn(player->processThread());
  jack_transport_locate(receiver.client(), 0);
  jack_transport_start(receiver.client());
  ASSERT_TRUE(waitFor([&] { return receiver.messages().size() >= 16; }));
  jack_transport_locate(receiver.client(), kServerRate);  // bar 2, rolling
  ASSERT_TRUE(waitFor([&] { return receiver.messages().size() >= 32; }));
  jack_transport_stop(receiver.client());
  ASSERT_TRUE(waitFor([&] { return !player->rolling(); }));
  std::this_thread::sleep_for(milliseconds(50));
  stopAllocationWatch();
  EXPECT_EQ(allocationsCounted(), 0) << (mallocCounted() ? "" : "(operator new only)");
  EXPECT_EQ(locksCounted(), 0) << (mutexCounted() ? "" : "(locks not counted)");
  jack_position_t position;
  jack_transport_query(receiver.client(), &position);
  EXPECT_TRUE(position.valid & JackPositionBBT);
}

// `play --clock-in` from a source of the test's own at 120 (a clock every 1000 frames):
// the song starts with its Start and plays at its tempo; a source that stalls for 0.8 s
// holds the song, which goes on with it after, its notes never bunched; the song
// ends with itself. A source that vanishes stops the song with a message and exit 2.
TEST(JackSync, ClockInFollowsTheSourceWaitsOutAStallAndStopsWhenItGoes) {
  JackServer jack;
  ASSERT_TRUE(jack.start(256)) << readFile(jack.log("jackd"));
  JackReceiver receiver;
  ASSERT_TRUE(receiver.open("clock-in-reader"));
  // Start, a quarter of clocks, a stall of 0.8 s, another quarter.
  constexpr long kStall = 38400;
  std::vector<JackClockSource::Send> schedule = {{0, 0xFA}};
  for (int k = 0; k < 48; ++k) schedule.push_back({k * 1000L + (k >= 24 ? kStall : 0), 0xF8});
  JackClockSource source;
  ASSERT_TRUE(source.open("clock-source", schedule));
  const std::string song = jack.log("sixteenths.tab");
  std::ofstream(song) << "k = kick drum\npart = A tempo = 60 notes = 16\nk |xxxxxxxx|\n"
                         "song = A\n";
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  {
    Child play({PW_CLI_PATH, "play", song, "--device", "clock-in-reader", "--sound-device", "none",
                "--clock-in", "clock-source"},
               jack.log("play"));
    ASSERT_TRUE(play.started());
    ASSERT_TRUE(waitFor([&] {
      return readFile(jack.log("play")).find("waiting") != std::string::npos;
    })) << readFile(jack.log("play"));
    source.start();
    const int status = play.wait(std::chrono::seconds(20));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(jack.log("play"));
  }
  EXPECT_NE(readFile(jack.log("play")).find("the song waits for it"), std::string::npos)
      << readFile(jack.log("play"));
  std::vector<long> onsets;
  for (const auto& m : receiver.messages()) {
    if (m.status() == 0x90) onsets.push_back(m.frame);
  }
  ASSERT_EQ(onsets.size(), 8u);
  // A sixteenth is six clocks: 6000 frames, the stall between the fifth and sixth.
  std::vector<long> gaps;
  for (std::size_t k = 1; k < onsets.size(); ++k) gaps.push_back(onsets[k] - onsets[k - 1]);
  if (kJudgeSpacing) {
    EXPECT_GE(*std::max_element(gaps.begin(), gaps.end()), 6000 + kStall - 1000);
    EXPECT_GE(*std::min_element(gaps.begin(), gaps.end()), 3000) << "notes bunched";
    std::vector<long> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_NEAR(static_cast<double>(sorted[sorted.size() / 2]), 6000, 300);
  }

  // The source goes in mid-song.
  receiver.clear();
  JackClockSource going;
  std::vector<JackClockSource::Send> start = {{0, 0xFA}};
  for (int k = 0; k < 24; ++k) start.push_back({k * 1000L, 0xF8});
  ASSERT_TRUE(going.open("going-source", start));
  Child play({PW_CLI_PATH, "play", song, "--device", "clock-in-reader", "--sound-device", "none",
              "--clock-in", "going-source"},
             jack.log("going"));
  ASSERT_TRUE(waitFor([&] {
    return readFile(jack.log("going")).find("waiting") != std::string::npos;
  })) << readFile(jack.log("going"));
  going.start();
  ASSERT_TRUE(waitFor([&] { return going.sent() == start.size(); }));
  going.close();
  const int status = play.wait(std::chrono::seconds(20));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << readFile(jack.log("going"));
  EXPECT_NE(readFile(jack.log("going")).find("the MIDI clock source went away"), std::string::npos)
      << readFile(jack.log("going"));
  // Silenced: all notes off (what was handed over ahead of its time may follow it).
  const std::vector<JackReceiver::Message> got = receiver.messages();
  EXPECT_TRUE(std::any_of(got.begin(), got.end(),
                          [](const auto& m) { return m.bytes[0] == 0xB0 && m.bytes[1] == 123; }));
}

}  // namespace
}  // namespace pulsewright
