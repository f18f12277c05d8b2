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
                       ":1:64: warning: a flam is played as a plain snare hit\n" + file +
                       ":1:68: warning: a cross-stick is played as a plain snare hit\n" + file +
                       ":1:72: warning: the kick lane is 2 steps shorter than its " +
                       "measures: filled with rests\n" + file +
                       ":1:83: warning: swing is not kept: the steps play evenly\n" + file +
                       ":1:92: warning: stickings are not kept\n");
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

}  // namespace
}  // namespace pulsewright
