// Record in the window: a kit plays along with the count-in's clicks, Stop writes the take
// into the part under the cursor as one undo step, and an input that goes away keeps what
// was played.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>

#include "editor/EditorText.h"
#include "playback/Player.h"
#include "tests/app/AppFixture.h"
#include "tests/support/FakeMidiInput.h"

namespace pulsewright {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The system's one kit, read through the fake the test feeds.
class FakeInputs : public MidiInputService {
 public:
  class Opened : public MidiInput {
   public:
    explicit Opened(FakeMidiInput& kit) : kit_(kit) {}
    bool read(MidiInputEvent* event) override { return kit_.read(event); }
    bool gone() override { return kit_.gone(); }

   private:
    FakeMidiInput& kit_;
  };
  std::vector<std::string> inputNames() override { return {"Drum Kit", "Keyboard"}; }
  std::unique_ptr<MidiInput> openInput(const std::string& name, int* resultCode) override {
    *resultCode = 0;
    return name == "Drum Kit" ? std::make_unique<Opened>(*kit) : nullptr;
  }
  std::unique_ptr<FakeMidiInput> kit = std::make_unique<FakeMidiInput>();
};

// Sixteen steps of 50 ms a bar: the count-in is one bar of four clicks. Half a step
// leaves room for a loaded machine's late clicks.
const QString kDocument =
    "k = kick\ns = snare\npart = A tempo = 300 notes = 16\n"
    "s |----------------|\nk |x---------------|\nsong = A\n";
constexpr auto kStep = milliseconds(50);

struct RecordFixture : AppFixture {
  RecordFixture() { midiInput = &inputs; }
  std::unique_ptr<Form1> startRecording() {
    auto form = start();
    form->Text1()->setPlainText(kDocument);
    QTextCursor cursor(form->Text1()->document()->findBlockByNumber(3));
    form->Text1()->setTextCursor(cursor);
    // The kit is chosen from the Midi Input menu, which lists what the service has.
    for (QAction* a : form->inputMenu()->actions()) {
      if (a->text() == "Drum Kit") a->trigger();
    }
    form->action("CountIn")->setChecked(true);
    form->action("Record")->trigger();
    return form;
  }
  // The first count-in click the output sent after its `from`th message.
  steady_clock::time_point firstClick(std::size_t from = 0) {
    steady_clock::time_point at{};
    waitFor([&] {
      const std::vector<FakeMidiOutput::Sent> sent = midi.sent();
      for (std::size_t i = from; i < sent.size(); ++i) {
        const FakeMidiOutput::Sent& s = sent[i];
        const int data1 = static_cast<int>((s.word >> 8) & 0xFF);
        if ((s.word & 0xF0) == 0x90 && (data1 == kClickAccentNote || data1 == kClickNote)) {
          at = s.time;
          return true;
        }
      }
      return false;
    });
    return at;
  }
  void hit(steady_clock::time_point at, int key, int velocity) {
    inputs.kit->push(at, 0x99, static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(velocity));
    inputs.kit->push(at + milliseconds(10), 0x89, static_cast<std::uint8_t>(key), 0);
  }
  FakeInputs inputs;
};

std::string lineOf(Form1& form, int block) {
  return form.Text1()->document()->findBlockByNumber(block).text().toStdString();
}

TEST(Record, TakeWrittenIntoThePartAtTheCursorAsOneUndoStep) {
  RecordFixture f;
  auto form = f.startRecording();
  EXPECT_TRUE(form->Label1()->text().contains("after a bar of count-in"))
      << form->Label1()->text().toStdString();
  EXPECT_EQ(f.settings.GetSetting("Devices", "MidiInput", {}).toStdString(), "Drum Kit");
  EXPECT_FALSE(form->button("Play")->isEnabled());
  EXPECT_TRUE(form->button("Stopb")->isEnabled());
  const steady_clock::time_point click = f.firstClick();
  ASSERT_NE(click, steady_clock::time_point{});
  const steady_clock::time_point first = click + 16 * kStep;  // after the count-in
  f.hit(click + 4 * kStep, 42, 76);  // too eager: in the count-in, said and not kept
  // Human timing, well within half a step; the kick is added to the one written.
  f.hit(first + 4 * kStep + milliseconds(4), 38, 76);
  f.hit(first + 8 * kStep - milliseconds(5), 36, 76);
  f.hit(first + 12 * kStep, 38, 76);
  ASSERT_TRUE(waitFor([&] { return steady_clock::now() > first + 14 * kStep; }));
  form->button("Stopb")->click();

  EXPECT_EQ(lineOf(*form, 3), "s |----x-------x---|");
  EXPECT_EQ(lineOf(*form, 4), "k |x-------x-------|");
  EXPECT_TRUE(form->Label1()->text().contains("recorded into part A"))
      << form->Label1()->text().toStdString();
  EXPECT_TRUE(
      form->Label1()->text().contains("1 hit(s) played during the count-in were not recorded."))
      << form->Label1()->text().toStdString();
  EXPECT_TRUE(form->button("Play")->isEnabled());
  EXPECT_FALSE(form->recording().active());
  // The kit was heard through the output, on the window's channel.
  bool thru = false;
  for (const std::string& m : f.sentSince(0)) thru = thru || m == "90 38 76";
  EXPECT_TRUE(thru);

  form->action("Undo")->trigger();
  EXPECT_EQ(editorText(*form->Text1()).toStdString(), kDocument.toStdString());
}

TEST(Record, InputGoneKeepsTheTakeAndNoHitsChangeNothing) {
  RecordFixture f;
  auto form = f.startRecording();
  const steady_clock::time_point first = f.firstClick() + 16 * kStep;
  f.hit(first + 2 * kStep, 38, 76);
  ASSERT_TRUE(waitFor([&] { return steady_clock::now() > first + 4 * kStep; }));
  f.inputs.kit->vanish();
  ASSERT_TRUE(waitFor([&] { return !form->recording().active(); }));
  EXPECT_TRUE(form->Label1()->text().contains("went away")) << form->Label1()->text().toStdString();
  EXPECT_EQ(lineOf(*form, 3), "s |--x-------------|");

  // Replace, and a take with no hits: the text stays as it is.
  form->action("ReplaceWhenRecording")->setChecked(true);
  const QString before = editorText(*form->Text1());
  f.inputs.kit = std::make_unique<FakeMidiInput>();
  form->action("Record")->trigger();
  ASSERT_TRUE(form->recording().active());
  form->button("Stopb")->click();
  EXPECT_EQ(editorText(*form->Text1()).toStdString(), before.toStdString());
  EXPECT_TRUE(form->Label1()->text().contains("No hits")) << form->Label1()->text().toStdString();

  // The latency setting is asked for in whole milliseconds and remembered.
  f.dialogs.numbers.push_back(15);
  form->action("RecordingLatency")->trigger();
  EXPECT_EQ(form->recording().latencyMs(), 15);

  // File > Exit while recording: the take goes into the text before the question about
  // unsaved text (answered Cancel: the window stays).
  f.inputs.kit = std::make_unique<FakeMidiInput>();
  f.dialogs.saveChoices.push_back(UserDialogs::SaveChoice::Cancel);
  const std::size_t sentBefore = f.midi.sent().size();
  form->action("Record")->trigger();
  const steady_clock::time_point third = f.firstClick(sentBefore) + 16 * kStep;
  f.hit(third + 6 * kStep, 36, 76);
  ASSERT_TRUE(waitFor([&] { return steady_clock::now() > third + 8 * kStep; }));
  form->action("Exit")->trigger();
  EXPECT_FALSE(form->recording().active());
  EXPECT_EQ(lineOf(*form, 4), "k |------x---------|");  // replaced
  EXPECT_EQ(f.dialogs.saveQuestions.size(), 1);
}

}  // namespace
}  // namespace pulsewright
