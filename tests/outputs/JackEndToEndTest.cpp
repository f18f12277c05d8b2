// Sends through the program's own device list to a real JACK server (the dummy driver)
// and checks what jack_midi_dump received. Each test starts its own server under a
// private name and removes it, and its files under /dev/shm, when it ends. CTest runs
// every test in a process of its own: libjack keeps state about the servers a process
// has met, so two servers one after the other in one process are not supported here.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "midi/MidiMenus.h"
#include "midi/MidiPort.h"
#include "platform/FluidSynthOutput.h"
#include "platform/JackMidiPort.h"
#include "platform/MidiRouter.h"
#include "platform/SystemMidiPorts.h"
#include "tests/support/CountedAllocations.h"
#include "tests/support/JackTestServer.h"
#include "tests/support/NullSoundOutput.h"

namespace pulsewright {
namespace {

using namespace jacktest;

// The program's own MIDI device list: built-in synthesiser (silent here) and real ports.
struct Outputs {
  NullSoundOutput sound;
  FluidSynthOutput synth{&sound, {"/usr/share/sounds/sf2/TimGM6mb.sf2"}};
  SystemMidiPorts ports{"pw-test"};
  MidiRouter router{synth, ports};
  std::vector<std::string> messages;
  MidiPort port{router, [this](const std::string& m) { messages.push_back(m); }};
  MidiMenus menus;

  // Start-up as the window does it: the listing opens the mapper and fills the menu.
  void listDevices() { menus = MidiMenus(port.listDevices()); }
  int itemFor(const std::string& caption) const {
    for (int i = 1; i < kDeviceMenuItems; ++i) {
      if (menus.devices()[i].visible && menus.devices()[i].caption == caption) return i;
    }
    return -1;
  }
  void pickDevice(int item) {
    menus.pickDevice(item);
    port.openDevice(MidiMenus::deviceOfItem(item));
  }
};

TEST(JackEndToEnd, StepAndChannelSixteenReachJackMidiDumpByteForByte) {
  JackServer jack;
  ASSERT_TRUE(jack.start()) << readFile(jack.log("jackd"));
  ASSERT_TRUE(jack.startDump()) << readFile(jack.log("dump"));

  Outputs o;
  o.listDevices();
  const int item = o.itemFor(kDumpPort);
  ASSERT_GT(item, 0) << "the device menu does not list " << kDumpPort;
  o.pickDevice(item);
  ASSERT_EQ(o.port.lastResult(), 0);
  EXPECT_TRUE(o.messages.empty());

  // The step "42,5|0,0|36,7|" on channel 1, as the sequencer sends it.
  const int step[][2] = {{42, 76}, {0, 12}, {36, 101}};
  for (const auto& [note, velocity] : step) {
    o.port.send(packShortMessage(kNoteOn, o.port.channel(), note, velocity));
    o.port.send(packShortMessage(kNoteOff, o.port.channel(), note, 0));
  }
  o.port.selectChannel(15);
  o.port.sendChannelMessage(kNoteOn, 38, 127);
  o.port.sendChannelMessage(kNoteOff, 38, 0);
  o.port.sendChannelMessage(kProgramChange, 25, 0);

  const std::vector<std::vector<int>> expected = {{0x90, 42, 76},  {0x80, 42, 0},   {0x90, 0, 12},
                                                  {0x80, 0, 0},    {0x90, 36, 101}, {0x80, 36, 0},
                                                  {0x9F, 38, 127}, {0x8F, 38, 0},   {0xCF, 25}};
  EXPECT_TRUE(jack.waitForEvents(expected.size())) << readFile(jack.log("dump")) << "\njackd:\n"
                                                   << readFile(jack.log("jackd"));
  std::this_thread::sleep_for(milliseconds(300));  // nothing more may arrive
  EXPECT_EQ(jack.dumped(), expected) << readFile(jack.log("dump"));

  o.port.close();
  EXPECT_EQ(o.port.lastResult(), 0);
}

TEST(JackEndToEnd, ServerDyingWhileOpenDropsSendsAndTheListCanBeBuiltAgain) {
  JackServer jack;
  ASSERT_TRUE(jack.start()) << readFile(jack.log("jackd"));
  ASSERT_TRUE(jack.startDump()) << readFile(jack.log("dump"));
  Outputs o;
  o.listDevices();
  const int item = o.itemFor(kDumpPort);
  ASSERT_GT(item, 0);
  o.pickDevice(item);
  ASSERT_EQ(o.port.lastResult(), 0);

  jack.kill(SIGKILL);
  const auto start = Clock::now();
  for (int i = 0; i < 2000; ++i) o.port.sendChannelMessage(kNoteOn, 36, 100);  // fills the queue
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));

  // Listing again finds no server: the mapper alone, which opens.
  Outputs again;
  again.listDevices();
  EXPECT_FALSE(again.menus.devices()[1].visible);
  EXPECT_EQ(again.port.lastResult(), 0);
  // The port picked before the server died is gone now.
  o.pickDevice(item);
  EXPECT_NE(o.port.lastResult(), 0);
  ASSERT_EQ(o.messages.size(), 1u);
  EXPECT_EQ(o.messages[0], openFailureMessage(o.port.lastResult()));
  o.port.close();
}

TEST(JackEndToEnd, NoSequencerAndNoServerLeaveTheMapperAlone) {
  if (::access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has an ALSA sequencer";
  const std::string server = "pwnone" + std::to_string(::getpid());
  ::setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  ::setenv("JACK_NO_START_SERVER", "1", 1);
  ShmCleaner cleaner(server);
  Outputs o;
  o.listDevices();
  const DeviceMenu& menu = o.menus.devices();
  EXPECT_EQ(menu[0], (MenuItem{"MIDI Mapper", true, true, true}));
  for (int i = 1; i < kDeviceMenuItems; ++i) EXPECT_FALSE(menu[i].visible) << i;
  EXPECT_EQ(o.port.lastResult(), 0);
  EXPECT_TRUE(o.messages.empty());
  // Device 0 of an empty list: refused with a code, and the user is told.
  o.pickDevice(1);
  EXPECT_EQ(o.messages, std::vector<std::string>{"Couldn't open midi out, rc = 2"});
}

}  // namespace
}  // namespace pulsewright

namespace pulsewright {
namespace {

// The example song, played by pulsewright-cli through a JACK port in real time: what
// jack_midi_dump receives is exactly what the program logged, in order.
TEST(JackEndToEnd, ExampleSongPlaysThroughAJackPort) {
  JackServer jack;
  ASSERT_TRUE(jack.start()) << readFile(jack.log("jackd"));
  ASSERT_TRUE(jack.startDump()) << readFile(jack.log("dump"));
  const std::string log = jack.log("play-events");
  {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    // At twice the written tempo: what is judged is every message in order, not its time.
    Child play({PW_CLI_PATH, "play", PW_EXAMPLES_DIR "/basic-rock.tab", "--device", kDumpPort,
                "--sound-device", "none", "--tempo-scale", "2", "--log", log},
               jack.log("play"));
    ASSERT_TRUE(play.started());
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (play.running() && Clock::now() < end) std::this_thread::sleep_for(milliseconds(100));
    ASSERT_FALSE(play.running()) << readFile(jack.log("play"));
  }
  // The logged MIDI events: "<ms> midi <status> <data1> <data2>".
  std::vector<std::vector<int>> logged;
  std::istringstream lines(readFile(log));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    double ms = 0;
    std::string kind, status;
    int d1 = 0, d2 = 0;
    if (!(words >> ms >> kind) || kind != "midi") continue;
    words >> status >> d1 >> d2;
    const int s = std::stoi(status, nullptr, 16);
    logged.push_back((s & 0xF0) == 0xC0 ? std::vector<int>{s, d1} : std::vector<int>{s, d1, d2});
  }
  // A twice: 32 steps of three note pairs; B: 16 steps of a program change, the closed and
  // the open hat and the sample line (a rest pair, or a sample that is no MIDI at two steps).
  ASSERT_EQ(logged.size(), 32u * 6 + 14 * 7 + 2 * 5);
  EXPECT_TRUE(jack.waitForEvents(logged.size())) << readFile(jack.log("dump"));
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(jack.dumped(), logged);
}

}  // namespace
}  // namespace pulsewright

namespace pulsewright {
namespace {

// Messages handed over 30 ms ahead of their due times, at uneven spacings (several in
// one cycle, some due together, some a cycle or more apart), then the port closed at
// once: every one arrives, in order, and those due together at one frame.
class JackTimedSends : public ::testing::TestWithParam<int> {};

TEST_P(JackTimedSends, EveryMessageArrivesInOrderAtItsFrame) {
  const int period = GetParam();
  JackServer jack;
  ASSERT_TRUE(jack.start(period)) << readFile(jack.log("jackd"));
  ASSERT_TRUE(jack.startDump()) << readFile(jack.log("dump"));
  Outputs o;
  o.listDevices();
  const int item = o.itemFor(kDumpPort);
  ASSERT_GT(item, 0);
  o.pickDevice(item);
  ASSERT_EQ(o.port.lastResult(), 0);
  ASSERT_TRUE(o.port.placesByTime());

  constexpr int kCount = 240;
  const double gaps[] = {3.1, 0.0, 7.37, 1.05, 23.9, 0.4, 11.3};
  std::vector<double> dueMs;
  double at = 0;
  for (int k = 0; k < kCount; ++k) {
    dueMs.push_back(at);
    at += gaps[k % 7];
  }
  // A first message, once the port's first cycles have run: under a sanitizer the first
  // send takes a few hundred milliseconds, which would make the schedule's start late.
  o.port.sendChannelMessageAt(kNoteOn, 127, 127, Clock::now());
  ASSERT_TRUE(jack.waitForEvents(1)) << readFile(jack.log("dump"));

  const auto start = Clock::now() + milliseconds(100);
  std::vector<bool> inTime;  // handed over before its due time, less the clock's slack
  for (int k = 0; k < kCount; ++k) {
    const auto due = start + std::chrono::microseconds(std::lround(dueMs[k] * 1000));
    std::this_thread::sleep_until(due - milliseconds(30));
    o.port.sendChannelMessageAt(kNoteOn, k % 128, 1 + k / 128, due);
    ASSERT_EQ(o.port.lastResult(), 0);
    inTime.push_back(Clock::now() < due - milliseconds(5));
  }
  o.port.close();  // the last 30 ms of messages are still queued
  EXPECT_EQ(o.port.lastResult(), 0);

  ASSERT_TRUE(jack.waitForEvents(kCount + 1)) << readFile(jack.log("dump")) << "\njackd:\n"
                                              << readFile(jack.log("jackd"));
  std::this_thread::sleep_for(milliseconds(200));
  // Each message's number, from its note and velocity, in the order received (after the
  // first message).
  std::string received, sent;
  const auto dumped = jack.dumped();
  for (std::size_t i = 1; i < dumped.size(); ++i) {
    const auto& e = dumped[i];
    received += std::to_string(e.size() == 3 ? e[1] + 128 * (e[2] - 1) : -1) + " ";
  }
  for (int k = 0; k < kCount; ++k) sent += std::to_string(k) + " ";
  ASSERT_EQ(received, sent) << "jackd:\n" << readFile(jack.log("jackd"));

  std::vector<long> frames = jack.dumpedFrames();
  ASSERT_EQ(frames.size(), dueMs.size() + 1);
  frames.erase(frames.begin());
  // In order on the server's frame clock too; how closely the frames keep the schedule is
  // measured by pw_bench_jack (a shared machine's scheduling is no property of the code).
  EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
  // Messages due together leave at the same frame (a chord, a Start and its first clock).
  // A pair handed over late may be split by a cycle that took the first (a busy machine
  // can hold the sender past the 30 ms lead): those are left out and counted.
  int late = 0;
  for (int k = 1; k < kCount; ++k) {
    if (dueMs[k] != dueMs[k - 1]) continue;
    if (!inTime[k]) {
      ++late;
      continue;
    }
    EXPECT_EQ(frames[k], frames[k - 1]) << "message " << k;
  }
  if (late > 0) std::printf("%d pairs due together were handed over late\n", late);
}

INSTANTIATE_TEST_SUITE_P(Periods, JackTimedSends, ::testing::Values(64, 256, 1024));

// A key of the drum keyboard, struck while the song's next messages wait in the queue
// ahead of their time, sounds at once, not after them.
TEST(JackEndToEnd, KeyboardNotesGoAheadOfTheSongsQueuedMessages) {
  JackServer jack;
  ASSERT_TRUE(jack.start(256)) << readFile(jack.log("jackd"));
  ASSERT_TRUE(jack.startDump()) << readFile(jack.log("dump"));
  Outputs o;
  o.listDevices();
  o.pickDevice(o.itemFor(kDumpPort));
  ASSERT_EQ(o.port.lastResult(), 0);
  // Once the port's first cycles have run (slow under a sanitizer).
  o.port.sendChannelMessage(kNoteOn, 35, 1);
  ASSERT_TRUE(jack.waitForEvents(1)) << readFile(jack.log("dump"));
  const auto due = Clock::now() + milliseconds(300);
  for (int k = 0; k < 4; ++k) o.port.sendChannelMessageAt(kNoteOn, 60 + k, 100, due);
  o.port.sendChannelMessage(kNoteOn, 36, 127);
  o.port.close();
  ASSERT_TRUE(jack.waitForEvents(6)) << readFile(jack.log("dump"));
  const auto events = jack.dumped();
  EXPECT_EQ(events[1], (std::vector<int>{kNoteOn, 36, 127}));
  const std::vector<long> frames = jack.dumpedFrames();
  EXPECT_GT(frames[2] - frames[1], 48 * 200) << "the keyboard's note waited for the song's";
}

// A server stopped in mid-song (SIGSTOP) answers nothing, and closing a client waits for
// its answer: the command still ends soon after the song, and says how many of the
// messages it logged the server never took, in the log too, with exit status 2.
TEST(JackEndToEnd, PlayEndsWhenTheServerIsStoppedAndCountsWhatItNeverTook) {
  JackServer jack;
  ASSERT_TRUE(jack.start()) << readFile(jack.log("jackd"));
  ASSERT_TRUE(jack.startDump()) << readFile(jack.log("dump"));
  const std::string song = jack.log("song.tab");
  {
    std::ofstream out(song);
    out << "k = kick drum\npart = A tempo = 240 notes = 8\nk |xxxxxxxx|\nsong = AAA\n";
  }
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  const std::string log = jack.log("play-events");
  Child play(
      {PW_CLI_PATH, "play", song, "--device", kDumpPort, "--sound-device", "none", "--log", log},
      jack.log("play"));
  ASSERT_TRUE(play.started());
  ASSERT_TRUE(jack.waitForEvents(2)) << readFile(jack.log("play"));
  jack.pause(true);
  // Three seconds of song, then the bounded drain and close.
  const int status = play.wait(std::chrono::seconds(20));
  ASSERT_NE(status, -1) << readFile(jack.log("play"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << readFile(jack.log("play"));
  // Every message logged was either received or counted as never taken.
  std::size_t logged = 0, lost = 0;
  std::istringstream lines(readFile(log));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    double ms = 0;
    std::string kind;
    words >> ms >> kind;
    if (kind == "midi") ++logged;
    if (kind == "lost") words >> lost;
  }
  jack.pause(false);
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(logged, 48u);
  EXPECT_GT(lost, 0u) << readFile(log);
  EXPECT_EQ(jack.dumped().size() + lost, logged) << readFile(log);
  EXPECT_NE(readFile(jack.log("play")).find("never took " + std::to_string(lost)),
            std::string::npos)
      << readFile(jack.log("play"));
}

// The process callbacks allocate nothing: every allocation made on the process threads
// of two clients is counted while messages go through them, timed and at once, and come
// in on an input that passes them on in the same cycle.
TEST(JackEndToEnd, TheProcessCallbacksAllocateNothing) {
  using namespace test;
  JackServer jack;
  ASSERT_TRUE(jack.start(128)) << readFile(jack.log("jackd"));
  ASSERT_TRUE(jack.startDump()) << readFile(jack.log("dump"));
  int result = 0;
  auto port = JackMidiPort::open("pw-alloc", kDumpPort, &result);
  ASSERT_TRUE(port) << result;
  auto source = JackMidiPort::open("pw-alloc-source", kDumpPort, &result);
  ASSERT_TRUE(source) << result;
  auto input = port->openInput("pw-alloc-source:out", &result);
  ASSERT_TRUE(input) << result;
  ASSERT_TRUE(input->setThru(9));
  // The counter sees this thread's allocation, so it would see the callbacks'.
  watchAllocationsOn(pthread_self());
  int* volatile allocated = new int(1);
  delete allocated;
  EXPECT_GE(allocationsCounted(), 1);
  stopAllocationWatch();
  resetAllocationsCounted();

  std::this_thread::sleep_for(milliseconds(200));  // the clients' first cycles are behind
  watchAllocationsOn(port->processThread());
  watchAllocationsOn(source->processThread());
  const auto start = Clock::now() + milliseconds(50);
  for (int k = 0; k < 150; ++k) {
    const auto due = start + milliseconds(7 * k);
    std::this_thread::sleep_until(due - milliseconds(30));
    const std::uint8_t timed[] = {0x90, static_cast<std::uint8_t>(k % 128), 100};
    ASSERT_EQ(port->sendAt(timed, 3, due), 0);
    const std::uint8_t now[] = {0x99, 38, static_cast<std::uint8_t>(1 + k % 100)};
    if (k % 3 == 0) {
      ASSERT_EQ(port->send(now, 3), 0);
    }
    if (k % 2 == 0) {
      ASSERT_EQ(source->send(now, 3), 0);
    }
  }
  // Each of the source's messages reaches the dump twice: itself, and passed on.
  ASSERT_TRUE(jack.waitForEvents(150 + 50 + 2 * 75)) << readFile(jack.log("dump"));
  stopAllocationWatch();
  MidiInputEvent event;
  int read = 0;
  while (input->read(&event)) ++read;
  EXPECT_EQ(read, 75);
  EXPECT_EQ(allocationsCounted(), 0) << (mallocCounted() ? "" : "(operator new only)");
}

}  // namespace
}  // namespace pulsewright
