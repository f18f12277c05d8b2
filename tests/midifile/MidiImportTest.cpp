#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <tuple>

#include "padmap/PadMap.h"
#include "tablature/CompiledDocument.h"
#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "tests/midifile/MidiFileReader.h"
#include "tests/midifile/MidiFileWriter.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestFiles.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;

using test::cli;
using test::CliRun;
using test::midiFile;
using test::TrackBuilder;

struct Played {
  double ms;
  int key;
  int velocity;
  bool operator<(const Played& o) const { return std::tie(ms, key) < std::tie(o.ms, o.key); }
};

// The notes a document plays with the default pad map, timed from its first tick; two
// of one key at one time are one, at the louder velocity.
std::vector<Played> played(const std::string& document) {
  TablatureCompiler compiler;
  CompileRequest request;
  request.diagnose = false;
  const CompiledDocument compiled = compileDocument(compiler, joinLinesWithCrLf(document), request);
  const Timeline& timeline = *compiled.song;
  std::map<std::pair<std::int64_t, int>, int> notes;
  Timeline::Cursor cursor = timeline.begin();
  TimelineTick tick;
  std::int64_t first = -1;
  while (cursor.next(&tick)) {
    if (first < 0) first = tick.timeMs;
    if (tick.data == nullptr) continue;
    const TimelinePart& part = timeline.parts()[static_cast<std::size_t>(tick.part)];
    for (const TimelineItem& item : part.itemsOf(*tick.data)) {
      if (item.kind != TimelineItem::Kind::Note) continue;
      int& v = notes[{tick.timeMs - first, item.note}];
      v = std::max(v, static_cast<int>(item.velocity));
    }
  }
  std::vector<Played> out;
  for (const auto& [at, velocity] : notes) {
    out.push_back({static_cast<double>(at.first), at.second, velocity});
  }
  return out;
}

// Same keys, times within 1 ms + 0.5 %, velocities within one level step.
void expectSameHits(const std::vector<Played>& expected, const std::vector<Played>& actual,
                    const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Played& e = expected[i];
    const Played& a = actual[i];
    EXPECT_EQ(a.key, e.key) << what << ", hit " << i << " at " << e.ms << " ms";
    EXPECT_LE(std::abs(a.ms - e.ms), 1 + 0.005 * e.ms) << what << ", hit " << i;
    EXPECT_LE(std::abs(a.velocity - e.velocity), 13) << what << ", hit " << i;
  }
}

class MidiImport : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-midi-import-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string p = (dir_ / name).string();
    writeFile(p, bytes);
    return p;
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(MidiImport, ReadsType0AndType1FilesOfOtherWriters) {
  // Type 0, running status and note offs as note ons of velocity 0, a bass line on
  // channel 1 among the drums: two bars of eighths at 120.
  TrackBuilder rock;
  rock.text(0, 3, "Rock\x01it").tempo(0, 120);
  for (int bar = 0; bar < 2; ++bar) {
    for (int step = 0; step < 8; ++step) {
      const int tick = bar * 384 + step * 48;
      rock.note(tick, 10, 42, 76, 20);
      if (step % 4 == 2) rock.note(tick, 10, 38, 101, 20);
      if (step % 4 == 0) rock.note(tick, 10, 36, 38, 20);
    }
    rock.note(bar * 384, 1, 40, 90, 300);
  }
  const std::string type0 = write("rock.mid", midiFile(0, 96, {rock.chunk(true)}));
  CliRun r = cli({"import", type0});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "meta title = Rock it\n\n"
            "k = Bass Drum\ns = Snare Drum\nh = Closed Hat\n\n"
            "part = A tempo = 120 notes = 8\nh |xxxxxxxx|\ns |--X---X-|\nk |2---2---|\n\n"
            "song = AA\n");
  EXPECT_EQ(r.err, type0 + ": warning: 2 notes on other channels left out (channel 1: 2)\n");

  // Type 1: a tempo track that changes to 140 and to 3/4 at bar 3, the drums with note
  // offs of their own, a piano beside them; sixteenths, then eighths, then a triplet bar.
  const int q = 480;
  TrackBuilder tempo;
  tempo.text(0, 3, "Waltz").tempo(0, 100).meter(0, 4, 2).tempo(8 * q, 140).meter(8 * q, 3, 2);
  TrackBuilder drums;
  TrackBuilder piano;
  std::vector<std::tuple<int, int, int>> hits;  // tick, key, velocity
  for (int s = 0; s < 32; ++s) hits.emplace_back(s * q / 4, 42, s % 4 == 0 ? 101 : 63);
  for (int bar = 0; bar < 2; ++bar) {
    hits.emplace_back(8 * q + bar * 3 * q, 36, 114);
    hits.emplace_back(8 * q + bar * 3 * q + q, 38, 88);
    hits.emplace_back(8 * q + bar * 3 * q + 5 * q / 2, 38, 25);
  }
  for (int t = 0; t < 9; ++t) hits.emplace_back(14 * q + t * q / 3, 51, 76);
  for (const auto& [tick, key, velocity] : hits) drums.note(tick, 10, key, velocity, 30, false);
  for (int beat = 0; beat < 17; ++beat) piano.note(beat * q, 1, 60 + beat % 5, 70, q);
  const std::string type1 = write(
      "waltz.mid", midiFile(1, q, {tempo.chunk(false), drums.chunk(false), piano.chunk(true)}));
  r = cli({"import", type1, "-o", path("waltz.tab")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string document = readFile(path("waltz.tab"));
  EXPECT_NE(document.find("meta title = Waltz\n"), std::string::npos) << document;
  EXPECT_NE(document.find("tempo = 100 notes = 16\n"), std::string::npos) << document;
  EXPECT_NE(document.find("tempo = 140 notes = 8\n"), std::string::npos) << document;
  EXPECT_NE(document.find("tempo = 140 notes = 12\nr |xxxxxxxxx|\n"), std::string::npos)
      << document;

  std::vector<Played> expected;
  for (const auto& [tick, key, velocity] : hits) {
    const double ms = tick <= 8 * q ? tick * 600.0 / q : 4800 + (tick - 8 * q) * 60000.0 / 140 / q;
    expected.push_back({ms, key, velocity});
  }
  std::sort(expected.begin(), expected.end());
  expectSameHits(expected, played(document), "type 1");
}

TEST_F(MidiImport, QuantisesHumanTimingShufflesAndKitArticulations) {
  // Two bars of sixteenths at 100, every onset up to 20 ms early or late and every
  // velocity a little off: the same document as the exact file gives.
  const int q = 480;  // at 100 beats a minute, 0.8 ticks a millisecond
  auto groove = [&](bool human) {
    TrackBuilder t;
    t.tempo(0, 100).raw(8 * q, {0xFF, 0x06, 0x03, 'e', 'n', 'd'});
    unsigned seed = 12345;
    auto jitter = [&](int range) {
      seed = seed * 1103515245u + 12345u;
      return human ? static_cast<int>((seed >> 16) % (2 * range + 1)) - range : 0;
    };
    for (int s = 0; s < 32; ++s) {
      const int tick = s * q / 4;
      // The first hit of the second bar comes 20 ms early, before its bar line.
      auto at = [&] { return std::max(0, tick + (human && s == 16 ? -16 : jitter(16))); };
      t.note(at(), 10, 42, 76 + jitter(4));
      if (s % 8 == 4) t.note(at(), 10, 38, 114 + jitter(4));
      if (s % 8 == 0 || s % 16 == 7) t.note(at(), 10, 36, 101 + jitter(4));
    }
    return midiFile(0, q, {t.chunk(false)});
  };
  CliRun exact = cli({"import", write("exact.mid", groove(false))});
  CliRun human = cli({"import", write("human.mid", groove(true))});
  ASSERT_EQ(human.status, 0) << human.err;
  EXPECT_EQ(human.out, exact.out);
  EXPECT_EQ(human.err, "");
  EXPECT_NE(exact.out.find("tempo = 100 notes = 16\nh |xxxxxxxxxxxxxxxx|\ns |----8-------8---|\n"
                           "k |X------XX-------|\n"),
            std::string::npos)
      << exact.out;

  // Swung eighths (a triplet quarter and a triplet eighth) on the ride's edge come out as
  // triplet eighths; the kit's edge, rim, bell and half-open keys land on their drums with
  // their marks, a key of no drum on Perc 1 with a warning.
  TrackBuilder kit;
  kit.tempo(0, 90);
  for (int beat = 0; beat < 4; ++beat) {
    kit.note(beat * q, 10, 59, 76).note(beat * q + 2 * q / 3, 10, 59, 76);
  }
  const int keys[] = {22, 23, 26, 37, 40, 43, 58, 52, 55, 53, 31, 31};
  for (int i = 0; i < 12; ++i) kit.note(4 * q + i * q / 4, 10, keys[i], 101);
  const std::string kitFile = write("kit.mid", midiFile(0, q, {kit.chunk(true)}));
  CliRun r = cli({"import", kitFile});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tempo = 90 notes = 12\nr |e-ee-ee-ee-e|\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("r  |---------B--|\no  |-HE---------|\nh  |E-----------|\n"
                       "t4 |-----XX-----|\ns  |---CR-------|\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, kitFile +
                       ": warning: key 31 is no drum this program knows: its 2 hits play "
                       "Perc 1\n");
  std::vector<Played> heard = played(r.out);
  std::vector<int> kitKeys;
  for (const Played& p : heard) {
    if (p.ms >= 2600) kitKeys.push_back(p.key);
  }
  // Each on its line's note (the bell a mark of the ride line).
  EXPECT_EQ(kitKeys, (std::vector<int>{42, 46, 46, 38, 38, 41, 41, 57, 49, 51, 67, 67}));

  // A grid forced on the shuffle moves its off-beats, and says so.
  r = cli({"import", kitFile, "--grid", "16"});
  EXPECT_NE(r.out.find("tempo = 90 notes = 16\nr |e--ee--ee--ee--e|\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("warning: 4 hits lie between the grid's steps"), std::string::npos) << r.err;
}

// A bar of an electronic kit: swung eighths on the hat, a flam and a drag on the snare
// (softer graces 25-30 ms before), the cross-stick, rimshot and ride bell keys and a crash
// grabbed (key pressure 127, then 0) come in as swing and marks.
TEST_F(MidiImport, KeepsFlamsDragsKitArticulationsChokesAndSwing) {
  const int q = 480;    // at 120 beats a minute, 0.96 ticks a millisecond
  const int off = 298;  // 62 % of a quarter
  TrackBuilder t;
  t.tempo(0, 120).raw(4 * q, {0xFF, 0x06, 0x03, 'e', 'n', 'd'});
  for (int beat = 0; beat < 4; ++beat) {
    t.note(beat * q, 10, 42, 76).note(beat * q + off, 10, 42, 76);
  }
  t.note(0, 10, 36, 76).note(2 * q, 10, 36, 76);
  t.note(0, 10, 49, 76);
  t.raw(off, {0xA9, 49, 127}).raw(off + 100, {0xA9, 49, 0});
  t.note(q - 29, 10, 38, 40).note(q, 10, 38, 76);                                       // flam
  t.note(3 * q - 48, 10, 38, 40).note(3 * q - 24, 10, 38, 40).note(3 * q, 10, 38, 76);  // drag
  t.note(2 * q, 10, 37, 76).note(3 * q + off, 10, 40, 76).note(q, 10, 53, 76);
  const std::string file = write("kit.mid", midiFile(0, q, {t.chunk(true)}));
  const CliRun r = cli({"import", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("tempo = 120 notes = 8 swing = 62\nc |x!------|\nr |--b-----|\n"
                       "h |xxxxxxxx|\n"
                       "s |--f-c-dr|\nk |x---x---|\n"),
            std::string::npos)
      << r.out;
}

// Every mark written out by MIDI export and read back by import: the same marks on the
// same steps (a half-open hat comes back on the open hat's line, where its sound is).
TEST_F(MidiImport, EveryExpressionMarkSurvivesExportAndImport) {
  const std::string doc = write("marks.tab",
                                "k = kick\ns = snare\nr = ride\nh = closed hat\no = open hat\n"
                                "c = crash 1\nt = tom 1\npart = A tempo = 100 notes = 8\n"
                                "c |x-----!-|\nr |--b-e---|\nh |--x-x-x-|\no |h-------|\n"
                                "s |f-d-z-C-|\nt |----x-x-|\nk |x---X---|\nsong = A\n");
  const std::string mid = path("marks.mid");
  ASSERT_EQ(cli({"export", doc, "-o", mid}).status, 0);
  const CliRun r = cli({"import", mid});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("part = A tempo = 100 notes = 8\nc  |x-----!-|\nr  |--b-e---|\n"
                       "o  |h-------|\nh  |--x-x-x-|\nt1 |----x-x-|\ns  |f-d-z-C-|\n"
                       "k  |x---X---|\n"),
            std::string::npos)
      << r.out;
}

TEST_F(MidiImport, FoldsRepeatedBarsIntoTheSongLine) {
  // Sixteen bars made of three different ones, the drums on channel 2.
  const std::string order = "XXYXXXYZXXYXXXYZ";
  TrackBuilder t;
  for (std::size_t bar = 0; bar < order.size(); ++bar) {
    const int start = static_cast<int>(bar) * 384;
    for (int s = 0; s < 8; ++s) t.note(start + s * 48, 2, 42, 76);
    t.note(start, 2, 36, 101);
    if (order[bar] != 'X') t.note(start + 144, 2, 36, 101);
    if (order[bar] == 'Z') t.note(start + 336, 2, 49, 127);
  }
  const std::string file = write("song.mid", midiFile(1, 96, {t.chunk(true)}));
  CliRun r = cli({"import", file, "--channel", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nsong = AABAAABCAABAAABC\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("part = D"), std::string::npos) << r.out;
  EXPECT_EQ(played(r.out).size(), 16u * 9 + 6 + 2);

  r = cli({"import", file, "-o", path("none.tab")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "pulsewright-cli: " + file +
                       ": no notes on channel 10 (the notes are on "
                       "channel 2: 152)\n");
  EXPECT_FALSE(fs::exists(path("none.tab")));
}

// A 6/8 file's bars are six eighths, which alone would read as 3/4: the metre reaches the
// document and every export, and does not change what the document plays.
TEST_F(MidiImport, SixEightReachesTheDocumentAndEveryExport) {
  const int q = 480;
  TrackBuilder t;
  t.tempo(0, 120).meter(0, 6, 3);
  for (int bar = 0; bar < 2; ++bar) {
    for (int s = 0; s < 6; ++s) t.note(bar * 3 * q + s * q / 2, 10, 42, 76);
    t.note(bar * 3 * q, 10, 36, 101).note(bar * 3 * q + 3 * q / 2, 10, 38, 101);
  }
  const CliRun r =
      cli({"import", write("jig.mid", midiFile(0, q, {t.chunk(true)})), "-o", path("jig.tab")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string document = readFile(path("jig.tab"));
  EXPECT_NE(document.find("part = A tempo = 120 notes = 8 metre = 6/8\nh |xxxxxx|\n"),
            std::string::npos)
      << document;

  ASSERT_EQ(cli({"export", path("jig.tab"), "-o", path("jig-out.mid")}).status, 0);
  std::vector<std::string> signatures;
  for (const test::ReadEvent& e : test::readMidiFile(readFile(path("jig-out.mid"))).events) {
    if (e.status == 0xFF && e.data1 == 0x58) {
      signatures.push_back(std::to_string(static_cast<unsigned char>(e.text[0])) + "/" +
                           std::to_string(1 << e.text[1]));
    }
  }
  EXPECT_EQ(signatures, std::vector<std::string>{"6/8"});
  ASSERT_EQ(cli({"export", path("jig.tab"), "-o", path("jig.musicxml")}).status, 0);
  const std::string xml = readFile(path("jig.musicxml"));
  EXPECT_NE(xml.find("<time><beats>6</beats><beat-type>8</beat-type></time>"), std::string::npos);
  EXPECT_EQ(xml.find("<beats>3</beats>"), std::string::npos);

  // Without the item the document compiles to the same state: only the metre is new.
  std::string plain = document;
  plain.erase(plain.find(" metre = 6/8"), 12);
  const std::string withMetre = cli({"compile", path("jig.tab")}).out;
  EXPECT_EQ(cli({"compile", write("plain.tab", plain)}).out, withMetre);
  EXPECT_NE(withMetre.find("StepTimes"), std::string::npos);
}

// Eight bars of two patterns played by hand, no two alike in their levels: folded, two
// parts; a bar two levels off at a hit stays a part of its own.
TEST_F(MidiImport, FoldLevelsPlaysBarsOneLevelApartAsOnePart) {
  const int velocities[] = {101, 101, 88, 88, 114, 114, 101, 101};  // levels 7 7 6 6 8 8 7 7
  const auto song = [&](bool twoLevelsOff) {
    TrackBuilder t;
    t.tempo(0, 120);
    for (int bar = 0; bar < 8; ++bar) {
      const int start = bar * 384;
      for (int s = 0; s < 8; ++s) t.note(start + s * 48, 10, 42, s == bar ? 88 : 76);
      t.note(start, 10, 36, 101).note(start + 192, 10, 38, velocities[bar]);
      if (bar % 2 == 1) t.note(start + 240, 10, 36, twoLevelsOff && bar == 7 ? 76 : 101);
    }
    return midiFile(0, 96, {t.chunk(true)});
  };
  const std::string file = write("hands.mid", song(false));
  const CliRun plain = cli({"import", file});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("part = H"), std::string::npos) << plain.out;

  const CliRun folded = cli({"import", file, "--fold-levels"});
  ASSERT_EQ(folded.status, 0) << folded.err;
  EXPECT_NE(folded.out.find("\nsong = ABABABAB\n"), std::string::npos) << folded.out;
  EXPECT_EQ(folded.out.find("part = C"), std::string::npos) << folded.out;
  EXPECT_EQ(folded.err,
            file +
                ": warning: 6 bars played as an earlier part that differs from them by one "
                "level at some hits\n");
  // The same hits at the same times, each within a level of its own.
  std::vector<Played> expected = played(plain.out);
  expectSameHits(expected, played(folded.out), "folded");

  const CliRun apart = cli({"import", write("apart.mid", song(true)), "--fold-levels"});
  EXPECT_NE(apart.out.find("\nsong = ABABABAC\n"), std::string::npos) << apart.out;
  // A drum tab has no levels to fold.
  EXPECT_EQ(cli({"import", write("t.txt", "SD|x-x-|\n"), "--fold-levels"}).status, 2);
}

// The note a document plays for a key after the import: its own when the default pad map
// has it, else that of the drum the key is read as (a sample line whose file text is cut
// short at "pan" plays its pan as a note, which no voice can name).
int keyAfterImport(int key) {
  const PadMap pads = defaultPadMap();
  for (const std::string& pad : pads) {
    if (pad == std::to_string(key)) return key;
  }
  const auto voice = drumVoiceOfKey(key);
  return std::stoi(pads[index(voice ? *voice : key < 35 ? DrumVoice::Perc1 : DrumVoice::Perc2)]);
}

// Every example and golden document, exported and imported again, plays the same hits.
TEST_F(MidiImport, EveryDocumentSurvivesExportAndImport) {
  std::vector<fs::path> documents;
  for (const char* folder : {PW_EXAMPLES_DIR, PW_TEST_DATA_DIR}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() == ".tab") documents.push_back(entry.path());
    }
  }
  ASSERT_GE(documents.size(), 9u);
  for (const fs::path& doc : documents) {
    const std::string mid = path(doc.stem().string() + ".mid");
    const std::string back = path(doc.stem().string() + ".tab");
    ASSERT_EQ(cli({"export", doc.string(), "-o", mid}).status, 0) << doc;
    const CliRun r = cli({"import", mid, "-o", back});
    ASSERT_EQ(r.status, 0) << doc << ": " << r.err;
    const std::string imported = readFile(back);
    EXPECT_TRUE(diagnose(joinLinesWithCrLf(imported)).empty()) << imported;
    std::vector<Played> expected = played(decodeDocumentBytes(readFile(doc.string())));
    for (Played& p : expected) p.key = keyAfterImport(p.key);
    std::sort(expected.begin(), expected.end());
    expectSameHits(expected, played(imported), doc.filename().string());
  }
}

TEST_F(MidiImport, RefusesBrokenFilesSayingWhereAndWritesNothing) {
  TrackBuilder t;
  t.tempo(0, 120).note(0, 10, 36, 100).note(96, 10, 38, 100);
  const std::string good = midiFile(0, 96, {t.chunk(true)});
  std::string longDelta = good;
  longDelta.replace(22, 1, "\xFF\xFF\xFF\xFF\x7F");
  std::string smpte = good;
  smpte.replace(12, 2, "\xE7\x28");
  std::string format2 = good;
  format2[9] = 2;
  std::string metaPastChunk = midiFile(0, 96, {TrackBuilder().chunk(false, false)});
  metaPastChunk.replace(18, 4, std::string("\0\0\0\x04", 4));
  metaPastChunk += std::string("\x00\xFF\x01\x09", 4);
  TrackBuilder piano;
  piano.note(0, 1, 60, 100);
  const std::pair<std::string, std::string> cases[] = {
      {good.substr(0, 10), "the header chunk at byte 0 claims 6 bytes, but the file ends after 2"},
      {good.substr(0, 14), "truncated: the header announces 1 track, but the file ends after 0"},
      {good.substr(0, good.size() - 3), "the chunk at byte 14 claims"},
      {longDelta, "track 1: the delta time at byte 22 overflows"},
      {good.substr(0, 12) + std::string("\0\0", 2) + good.substr(14), "division is 0"},
      {smpte, "SMPTE"},
      {format2, "format 2"},
      {midiFile(0, 96, {t.chunk(true, false)}),
       "track 1 (the chunk at byte 14) has no end-of-track"},
      {metaPastChunk, "track 1: the event at byte 22 runs past the end of its chunk (byte 26)"},
      {midiFile(1, 96, {piano.chunk(true)}),
       "no notes on channel 10 (the notes are on channel 1: 1)"},
      {"k = kick\npart = A tempo = 90 notes = 8\nk |x|\n", "not a Standard MIDI File"},
  };
  int n = 0;
  for (const auto& [bytes, message] : cases) {
    const std::string file = write("case" + std::to_string(++n) + ".mid", bytes);
    const CliRun r = cli({"import", file, "-o", path("out.tab")});
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_NE(r.err.find("pulsewright-cli: " + file + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("out.tab"))) << message;
  }
  // The same bytes read whole are fine.
  EXPECT_EQ(cli({"import", write("good.bin", good)}).status, 0);

  // Bytes that are no MIDI file under any MIDI name are refused, never read as a tab.
  std::string noise;
  for (int i = 0; i < 600; ++i) noise += static_cast<char>((i * 37 + 11) % 251);
  noise += "\nHH|x-x-x-x-|\n";
  for (const char* name : {"noise.midi", "noise.KAR", "noise.rmi", "noise.Mid"}) {
    const std::string file = write(name, noise);
    const CliRun r = cli({"import", file});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_NE(r.err.find(file + ": not a Standard MIDI File"), std::string::npos) << r.err;
  }
  EXPECT_EQ(cli({"import", write("noise.txt", noise)}).status, 0);
}

// A RIFF "RMID" file: chunks of odd size are padded, and a last chunk that ends the file
// without its pad byte is read all the same.
std::string rmidFile(const std::vector<std::pair<std::string, std::string>>& chunks) {
  std::string body = "RMID";
  for (const auto& [id, data] : chunks) {
    const auto size = static_cast<std::uint32_t>(data.size());
    body += id;
    for (int i = 0; i < 4; ++i) body += static_cast<char>((size >> (8 * i)) & 0xFF);
    body += data;
    if (size % 2 == 1) body += '\0';
  }
  std::string file = "RIFF";
  const auto size = static_cast<std::uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) file += static_cast<char>((size >> (8 * i)) & 0xFF);
  return file + body;
}

TEST_F(MidiImport, ReadsRiffFilesAndNamesTheFileItRefuses) {
  TrackBuilder t;
  t.tempo(0, 120).note(0, 10, 36, 100).note(96, 10, 38, 100);
  const std::string smf = midiFile(0, 96, {t.chunk(true)});
  const std::string wrapped = rmidFile({{"INFO", "odd"}, {"data", smf}});
  const CliRun read = cli({"import", write("wrapped.rmi", wrapped)});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.out.find("k = Bass Drum"), std::string::npos) << read.out;

  // No data chunk; the last chunk odd-sized and its pad byte missing at the end.
  std::string unpadded = rmidFile({{"INFO", "odd"}});
  unpadded.pop_back();
  const std::string file = write("unpadded.rmi", unpadded);
  const CliRun r = cli({"import", file, "-o", path("out.tab")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("pulsewright-cli: " + file + ": not a Standard MIDI File", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(path("out.tab")));
}

}  // namespace
}  // namespace pulsewright
