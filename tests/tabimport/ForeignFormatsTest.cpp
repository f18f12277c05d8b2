// GrooveScribe links, Hydrogen songs and MusicXML scores, in and out through the command
// line, each checked against a small reader or writer of the foreign format written here
// from the format alone, and against the song the imported document plays.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <tuple>

#include "tablature/CompiledDocument.h"
#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestFiles.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;
using test::cli;
using test::CliRun;
using V = DrumVoice;

// (position in whole notes, in millionths; voice; level)
using Hit = std::tuple<long, int, int>;

long millionths(double wholeNotes) {
  return std::lround(wholeNotes * 1e6);
}

// Every hit the document plays, in song order, at its musical position.
std::vector<Hit> songHits(const std::string& document) {
  TablatureCompiler compiler;
  CompileRequest request;
  request.sampleProblem = nullptr;
  request.diagnose = false;
  const CompiledDocument compiled = compileDocument(compiler, joinLinesWithCrLf(document), request);
  std::vector<Hit> hits;
  Timeline::Cursor cursor = compiled.song->begin();
  TimelineTick tick;
  double at = 0;
  while (cursor.next(&tick)) {
    if (tick.data == nullptr) break;
    const TimelinePart& part = compiled.song->parts()[static_cast<std::size_t>(tick.part)];
    for (const TimelineItem& item : part.itemsOf(*tick.data)) {
      if (!item.isRest() && item.voice.kind == ItemVoice::Kind::Drum) {
        hits.emplace_back(millionths(at), item.voice.drum, item.level);
      }
    }
    at += 1.0 / (tick.music->noteSize * tick.music->tupletDivisor);
  }
  std::sort(hits.begin(), hits.end());
  return hits;
}

bool checksClean(const std::string& document) {
  DiagnosticOptions options;
  options.sampleProblem = nullptr;
  return diagnose(joinLinesWithCrLf(document), options).empty();
}

class ForeignFormats : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pw-foreign-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  fs::path dir_;
};

// ---- GrooveScribe ----

// A link read as GrooveScribe means it: its fields, and each lane's marks per step with
// the hi-hat lane's cymbal marks moved to the cymbals' own lanes.
struct Link {
  std::map<std::string, std::string> fields;
  std::map<std::string, std::string> lanes;  // field -> one mark per step
  bool operator==(const Link&) const = default;
};

Link readLink(const std::string& url) {
  Link link;
  std::string query = url.substr(url.find('?') + 1);
  if (!query.empty() && query.back() == '\n') query.pop_back();
  std::istringstream items(query);
  for (std::string item; std::getline(items, item, '&');) {
    const std::size_t eq = item.find('=');
    const std::string name = item.substr(0, eq), value = item.substr(eq + 1);
    if (name == "H" || name == "S" || name == "K" || (name.size() == 2 && name[0] == 'T') ||
        name == "C" || name == "R") {
      std::string marks;
      for (char c : value) {
        if (c != '|') marks += c;
      }
      link.lanes[name] = marks;
    } else {
      link.fields[name] = value;
    }
  }
  std::string& h = link.lanes["H"];
  const std::size_t steps = h.size();
  for (const char* lane : {"S", "K", "C", "R"}) {
    if (link.lanes[lane].empty()) link.lanes[lane] = std::string(steps, '-');
  }
  for (std::size_t i = 0; i < steps; ++i) {
    if (h[i] == '+') h[i] = 'x';
    if (h[i] == 'c') link.lanes["C"][i] = 'x', h[i] = '-';
    if (h[i] == 'r') link.lanes["R"][i] = 'x', h[i] = '-';
    if (h[i] == 'b') link.lanes["R"][i] = 'b', h[i] = '-';
  }
  for (auto it = link.lanes.begin(); it != link.lanes.end();) {
    it = it->second.find_first_not_of('-') == std::string::npos && it->first != "H" &&
                 it->first != "S" && it->first != "K"
             ? link.lanes.erase(it)
             : std::next(it);
  }
  return link;
}

const std::vector<std::string> kLinks = {
    "https://www.mikeslessons.com/groove/?TimeSig=4/4&Div=16&Tempo=80&Measures=1"
    "&H=|x-x-x-x-x-x-x-x-|&S=|----O-------O---|&K=|o-------o-------|",
    "?TimeSig=4/4&Div=8&Tempo=120&Measures=2&H=|xxxxxxxx|xxxxxxxo|&S=|--O---O-|--O---OO|"
    "&K=|o---o---|o-o-o---|",
    "?TimeSig=3/4&Div=8&Tempo=96&Measures=1&H=|x-x-x-|&S=|--o-o-|&K=|o-----|",
    "?TimeSig=6/8&Div=8&Tempo=70&Measures=1&H=|xxxxxx|&S=|---O--|&K=|o-----|&Title=Six%20Eight",
    "?TimeSig=4/4&Div=12&Tempo=90&Measures=1&H=|x-xx-xx-xx-x|&S=|---O-----O--|"
    "&K=|o--o--o--o--|",
    "?TimeSig=4/4&Div=16&Tempo=100&Measures=1&H=|X-x-X-x-X-x-X-x-|&S=|g-g-O-g-g-g-O-g-|"
    "&K=|o-x-o-x-o-x-X-x-|",
    "?TimeSig=4/4&Div=16&Tempo=110&Measures=1&H=|----------------|&S=|O-oo----O-------|"
    "&K=|o---o---o---o---|&T1=|----O-o---------|&T2=|--------o-o-----|"
    "&T3=|------------o-o-|&T4=|--------------oO|",
    "?TimeSig=4/4&Div=8&Tempo=130&Measures=1&H=|c-r-b-r-|&S=|--O---O-|&K=|o---o---|"
    "&Author=Teacher&Comments=Ride%20and%20bell",
    "?TimeSig=4/4&Div=32&Tempo=60&Measures=1&H=|x---x---x---x---x---x---x---x---|"
    "&S=|--------O---------------O--g-g-g|&K=|o-------o-o-----o-------o-------|",
    "?TimeSig=5/4&Div=16&Tempo=140&Measures=1&H=|x-x-x-x-x-x-x-x-x-+-|&S=|----O-------O-------|"
    "&K=|o-------o-----o-----|&C=|X-------------------|&R=|----------------x-x-|",
};

// The link's hits by its own marks: the reader's table of what each lane's marks play.
std::vector<Hit> linkHits(const Link& link) {
  const auto [beats, unit] = [&] {
    const std::string t = link.fields.count("TimeSig") ? link.fields.at("TimeSig") : "4/4";
    return std::pair{std::stoi(t), std::stoi(t.substr(t.find('/') + 1))};
  }();
  (void)beats;
  (void)unit;
  const int div = std::stoi(link.fields.at("Div"));
  std::vector<Hit> hits;
  const std::map<std::string, std::map<char, std::vector<std::pair<V, int>>>> meaning = {
      {"H", {{'x', {{V::ClosedHat, 5}}}, {'X', {{V::ClosedHat, 7}}}, {'o', {{V::OpenHat, 5}}}}},
      {"S", {{'o', {{V::SnareDrum, 5}}}, {'O', {{V::SnareDrum, 7}}}, {'g', {{V::SnareDrum, 3}}}}},
      {"K",
       {{'o', {{V::BassDrum, 5}}},
        {'x', {{V::PedalHat, 5}}},
        {'X', {{V::BassDrum, 5}, {V::PedalHat, 5}}}}},
      {"T1", {{'o', {{V::Tom1, 5}}}, {'O', {{V::Tom1, 7}}}}},
      {"T2", {{'o', {{V::Tom2, 5}}}, {'O', {{V::Tom2, 7}}}}},
      {"T3", {{'o', {{V::Tom3, 5}}}, {'O', {{V::Tom3, 7}}}}},
      {"T4", {{'o', {{V::Tom4, 5}}}, {'O', {{V::Tom4, 7}}}}},
      {"C", {{'x', {{V::Crash1, 5}}}, {'X', {{V::Crash1, 7}}}}},
      {"R", {{'x', {{V::Ride, 5}}}, {'X', {{V::Ride, 7}}}, {'b', {{V::Bell, 5}}}}},
  };
  for (const auto& [lane, marks] : link.lanes) {
    for (std::size_t i = 0; i < marks.size(); ++i) {
      if (marks[i] == '-') continue;
      const auto& played = meaning.at(lane).at(marks[i]);
      for (const auto& [voice, level] : played) {
        hits.emplace_back(millionths(static_cast<double>(i) / div), static_cast<int>(voice), level);
      }
    }
  }
  std::sort(hits.begin(), hits.end());
  return hits;
}

// Each link imports to a document that plays its hits on their steps and checks clean,
// and exports back to a link of the same meaning.
TEST_F(ForeignFormats, GrooveScribeLinksImportAndExportBackToEqualLinks) {
  for (const std::string& url : kLinks) {
    SCOPED_TRACE(url);
    const std::string doc = path("groove.tab");
    const CliRun in = cli({"import", url, "-o", doc});
    ASSERT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(in.err, "");
    const std::string document = readFile(doc);
    EXPECT_TRUE(checksClean(document)) << document;
    const Link original = readLink(url);
    EXPECT_EQ(songHits(document), linkHits(original)) << document;

    const CliRun out = cli({"export", doc, "--to", "groovescribe"});
    ASSERT_EQ(out.status, 0) << out.err;
    ASSERT_FALSE(out.out.empty());
    EXPECT_EQ(out.out.back(), '\n');
    Link back = readLink(out.out.substr(0, out.out.size() - 1));
    Link expected = original;
    for (const char* field : {"Title", "Author", "Comments"}) {
      if (expected.fields.count(field) == 0) back.fields.erase(field);
    }
    EXPECT_EQ(back, expected) << out.out;
  }
}

// A file holding a link; what cannot be read is said where it stands, and a link that
// cannot be read at all writes nothing.
TEST_F(ForeignFormats, GrooveScribeLinkFilesWarnWhereTheyStandAndBrokenLinksWriteNothing) {
  const std::string file =
      write("link.txt",
            "?TimeSig=4/4&Div=8&Measures=1&Tempo=90&Foo=1&H=|xxqxxxxx|&S=|--f---x-|&K=|o---o-|"
            "&Swing=30&Stickings=|RLRLRLRL|\n");
  const std::string doc = path("out.tab");
  const CliRun r = cli({"import", file, "-o", doc});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, file + ":1:40: warning: unknown field \"Foo\" left out\n" + file +
                       ":1:51: warning: \"q\" is no hi-hat mark: left out\n" + file +
                       ":1:72: warning: the kick lane is 2 steps shorter than its " +
                       "measures: filled with rests\n");
  EXPECT_TRUE(checksClean(readFile(doc)));

  for (const std::string& broken :
       {std::string("?TimeSig=4/4&Div=7&H=|x|"), std::string("?TimeSig=4&H=|x-x-|"),
        std::string("?Measures=0&H=|x-x-|"), std::string("?TimeSig=4/4&Div=8&Title=nolanes")}) {
    SCOPED_TRACE(broken);
    const std::string none = path("none.tab");
    const CliRun bad = cli({"import", broken, "-o", none});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("pulsewright-cli: link: "), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(none));
  }
}

// Swing, stickings and the snare's cross-sticks, flams, drags, buzz rolls and ghosts come
// in as the document's swing, sticking line and marks, and go back out as the same link.
TEST_F(ForeignFormats, GrooveScribeExpressionRoundTrips) {
  const std::string url =
      "?TimeSig=4/4&Div=8&Tempo=90&Measures=2&Swing=36&H=|x-x-x-x-|x-x-x-x-|"
      "&S=|x-f-g-O-|d-b-o---|&K=|o---o---|o---o---|&Stickings=|RLRLRLRL|B-R-L---|";
  const std::string doc = path("swung.tab");
  const CliRun in = cli({"import", url, "-o", doc});
  ASSERT_EQ(in.status, 0) << in.err;
  EXPECT_EQ(in.err, "");
  const std::string document = readFile(doc);
  EXPECT_NE(document.find("notes = 8 swing = 62\n"), std::string::npos) << document;
  EXPECT_NE(document.find("s  |c-f-3-X-|d-z-x---|\n"), std::string::npos) << document;
  EXPECT_NE(document.find("st |RLRLRLRL|B-R-L---|\n"), std::string::npos) << document;
  EXPECT_TRUE(checksClean(document)) << document;
  const CliRun out = cli({"export", doc, "--to", "groovescribe"});
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(readLink(out.out), readLink(url)) << out.out;
}

// -o OUT.url writes the first part's link, --part another's; a part a link cannot hold
// is refused with nothing written.
TEST_F(ForeignFormats, GrooveScribeExportWritesTheFirstOrTheNamedPart) {
  const std::string doc = write("song.tab",
                                "k = kick\ns = snare\nh = closed hi-hat\n"
                                "part = A tempo = 100 notes = 8\nh |x-x-x-x-|\nk |x---x---|\n"
                                "part = B tempo = 100 notes = 8\ns |--x---x-|\n"
                                "part = C tempo = 100 notes = 6\ns |--x---|\n"
                                "song = BA\n");
  ASSERT_EQ(cli({"export", doc, "-o", path("b.url")}).status, 0);
  EXPECT_EQ(readLink(readFile(path("b.url"))).lanes["S"], "--o---o-");
  const CliRun a = cli({"export", doc, "--to", "groovescribe", "--part", "A"});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(readLink(a.out).lanes["H"], "x-x-x-x-");
  EXPECT_EQ(readLink(a.out).lanes["K"], "o---o---");
  const CliRun c = cli({"export", doc, "-o", path("c.url"), "--part", "C"});
  EXPECT_EQ(c.status, 2);
  EXPECT_NE(c.err.find("a link holds 8, 16, 32, 12, 24 or 48"), std::string::npos) << c.err;
  EXPECT_FALSE(fs::exists(path("c.url")));
  EXPECT_EQ(cli({"export", doc, "--to", "groovescribe", "--part", "Z"}).status, 2);
}

// ---- Hydrogen ----

// The level a velocity of 0-1 plays at: the one whose MIDI velocity, floor((L + 1) / 10 ×
// 127), is nearest, the louder of two as near.
int levelOfH2Velocity(double velocity) {
  const long midi = std::lround(velocity * 127);
  int best = 0;
  for (int level = 1; level <= 9; ++level) {
    const long a = static_cast<long>((level + 1) * 127 / 10),
               b = static_cast<long>((best + 1) * 127 / 10);
    if (std::labs(a - midi) <= std::labs(b - midi)) best = level;
  }
  return best;
}

struct H2Note {
  long position;
  int instrument;
  double velocity;
};
struct H2Pattern {
  std::string name;
  long size;
  std::vector<H2Note> notes;
};
struct H2Instrument {
  int id;
  std::string name;
  int midiNote;
};

std::string h2song(int bpm, const std::vector<H2Instrument>& instruments,
                   const std::vector<H2Pattern>& patterns,
                   const std::vector<std::vector<std::string>>& groups) {
  std::ostringstream x;
  x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<song>\n <version>0.9.7</version>\n <bpm>"
    << bpm
    << "</bpm>\n <name>Test &amp; song</name>\n <author>Tester</author>\n <instrumentList>\n";
  for (const H2Instrument& i : instruments) {
    x << "  <instrument>\n   <id>" << i.id << "</id>\n   <name>" << i.name
      << "</name>\n   <midiOutNote>" << i.midiNote << "</midiOutNote>\n  </instrument>\n";
  }
  x << " </instrumentList>\n <patternList>\n";
  for (const H2Pattern& p : patterns) {
    x << "  <pattern>\n   <name>" << p.name << "</name>\n   <size>" << p.size
      << "</size>\n   <noteList>\n";
    for (const H2Note& n : p.notes) {
      x << "    <note><position>" << n.position << "</position><velocity>" << n.velocity
        << "</velocity><pan_L>0.5</pan_L><pan_R>0.5</pan_R><instrument>" << n.instrument
        << "</instrument></note>\n";
    }
    x << "   </noteList>\n  </pattern>\n";
  }
  x << " </patternList>\n <patternSequence>\n";
  for (const auto& g : groups) {
    x << "  <group>";
    for (const std::string& id : g) x << "<patternID>" << id << "</patternID>";
    x << "</group>\n";
  }
  x << " </patternSequence>\n</song>\n";
  return x.str();
}

// What a song plays, read from its XML: each column as long as its longest pattern, 192
// ticks to the whole note, its instruments by the voices their names stand for here.
std::vector<Hit> readH2Song(const std::string& xml, std::string* kit = nullptr) {
  // The test song's kit, and the names of Hydrogen's default kit that exports use.
  const std::map<std::string, V> voices = {
      {"Kick", V::BassDrum},       {"Snare Rock", V::SnareDrum},
      {"Closed HH", V::ClosedHat}, {"Open HH", V::OpenHat},
      {"Tom Hi", V::Tom1},         {"Crash", V::Crash1},
      {"Ride Rock", V::Ride},      {"Hand Clap", V::Claps},
      {"Snare", V::SnareDrum},     {"Hat Closed", V::ClosedHat},
      {"Hat Open", V::OpenHat},    {"Hat Pedal", V::PedalHat},
      {"Tom 1", V::Tom1},          {"Tom 2", V::Tom2},
      {"Tom 3", V::Tom3},          {"Floor Tom", V::Tom4},
      {"Ride", V::Ride},           {"Bell", V::Bell},
      {"Crash 2", V::Crash2},      {"Cowbell", V::CowBell}};
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml.c_str()));
  const pugi::xml_node song = doc.child("song");
  std::map<std::string, V> byId;
  for (const pugi::xml_node& i : song.child("instrumentList").children("instrument")) {
    byId[i.child_value("id")] = voices.at(i.child_value("name"));
    if (kit != nullptr) *kit = i.child_value("drumkit");
  }
  std::map<std::string, pugi::xml_node> patterns;
  for (const pugi::xml_node& p : song.child("patternList").children("pattern")) {
    patterns[p.child_value("name")] = p;
  }
  std::vector<Hit> hits;
  long start = 0;
  for (const pugi::xml_node& g : song.child("patternSequence").children("group")) {
    long length = 0;
    for (const pugi::xml_node& id : g.children("patternID")) {
      const pugi::xml_node p = patterns.at(id.child_value());
      length = std::max(length, std::stol(p.child_value("size")));
      for (const pugi::xml_node& n : p.child("noteList").children("note")) {
        const long tick = start + std::stol(n.child_value("position"));
        hits.emplace_back(millionths(tick / 192.0),
                          static_cast<int>(byId.at(n.child_value("instrument"))),
                          levelOfH2Velocity(std::stod(n.child_value("velocity"))));
      }
    }
    start += length == 0 ? 192 : length;
  }
  std::sort(hits.begin(), hits.end());
  hits.erase(std::unique(hits.begin(), hits.end(),
                         [](const Hit& a, const Hit& b) {
                           return std::get<0>(a) == std::get<0>(b) &&
                                  std::get<1>(a) == std::get<1>(b);
                         }),
             hits.end());
  return hits;
}

// A song of patterns of several sizes and grids, two played together in a column, a
// pattern played again and an empty column imports with every note on its step; its
// export, read back, plays the document's song on the drum kit it names.
TEST_F(ForeignFormats, HydrogenSongsImportEveryNoteOnItsStepAndExportTheSameSong) {
  const std::vector<H2Instrument> kit = {
      {0, "Kick", 36},   {1, "Snare Rock", 40}, {2, "Closed HH", 42}, {3, "Open HH", 46},
      {4, "Tom Hi", 50}, {5, "Crash", 49},      {6, "Ride Rock", 51}, {7, "Hand Clap", 39}};
  std::vector<H2Pattern> patterns = {
      {"verse", 192, {}}, {"crash", 48, {{0, 5, 1.0}}}, {"fill", 144, {}}, {"long", 384, {}}};
  for (long t = 0; t < 192; t += 12) patterns[0].notes.push_back({t, 2, t % 48 == 0 ? 0.9 : 0.6});
  patterns[0].notes.push_back({0, 0, 0.8});
  patterns[0].notes.push_back({96, 0, 0.8});
  patterns[0].notes.push_back({48, 1, 1.0});
  patterns[0].notes.push_back({144, 1, 0.3});
  for (long t = 0; t < 144; t += 16) patterns[2].notes.push_back({t, 4, 0.7});  // triplets
  patterns[2].notes.push_back({140, 1, 0.5});                                   // 1/48 off
  for (long t = 0; t < 384; t += 24) patterns[3].notes.push_back({t, 6, 0.5});
  patterns[3].notes.push_back({180, 3, 0.5});
  patterns[3].notes.push_back({372, 7, 0.5});
  const std::string xml =
      h2song(95, kit, patterns, {{"verse"}, {"verse", "crash"}, {"fill"}, {}, {"long"}, {"verse"}});
  const std::string song = write("song.h2song", xml);
  const std::string doc = path("song.tab");
  const CliRun in = cli({"import", song, "-o", doc});
  ASSERT_EQ(in.status, 0) << in.err;
  EXPECT_EQ(in.err, "");
  const std::string document = readFile(doc);
  EXPECT_TRUE(checksClean(document)) << document;
  EXPECT_NE(document.find("meta title = Test & song\nmeta author = Tester\n"), std::string::npos);
  EXPECT_NE(document.find("song = ABCDEA\n"), std::string::npos) << document;
  EXPECT_NE(document.find("tempo = 95 notes = 16\n"), std::string::npos) << document;
  EXPECT_EQ(songHits(document), readH2Song(xml)) << document;
  EXPECT_EQ(readFile(song), xml);

  const std::string back = path("back.h2song");
  const CliRun out = cli({"export", doc, "-o", back});
  ASSERT_EQ(out.status, 0) << out.err;
  std::string kitName;
  EXPECT_EQ(readH2Song(readFile(back), &kitName), songHits(document));
  EXPECT_EQ(kitName, "GMRockKit");
  // And the exported song imports to the same document's song again.
  const CliRun again = cli({"import", back});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(songHits(again.out), songHits(document));
}

// A pattern file names its instruments by the default kit's numbers; a file that is not
// well-formed, or no Hydrogen file, is refused with nothing written and the input kept.
TEST_F(ForeignFormats, HydrogenPatternsImportAndBrokenFilesWriteNothing) {
  const std::string pattern = write(
      "beat.h2pattern",
      "<?xml version=\"1.0\"?>\n<drumkit_pattern>\n <drumkit_name>GMRockKit</drumkit_name>\n"
      " <pattern>\n  <pattern_name>beat</pattern_name>\n  <size>96</size>\n  <noteList>\n"
      "   <note><position>0</position><velocity>0.8</velocity><instrument>0</instrument></note>\n"
      "   <note><position>24</position><velocity>0.8</velocity><instrument>6</instrument></note>\n"
      "   <note><position>48</position><velocity>0.8</velocity><instrument>1</instrument></note>\n"
      "   <note><position>48</position><velocity>0.4</velocity><instrument>2</instrument></note>\n"
      "  </noteList>\n </pattern>\n</drumkit_pattern>\n");
  const CliRun r = cli({"import", pattern});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, pattern +
                       ":2:1: warning: a pattern file names its instruments by number: "
                       "read as those of GMRockKit\n" +
                       pattern +
                       ":10:4: warning: instrument \"Stick\" is a cross-stick: played as "
                       "Snare Drum\n" +
                       pattern +
                       ":2:1: warning: 1 note fell on a step that holds the same drum already: "
                       "each pair plays once, at the louder level\n");
  EXPECT_EQ(songHits(r.out), (std::vector<Hit>{{0, 0, 7}, {125000, 2, 7}, {250000, 1, 7}}))
      << r.out;
  EXPECT_NE(r.out.find("meta title = beat\n"), std::string::npos);

  for (const auto& [name, bytes, message] :
       {std::tuple{"cut.h2song", "<song><patternList><pattern>", "not well-formed XML (line 1"},
        std::tuple{"other.h2song", "<drumkit_info/>", "no Hydrogen song or pattern"},
        std::tuple{"empty.h2song", "<song><bpm>120</bpm></song>", "the song holds no patterns"}}) {
    SCOPED_TRACE(name);
    const std::string file = write(name, bytes);
    const CliRun bad = cli({"import", file, "-o", path("out.tab")});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find(message), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(path("out.tab")));
    EXPECT_EQ(readFile(file), bytes);
  }
}

// ---- MusicXML ----

// A ZIP archive of `files` (name, contents), deflated, as a compressed score is.
std::string zipOf(const std::vector<std::pair<std::string, std::string>>& files) {
  auto put16 = [](std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
  };
  auto put32 = [&](std::string& out, unsigned long v) {
    put16(out, static_cast<unsigned>(v & 0xFFFF));
    put16(out, static_cast<unsigned>((v >> 16) & 0xFFFF));
  };
  std::string zip, directory;
  for (const auto& [name, data] : files) {
    std::string packed(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(z.total_out);
    deflateEnd(&z);
    const unsigned long crc =
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    const unsigned long offset = zip.size();
    for (std::string* out : {&zip, &directory}) {
      const bool central = out == &directory;
      put32(*out, central ? 0x02014b50 : 0x04034b50);
      if (central) put16(*out, 20);
      for (unsigned v : {20u, 0u, 8u, 0u, 0u}) put16(*out, v);
      put32(*out, crc);
      put32(*out, packed.size());
      put32(*out, data.size());
      put16(*out, static_cast<unsigned>(name.size()));
      put16(*out, 0);
      if (central) {
        for (int i = 0; i < 3; ++i) put16(*out, 0);  // comment, disk, internal attributes
        put32(*out, 0);
        put32(*out, offset);
      }
      *out += name;
      if (!central) *out += packed;
    }
  }
  const unsigned long start = zip.size();
  zip += directory;
  put32(zip, 0x06054b50);
  put16(zip, 0);
  put16(zip, 0);
  put16(zip, static_cast<unsigned>(files.size()));
  put16(zip, static_cast<unsigned>(files.size()));
  put32(zip, directory.size());
  put32(zip, start);
  put16(zip, 0);
  return zip;
}

// Levels a score tells apart (ghost notes, plain hits, accents) and the steps of
// straight and triplet notes, 3/4 and tempo changes: the program's own score, read
// back, and its compressed form, play the song again.
TEST_F(ForeignFormats, OwnMusicXmlScoresImportToTheSameSong) {
  const std::string doc = write("song.tab",
                                "meta title = Round trip\n"
                                "k = kick\ns = snare\nh = closed hi-hat\no = open hi-hat\n"
                                "t1 = tom 1\nt4 = tom 4\nc = crash 1\nr = ride\n"
                                "part = A tempo = 100 notes = 16\n"
                                "c |x---------------|\n"
                                "h |--x-X-x-x-x-X-x-|\n"
                                "o |--------------x-|\n"
                                "s |----X--3----X-3-|\n"
                                "k |x-----x-x-------|\n"
                                "part = B tempo = 100 notes = 8\n"
                                "s |x-[xxx]-x-x-[xxx]|\n"
                                "t1 |--[x--]x----|\n"
                                "k |x-[---]-x-x-[--x]|\n"
                                "part = C tempo = 140 notes = 8\n"
                                "r |x-x-x-|\n"
                                "t4 |-----X|\n"
                                "k |x-----|\n"
                                "song = AABCA\n");
  const std::string score = path("song.musicxml");
  ASSERT_EQ(cli({"export", doc, "-o", score}).status, 0);
  const std::vector<Hit> played = songHits(readFile(doc));
  ASSERT_EQ(played.size(), 68U);

  const CliRun in = cli({"import", score});
  ASSERT_EQ(in.status, 0) << in.err;
  EXPECT_EQ(in.err, "");
  EXPECT_TRUE(checksClean(in.out)) << in.out;
  EXPECT_EQ(songHits(in.out), played) << in.out;
  EXPECT_NE(in.out.find("meta title = Round trip\n"), std::string::npos);
  EXPECT_NE(in.out.find("song = AABCA\n"), std::string::npos) << in.out;
  EXPECT_NE(in.out.find("part = C tempo = 140 notes = 8\n"), std::string::npos) << in.out;

  const std::string mxl =
      write("song.mxl", zipOf({{"META-INF/container.xml",
                                "<?xml version=\"1.0\"?><container><rootfiles><rootfile "
                                "full-path=\"score/song.xml\"/></rootfiles></container>"},
                               {"score/song.xml", readFile(score)}}));
  const CliRun packed = cli({"import", mxl});
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.out, in.out);
}

std::string scoreOf(const std::string& partList, const std::string& measures) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">\n"
         "<part-list>" +
         partList + "</part-list>\n" + measures + "</score-partwise>\n";
}

const std::string kDrumPart =
    "<score-part id=\"P1\"><part-name>Drums</part-name>"
    "<score-instrument id=\"I36\"><instrument-name>Bass Drum 1</instrument-name></score-instrument>"
    "<score-instrument id=\"I38\"><instrument-name>Acoustic "
    "Snare</instrument-name></score-instrument>"
    "<score-instrument id=\"I42\"><instrument-name>Closed "
    "Hi-Hat</instrument-name></score-instrument>"
    "<midi-instrument id=\"I36\"><midi-unpitched>37</midi-unpitched></midi-instrument>"
    "<midi-instrument id=\"I38\"><midi-unpitched>39</midi-unpitched></midi-instrument>"
    "<midi-instrument id=\"I42\"><midi-unpitched>43</midi-unpitched></midi-instrument>"
    "</score-part>";

std::string note(const std::string& instrument, int duration, const std::string& extra = "") {
  return "<note>" + extra.substr(0, extra.find('|')) +
         "<unpitched><display-step>C</display-step><display-octave>5</display-octave></unpitched>"
         "<duration>" +
         std::to_string(duration) + "</duration><instrument id=\"" + instrument + "\"/>" +
         (extra.find('|') == std::string::npos ? "" : extra.substr(extra.find('|') + 1)) +
         "</note>";
}

// Repeats with endings played out, ties, grace notes, rolls and a second voice after a
// backup, read from a score written by hand; a score of pitched parts only is refused.
TEST_F(ForeignFormats, MusicXmlRepeatsTiesGraceNotesAndRollsAreReadAsPlayed) {
  const std::string kick4 = note("I36", 4) + note("I36", 4) + note("I36", 4) + note("I36", 4);
  const std::string measures =
      "<part id=\"P1\">"
      "<measure number=\"1\"><attributes><divisions>4</divisions><time><beats>4</beats>"
      "<beat-type>4</beat-type></time></attributes>"
      "<direction><sound tempo=\"90\"/></direction>" +
      note("I42", 4) + note("I42", 4, "|<tie type=\"start\"/>") +
      note("I42", 4, "|<tie type=\"stop\"/>") + note("I42", 4) +
      "<backup><duration>16</duration></backup>" + kick4 +
      "</measure>"
      "<measure number=\"2\"><barline location=\"left\"><repeat direction=\"forward\"/></barline>" +
      note("I38", 4, "<grace/>|") + note("I38", 4) +
      note("I38", 12,
           "|<notations><ornaments><tremolo "
           "type=\"single\">2</tremolo></ornaments>"
           "</notations>") +
      "</measure>"
      "<measure number=\"3\"><barline location=\"left\"><ending number=\"1\" type=\"start\"/>"
      "</barline>" +
      kick4 +
      "<barline location=\"right\"><ending number=\"1\" type=\"stop\"/><repeat "
      "direction=\"backward\"/></barline></measure>"
      "<measure number=\"4\"><barline location=\"left\"><ending number=\"2\" type=\"start\"/>"
      "</barline>" +
      note("I38", 16, "|<notations><articulations><accent/></articulations></notations>") +
      "<barline location=\"right\"><ending number=\"2\" type=\"discontinue\"/></barline></measure>"
      "</part>";
  const std::string file = write("hand.musicxml", scoreOf(kDrumPart, measures));
  const CliRun r = cli({"import", file});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = readFile(file);
  const std::size_t grace = text.find("<note><grace/>");
  const std::size_t lineStart = text.rfind('\n', grace) + 1;
  EXPECT_EQ(r.err, file + ":" +
                       std::to_string(std::count(text.begin(), text.begin() + grace, '\n') + 1) +
                       ":" + std::to_string(grace - lineStart + 1) +
                       ": warning: a grace note (a flam or a drag) left out: the main note "
                       "plays alone\n");
  EXPECT_TRUE(checksClean(r.out)) << r.out;
  // Measure 1: hats on 1, 2 (tied over 3) and 4, kicks on every beat; 2: snare on 1, a
  // roll of sixteenths over 2-4; 3: kicks (first ending); 2 again; 4: an accent.
  std::vector<Hit> expected;
  auto add = [&](double at, V v, int level) {
    expected.emplace_back(millionths(at), static_cast<int>(v), level);
  };
  for (double at : {0.0, 1.0, 3.0}) add(at / 4, V::ClosedHat, 5);
  for (int b = 0; b < 4; ++b) add(b / 4.0, V::BassDrum, 5);
  for (double bar : {1.0, 3.0}) {
    add(bar, V::SnareDrum, 5);
    for (int s = 4; s < 16; ++s) add(bar + s / 16.0, V::SnareDrum, 5);
  }
  for (int b = 0; b < 4; ++b) add(2 + b / 4.0, V::BassDrum, 5);
  add(4, V::SnareDrum, 7);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(songHits(r.out), expected) << r.out;
  EXPECT_NE(r.out.find("song = ABCBD\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tempo = 90 "), std::string::npos) << r.out;

  // Simile bars as notation programs write them, a whole rest under a measure repeat,
  // play the bar before them; the bar after the repeat stops is its own.
  const std::string rest = "<note><rest measure=\"yes\"/><duration>16</duration></note>";
  const std::string simile =
      "<part id=\"P1\"><measure number=\"1\"><attributes><divisions>4</divisions></attributes>" +
      kick4 +
      "</measure><measure number=\"2\"><attributes><measure-style><measure-repeat "
      "type=\"start\">1</measure-repeat></measure-style></attributes>" +
      rest + "</measure><measure number=\"3\">" + rest +
      "</measure><measure number=\"4\"><attributes><measure-style><measure-repeat "
      "type=\"stop\"/></measure-style></attributes>" +
      note("I38", 16) + "</measure><measure number=\"5\">" + rest + "</measure></part>";
  const CliRun similes = cli({"import", write("simile.musicxml", scoreOf(kDrumPart, simile))});
  ASSERT_EQ(similes.status, 0) << similes.err;
  EXPECT_NE(similes.out.find("song = AAABC\n"), std::string::npos) << similes.out;

  // A time signature no section line can say (9/9) leaves the bars to give the metre.
  const std::string nineNine =
      "<part id=\"P1\"><measure number=\"1\"><attributes><divisions>4</divisions><time>"
      "<beats>9</beats><beat-type>9</beat-type></time></attributes>" +
      kick4 + "</measure></part>";
  const CliRun odd = cli({"import", write("nine.musicxml", scoreOf(kDrumPart, nineNine))});
  ASSERT_EQ(odd.status, 0) << odd.err;
  EXPECT_TRUE(checksClean(odd.out)) << odd.out;

  const std::string pitched = write(
      "piano.musicxml",
      scoreOf("<score-part id=\"P1\"><part-name>Piano</part-name></score-part>",
              "<part id=\"P1\"><measure number=\"1\"><note><pitch><step>C</step><octave>4</octave>"
              "</pitch><duration>4</duration></note></measure></part>"));
  const std::string before = readFile(pitched);
  const CliRun bad = cli({"import", pitched, "-o", path("piano.tab")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("warning: part \"Piano\" has no unpitched notes: left out\n"),
            std::string::npos)
      << bad.err;
  EXPECT_NE(bad.err.find(": no drum part: the score has pitched parts only\n"), std::string::npos)
      << bad.err;
  EXPECT_FALSE(fs::exists(path("piano.tab")));
  EXPECT_EQ(readFile(pitched), before);
  const CliRun broken = cli({"import", write("bad.mxl", "PK\x03\x04 not a zip")});
  EXPECT_EQ(broken.status, 2);
  EXPECT_NE(broken.err.find("not a ZIP archive"), std::string::npos) << broken.err;
}

// Every hit the document plays: (time in ms, voice, level).
std::vector<Hit> timedHits(const std::string& document) {
  TablatureCompiler compiler;
  CompileRequest request;
  request.sampleProblem = nullptr;
  request.diagnose = false;
  const CompiledDocument compiled = compileDocument(compiler, joinLinesWithCrLf(document), request);
  std::vector<Hit> hits;
  Timeline::Cursor cursor = compiled.song->begin();
  TimelineTick tick;
  while (cursor.next(&tick)) {
    if (tick.data == nullptr) break;
    const TimelinePart& part = compiled.song->parts()[static_cast<std::size_t>(tick.part)];
    for (const TimelineItem& item : part.itemsOf(*tick.data)) {
      if (!item.isRest() && item.voice.kind == ItemVoice::Kind::Drum) {
        hits.emplace_back(tick.timeMs, item.voice.drum, item.level);
      }
    }
  }
  std::sort(hits.begin(), hits.end());
  return hits;
}

// Scores MuseScore 3 wrote from MIDI drum files play hit for hit what the MIDI files
// play, at the same times and levels.
TEST_F(ForeignFormats, MuseScoreScoresOfMidiFilesPlayTheMidiFilesHits) {
  const std::string dir = std::string(PW_TEST_DATA_DIR) + "/musescore/";
  std::size_t total = 0;
  for (const char* name : {"basic-rock", "funk-sixteenths", "shuffle-triplets", "tuplets"}) {
    SCOPED_TRACE(name);
    const CliRun score = cli({"import", dir + name + ".mxl"});
    ASSERT_EQ(score.status, 0) << score.err;
    EXPECT_EQ(score.err, "");
    EXPECT_TRUE(checksClean(score.out)) << score.out;
    const CliRun midi = cli({"import", dir + name + ".mid"});
    ASSERT_EQ(midi.status, 0) << midi.err;
    const std::vector<Hit> hits = timedHits(score.out);
    EXPECT_EQ(hits, timedHits(midi.out)) << score.out << midi.out;
    total += hits.size();
  }
  EXPECT_EQ(total, 219U);
}

}  // namespace
}  // namespace pulsewright
