// Settings > Sync acting on the window's Play: a second JACK client of the test's own
// starts and stops the window's song through the JACK transport (a private server on the
// dummy driver), and a MIDI clock in that goes away mid-song stops it with a message.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <atomic>

#include "app/SyncPlay.h"
#include "platform/SystemMidiPorts.h"
#include "tests/app/AppFixture.h"
#include "tests/support/FakeMidiInput.h"
#include "tests/support/JackTestServer.h"

namespace pulsewright {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Eight bars of eighths at 240: long enough that the song is still on when it is stopped.
const QString kSyncDocument =
    "k = kick drum\npart = A tempo = 240 notes = 8\nk |xxxxxxxx|\nsong = AAAAAAAA\n";

// The test's own client: it moves the transport, and hears what the window plays.
class TransportPeer {
 public:
  ~TransportPeer() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  bool open() {
    client_ = jack_client_open("pwpeer", JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &TransportPeer::process, this);
    return in_ != nullptr && jack_activate(client_) == 0;
  }
  bool rolling() const { return jack_transport_query(client_, nullptr) == JackTransportRolling; }
  void start() { jack_transport_start(client_); }
  void stop() { jack_transport_stop(client_); }
  int notesOn() const { return notesOn_.load(); }
  int notesOff() const { return notesOff_.load(); }

 private:
  static int process(jack_nframes_t frames, void* self) {
    auto* peer = static_cast<TransportPeer*>(self);
    void* buffer = jack_port_get_buffer(peer->in_, frames);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    for (std::uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, i) != 0 || e.size != 3) continue;
      if ((e.buffer[0] & 0xF0) == 0x90 && e.buffer[2] > 0) peer->notesOn_.fetch_add(1);
      if ((e.buffer[0] & 0xF0) == 0xB0 && e.buffer[1] == 123) peer->notesOff_.fetch_add(1);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* in_ = nullptr;
  std::atomic<int> notesOn_{0};
  std::atomic<int> notesOff_{0};
};

// Play in the window rolls the shared transport; the peer's Stop stops the window's song
// (notes off); the peer's Start plays it again; the window's Stop stops the peer's
// transport.
TEST(SyncWindow, JackTransportOfAnotherClientStartsAndStopsPlay) {
  jacktest::JackServer jack;
  ASSERT_TRUE(jack.start(256)) << jacktest::readFile(jack.log("jackd"));
  TransportPeer peer;
  ASSERT_TRUE(peer.open());
  SystemMidiPorts ports("pwwindow");
  AppFixture f;
  auto form = std::make_unique<Form1>(AppServices{
      ports, f.sound, f.settings, f.dialogs, f.clock, f.padMaps.path(), 1, {}, nullptr});
  form->startUp();
  bool picked = false;
  for (QAction* a : form->deviceMenu()->actions()) {
    if (!picked && a->text().contains("pwpeer:in")) {
      a->trigger();
      picked = true;
    }
  }
  ASSERT_TRUE(picked) << "the peer's port is not among the MIDI devices";
  form->findChild<QAction*>("FollowJackTransport")->trigger();
  form->Text1()->setPlainText(kSyncDocument);
  const Transport& transport = form->transport();

  form->button("Play")->click();
  ASSERT_TRUE(waitFor([&] { return peer.rolling() && peer.notesOn() > 0; }))
      << form->Label1()->text().toStdString();
  EXPECT_EQ(transport.state(), Transport::State::kPlaying);

  peer.stop();
  EXPECT_TRUE(waitFor([&] { return transport.state() == Transport::State::kStopped; }));
  EXPECT_TRUE(waitFor([&] { return peer.notesOff() > 0; }));
  const int heard = peer.notesOn();

  peer.start();
  EXPECT_TRUE(waitFor([&] { return transport.state() == Transport::State::kPlaying; }));
  EXPECT_TRUE(waitFor([&] { return peer.notesOn() > heard; }));

  form->button("Stopb")->click();
  EXPECT_TRUE(waitFor([&] { return !peer.rolling(); }));
  EXPECT_EQ(transport.state(), Transport::State::kStopped);
}

// A clock source the test feeds: it may be read for clock, and made to vanish.
class ClockSource : public MidiInputService {
 public:
  class Opened : public MidiInput {
   public:
    explicit Opened(FakeMidiInput& source) : source_(source) {}
    bool read(MidiInputEvent* event) override { return source_.read(event); }
    bool gone() override { return source_.gone(); }
    bool takeClock(bool) override { return true; }

   private:
    FakeMidiInput& source_;
  };
  std::vector<std::string> inputNames() override { return {"Sequencer"}; }
  std::unique_ptr<MidiInput> openInput(const std::string& name, int* resultCode) override {
    *resultCode = 0;
    return name == "Sequencer" ? std::make_unique<Opened>(source) : nullptr;
  }
  FakeMidiInput source;
};

// Play waits for the clock's Start; the song plays by its clocks; a source that goes
// away mid-song stops it, notes off, with the message on the status line.
TEST(SyncWindow, ClockInThatVanishesMidSongStopsItWithAMessage) {
  ClockSource clock;
  AppFixture f;
  f.midiInput = &clock;
  auto form = f.start();
  QMenu* clockIn = form->findChild<QMenu*>("ClockInMenu");
  ASSERT_NE(clockIn, nullptr);
  emit clockIn->aboutToShow();
  ASSERT_EQ(clockIn->actions().size(), 2);
  clockIn->actions()[1]->trigger();
  form->Text1()->setPlainText(kSyncDocument);
  const Transport& transport = form->transport();

  auto notesOn = [&] {
    int count = 0;
    for (const std::string& m : f.sentSince(0))
      count += m[0] == '9' && m.substr(m.size() - 2) != " 0";
    return count;
  };
  form->button("Play")->click();
  EXPECT_EQ(transport.state(), Transport::State::kPlaying);
  QTest::qWait(50);
  EXPECT_EQ(notesOn(), 0) << "the song waits for the clock's Start";
  // Start and two quarters of clocks at 240 a minute, come at once.
  const steady_clock::time_point from = steady_clock::now();
  clock.source.push(from, 0xFA, 0, 0);
  for (int k = 0; k < 2 * 24; ++k) clock.source.push(from + k * milliseconds(250) / 24, 0xF8, 0, 0);
  ASSERT_TRUE(waitFor([&] { return notesOn() >= 4; })) << form->Label1()->text().toStdString();
  const std::size_t mark = f.midi.sent().size();

  clock.source.vanish();
  ASSERT_TRUE(waitFor([&] { return transport.state() == Transport::State::kStopped; }));
  EXPECT_EQ(form->Label1()->text().toStdString(), kClockInGoneMessage);
  const std::vector<std::string> after = f.sentSince(mark);
  EXPECT_TRUE(std::any_of(after.begin(), after.end(), [](const std::string& m) {
    return m[0] == 'b' && m.find(" 123 0") != std::string::npos;
  })) << "notes off";
  // Nothing plays on once stopped, though two quarters of clocks came.
  const int stoppedAt = notesOn();
  QTest::qWait(100);
  EXPECT_EQ(notesOn(), stoppedAt);
}

}  // namespace
}  // namespace pulsewright
