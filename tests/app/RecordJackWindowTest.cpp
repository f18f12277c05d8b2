// Record in the window from a real JACK kit (a private server on the dummy driver): a
// second client plays two bars of hi-hat eighths with the snare on 2 and 4 into the
// window's recording. Every hit lands, and the text shows each bar's hits while the take
// goes on, before Stop.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <array>
#include <atomic>

#include "editor/EditorText.h"
#include "platform/SystemMidiPorts.h"
#include "playback/Player.h"
#include "tests/app/AppFixture.h"
#include "tests/support/JackTestServer.h"

namespace pulsewright {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Two bars of eighths at 120 bpm: a step is 250 ms, the count-in one bar of 2 s.
const QString kDocument =
    "h = closed hi-hat\ns = snare\npart = A tempo = 120 notes = 8\n"
    "h |--------|--------|\ns |--------|--------|\nsong = A\n";
constexpr auto kStep = milliseconds(250);
constexpr int kSteps = 16;

// The kit: a JACK client that plays each message in the cycle where its time on the
// steady clock falls (a period is 1.3 ms, far inside half a step).
class Kit {
 public:
  struct Message {
    steady_clock::time_point at;
    std::uint8_t bytes[3];
  };
  ~Kit() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  bool open() {
    client_ = jack_client_open("pwkit", JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    // The ear: where the window plays through JACK, its first click is heard here.
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &Kit::process, this);
    return out_ != nullptr && in_ != nullptr && jack_activate(client_) == 0;
  }
  // When the first count-in click was heard; the epoch before.
  steady_clock::time_point firstClick() const {
    return steady_clock::time_point(steady_clock::duration(firstClick_.load()));
  }
  // Set once, before the kit starts playing them.
  void play(std::vector<Message> messages) {
    messages_ = std::move(messages);
    ready_.store(true);
  }
  int played() const { return played_.load(); }

 private:
  static int process(jack_nframes_t frames, void* self) {
    auto* kit = static_cast<Kit*>(self);
    void* buffer = jack_port_get_buffer(kit->out_, frames);
    jack_midi_clear_buffer(buffer);
    const steady_clock::time_point now = steady_clock::now();
    void* heard = jack_port_get_buffer(kit->in_, frames);
    const std::uint32_t count = jack_midi_get_event_count(heard);
    for (std::uint32_t i = 0; i < count && kit->firstClick_.load() == 0; ++i) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, heard, i) != 0 || e.size != 3) continue;
      if ((e.buffer[0] & 0xF0) == 0x90 &&
          (e.buffer[1] == kClickAccentNote || e.buffer[1] == kClickNote)) {
        kit->firstClick_.store(now.time_since_epoch().count());
      }
    }
    if (!kit->ready_.load()) return 0;
    int next = kit->played_.load();
    while (next < static_cast<int>(kit->messages_.size()) && kit->messages_[next].at <= now) {
      jack_midi_event_write(buffer, 0, kit->messages_[next].bytes, 3);
      kit->played_.store(++next);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* in_ = nullptr;
  std::atomic<steady_clock::rep> firstClick_{0};
  std::vector<Message> messages_;
  std::atomic<bool> ready_{false};
  std::atomic<int> played_{0};
};

std::string lineOf(Form1& form, int block) {
  return form.Text1()->document()->findBlockByNumber(block).text().toStdString();
}

// `throughJack`: the window plays through the kit's JACK port, the input then on the
// output's client; else through a MIDI output of its own. `countIn`: the Play menu's
// Count-in is chosen, and the drummer waits for its bar; else the drummer plays at once.
void recordTwoBars(bool throughJack, bool countIn) {
  jacktest::JackServer jack;
  ASSERT_TRUE(jack.start(64)) << jacktest::readFile(jack.log("jackd"));
  Kit kit;
  ASSERT_TRUE(kit.open());
  SystemMidiPorts ports("pwwindow");
  AppFixture f;
  f.midiInput = &ports;
  auto form = std::make_unique<Form1>(
      AppServices{throughJack ? static_cast<MidiOutputService&>(ports) : f.midi,
                  f.sound,
                  f.settings,
                  f.dialogs,
                  f.clock,
                  f.padMaps.path(),
                  1,
                  {},
                  &ports});
  form->startUp();
  if (throughJack) {
    bool picked = false;
    for (QAction* a : form->deviceMenu()->actions()) {
      if (!picked && a->text().contains("pwkit:in")) {
        a->trigger();
        picked = true;
      }
    }
    ASSERT_TRUE(picked) << "the kit's port is not among the MIDI devices";
  }
  form->Text1()->setPlainText(kDocument);
  form->Text1()->setTextCursor(QTextCursor(form->Text1()->document()->findBlockByNumber(3)));
  bool chosen = false;
  for (QAction* a : form->inputMenu()->actions()) {
    if (a->text() == "pwkit:out") {
      a->trigger();
      chosen = true;
    }
  }
  ASSERT_TRUE(chosen) << "the kit is not among the MIDI inputs";
  form->action("CountIn")->setChecked(countIn);
  form->action("Record")->trigger();
  ASSERT_TRUE(form->recording().active()) << form->Label1()->text().toStdString();

  // The first click is the first beat, or with a count-in four beats before it.
  steady_clock::time_point click{};
  ASSERT_TRUE(waitFor([&] {
    if (throughJack) {
      click = kit.firstClick();
      return click != steady_clock::time_point{};
    }
    for (const FakeMidiOutput::Sent& s : f.midi.sent()) {
      const int key = static_cast<int>((s.word >> 8) & 0xFF);
      if ((s.word & 0xF0) == 0x90 && (key == kClickAccentNote || key == kClickNote)) {
        click = s.time;
        return true;
      }
    }
    return false;
  }));
  const steady_clock::time_point first = click + (countIn ? 8 : 0) * kStep;
  std::vector<Kit::Message> messages;
  for (int step = 0; step < kSteps; ++step) {
    const steady_clock::time_point at = first + step * kStep;
    messages.push_back({at, {0x99, 42, 76}});
    if (step % 4 == 2) messages.push_back({at, {0x99, 38, 76}});
  }
  ASSERT_EQ(messages.size(), 20u);
  kit.play(messages);

  // Bar 1 is in the text while bar 2 plays; bar 2 once it has passed, before Stop.
  EXPECT_TRUE(waitFor([&] { return lineOf(*form, 4).substr(3, 8) != "--------"; }, 6000))
      << lineOf(*form, 4);
  EXPECT_TRUE(form->recording().active());
  EXPECT_TRUE(waitFor([&] { return lineOf(*form, 4).substr(12, 8) != "--------"; }, 6000))
      << lineOf(*form, 4);
  EXPECT_EQ(kit.played(), 20);
  ASSERT_TRUE(form->recording().active());
  form->button("Stopb")->click();

  EXPECT_EQ(lineOf(*form, 3).substr(0, 21), "h |xxxxxxxx|xxxxxxxx|") << lineOf(*form, 3);
  EXPECT_EQ(lineOf(*form, 4).substr(0, 21), "s |--x---x-|--x---x-|") << lineOf(*form, 4);
  EXPECT_TRUE(form->Label1()->text().contains("20 hit(s) recorded into part A"))
      << form->Label1()->text().toStdString();
  // The take is one undo step, as before.
  form->action("Undo")->trigger();
  EXPECT_EQ(editorText(*form->Text1()).toStdString(), kDocument.toStdString());
}

TEST(RecordJackWindow, EveryHitOfTwoBarsLandsAndShowsBarByBarBeforeStop) {
  recordTwoBars(false, true);
}

// As a drummer first tries it: Ctrl+Alt+R and play at once, no count-in chosen.
TEST(RecordJackWindow, ThroughAJackOutputAndPlayedAtOnceEveryHitLands) {
  recordTwoBars(true, false);
}

}  // namespace
}  // namespace pulsewright
