// The transport with no window: a MIDI port over a fake device, the state read back from
// the signals the window shows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Transport.h"
#include "midi/MidiPort.h"
#include "midi/PortStepOutput.h"
#include "tablature/Timeline.h"
#include "tests/app/AppFixture.h"
#include "tests/support/FakeMidiOutput.h"

namespace pulsewright {
namespace {

struct TransportRig {
  TransportRig() {
    port.listDevices();
    QObject::connect(&transport, &Transport::stateChanged,
                     [this](Transport::State state) { states.push_back(state); });
    QObject::connect(&transport, &Transport::statusChanged,
                     [this](const QString& text) { status = text; });
    QObject::connect(&transport, &Transport::positionChanged,
                     [this](const QString& at) { position = at; });
  }
  // The notes sent since `from`, as "status data1 data2".
  std::vector<std::string> notesSince(std::size_t from) const {
    std::vector<std::string> out;
    const auto all = midi.sent();
    for (std::size_t i = from; i < all.size(); ++i) {
      const std::uint32_t w = all[i].word;
      out.push_back(std::to_string(w & 0xFF) + " " + std::to_string((w >> 8) & 0xFF) + " " +
                    std::to_string((w >> 16) & 0xFF));
    }
    return out;
  }
  std::size_t sent() const { return midi.sent().size(); }
  void play(const std::string& text) { transport.play(text, defaultPadMap(), nullptr); }

  FakeMidiOutput midi;
  MidiPort port{midi};
  PortStepOutput output{&port, nullptr};
  SteadyPlaybackClock clock;
  Transport transport{output, clock, nullptr};
  std::vector<Transport::State> states;
  QString status;
  QString position;
};

using State = Transport::State;

std::string levelsSong(const std::string& grid) {
  return "k = kick\r\npart = A tempo = 1500 notes = 4\r\nk |" + grid + "|\r\nsong = A\r\n";
}

TEST(Transport, PlaysPausesGoesOnFromThereAndStops) {
  TransportRig r;
  // Levels 0-9 over and over: a note's velocity tells its step.
  std::string grid;
  for (int i = 0; i < 400; ++i) grid += static_cast<char>('0' + i % 10);
  const std::size_t start = r.sent();
  r.play(levelsSong(grid));
  EXPECT_EQ(r.states, std::vector<State>{State::kPlaying});
  EXPECT_TRUE(r.transport.isPlaying());
  ASSERT_TRUE(waitFor([&] { return r.notesSince(start).size() >= 20 && !r.status.isEmpty(); }));
  EXPECT_FALSE(r.position.isEmpty());

  r.transport.pause();
  EXPECT_EQ(r.transport.state(), State::kPaused);
  EXPECT_FALSE(r.transport.isPlaying());
  const std::vector<std::string> before = r.notesSince(start);
  EXPECT_EQ(before.back(), "176 123 0");  // what sounds is silenced
  int played = 0;
  for (const std::string& m : before) played += m.rfind("144 36 ", 0) == 0 ? 1 : 0;

  // Play goes on from the step after the last one heard.
  const std::size_t paused = r.sent();
  r.play(levelsSong(grid));
  ASSERT_TRUE(waitFor([&] { return !r.notesSince(paused).empty(); }));
  EXPECT_EQ(r.notesSince(paused)[0], "144 36 " + std::to_string(velocityOfLevel(played % 10)));

  // Stop forgets the place: the next Play starts at the beginning.
  r.transport.stop();
  EXPECT_EQ(r.transport.state(), State::kStopped);
  EXPECT_FALSE(r.transport.isPlaying());
  EXPECT_EQ(r.position, "");
  const std::size_t stopped = r.sent();
  r.play(levelsSong(grid));
  ASSERT_TRUE(waitFor([&] { return !r.notesSince(stopped).empty(); }));
  EXPECT_EQ(r.notesSince(stopped)[0], "144 36 " + std::to_string(velocityOfLevel(0)));

  // A device that stops answering stops the song and says so.
  r.midi.failSends(midi_result::kNoDevice);
  ASSERT_TRUE(waitFor([&] { return !r.transport.isPlaying(); }));
  EXPECT_EQ(r.transport.state(), State::kStopped);
  EXPECT_EQ(r.status, kDeviceGoneMessage);
  r.midi.failSends(0);

  // A song that ends by itself is over: stopped, the status line cleared.
  r.states.clear();
  r.play(levelsSong("55"));
  ASSERT_TRUE(waitFor([&] {
    return !r.transport.isPlaying() && !r.states.empty() && r.states.back() == State::kStopped;
  }));
  EXPECT_EQ(r.status, "");
  EXPECT_EQ(r.states.front(), State::kPlaying);
}

TEST(Transport, LoopsThePartAtTheCursorAtTheScaledTempo) {
  TransportRig r;
  r.transport.setTempoScale(0.954);
  EXPECT_DOUBLE_EQ(r.transport.tempoScale(), 0.95);  // whole percent
  r.transport.setTempo(r.transport.tempo() / 0.95 * 2);
  EXPECT_DOUBLE_EQ(r.transport.tempoScale(), 2.0);
  r.transport.setLoop(Transport::Loop::kPartAtCursor);
  const std::size_t start = r.sent();
  r.transport.play(
      "k = kick\r\ns = snare\r\npart = A tempo = 1500 notes = 4\r\nk |x-|\r\n"
      "part = B tempo = 1500 notes = 4\r\ns |x-|\r\nsong = AB\r\n",
      defaultPadMap(), nullptr, [] { return std::string("B"); });
  // Part B alone, past the end of its song of one part: only the snare plays.
  ASSERT_TRUE(waitFor([&] { return r.notesSince(start).size() >= 12; }));
  EXPECT_TRUE(r.transport.isPlaying());
  r.transport.stop();
  for (const std::string& m : r.notesSince(start)) {
    // Note 0 is the rest the empty step plays.
    if (m.rfind("144 ", 0) == 0 && m.rfind("144 0 ", 0) != 0) {
      EXPECT_EQ(m.substr(0, 7), "144 38 ") << m;
    }
  }
}

}  // namespace
}  // namespace pulsewright
