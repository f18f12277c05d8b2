// Records a kit over a real JACK server (the dummy driver, period 256): this test is the
// drummer. Its "ear" client hears the program's clicks and the kit as it sounds through;
// its "kit" client plays a two-bar part into the program's input with human timing, a
// ghost note, a cross-stick and hi-hat pedal openness, placed after the count-in's
// clicks as a drummer places them. Two clients, so the graph has no loop (a loop would
// delay one of its connections by a cycle): kit -> program -> ear.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>

#include "padmap/PadMap.h"
#include "tablature/Timeline.h"
#include "tests/support/JackTestServer.h"
#include "tests/support/TestDocuments.h"

namespace pulsewright {
namespace {

using namespace jacktest;

constexpr double kRate = 48000;
constexpr int kTempo = 160;
constexpr double kBeatSeconds = 60.0 / kTempo;
constexpr double kStepSeconds = kBeatSeconds / 4;  // sixteenths

struct Hit {
  int step;
  double humanMs;
  int key;
  int level;
  int hiHat;  // controller 4 sent first; -1 for none
  int note;   // what the written document plays for it
};

// Two bars; the hi-hat's openness from controller 4, a ghost (level 1), an accent and a
// cross-stick (key 37, which the snare line writes).
const std::vector<Hit> kPart = {
    {0, 0, 36, 7, -1, 36},     {0, 4, 42, 5, 10, 42},    {2, -14, 42, 5, -1, 42},
    {4, 21, 38, 7, -1, 38},    {6, 30, 42, 5, -1, 42},   {7, -20, 38, 1, -1, 38},
    {8, -30, 36, 7, -1, 36},   {12, 12, 38, 9, -1, 38},  {16, -8, 36, 7, -1, 36},
    {20, 26, 37, 5, -1, 38},   {24, -25, 36, 7, -1, 36}, {28, 9, 38, 7, -1, 38},
    {30, -17, 42, 7, 100, 46},
};

// The messages the kit sends, in order: frames are counted from the first beat.
struct KitMessage {
  double seconds;
  std::uint8_t bytes[3];
};

std::vector<KitMessage> kitMessages() {
  std::vector<KitMessage> messages;
  for (const Hit& h : kPart) {
    const double at = h.step * kStepSeconds + h.humanMs / 1000;
    if (h.hiHat >= 0) {
      messages.push_back({at - 0.003, {0xB9, 4, static_cast<std::uint8_t>(h.hiHat)}});
    }
    messages.push_back({at,
                        {0x99, static_cast<std::uint8_t>(h.key),
                         static_cast<std::uint8_t>(velocityOfLevel(h.level))}});
  }
  return messages;
}

// The drummer: two JACK clients and what they heard and played, kept in fixed arrays
// (their callbacks run in real time).
class Drummer {
 public:
  Drummer() : messages_(kitMessages()) {}
  ~Drummer() {
    if (kit_) jack_client_close(kit_);
    if (ear_) jack_client_close(ear_);
  }

  bool open() {
    ear_ = jack_client_open("pwear", JackNoStartServer, nullptr);
    kit_ = jack_client_open("pwkit", JackNoStartServer, nullptr);
    if (!ear_ || !kit_) return false;
    in_ = jack_port_register(ear_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    out_ = jack_port_register(kit_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(ear_, &Drummer::hear, this);
    jack_set_process_callback(kit_, &Drummer::play, this);
    return in_ && out_ && jack_activate(ear_) == 0 && jack_activate(kit_) == 0;
  }

  struct Heard {
    std::int64_t frame;
    std::uint8_t status, key, velocity;
  };
  std::vector<Heard> heard() const {
    return {heard_.begin(), heard_.begin() + std::min<int>(heardCount_.load(), kMax)};
  }
  // The frame each message went out at.
  std::vector<std::int64_t> played() const {
    return {played_.begin(), played_.begin() + playedCount_.load()};
  }
  bool late() const { return late_.load(); }
  // The kit's cable is pulled: its client and port go.
  void unplug() {
    if (kit_) jack_client_close(kit_);
    kit_ = nullptr;
  }
  std::int64_t firstBeat() const { return firstBeat_.load(); }
  double framesPerBeat() const { return framesPerBeat_.load(); }
  const std::vector<KitMessage>& messages() const { return messages_; }

 private:
  static constexpr int kMax = 512;

  // The ear: the count-in's four clicks give the first beat and the tempo as heard.
  static int hear(jack_nframes_t frames, void* self) {
    auto* d = static_cast<Drummer*>(self);
    void* buffer = jack_port_get_buffer(d->in_, frames);
    const jack_nframes_t cycle = jack_last_frame_time(d->ear_);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    for (std::uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, i) != 0 || e.size != 3) continue;
      if ((e.buffer[0] & 0xF0) != 0x90 || e.buffer[2] == 0) continue;
      const std::int64_t frame = static_cast<std::int64_t>(cycle) + e.time;
      const int n = d->heardCount_.load();
      if (n < kMax) {
        d->heard_[n] = {frame, e.buffer[0], e.buffer[1], e.buffer[2]};
        d->heardCount_.store(n + 1);
      }
      const bool click = e.buffer[1] == 76 || e.buffer[1] == 77;
      if (click && d->clicks_ < 4) {
        d->clickFrames_[d->clicks_++] = frame;
        if (d->clicks_ == 4) {
          const double beat = (d->clickFrames_[3] - d->clickFrames_[0]) / 3.0;
          d->framesPerBeat_.store(beat);
          d->firstBeat_.store(d->clickFrames_[0] + std::llround(4 * beat));
        }
      }
    }
    return 0;
  }

  // The kit: each message at its frame after the first beat, as the ear measured it.
  static int play(jack_nframes_t frames, void* self) {
    auto* d = static_cast<Drummer*>(self);
    void* buffer = jack_port_get_buffer(d->out_, frames);
    jack_midi_clear_buffer(buffer);
    const std::int64_t first = d->firstBeat_.load();
    if (first < 0) return 0;
    const double perSecond = d->framesPerBeat_.load() / kBeatSeconds;
    const std::int64_t cycle = jack_last_frame_time(d->kit_);
    int next = d->playedCount_.load();
    while (next < static_cast<int>(d->messages_.size())) {
      const KitMessage& m = d->messages_[next];
      const std::int64_t frame = first + std::llround(m.seconds * perSecond);
      if (frame >= cycle + frames) break;
      if (frame < cycle) d->late_.store(true);
      const std::int64_t at = std::max(frame, cycle);
      jack_midi_event_write(buffer, static_cast<jack_nframes_t>(at - cycle), m.bytes, 3);
      d->played_[next] = at;
      d->playedCount_.store(++next);
    }
    return 0;
  }

  const std::vector<KitMessage> messages_;
  jack_client_t* ear_ = nullptr;
  jack_client_t* kit_ = nullptr;
  jack_port_t* in_ = nullptr;
  jack_port_t* out_ = nullptr;
  std::array<Heard, kMax> heard_{};
  std::atomic<int> heardCount_{0};
  std::array<std::int64_t, 4> clickFrames_{};
  int clicks_ = 0;
  std::atomic<std::int64_t> firstBeat_{-1};
  std::atomic<double> framesPerBeat_{0};
  std::array<std::int64_t, kMax> played_{};
  std::atomic<int> playedCount_{0};
  std::atomic<bool> late_{false};
};

// Part A already holds a kick, a snare and a ride; the take adds to it or replaces the
// voices it plays.
const char kDocument[] =
    "k = kick drum\r\ns = snare\r\nr = ride\r\n"
    "part = A tempo = 160 notes = 16\r\n"
    "r |x-x-x-x-x-x-x-x-|x-x-x-x-x-x-x-x-|\r\n"
    "s |--x-------------|----------------|\r\n"
    "k |--------------x-|----------------|\r\n"
    "song = A\r\n";

struct Recording {
  int status = -1;
  std::string log;
  std::vector<std::array<double, 5>> hits;  // pass seconds key velocity hihat
  std::string document;
};

// Runs the record command; with `unplugAfter` > 0 the kit's client goes away once it
// has played that many messages, and the command loops until it notices.
void recordOnce(bool replace, JackServer& jack, Recording* r, Drummer* unplug = nullptr,
                std::size_t unplugAfter = 0) {
  const std::string dir = fs::path(jack.log("x")).parent_path().string();
  const std::string song = dir + "/song.tab", out = dir + "/out.tab", hits = dir + "/hits.txt";
  std::ofstream(song, std::ios::binary) << kDocument;
  std::vector<std::string> argv = {PW_CLI_PATH, "record",     song,         "--part",
                                   "A",         "--input",    "pwkit",      "--device",
                                   "pwear:in",  "--count-in", "--loops",    unplug ? "0" : "1",
                                   "-o",        out,          "--hits-log", hits};
  if (replace) argv.push_back("--replace");
  Child record(argv, jack.log("record"));
  ASSERT_TRUE(record.started());
  if (unplug != nullptr) {
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (unplug->played().size() < unplugAfter && Clock::now() < end) {
      std::this_thread::sleep_for(milliseconds(5));
    }
    unplug->unplug();
  }
  r->status = record.wait(std::chrono::seconds(30));
  r->log = readFile(jack.log("record"));
  std::istringstream lines(readFile(hits));
  std::array<double, 5> h{};
  while (lines >> h[0] >> h[1] >> h[2] >> h[3] >> h[4]) r->hits.push_back(h);
  r->document = readFile(out);
}

// What the written document plays: part A's notes by step, with their velocities.
std::multimap<int, std::pair<int, int>> playedNotes(const std::string& document) {
  std::multimap<int, std::pair<int, int>> notes;
  auto song = compileSong(document);
  for (const TimelinePart& part : song->timeline.parts()) {
    if (part.name != "A") continue;
    for (std::size_t step = 0; step < part.steps.size(); ++step) {
      for (const TimelineItem& item : part.itemsOf(part.steps[step])) {
        if (item.kind == TimelineItem::Kind::Note) {
          notes.insert({static_cast<int>(step), {item.note, item.velocity}});
        }
      }
    }
  }
  return notes;
}

bool plays(const std::multimap<int, std::pair<int, int>>& notes, int step, int note, int velocity) {
  const auto [from, to] = notes.equal_range(step);
  return std::any_of(from, to, [&](const auto& n) {
    return n.second.first == note && (velocity < 0 || n.second.second == velocity);
  });
}

void checkTake(bool replace) {
  JackServer jack;
  ASSERT_TRUE(jack.start(256)) << readFile(jack.log("jackd"));
  Drummer drummer;
  ASSERT_TRUE(drummer.open());
  // devices lists the kit among the inputs (and the ear among the outputs).
  ASSERT_TRUE(commandSucceeds({PW_CLI_PATH, "devices"}, jack.log("devices")));
  const std::string devices = readFile(jack.log("devices"));
  const std::size_t inputs = devices.find("MIDI inputs:\n");
  ASSERT_NE(inputs, std::string::npos) << devices;
  EXPECT_NE(devices.find("pwkit:out", inputs), std::string::npos) << devices;
  EXPECT_LT(devices.find("pwear:in"), inputs) << devices;
  Recording r;
  recordOnce(replace, jack, &r);
  ASSERT_EQ(r.status, 0) << r.log << "\njackd:\n" << readFile(jack.log("jackd"));
  EXPECT_FALSE(drummer.late()) << "the kit could not keep its time";
  const std::vector<KitMessage>& messages = drummer.messages();
  ASSERT_EQ(drummer.played().size(), messages.size());

  // Every hit as recorded, before the grid: its time against what the drummer meant.
  ASSERT_EQ(r.hits.size(), kPart.size()) << r.log;
  double worst = 0;
  std::vector<double> errors;
  for (std::size_t i = 0; i < kPart.size(); ++i) {
    const Hit& h = kPart[i];
    const double meant = h.step * kStepSeconds + h.humanMs / 1000;
    EXPECT_EQ(r.hits[i][0], 0);
    EXPECT_EQ(r.hits[i][2], h.key);
    EXPECT_EQ(r.hits[i][3], velocityOfLevel(h.level));
    const double error = std::abs(r.hits[i][1] - meant) * 1000;
    errors.push_back(error);
    worst = std::max(worst, error);
  }
  std::sort(errors.begin(), errors.end());
  std::printf("recorded onset error after compensation: median %.3f ms, worst %.3f ms\n",
              errors[errors.size() / 2], worst);
  // Printed, not asserted: it has measured 0.1-0.2 ms, 1.5 ms under the sanitizers and
  // once a whole period (8.9 ms), whose cause is still to be found. Every hit landing on
  // its step, checked below, is the assertion.

  // The kit sounded through the program's output in the cycle it came in: at the very
  // frame the kit played it (0 periods added). The song's own notes come on their steps.
  const std::vector<Drummer::Heard> heard = drummer.heard();
  std::int64_t worstDelay = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (messages[i].bytes[0] != 0x99) continue;
    const std::int64_t kitFrame = drummer.played()[i];
    std::int64_t delay = -1;
    for (const Drummer::Heard& h : heard) {
      if (h.key == messages[i].bytes[1] && h.status == 0x90 && h.frame >= kitFrame &&
          (delay < 0 || h.frame - kitFrame < delay)) {
        delay = h.frame - kitFrame;
      }
    }
    ASSERT_GE(delay, 0) << "key " << int(messages[i].bytes[1]) << " never sounded";
    worstDelay = std::max(worstDelay, delay);
  }
  std::printf("kit input to MIDI-thru output: %lld frames (%.0f periods added)\n",
              static_cast<long long>(worstDelay), worstDelay / 256.0);
  EXPECT_EQ(worstDelay, 0);

  // The written document plays every hit on its step at its level.
  const auto notes = playedNotes(r.document);
  for (const Hit& h : kPart) {
    EXPECT_TRUE(plays(notes, h.step, h.note, velocityOfLevel(h.level)))
        << "step " << h.step << " note " << h.note << "\n"
        << r.document;
  }
  // The ride was not played: it stays either way. The snare and kick were: overdub
  // keeps what they had, replace clears it.
  EXPECT_TRUE(plays(notes, 2, 51, -1)) << r.document;
  EXPECT_EQ(plays(notes, 2, 38, -1), !replace) << r.document;
  EXPECT_EQ(plays(notes, 14, 36, -1), !replace) << r.document;
}

TEST(RecordJack, OverdubLandsEveryHitOnItsStepAtItsLevel) {
  checkTake(false);
}

TEST(RecordJack, ReplaceClearsThePlayedVoicesFirst) {
  checkTake(true);
}

// The kit goes away in the first bar of an endless loop: the recording stops by itself,
// says why, and what was played is written.
TEST(RecordJack, AnInputThatVanishesEndsTheTakeAndKeepsWhatWasPlayed) {
  JackServer jack;
  ASSERT_TRUE(jack.start(256)) << readFile(jack.log("jackd"));
  Drummer drummer;
  ASSERT_TRUE(drummer.open());
  Recording r;
  recordOnce(false, jack, &r, &drummer, 5);
  EXPECT_EQ(r.status, 2 << 8) << r.log;  // exit status 2
  EXPECT_NE(r.log.find("went away"), std::string::npos) << r.log;
  ASSERT_EQ(r.hits.size(), 4u) << r.log;  // one of the five messages is controller 4
  const auto notes = playedNotes(r.document);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(plays(notes, kPart[i].step, kPart[i].note, velocityOfLevel(kPart[i].level)))
        << r.document;
  }
}

}  // namespace
}  // namespace pulsewright
