#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "padmap/PadMap.h"
#include "recording/Take.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

// Two bars of sixteenths at 120: a step is 125 ms.
constexpr double kStep = 0.125;

const std::string kHeader =
    "meta title = Take\n"
    "k = kick\n"
    "s = snare\n"
    "h = closed hat\n"
    "c = crash 1\n";
const std::string kPartB =
    "part = B tempo = 120 notes = 16\n"
    "k |x---------------|\n"
    "song = AB\n";
const std::string kDocument = kHeader +
                              "part = A tempo = 120 notes = 16\n"
                              "c |x---------------|----------------|\n"
                              "h |----------------|----------------|\n"
                              "s |----x-----------|----------------|\n"
                              "k |--------------x-|----------------|\n" +
                              kPartB;

TakeHit hitAt(int pass, int step, double offsetMs, int key, int velocity, int hiHat = -1) {
  return {pass, step * kStep + offsetMs / 1000.0, key, velocity, hiHat};
}

// A groove played with up to 30 ms either way: eighth hats (one sent as the open-hat
// key with the pedal down, the last opened by the pedal), a kick played twice on the
// first step, accents, a ghost note, a cross-stick and a key of no drum.
std::vector<TakeHit> firstPass() {
  std::vector<TakeHit> hits;
  const double hatOffsets[] = {-30, 30, -12, 21, -25, 14, -8,  27,
                               -30, 18, -22, 30, -15, 9,  -28, 24};
  for (int s = 0; s < 32; s += 2) {
    const int key = s == 14 ? 46 : 42;
    const int pedal = s == 30 ? 100 : s == 14 ? 10 : 0;
    hits.push_back(hitAt(0, s, hatOffsets[s / 2], key, 80, pedal));
  }
  hits.push_back(hitAt(0, 0, 12, 36, 100));
  hits.push_back(hitAt(0, 0, 20, 36, 60));
  hits.push_back(hitAt(0, 10, -30, 36, 100));
  hits.push_back(hitAt(0, 16, 25, 36, 100));
  hits.push_back(hitAt(0, 26, -19, 36, 100));
  hits.push_back(hitAt(0, 4, 15, 38, 127));
  hits.push_back(hitAt(0, 12, -20, 38, 100));
  hits.push_back(hitAt(0, 20, 30, 38, 127));
  hits.push_back(hitAt(0, 28, -9, 38, 100));
  hits.push_back(hitAt(0, 23, 11, 38, 25));  // ghost
  hits.push_back(hitAt(0, 7, -26, 37, 80));  // cross-stick
  hits.push_back(hitAt(0, 3, 0, 20, 90));
  hits.push_back(hitAt(0, 9, 0, 20, 90));
  return hits;
}

// A second pass: a kick just before the loop comes round and a snare just before its
// first beat, both on the first step.
std::vector<TakeHit> secondPass() {
  return {hitAt(1, 32, -20, 36, 100), hitAt(1, 16, -30, 36, 100), hitAt(1, 8, 20, 38, 80),
          hitAt(1, 24, -10, 38, 80), hitAt(1, 0, -30, 38, 60)};
}

// What the compiled part plays, one text per drum voice: each step's level, or '-'. The
// document must compile without a single diagnostic.
std::map<DrumVoice, std::string> played(const std::string& document, std::string_view part) {
  TablatureCompiler compiler;
  CompileRequest request;
  request.sampleProblem = nullptr;
  const CompiledDocument compiled = compileDocument(compiler, joinLinesWithCrLf(document), request);
  for (const Diagnostic& d : compiled.diagnostics) ADD_FAILURE() << d.line << ": " << d.text;
  std::map<DrumVoice, std::string> voices;
  for (const TimelinePart& p : compiled.song->parts()) {
    if (p.name != part) continue;
    voices.clear();
    for (std::size_t s = 0; s < p.steps.size(); ++s) {
      for (const TimelineItem& item : p.itemsOf(p.steps[s])) {
        if (item.isRest() || item.voice.kind != ItemVoice::Kind::Drum) continue;
        std::string& text = voices[item.voice.drumVoice()];
        text.resize(p.steps.size(), '-');
        text[s] = std::max(text[s], static_cast<char>('0' + item.level));
      }
    }
  }
  return voices;
}

TEST(Take, GrooveWithHumanTimingInOverdubAndReplace) {
  const std::vector<TakeHit> take = firstPass();
  const std::string hats = "h |x-x-x-x-x-x-x-x-|x-x-x-x-x-x-x---|\n";
  const std::string snare = "s |----9--x----X---|----9--1----X---|\n";
  const std::string openHat = "o |----------------|--------------x-|\n";
  const std::string header = kHeader + "o = Open Hat\npart = A tempo = 120 notes = 16\n" +
                             "c |x---------------|----------------|\n";

  const TakeResult overdub = writeTake(kDocument, "A", take, TakeMode::Overdub, defaultPadMap());
  ASSERT_TRUE(overdub.ok()) << overdub.error;
  EXPECT_EQ(overdub.document,
            header + hats + snare + "k |X---------X---x-|X---------X-----|\n" + openHat + kPartB);
  EXPECT_TRUE(overdub.changed);
  EXPECT_EQ(overdub.hitsWritten, 26);      // 16 hats, 4 kicks, 6 snares
  ASSERT_EQ(overdub.warnings.size(), 1u);  // key 20, once for its two hits
  EXPECT_NE(overdub.warnings[0].find("key 20"), std::string::npos) << overdub.warnings[0];
  EXPECT_NE(overdub.warnings[0].find("2 hits"), std::string::npos) << overdub.warnings[0];

  const std::map<DrumVoice, std::string> heard = played(overdub.document, "A");
  const std::map<DrumVoice, std::string> expected = {
      {DrumVoice::Crash1,
       "5---------------"
       "----------------"},
      {DrumVoice::ClosedHat,
       "5-5-5-5-5-5-5-5-"
       "5-5-5-5-5-5-5---"},
      {DrumVoice::OpenHat,
       "----------------"
       "--------------5-"},
      {DrumVoice::SnareDrum,
       "----9--5----7---"
       "----9--1----7---"},
      {DrumVoice::BassDrum,
       "7---------7---5-"
       "7---------7-----"},
  };
  EXPECT_EQ(heard, expected);

  // Replace clears the played voices (the kick on step 14 goes) and keeps the crash.
  const TakeResult replace = writeTake(kDocument, "A", take, TakeMode::Replace, defaultPadMap());
  ASSERT_TRUE(replace.ok()) << replace.error;
  EXPECT_EQ(replace.document,
            header + hats + snare + "k |X---------X-----|X---------X-----|\n" + openHat + kPartB);
  EXPECT_EQ(played(replace.document, "A").at(DrumVoice::BassDrum),
            "7---------7-----"
            "7---------7-----");
  EXPECT_EQ(played(replace.document, "B"), played(kDocument, "B"));

  // CR LF stays CR LF, new lines included.
  auto crlf = [](const std::string& text) { return joinLinesWithCrLf(text); };
  const TakeResult windows =
      writeTake(crlf(kDocument), "A", take, TakeMode::Overdub, defaultPadMap());
  EXPECT_EQ(windows.document, crlf(overdub.document));
}

TEST(Take, LoopPassesMergeInOverdubAndTheLastIsKeptInReplace) {
  std::vector<TakeHit> take = firstPass();
  for (const TakeHit& hit : secondPass()) take.push_back(hit);

  const TakeResult overdub = writeTake(kDocument, "A", take, TakeMode::Overdub, defaultPadMap());
  ASSERT_TRUE(overdub.ok()) << overdub.error;
  EXPECT_NE(overdub.document.find("s |4---9--xx---X---|----9--1x---X---|\n"), std::string::npos)
      << overdub.document;
  EXPECT_NE(overdub.document.find("k |X---------X---x-|X---------X-----|\n"), std::string::npos)
      << overdub.document;
  // The same take timed from the first pass's start, all in pass 0.
  std::vector<TakeHit> running = take;
  for (TakeHit& hit : running) {
    hit.seconds += hit.pass * 32 * kStep;
    hit.pass = 0;
  }
  EXPECT_EQ(writeTake(kDocument, "A", running, TakeMode::Overdub, defaultPadMap()).document,
            overdub.document);

  // Only the second pass: its voices cleared and written, the hats and crash untouched.
  const TakeResult replace = writeTake(kDocument, "A", take, TakeMode::Replace, defaultPadMap());
  ASSERT_TRUE(replace.ok()) << replace.error;
  EXPECT_EQ(replace.document, kHeader +
                                  "part = A tempo = 120 notes = 16\n"
                                  "c |x---------------|----------------|\n"
                                  "h |----------------|----------------|\n"
                                  "s |4-------x-------|--------x-------|\n"
                                  "k |X---------------|X---------------|\n" +
                                  kPartB);
  EXPECT_TRUE(replace.warnings.empty());
  EXPECT_EQ(played(replace.document, "A").at(DrumVoice::SnareDrum),
            "4-------5-------"
            "--------5-------");
}

// Several lines of one voice, a remark between blocks and triplets: each hit goes into
// the line that already has that drum on the step, else the first that reaches it, and
// every other character stays.
TEST(Take, WritesIntoTheExistingLinesOfAVoiceAndAddsTheVoicesTheDocumentLacks) {
  const std::string document =
      "k = kick\r\n"
      "h = closed hat\r\n"
      "part = A tempo = 120 notes = 8\r\n"
      "h |x-x-x-[xxx]|\r\n"
      "k |x---x-[---]|\r\n"
      "a remark between two blocks\r\n"
      "h |---x--[---]|\r\n"
      "song = A";
  // Steps 0-5 last 250 ms, the triplet steps 83 ms.
  const std::vector<TakeHit> take = {
      {0, 0.770, 42, 127, -1}, {0, 1.240, 42, 80, -1}, {0, 1.593, 42, 100, -1},
      {0, 1.666, 36, 80, -1},  {0, 1.010, 38, 80, -1},
  };
  const TakeResult result = writeTake(document, "A", take, TakeMode::Overdub, defaultPadMap());
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.document,
            "k = kick\r\n"
            "h = closed hat\r\n"
            "s = Snare Drum\r\n"
            "part = A tempo = 120 notes = 8\r\n"
            "h |x-x-xx[xXx]|\r\n"
            "k |x---x-[--x]|\r\n"
            "a remark between two blocks\r\n"
            "h |---9--[---]|\r\n"
            "s |----x-[---]|\r\n"
            "song = A");
  const std::map<DrumVoice, std::string> expected = {
      {DrumVoice::ClosedHat, "5-5955575"},  // step 3 from the second line
      {DrumVoice::BassDrum, "5---5---5"},
      {DrumVoice::SnareDrum, "----5----"},
  };
  EXPECT_EQ(played(result.document, "A"), expected);
}

// A symbol the document already uses for something else is never bound again: the
// other parts play as they did.
TEST(Take, NewVoicesTakeNoSymbolInUse) {
  const std::string document =
      "s = wave clap.wav pan 0\n"
      "x = snare\n"
      "x = ride\n"
      "part = A tempo = 120 notes = 8\n"
      "x |x-x-x-x-|\n"
      "s |---x----|\n"
      "part = B tempo = 120 notes = 8\n"
      "x |x-------|\n"
      "song = AB";
  // A snare on step 2: the snare's symbol x plays the ride, s is the sample's.
  const TakeResult result =
      writeTake(document, "A", {{0, 0.5, 38, 100, -1}}, TakeMode::Overdub, defaultPadMap());
  ASSERT_TRUE(result.ok()) << result.error;
  const std::map<DrumVoice, std::string> a = played(result.document, "A");
  EXPECT_EQ(a.at(DrumVoice::SnareDrum), "--7-----");
  EXPECT_EQ(a.at(DrumVoice::Ride), "5-5-5-5-");
  EXPECT_EQ(played(result.document, "B"), played(document, "B"));
  EXPECT_EQ(result.document.substr(result.document.size() - 9), "song = AB");  // still no line end
}

TEST(Take, BadInputChangesNothing) {
  const TakeResult empty = writeTake(kDocument, "A", {}, TakeMode::Replace, defaultPadMap());
  EXPECT_TRUE(empty.ok());
  EXPECT_FALSE(empty.changed);
  EXPECT_EQ(empty.document, kDocument);
  EXPECT_EQ(empty.hitsWritten, 0);

  // Keys of no drum are each named once and nothing is written, in replace too.
  const std::vector<TakeHit> unknown = {
      {0, 0, 20, 90, -1}, {0, 0.5, 20, 90, -1}, {0, 0.25, 127, 90, -1}, {0, 0.25, 200, 90, -1}};
  const TakeResult keys = writeTake(kDocument, "A", unknown, TakeMode::Replace, defaultPadMap());
  EXPECT_TRUE(keys.ok());
  EXPECT_FALSE(keys.changed);
  EXPECT_EQ(keys.document, kDocument);
  ASSERT_EQ(keys.warnings.size(), 3u);
  EXPECT_NE(keys.warnings[0].find("key 20 "), std::string::npos) << keys.warnings[0];
  EXPECT_NE(keys.warnings[1].find("key 127 "), std::string::npos) << keys.warnings[1];
  EXPECT_NE(keys.warnings[2].find("key 200 "), std::string::npos) << keys.warnings[2];

  // A hit in the count-in is reported, not moved to the end of the part.
  const TakeResult early =
      writeTake(kDocument, "A", {{0, -0.5, 36, 100, -1}}, TakeMode::Overdub, defaultPadMap());
  EXPECT_FALSE(early.changed);
  ASSERT_EQ(early.warnings.size(), 1u);
  EXPECT_NE(early.warnings[0].find("count-in"), std::string::npos) << early.warnings[0];

  for (const std::string_view name : {"C", "", "a"}) {
    const TakeResult missing =
        writeTake(kDocument, name, firstPass(), TakeMode::Overdub, defaultPadMap());
    EXPECT_FALSE(missing.ok()) << name;
    EXPECT_NE(missing.error.find("no part"), std::string::npos) << missing.error;
    EXPECT_EQ(missing.document, kDocument);
  }
}

}  // namespace
}  // namespace pulsewright
