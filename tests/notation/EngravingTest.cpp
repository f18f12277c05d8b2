#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "notation/Engraving.h"
#include "notation/Score.h"
#include "padmap/PadMap.h"
#include "tests/support/CliRun.h"
#include "tests/support/TestFiles.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;
using test::cli;

// A4 portrait inside half-inch margins, as printed.
constexpr double kWidth = kPageSpacesAcross;
constexpr double kHeight = (841.89 - 72.0) / ((595.276 - 72.0) / kPageSpacesAcross);

Score scoreOf(const std::string& text) {
  return scoreOfDocument(joinLinesWithCrLf(text), defaultPadMap());
}

// A groove with everything that can collide: accents and ghost notes under tuplets, ride
// and bell at once, toms with the kick, tempo changes and a repeat.
std::string busyDocument() {
  return "meta title = Busy\nk = kick\ns = snare\nh = closed hat\nr = ride\nb = bell\n"
         "t = tom 1\nf = floor tom\np = pedal hat\n"
         "part = I tempo = 96 notes = 16\n"
         "h |X-x-X-x-X-x-X-x-|\ns |----X--2-2--X---|\nk |X-----x---X-----|\n"
         "part = F tempo = 140 notes = 4\n"
         "t |[XXX][xxx][XXX]-|\nf |[--X][--x][--X]x|\nk |[x--][---][x--]-|\n"
         "part = R tempo = 140 notes = 8\n"
         "r |x-x-x-x-|\nb |x---x---|\ns |--X---X-|\np |-x-x-x-x|\nk |x---x-x-|\n"
         "song = IFRRRIFR\n";
}

// Every expression mark, swung, with a sticking line: graces, rolls and marks to keep apart.
std::string expressionDocument() {
  return "k = kick\ns = snare\nh = closed hat\nr = ride\ny = crash 1\nt = tom 1\n"
         "part = A tempo = 100 notes = 8 swing = 62\n"
         "h |x-h-x-X-|\nr |b-e-----|\ny |x---!---|\ns |f-D-zcr-|\nt |---d--F-|\n"
         "k |x---x---|\nst |R-L-RLR-|\n"
         "part = B tempo = 100 notes = 16\n"
         "s |F-f-ffD-dZz-Cr-R|\nk |x-------x-------|\nst |RLRLRRLLRLRLBRLR|\n"
         "song = AB\n";
}

struct Rect {
  double l, t, r, b;
  std::string what;
};

bool overlap(const Rect& a, const Rect& b) {
  const double e = 0.05;  // touching is not overlapping
  return a.l < b.r - e && b.l < a.r - e && a.t < b.b - e && b.t < a.b - e;
}

// Everything on a page that must stay apart, as boxes.
void boxes(const Engraving& page, std::vector<Rect>* heads, std::vector<Rect>* marks,
           std::vector<Rect>* rests, std::vector<Rect>* words, std::vector<Rect>* lines) {
  for (const EngravedHead& h : page.heads) {
    const double half = h.parentheses ? 1.3 : h.grace ? 0.36 : 0.6;
    const double tall = h.grace ? 0.3 : 0.5;
    heads->push_back({h.x - half, h.y - tall, h.x + half, h.y + tall, "head"});
    if (h.accent)
      marks->push_back({h.x - 0.6, h.accentY - 0.35, h.x + 0.6, h.accentY + 0.35, "accent"});
    if (h.articulation == Articulation::HalfOpen || h.articulation == Articulation::Choke ||
        h.articulation == Articulation::Edge)
      marks->push_back({h.x - 0.45, h.markY - 0.45, h.x + 0.45, h.markY + 0.45, "mark"});
  }
  for (const EngravedRest& r : page.rests) {
    if (r.typeLog2 >= 1) {
      rests->push_back({r.x - 0.55, r.y - 1.0, r.x + 0.55, r.y, "rest"});
    } else {
      rests->push_back({r.x - 0.55, r.y - 1.4, r.x + 0.55, r.y + 1.4, "rest"});
    }
  }
  for (const EngravedText& t : page.texts) {
    if (t.kind == TextKind::TimeSignature) continue;  // on the staff by design
    const Box b = textBox(t);
    words->push_back({b.left, b.top, b.right, b.bottom, "text " + t.text});
  }
  for (const EngravedStroke& s : page.strokes) {
    if (s.kind != StrokeKind::Beam && s.kind != StrokeKind::Stem &&
        s.kind != StrokeKind::TupletBracket && s.kind != StrokeKind::SimileSlash &&
        s.kind != StrokeKind::GraceStem && s.kind != StrokeKind::BuzzRoll)
      continue;
    const double w = s.width / 2;
    lines->push_back({std::min(s.x1, s.x2) - w, std::min(s.y1, s.y2) - w, std::max(s.x1, s.x2) + w,
                      std::max(s.y1, s.y2) + w, "line"});
  }
}

// Pages of the examples and of a busy groove: no words over anything, no accent over a
// head, rest or line, no rest over a head, no two heads on each other, nothing off the
// page.
TEST(Engraving, PagesHaveNoCollisions) {
  std::vector<std::string> documents{busyDocument(), expressionDocument()};
  for (const char* folder : {"/examples", "/tests/data"}) {
    for (const auto& entry : fs::directory_iterator(std::string(PW_SOURCE_DIR) + folder)) {
      if (entry.path().extension() == ".tab") documents.push_back(readFile(entry.path()));
    }
  }
  for (const std::string& document : documents) {
    const std::vector<Engraving> pages = engravePages(scoreOf(document), kWidth, kHeight);
    ASSERT_FALSE(pages.empty());
    for (const Engraving& page : pages) {
      std::vector<Rect> heads, marks, rests, words, lines;
      boxes(page, &heads, &marks, &rests, &words, &lines);
      auto apart = [&](const std::vector<Rect>& a, const std::vector<Rect>& b, bool same) {
        for (std::size_t i = 0; i < a.size(); ++i) {
          for (std::size_t j = same ? i + 1 : 0; j < b.size(); ++j) {
            EXPECT_FALSE(overlap(a[i], b[j]))
                << a[i].what << " at " << a[i].l << "," << a[i].t << " and " << b[j].what << " at "
                << b[j].l << "," << b[j].t << "\n"
                << document.substr(0, 60);
          }
        }
      };
      apart(words, words, true);
      for (const auto* other : {&heads, &marks, &rests, &lines}) apart(words, *other, false);
      apart(marks, heads, false);
      apart(marks, rests, false);
      apart(marks, lines, false);
      apart(rests, heads, false);
      apart(heads, heads, true);
      for (const auto* all : {&heads, &marks, &rests, &words, &lines}) {
        for (const Rect& r : *all) {
          EXPECT_GE(r.l, 0.0) << r.what;
          EXPECT_LE(r.r, kWidth) << r.what;
          EXPECT_GE(r.t, 0.0) << r.what;
          EXPECT_LE(r.b, kHeight) << r.what;
        }
      }
    }
  }
}

// Systems of eighths hold at least four bars and reach the page's right margin; a bar of
// 143 sixteenths is carried over several systems, every note on the staff.
// The expression marks as the staff shows them: small graces before their notes, the
// roll's "z" on its stem, the heads of cross-stick, rimshot and bell, the marks over
// half-open, edge and choke, the sticking under the staff and the swing over it.
TEST(Engraving, ShowsExpressionMarks) {
  const Engraving e = engrave(scoreOf(expressionDocument()), kWidth);
  std::size_t graces = 0, rolls = 0;
  std::map<Articulation, std::vector<const EngravedHead*>> marked;
  for (const EngravedHead& h : e.heads) {
    if (h.grace) {
      ++graces;
    } else {
      marked[h.articulation].push_back(&h);
    }
  }
  // Part A: a flam and a drag on the snare, a drag and a flam on the tom; part B: 4 flams,
  // 2 drags.
  EXPECT_EQ(graces, 1u + 2u + 2u + 1u + 4u + 4u);
  for (const EngravedStroke& st : e.strokes) rolls += st.kind == StrokeKind::BuzzRoll;
  EXPECT_EQ(rolls, 3u * 3u);  // a "z" of three strokes per roll
  ASSERT_EQ(marked[Articulation::CrossStick].size(), 2u);
  EXPECT_EQ(marked[Articulation::CrossStick][0]->head, Notehead::X);
  EXPECT_EQ(marked[Articulation::Rimshot].front()->head, Notehead::Slashed);
  EXPECT_EQ(marked[Articulation::Bell].front()->head, Notehead::Diamond);
  for (const Articulation a : {Articulation::HalfOpen, Articulation::Edge, Articulation::Choke}) {
    ASSERT_EQ(marked[a].size(), 1u);
    EXPECT_LT(marked[a][0]->markY, marked[a][0]->y - 1.0);  // over the head, past its stem
  }
  // Each grace stands left of its note, on its line.
  for (const EngravedHead& h : e.heads) {
    if (!h.grace) continue;
    const bool hasNote = std::any_of(e.heads.begin(), e.heads.end(), [&](const EngravedHead& n) {
      return !n.grace && n.y == h.y && n.x > h.x && n.x - h.x < 3.0;
    });
    EXPECT_TRUE(hasNote) << h.x << "," << h.y;
  }
  std::string sticking, swing;
  double lowestHead = 0;
  for (const EngravedHead& h : e.heads) {
    if (h.y < e.systems.front().bottom) lowestHead = std::max(lowestHead, h.y);
  }
  for (const EngravedText& t : e.texts) {
    if (t.kind == TextKind::Sticking) {
      sticking += t.text;
      if (t.y < e.systems.front().bottom) {
        EXPECT_GT(textBox(t).top, lowestHead);
      }
    }
    if (t.kind == TextKind::Swing) swing += t.text + ";";
  }
  EXPECT_EQ(sticking,
            "RLRLR"
            "RLRLRRLLRLRLBRLR");
  EXPECT_EQ(swing, "Swing 62:38;Straight;");
}

TEST(Engraving, SystemsFillThePageAndCarryADenseBar) {
  std::string rock =
      "k = kick\ns = snare\nh = closed hat\npart = A tempo = 120 notes = 8\n"
      "h |x-x-x-x-|\ns |--x---x-|\nk |x---x---|\nsong = ";
  rock += std::string(16, 'A') + "\n";
  // Sixteen plays of one bar: written once between repeat signs.
  const Score once = scoreOf(rock);
  ASSERT_EQ(once.measures.size(), 1u);
  EXPECT_EQ(once.measures[0].repeatTimes, 16);
  EXPECT_EQ(engrave(once, kWidth).systems.size(), 1u);
  // Two parts in turn: sixteen bars.
  std::string turns = rock.substr(0, rock.find("song"));
  turns += "part = B tempo = 120 notes = 8\nh |x-x-x-x-|\ns |--x---xx|\nk |x---x---|\nsong = ";
  for (int i = 0; i < 8; ++i) turns += "AB";
  const Engraving full = engrave(scoreOf(turns + "\n"), kWidth);
  std::vector<std::set<std::size_t>> measures(full.systems.size());
  std::vector<double> ends(full.systems.size(), 0);
  for (std::size_t s = 0; s < full.systems.size(); ++s) {
    const std::size_t to =
        s + 1 < full.systems.size() ? full.systems[s + 1].columns : full.columns.size();
    for (std::size_t c = full.systems[s].columns; c < to; ++c) {
      measures[s].insert(full.columns[c].measure);
    }
    const std::size_t strokesTo =
        s + 1 < full.systems.size() ? full.systems[s + 1].strokes : full.strokes.size();
    for (std::size_t k = full.systems[s].strokes; k < strokesTo; ++k) {
      if (full.strokes[k].kind == StrokeKind::StaffLine)
        ends[s] = std::max(ends[s], full.strokes[k].x2);
    }
  }
  ASSERT_GE(full.systems.size(), 3u);
  for (std::size_t s = 0; s + 1 < full.systems.size(); ++s) {
    EXPECT_GE(measures[s].size(), 4u) << s;
    EXPECT_NEAR(ends[s], kWidth - 1.0, 0.3) << s;
  }

  const Engraving dense = engrave(scoreOf("h = closed hat\npart = A tempo = 120 notes = 16\nh |" +
                                          std::string(143, 'x') + "|\nsong = A\n"),
                                  kWidth);
  EXPECT_GE(dense.systems.size(), 3u);
  EXPECT_EQ(dense.heads.size(), 143u);
  for (const EngravedHead& h : dense.heads) {
    EXPECT_LT(h.x + 0.6, kWidth - 1.0);
    EXPECT_GT(h.x, 3.0);
  }
}

// A one-bar part played three times inside a longer song: the bar, then two bars of the
// one-bar repeat sign that still stand for their song positions (the playing mark goes
// through them) and draw no notes; a two-bar part played twice stays between repeat bars.
TEST(Engraving, OneBarRepeatsAreSimileMarks) {
  const Score score = scoreOf(
      "k = kick\ns = snare\nh = closed hat\npart = A tempo = 120 notes = 8\n"
      "h |x-x-x-x-|\nk |x---x---|\npart = V tempo = 120 notes = 8\ns |--x---x-|xxxxxxxx|\n"
      "song = AAAVV\n");
  ASSERT_EQ(score.measures.size(), 5u);
  for (std::size_t m = 0; m < 3; ++m) {
    EXPECT_EQ(score.measures[m].simile, m > 0) << m;
    EXPECT_EQ(score.measures[m].songPosition, static_cast<int>(m) + 1) << m;
    EXPECT_EQ(score.measures[m].partName, m == 0 ? "A" : "") << m;
  }
  EXPECT_TRUE(score.measures[3].repeatStart);
  EXPECT_EQ(score.measures[4].repeatTimes, 2);

  const Engraving e = engrave(score, kWidth);
  std::vector<const EngravedStroke*> slashes;
  std::size_t dots = 0;
  for (const EngravedStroke& s : e.strokes) {
    if (s.kind == StrokeKind::SimileSlash) slashes.push_back(&s);
    if (s.kind == StrokeKind::RepeatDot) ++dots;
  }
  ASSERT_EQ(slashes.size(), 2u);
  EXPECT_EQ(dots, 2 * 2 + 2 * 2);  // each sign's two, and the repeat bar lines' four
  std::set<int> positions;
  for (const EngravedColumn& c : e.columns) {
    if (c.measure != 1 && c.measure != 2) continue;
    positions.insert(c.songPosition);
    // The sign rises across the middle of the staff inside its bar.
    const EngravedStroke& slash = *slashes[c.measure - 1];
    const double middle = (e.systemTops[0] + 2.0);
    EXPECT_LT(slash.y2, middle);
    EXPECT_GT(slash.y1, middle);
  }
  EXPECT_EQ(positions, (std::set<int>{2, 3}));
  for (const EngravedHead& h : e.heads) {
    EXPECT_NE(e.columns[h.column].measure, 1u);
    EXPECT_NE(e.columns[h.column].measure, 2u);
  }
  EXPECT_EQ(e.heads.size(), 4u + 2u + 2u + 8u);  // A's hats and kicks once, V's snare
}

std::string run(const std::string& command) {
  std::string out;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  ::pclose(pipe);
  return out;
}

// export -o OUT.pdf: the engraved score on A4 (or --paper letter) pages, read back by an
// independent PDF reader: the page count and size, the title, part names and page
// numbers; a 32-bar song takes at most two pages.
TEST(Engraving, ExportsAPdfScore) {
  std::string pattern = (fs::temp_directory_path() / "pw-pdf-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  const fs::path doc = dir / "busy.tab";
  std::string song = busyDocument();
  // A two-bar part played twice: between repeat bars with its count.
  song.replace(song.find("song = "), std::string::npos,
               "part = V tempo = 140 notes = 8\nr |x-x-x-x-|x-x-xxxx|\nsong = ");
  song += "VV";
  for (int bar = 4; bar < 32; ++bar) song += "IFR"[(bar - 4) % 3];
  std::ofstream(doc) << song << "\n";
  const fs::path a4 = dir / "busy.pdf";
  const fs::path letter = dir / "letter.pdf";
  const test::CliRun r1 = cli({"export", doc.string(), "-o", a4.string()});
  ASSERT_EQ(r1.status, 0) << r1.err;
  const test::CliRun r2 = cli({"export", doc.string(), "-o", letter.string(), "--paper", "letter"});
  ASSERT_EQ(r2.status, 0) << r2.err;
  const std::string info = run("pdfinfo '" + a4.string() + "'");
  EXPECT_NE(info.find("595.276 x 841.89 pts (A4)"), std::string::npos) << info;
  const std::string pages = info.substr(info.find("Pages:") + 6, 20);
  const int count = std::stoi(pages);
  EXPECT_GE(count, 1);
  EXPECT_LE(count, 2);
  EXPECT_NE(run("pdfinfo '" + letter.string() + "'").find("612 x 792 pts (letter)"),
            std::string::npos);
  const std::string text = run("pdftotext '" + a4.string() + "' -");
  for (const char* word : {"Busy",
                           "\xC3\x97"
                           "2",
                           "= 96", "= 140", "1"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pulsewright
