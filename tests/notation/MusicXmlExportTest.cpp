#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <sstream>

#include "tests/support/CliRun.h"
#include "tests/support/TestFiles.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;
using test::cli;

// A MusicXML reader of its own: walks the tags in order and keeps what a player of the
// score needs (instruments, divisions, tempo, note onsets) and what a reader sees.
struct ReadNote {
  double seconds = 0;
  int key = -1;  // midi-unpitched - 1
  std::string step;
  int octave = 0;
  int voice = 0;
  std::string stem, notehead, type;
  bool parentheses = false, accent = false, tupletStart = false;
  int actual = 1, normal = 1;
};
struct ReadScore {
  std::vector<ReadNote> notes;     // as played: repeats written out
  std::vector<std::string> times;  // "beats/beat-type" per change
  int measures = 0;                // as written
  int backups = 0;
  // What a reader sees in each measure as written.
  struct Written {
    int rests = 0, tuplets = 0;
    std::vector<std::string> beams;   // "number:value" of every <beam>
    std::vector<std::string> values;  // each note's or chord's type, "." for a dot
  };
  std::vector<Written> written{1};
  std::vector<int> repeatTimes;             // of each closing repeat
  std::vector<std::string> measureRepeats;  // "measure:type" of each <measure-repeat>
  std::string title, composer;
};

std::string attribute(const std::string& tag, const std::string& name) {
  const std::regex re(name + "=\"([^\"]*)\"");
  std::smatch m;
  return std::regex_search(tag, m, re) ? m[1].str() : std::string();
}

std::string unescaped(std::string s) {
  for (const auto& [entity, c] : {std::pair<std::string, std::string>{"&lt;", "<"},
                                  {"&gt;", ">"},
                                  {"&quot;", "\""},
                                  {"&apos;", "'"},
                                  {"&amp;", "&"}}) {
    for (std::size_t at = 0; (at = s.find(entity, at)) != std::string::npos; at += c.size()) {
      s.replace(at, entity.size(), c);
    }
  }
  return s;
}

ReadScore readMusicXml(const std::string& xml) {
  ReadScore score;
  std::map<std::string, int> unpitchedOf;
  std::string instrumentId, text, beats, beamTag;
  int divisions = 1;
  double tempo = 120;
  // Each measure's notes (seconds from its start) and length; repeats unrolled at the end.
  struct Measure {
    std::vector<ReadNote> notes;
    double seconds = 0;
    bool repeatStart = false;
    int repeatTimes = 1;
  };
  std::vector<Measure> measures(1);
  long position = 0, longest = 0, lastOnset = 0;
  bool inNote = false, chord = false, rest = false, dot = false;
  ReadNote note;
  long duration = 0;
  std::vector<std::string> path;
  std::size_t i = 0;
  auto seconds = [&](long divs) { return static_cast<double>(divs) / divisions * 60.0 / tempo; };
  while ((i = xml.find('<', i)) != std::string::npos) {
    const std::size_t close = xml.find('>', i);
    const std::string tag = xml.substr(i + 1, close - i - 1);
    const std::size_t next = xml.find('<', close);
    const std::string content = xml.substr(close + 1, next - close - 1);
    i = close + 1;
    if (tag.empty() || tag[0] == '?' || tag[0] == '!') continue;
    if (tag[0] == '/') {
      const std::string name = tag.substr(1);
      const std::string& parent = path.size() >= 2 ? path[path.size() - 2] : std::string();
      if (name == "divisions") divisions = std::stoi(text);
      if (name == "beats") beats = text;
      if (name == "beat-type") score.times.push_back(beats + "/" + text);
      if (name == "work-title") score.title = text;
      if (name == "creator") score.composer = text;
      if (name == "midi-unpitched") unpitchedOf[instrumentId] = std::stoi(text);
      if (name == "duration" && parent == "note") duration = std::stol(text);
      if (name == "duration" && parent == "backup") {
        position -= std::stol(text);
        ++score.backups;
      }
      if (name == "duration" && parent == "forward") position += std::stol(text);
      if (inNote) {
        if (name == "display-step") note.step = text;
        if (name == "display-octave") note.octave = std::stoi(text);
        if (name == "voice") note.voice = std::stoi(text);
        if (name == "stem") note.stem = text;
        if (name == "type") note.type = text;
        if (name == "notehead") note.notehead = text;
        if (name == "actual-notes") note.actual = std::stoi(text);
        if (name == "normal-notes") note.normal = std::stoi(text);
      }
      if (name == "note") {
        inNote = false;
        const long onset = chord ? lastOnset : position;
        if (!chord) position += duration;
        lastOnset = onset;
        longest = std::max(longest, position);
        if (!rest) {
          note.seconds = seconds(onset);
          measures.back().notes.push_back(note);
          if (!chord) score.written.back().values.push_back(note.type + (dot ? "." : ""));
        } else {
          ++score.written.back().rests;
        }
      }
      if (name == "beam") {
        score.written.back().beams.push_back(attribute(beamTag, "number") + ":" + text);
      }
      if (name == "measure") {
        measures.back().seconds = seconds(longest);
        measures.emplace_back();
        score.written.emplace_back();
        position = longest = lastOnset = 0;
        ++score.measures;
      }
      if (!path.empty()) path.pop_back();
      continue;
    }
    const bool empty = tag.back() == '/';
    const std::string name = tag.substr(0, tag.find_first_of(" /"));
    text = unescaped(content);
    if (name == "score-instrument" || name == "midi-instrument")
      instrumentId = attribute(tag, "id");
    if (name == "beam") beamTag = tag;
    if (name == "repeat" && attribute(tag, "direction") == "forward") {
      measures.back().repeatStart = true;
    }
    if (name == "repeat" && attribute(tag, "direction") == "backward") {
      const std::string times = attribute(tag, "times");
      measures.back().repeatTimes = times.empty() ? 2 : std::stoi(times);
      score.repeatTimes.push_back(measures.back().repeatTimes);
    }
    if (name == "measure-repeat") {
      score.measureRepeats.push_back(std::to_string(score.measures + 1) + ":" +
                                     attribute(tag, "type") + (empty ? "" : ":" + content));
    }
    if (name == "sound" && !attribute(tag, "tempo").empty())
      tempo = std::stod(attribute(tag, "tempo"));
    if (name == "note") {
      inNote = true;
      chord = rest = dot = false;
      note = ReadNote{};
    }
    if (inNote) {
      if (name == "chord") chord = true;
      if (name == "dot") dot = true;
      if (name == "rest") rest = true;
      if (name == "instrument") note.key = unpitchedOf[attribute(tag, "id")] - 1;
      if (name == "notehead") note.parentheses = attribute(tag, "parentheses") == "yes";
      if (name == "accent") note.accent = true;
      if (name == "tuplet" && attribute(tag, "type") == "start") {
        note.tupletStart = true;
        ++score.written.back().tuplets;
      }
    }
    if (!empty) path.push_back(name);
  }
  measures.pop_back();
  score.written.pop_back();
  double start = 0;
  std::size_t from = 0;  // where the last repeat began
  for (std::size_t m = 0; m < measures.size(); ++m) {
    if (measures[m].repeatStart) from = m;
    if (measures[m].repeatTimes <= 1) {
      for (ReadNote n : measures[m].notes) {
        n.seconds += start;
        score.notes.push_back(n);
      }
      start += measures[m].seconds;
      continue;
    }
    for (int time = 0; time < measures[m].repeatTimes; ++time) {
      for (std::size_t k = from; k <= m; ++k) {
        if (time == 0 && k < m) continue;  // written out above on the way in
        for (ReadNote n : measures[k].notes) {
          n.seconds += start;
          score.notes.push_back(n);
        }
        start += measures[k].seconds;
      }
    }
    from = m + 1;
  }
  return score;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Played {
  double ms;
  int key;
};

// Note-ons that sound, from a `play --log` at twice the tempo, in written time.
std::vector<Played> readPlayLog(const std::string& log) {
  std::vector<Played> played;
  std::istringstream lines(log);
  const std::regex midi(R"((\d+\.\d+) midi 99 (\d+) (\d+))");
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, m, midi) && std::stoi(m[2]) != 0 && std::stoi(m[3]) != 0) {
      played.push_back({std::stod(m[1]) * 2.0, std::stoi(m[2])});
    }
  }
  return played;
}

// The score's notes, read back with their divisions, instruments and tempo marks (and
// repeats played), are the keys Play plays at the times it plays them (Play's steps are
// whole milliseconds; the score's are exact).
void expectSameHits(const ReadScore& score, std::vector<Played> played) {
  ASSERT_EQ(score.notes.size(), played.size());
  if (played.empty()) return;
  std::vector<Played> written;
  for (const ReadNote& n : score.notes) written.push_back({n.seconds * 1000.0, n.key});
  // Within one instant the order of the drums is free.
  auto order = [](const Played& a, const Played& b) {
    return std::lround(a.ms) != std::lround(b.ms) ? a.ms < b.ms : a.key < b.key;
  };
  std::stable_sort(written.begin(), written.end(), order);
  std::stable_sort(played.begin(), played.end(), order);
  const double writtenStart = written.front().ms;
  const double playedStart = played.front().ms;
  for (std::size_t i = 0; i < written.size(); ++i) {
    EXPECT_EQ(written[i].key, played[i].key) << i;
    const double t = played[i].ms - playedStart;
    EXPECT_NEAR(written[i].ms - writtenStart, t, 1.0 + 0.005 * t) << i;
  }
}

bool validates(const fs::path& file, std::string* output) {
  const std::string schema = PW_SCHEMA_DIR;
  const std::string command = "XML_CATALOG_FILES='" + schema + "/catalog.xml' xmllint --noout " +
                              "--nonet --schema '" + schema + "/musicxml.xsd' '" + file.string() +
                              "' 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) *output += buffer;
  return ::pclose(pipe) == 0;
}

class MusicXmlExport : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(fs::path(PW_SCHEMA_DIR) / "musicxml.xsd")) << PW_SCHEMA_DIR;
    std::string pattern = (fs::temp_directory_path() / "pw-musicxml-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// Every example and golden document exports to a score that the schema accepts and
// that, read back with its divisions, instruments and tempo marks, plays the keys Play
// plays at the times it plays them (Play's steps are whole milliseconds; the score's
// are exact).
TEST_F(MusicXmlExport, EveryDocumentIsAValidScoreThatSoundsAsPlayed) {
  std::vector<fs::path> documents;
  for (const char* folder : {"/examples", "/tests/data"}) {
    for (const auto& entry : fs::directory_iterator(std::string(PW_SOURCE_DIR) + folder)) {
      if (entry.path().extension() == ".tab") documents.push_back(entry.path());
    }
  }
  ASSERT_GE(documents.size(), 9u);
  std::vector<std::future<int>> plays;
  for (std::size_t d = 0; d < documents.size(); ++d) {
    const std::string command = std::string(PW_CLI) + " play '" + documents[d].string() +
                                "' --device none --channel 10 --tempo-scale 2 --log '" +
                                (dir_ / std::to_string(d)).string() + ".log' > /dev/null 2>&1";
    plays.push_back(
        std::async(std::launch::async, [command] { return std::system(command.c_str()); }));
  }
  for (std::size_t d = 0; d < documents.size(); ++d) {
    const fs::path out = dir_ / (std::to_string(d) + (d % 2 == 0 ? ".musicxml" : ".xml"));
    EXPECT_EQ(cli({"export", documents[d].string(), "-o", out.string()}).status, 0);
  }
  for (auto& p : plays) EXPECT_EQ(p.get(), 0);

  for (std::size_t d = 0; d < documents.size(); ++d) {
    SCOPED_TRACE(documents[d].string());
    const fs::path out = dir_ / (std::to_string(d) + (d % 2 == 0 ? ".musicxml" : ".xml"));
    std::string complaints;
    EXPECT_TRUE(validates(out, &complaints)) << complaints;
    const ReadScore score = readMusicXml(readFile(out));
    expectSameHits(score, readPlayLog(readFile(dir_ / (std::to_string(d) + ".log"))));
  }
}

// A groove with every kind of mark reads back as a drummer would write it.
TEST_F(MusicXmlExport, WritesDrumNotation) {
  const fs::path doc = dir_ / "marks.tab";
  std::ofstream(doc) << "meta title = Marks & <signs>\n"
                        "meta author = Someone\n"
                        "k = kick\ns = snare\nh = closed hat\no = open hat\nr = ride\n"
                        "part = A tempo = 100 notes = 8\n"
                        "h |x-x-x-|\n"
                        "o |-----x|\n"
                        "s |--X-2-|\n"
                        "k |x--x--|\n"
                        "part = B tempo = 90 notes = 4\n"
                        "r |[xxx]x-x|\n"
                        "song = AB\n";
  const fs::path out = dir_ / "marks.musicxml";
  const test::CliRun run = cli({"export", doc.string(), "-o", out.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string complaints;
  EXPECT_TRUE(validates(out, &complaints)) << complaints;
  const ReadScore score = readMusicXml(readFile(out));
  EXPECT_EQ(score.title, "Marks & <signs>");
  EXPECT_EQ(score.composer, "Someone");
  EXPECT_EQ(score.measures, 2);
  EXPECT_EQ(score.times, (std::vector<std::string>{"3/4", "4/4"}));
  EXPECT_EQ(score.backups, 1);  // the kick's voice in the first measure only

  auto find = [&](const std::string& step, int octave, double seconds) {
    for (const ReadNote& n : score.notes) {
      if (n.step == step && n.octave == octave && std::abs(n.seconds - seconds) < 1e-6) return n;
    }
    ADD_FAILURE() << "no " << step << octave << " at " << seconds;
    return ReadNote{};
  };
  const double eighth = 0.3;  // at 100 per minute
  const ReadNote hat = find("G", 5, 0);
  EXPECT_EQ(hat.notehead, "x");
  EXPECT_EQ(hat.stem, "up");
  EXPECT_EQ(hat.voice, 1);
  EXPECT_EQ(hat.type, "quarter");  // a quarter's hits last to the next
  EXPECT_EQ(find("G", 5, 5 * eighth).notehead, "circle-x");
  const ReadNote accented = find("C", 5, 2 * eighth);
  EXPECT_TRUE(accented.accent);
  EXPECT_FALSE(accented.parentheses);
  const ReadNote ghost = find("C", 5, 4 * eighth);
  EXPECT_TRUE(ghost.parentheses);
  EXPECT_FALSE(ghost.accent);
  const ReadNote kick = find("F", 4, 3 * eighth);
  EXPECT_EQ(kick.voice, 2);
  EXPECT_EQ(kick.stem, "down");
  // Part B at 90: a quarter-note triplet on the ride, then quarters.
  const double bar = 6 * eighth;
  const double beat = 60.0 / 90.0;
  const ReadNote triplet = find("F", 5, bar);
  EXPECT_TRUE(triplet.tupletStart);
  EXPECT_EQ(triplet.type, "eighth");
  EXPECT_EQ(triplet.actual, 3);
  EXPECT_EQ(triplet.normal, 2);
  EXPECT_EQ(find("F", 5, bar + 2 * beat / 3).actual, 3);
  EXPECT_EQ(find("F", 5, bar + beat).type, "quarter");
}

// What no XML document may hold (U+FFFE, U+FFFF, control characters) is left out of a
// title and a part name, and tuplets of many primes beside a bar of 200 whole notes keep
// every duration (a bar's <backup> too) a positive int: the score stays well-formed and
// valid.
TEST_F(MusicXmlExport, AnyTitleAndAnyBarGiveAValidScore) {
  const fs::path names = dir_ / "names.tab";
  std::ofstream(names, std::ios::binary)
      << "meta title = a\xEF\xBF\xBF b\xEF\xBF\xBE\x01 c\xC3\xA9\n"
         "h = closed hi-hat\n"
         "part = Intro\xEF\xBF\xBF tempo = 120 notes = 8\n"
         "h |x-x-x-x-|\nsong = A\n";
  std::string tuplets = "|";
  for (int n : {3, 5, 7, 11, 13, 17}) tuplets += "[" + std::string(n, 'x') + "]";
  const fs::path longBar = dir_ / "long-bar.tab";
  std::ofstream(longBar) << "h = closed hi-hat\nk = kick\n"
                            "part = A tempo = 120 notes = 64\nh "
                         << tuplets << "|\npart = B tempo = 120 notes = 1\nk |x"
                         << std::string(199, '-') << "|x|\nsong = AB\n";
  for (const fs::path& doc : {names, longBar}) {
    SCOPED_TRACE(doc.string());
    const fs::path out = dir_ / (doc.stem().string() + ".musicxml");
    const test::CliRun run = cli({"export", doc.string(), "-o", out.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string complaints;
    EXPECT_TRUE(validates(out, &complaints)) << complaints;
    const std::string xml = readFile(out);
    const std::regex duration("<duration>([^<]*)</duration>");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), duration);
         it != std::sregex_iterator(); ++it) {
      const long long value = std::stoll((*it)[1]);
      EXPECT_GT(value, 0);
      EXPECT_LE(value, 0x7FFFFFFF);
    }
  }
  const ReadScore score = readMusicXml(readFile(dir_ / "names.musicxml"));
  EXPECT_EQ(score.title, "a b c\xC3\xA9");
  EXPECT_NE(readFile(dir_ / "names.musicxml").find("<rehearsal>Intro</rehearsal>"),
            std::string::npos);
}

// Grooves spelled as a drummer reads them: notes to the next hit or the beat's end, one
// rest for an empty beat or bar, tuplets only where hits need them (a sextuplet as 6:4),
// none of rests in the feet's voice, beams by beat with the sixteenths' second beam broken
// at the half beat, 6/8 in dotted quarters, and a one-bar part played three times in a row
// as the bar and two simile bars; read back with repeats played, it still sounds as Play
// plays it.
TEST_F(MusicXmlExport, SpellsRhythmsByTheMetre) {
  std::string fill48 = "h |", toms48 = "t |", kick48 = "k |";
  for (int step = 0; step < 48; ++step) {
    fill48 += step < 36 && step % 3 == 0 ? 'x' : '-';
    toms48 += step >= 36 && step % 4 == 0 ? 'x' : '-';
    kick48 += step == 0 ? 'x' : '-';
  }
  const fs::path doc = dir_ / "grooves.tab";
  std::ofstream(doc) << "k = kick\ns = snare\nh = closed hat\nt = tom 1\n"
                        "part = A tempo = 120 notes = 16\n"
                        "h |x-x-x-x-x-x-x-x-|\ns |----x-------x---|\nk |x-------x-------|\n"
                        "part = B tempo = 120 notes = 4\n"
                        "t |x-[xxxxxx]-|\nk |x-[------]-|\n"
                        "part = C tempo = 120 notes = 16\nh |xxxxxxxxxxxxxxxx|\n"
                        "part = D tempo = 120 notes = 8 metre = 6/8\nh |xxxxxx|\nk |x--x--|\n"
                        "part = E tempo = 120 notes = 8\nh |--------|\n"
                        "part = F tempo = 120 notes = 48\n"
                     << fill48 << "|\n"
                     << toms48 << "|\n"
                     << kick48 << "|\nsong = AAABCDEF\n";
  const fs::path out = dir_ / "grooves.musicxml";
  const fs::path log = dir_ / "grooves.log";
  ASSERT_EQ(cli({"play", doc.string(), "--device", "none", "--channel", "10", "--tempo-scale", "2",
                 "--log", log.string()})
                .status,
            0);
  const test::CliRun run = cli({"export", doc.string(), "-o", out.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string complaints;
  EXPECT_TRUE(validates(out, &complaints)) << complaints;
  ReadScore score = readMusicXml(readFile(out));
  expectSameHits(score, readPlayLog(readFile(log)));
  EXPECT_TRUE(score.repeatTimes.empty());
  using Values = std::vector<std::string>;
  EXPECT_EQ(score.measureRepeats, (Values{"2:start:1", "4:stop"}));
  ASSERT_EQ(score.written.size(), 8u);  // A and two simile bars, B, C, D, E, F
  score.written.erase(score.written.begin() + 1, score.written.begin() + 3);
  EXPECT_EQ(score.times, (std::vector<std::string>{"4/4", "6/8", "4/4"}));
  const auto& a = score.written[0];
  EXPECT_EQ(a.rests, 0);
  EXPECT_EQ(a.values, (Values(8, "eighth") + Values(2, "quarter")));
  Values pairs;
  for (int beat = 0; beat < 4; ++beat) pairs.insert(pairs.end(), {"1:begin", "1:end"});
  EXPECT_EQ(a.beams, pairs);
  const auto& b = score.written[1];
  EXPECT_EQ(b.rests, 2);  // beats 2 and 4 of the hands; none for the feet
  EXPECT_EQ(b.tuplets, 1);
  EXPECT_EQ(b.values, (Values{"quarter"} + Values(6, "16th") + Values{"quarter"}));
  int sextuplet = 0;
  for (const ReadNote& n : score.notes) sextuplet += n.actual == 6 && n.normal == 4 ? 1 : 0;
  EXPECT_EQ(sextuplet, 6);
  Values sixteenths;
  for (int beat = 0; beat < 4; ++beat) {
    sixteenths.insert(sixteenths.end(), {"1:begin", "2:begin", "1:continue", "2:end", "1:continue",
                                         "2:begin", "1:end", "2:end"});
  }
  EXPECT_EQ(score.written[2].beams, sixteenths);
  const auto& d = score.written[3];
  EXPECT_EQ(d.values, (Values(6, "eighth") + Values(2, "quarter.")));
  EXPECT_EQ(d.beams, (Values{"1:begin", "1:continue", "1:end", "1:begin", "1:continue", "1:end"}));
  EXPECT_EQ(score.written[4].rests, 1);  // the whole bar's rest
  const auto& f = score.written[5];
  EXPECT_EQ(f.rests, 0);
  EXPECT_EQ(f.tuplets, 1);  // the toms' triplet only
  EXPECT_EQ(f.values, (Values(12, "16th") + Values(3, "eighth") + Values{"quarter"}));
}

// The song line bar for bar: a one-bar part played over in a row is the bar and simile
// bars (a measure repeat that stops at the next bar, or runs to the end), a longer part
// played over stands once between repeat bars with its count; the score stays valid and,
// read with repeats played, holds every hit of every bar (the simile bars' too).
TEST_F(MusicXmlExport, RepeatsFollowTheSongLine) {
  const fs::path doc = dir_ / "repeats.tab";
  std::ofstream(doc) << "k = kick\ns = snare\nh = closed hat\n"
                        "part = A tempo = 100 notes = 8\nh |x-x-x-x-|\nk |x---x---|\n"
                        "part = V tempo = 100 notes = 8\ns |--x---x-|x-x-x-xx|\n"
                        "part = B tempo = 100 notes = 8\ns |--x---x-|\nk |x---x-x-|\n"
                        "song = AAAVVBBA\n";
  const fs::path out = dir_ / "repeats.musicxml";
  const test::CliRun run = cli({"export", doc.string(), "-o", out.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string complaints;
  EXPECT_TRUE(validates(out, &complaints)) << complaints;
  const ReadScore score = readMusicXml(readFile(out));
  // A's 6 hits three times, V's 7 twice, B's 5 twice, A's 6; the last A starts after
  // nine bars of 2.4 s and ends with its hi-hat at 1.8 s.
  EXPECT_EQ(score.notes.size(), 3u * 6 + 2 * 7 + 2 * 5 + 6);
  double last = 0;
  for (const ReadNote& n : score.notes) last = std::max(last, n.seconds);
  EXPECT_NEAR(last, 9 * 2.4 + 1.8, 1e-9);
  EXPECT_EQ(score.measures, 3 + 2 + 2 + 1);  // A % %, V between repeat bars, B %, A
  EXPECT_EQ(score.repeatTimes, std::vector<int>{2});
  EXPECT_EQ(score.measureRepeats,
            (std::vector<std::string>{"2:start:1", "4:stop", "7:start:1", "8:stop"}));
  // Rehearsal marks at A, V, B and A again: none on the simile bars.
  const std::string xml = readFile(out);
  const std::regex rehearsal("<rehearsal>");
  EXPECT_EQ(std::distance(std::sregex_iterator(xml.begin(), xml.end(), rehearsal),
                          std::sregex_iterator()),
            4);
}

// A bar the metre cannot spell, 143 sixteenths long, a tuplet of 1000 and a bar of three
// fifths of a whole note are written with the nearest values and time signature and a
// warning, every duration still adding up.
TEST_F(MusicXmlExport, ABarNoMetreSpellsIsWrittenNearestWithAWarning) {
  const fs::path doc = dir_ / "odd.tab";
  std::ofstream(doc) << "h = closed hat\nk = kick\npart = A tempo = 120 notes = 16\nh |"
                     << std::string(143, 'x') << "|\npart = B tempo = 30 notes = 4\nk |["
                     << std::string(1000, 'x')
                     << "]---|\npart = C tempo = 120 notes = 5\nh |xxx|\nsong = ABC\n";
  const fs::path out = dir_ / "odd.musicxml";
  const test::CliRun run = cli({"export", doc.string(), "-o", out.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("part B: a note shorter or longer than any note value is drawn as a "
                         "1024th"),
            std::string::npos)
      << run.err;
  std::string complaints;
  EXPECT_TRUE(validates(out, &complaints)) << complaints;
  const ReadScore score = readMusicXml(readFile(out));
  EXPECT_NE(run.err.find("part C: a bar fits no time signature: it is marked 10/16"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(score.times, (std::vector<std::string>{"143/16", "4/4", "10/16"}));
  ASSERT_EQ(score.notes.size(), 1146u);
  // Each hit where it sounds: the hats a sixteenth apart, the 1000 within one beat.
  EXPECT_NEAR(score.notes[142].seconds, 142 * 0.125, 1e-9);
  EXPECT_NEAR(score.notes[143].seconds, 143 * 0.125, 1e-9);
  EXPECT_NEAR(score.notes[1142].seconds, 143 * 0.125 + 2.0 * 999 / 1000, 1e-9);
  EXPECT_EQ(score.written.at(1).tuplets, 1);
}

// A groove with every expression mark: the score the schema accepts has the graces, the
// roll, the heads and technical marks, the swing and the sticking where they belong.
TEST_F(MusicXmlExport, WritesExpressionMarks) {
  const fs::path doc = dir_ / "expression.tab";
  std::ofstream(doc) << "k = kick\ns = snare\nh = closed hat\nr = ride\ny = crash 1\n"
                        "part = A tempo = 100 notes = 8 swing = 62\n"
                        "h |x-h-x-x-|\n"
                        "r |b-e-----|\n"
                        "y |x---!---|\n"
                        "s |f-D-zcr-|\n"
                        "k |x---x---|\n"
                        "st |R-L-RLR-|\n"
                        "song = A\n";
  const fs::path out = dir_ / "expression.musicxml";
  const test::CliRun run = cli({"export", doc.string(), "-o", out.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  std::string complaints;
  EXPECT_TRUE(validates(out, &complaints)) << complaints;
  const std::string xml = readFile(out);
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = xml.find(what); at != std::string::npos; at = xml.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<grace slash=\"yes\"/>"), 1u);  // the flam's
  EXPECT_EQ(count("<grace/>"), 2u);                // the drag's, beamed
  EXPECT_EQ(count("<beam number=\"1\">begin</beam><beam number=\"2\">begin</beam>"), 1u);
  EXPECT_EQ(count("<tremolo type=\"unmeasured\">3</tremolo>"), 1u);
  EXPECT_EQ(count("<half-muted/>"), 1u);
  EXPECT_EQ(count("<stopped/>"), 1u);
  EXPECT_EQ(count("<other-technical>edge</other-technical>"), 1u);
  EXPECT_EQ(count("<notehead>slashed</notehead>"), 1u);  // the rimshot
  EXPECT_EQ(count("<notehead>diamond</notehead>"), 1u);  // the bell
  // The cross-stick's x on the snare's space.
  EXPECT_TRUE(
      std::regex_search(xml, std::regex("<display-step>C</display-step><display-octave>5"
                                        "<(?:(?!</note>)[\\s\\S])*<notehead>x</notehead>")));
  EXPECT_EQ(count("<first>31</first><second>19</second><swing-type>eighth</swing-type>"), 1u);
  EXPECT_EQ(count("<words>Swing 62:38</words>"), 1u);
  for (const char* hand : {"R", "L"}) {
    EXPECT_GE(count(std::string("<text>") + hand + "</text></lyric>"), 2u) << hand;
  }
  EXPECT_EQ(count("<lyric placement=\"below\">"), 5u);
}

TEST_F(MusicXmlExport, RefusesWhatItCannotWrite) {
  const std::string data = std::string(PW_SOURCE_DIR) + "/tests/data";
  const fs::path out = dir_ / "no" / "such" / "score.musicxml";
  const test::CliRun r = cli({"export", data + "/basic-rock.tab", "-o", out.string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot write " + out.string()), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
  // Samples have no drum in the kit: left out and counted; MIDI keeps its ending.
  const test::CliRun waves =
      cli({"export", data + "/waves.tab", "-o", (dir_ / "waves.MusicXML").string()});
  EXPECT_EQ(waves.status, 0);
  EXPECT_NE(waves.err.find("2 sample hits left out"), std::string::npos) << waves.err;
  EXPECT_EQ(cli({"export", data + "/waves.tab", "-o", (dir_ / "w.mid").string()}).status, 0);
  EXPECT_EQ(readFile(dir_ / "w.mid").substr(0, 4), "MThd");
  EXPECT_EQ(readFile(dir_ / "waves.MusicXML").substr(0, 5), "<?xml");
}

}  // namespace
}  // namespace pulsewright
