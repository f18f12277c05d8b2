#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tablature/GrooveEdit.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {
namespace {

// What a compiled song plays, step by step: each item's voice and mark, in line order.
// Source positions are left out, as edits move lines.
struct ItemSig {
  ItemVoice voice;
  char mark = '-';
  int line = 0;  // to place items an edit adds; not compared
  // A rest keeps no voice.
  bool operator==(const ItemSig& o) const {
    return mark == o.mark && (mark == '-' || voice == o.voice);
  }
};
struct StepSig {
  int duration = 0;
  std::vector<ItemSig> items;
  bool operator==(const StepSig&) const = default;
};
struct PartSig {
  std::string name;
  std::vector<StepSig> steps;
  bool operator==(const PartSig&) const = default;
};
using SongSig = std::vector<PartSig>;

// "A: 125 x- | 125 -X |", for a failure to show.
void PrintTo(const PartSig& part, std::ostream* os) {
  *os << "\n" << part.name << ":";
  for (const StepSig& s : part.steps) {
    *os << " " << s.duration << " ";
    for (const ItemSig& i : s.items)
      *os << i.mark << static_cast<int>(i.voice.kind) << static_cast<int>(i.voice.drum);
    *os << " |";
  }
}

SongSig signatureOf(const Timeline& song) {
  SongSig sig;
  for (const TimelinePart& part : song.parts()) {
    PartSig& p = sig.emplace_back();
    p.name = part.name;
    for (const TimelineStep& step : part.steps) {
      StepSig& s = p.steps.emplace_back();
      s.duration = step.duration;
      for (const TimelineItem item : part.itemsOf(step))
        s.items.push_back({item.voice, item.mark, item.source.line});
    }
  }
  return sig;
}

// An item of `line` at step `s`, in line order.
void addItem(StepSig& s, const ItemSig& item) {
  const auto at = std::find_if(s.items.begin(), s.items.end(),
                               [&](const ItemSig& i) { return i.line > item.line; });
  s.items.insert(at, item);
}

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  // A document of one to three parts, each part's lines cut from one barred and
  // bracketed shape, with remarks, lines that are almost grid or section lines, LF or
  // CR LF line ends (or both), indents and trailing blanks.
  std::string document() {
    const std::string eol = pick(3) == 0 ? "\n" : "\r\n";
    const bool mixed = pick(6) == 0;
    std::string text;
    auto add = [&](const std::string& line) {
      text += line;
      text += mixed && pick(2) == 0 ? "\n" : eol;
    };
    add("k = kick drum");
    add("s = snare");
    add("h = closed hi-hat");
    if (pick(2) == 0) add("t = tom 1");
    const std::vector<std::string> symbols = {"k", "s", "h"};
    const int parts = 1 + pick(3);
    std::string song;
    for (int p = 0; p < parts; ++p) {
      const std::string name(1, static_cast<char>('A' + p));
      song += name;
      add("part = " + name + " tempo = " + std::to_string(80 + pick(80)) +
          " notes = " + (pick(2) == 0 ? "8" : "16"));
      std::string shape;
      const int bars = 1 + pick(3);
      for (int b = 0; b < bars; ++b) {
        const int steps = 2 + pick(5);
        const int bracketAt = pick(3) == 0 ? pick(steps) : -1;
        for (int s = 0; s < steps; ++s) {
          if (s == bracketAt) {
            shape += "[" + std::string(static_cast<std::size_t>(2 + pick(2)), '-') + "]";
          } else {
            shape += '-';
          }
        }
        shape += '|';
      }
      const int lines = 1 + pick(3);
      for (int l = 0; l < lines; ++l) {
        add(std::string(pick(4) == 0 ? "  " : "") + symbols[pick(3)] + (pick(3) == 0 ? "" : " ") +
            "|" + body(shape) + (pick(5) == 0 ? "  " : ""));
        if (pick(4) == 0) add(pick(2) == 0 ? "; a remark" : "");
        if (pick(8) == 0) add("h |x-x- x|");  // a blank spoils it: no grid line
      }
      if (pick(6) == 0) add("part = Q tempo = 90");  // no note size: no section line
    }
    text += "song = " + song;
    if (pick(2) == 0) text += eol;
    return text;
  }

  char mark() {
    static constexpr std::string_view kMarks = "-x-X-o-O-5-9-0";
    return kMarks[static_cast<std::size_t>(pick(static_cast<int>(kMarks.size())))];
  }

 private:
  // The shape whole, or cut after a step outside brackets (the grid's last character,
  // which is never read, is then a mark) or at a bar line; marks at random.
  std::string body(const std::string& shape) {
    std::string text = shape;
    if (pick(2) == 0) {
      std::vector<std::size_t> cuts;
      int depth = 0;
      for (std::size_t c = 0; c < shape.size(); ++c) {
        if (depth == 0 && (c == 0 || shape[c - 1] == '-' || shape[c] == '|')) cuts.push_back(c);
        depth += shape[c] == '[' ? 1 : shape[c] == ']' ? -1 : 0;
      }
      const std::size_t c = cuts[static_cast<std::size_t>(pick(static_cast<int>(cuts.size())))];
      text = shape.substr(0, c) + (shape[c] == '|' ? '|' : '-');
    }
    for (char& c : text) {
      if (c == '-') c = mark();
    }
    return text;
  }

  std::mt19937 rng_;
};

// Whether the edit puts a new line before the part's first grid line (its items then
// come first in each step) rather than after its last.
bool newLineGoesFirst(const GrooveDocument& doc, const GrooveEdit& edit, int part) {
  const GridLine& first = doc.model().lines()[doc.model().linesOfPart(part).front()];
  return edit.changes.front().offset <= doc.offsetOf(first.line, 0);
}

ItemVoice drum(DrumVoice v) {
  return ItemVoice{ItemVoice::Kind::Drum, static_cast<std::uint8_t>(index(v))};
}

TEST(GrooveEdit, RandomEditsCompileToTheSongTheyMeanAndChangeNoOtherByte) {
  Generator gen(20261210);
  int made = 0;
  int refused = 0;
  int attempts = 0;
  const std::vector<std::string> voices = {"k",          "s",     "h",        "t",
                                           "Snare Drum", "claps", "Cow Bell", "ride"};
  while (made < 1000) {
    ASSERT_LT(++attempts, 4000) << made << " edits made, " << refused << " refused";
    std::string text = gen.document();
    GrooveDocument doc(text);
    for (int e = 0; e < 4 && made < 1000; ++e) {
      const SongSig before = signatureOf(doc.song());
      const int partCount = static_cast<int>(before.size());
      if (partCount < 2) break;
      const int part = 1 + gen.pick(partCount - 1);
      const PartSig& old = before[static_cast<std::size_t>(part)];
      const TimelinePart& record = doc.song().parts()[static_cast<std::size_t>(part)];
      const int op = gen.pick(10);
      SongSig want = before;
      PartSig& wanted = want[static_cast<std::size_t>(part)];
      GrooveEdit edit;
      std::string what;
      std::function<void(const GrooveDocument&)> lengthened;
      if (op <= 4) {
        if (old.steps.empty()) continue;
        const std::string voice = voices[static_cast<std::size_t>(gen.pick(8))];
        const auto step = static_cast<std::uint32_t>(gen.pick(static_cast<int>(old.steps.size())));
        const char mark = op == 4 ? '-' : gen.mark();
        what = "set " + voice + " step " + std::to_string(step) + " to " + mark;
        edit = doc.setStep(part, voice, step, mark);
        if (!edit.ok()) {
          ++refused;
          continue;
        }
        const std::vector<std::size_t> lines = doc.linesOfVoice(part, voice);
        const GridModel& model = doc.model();
        const GridLine* reaching = nullptr;
        for (const std::size_t i : lines) {
          if (model.lines()[i].stepCount > step && reaching == nullptr)
            reaching = &model.lines()[i];
        }
        if (reaching != nullptr) {
          for (ItemSig& item : wanted.steps[step].items) {
            if (item.line == reaching->line) item = {reaching->voice, mark, item.line};
          }
        } else if (!lines.empty()) {
          if (mark != '-') {
            const GridLine* longest = &model.lines()[lines.front()];
            for (const std::size_t i : lines) {
              if (model.lines()[i].stepCount > longest->stepCount) longest = &model.lines()[i];
            }
            // Rests up to the step, and on to the end of a bracket it stands in.
            lengthened = [&wanted, line = longest->line, from = longest->stepCount,
                          v = longest->voice, step, mark](const GrooveDocument& after) {
              for (std::uint32_t s = from; s < after.model().lineAt(line)->stepCount; ++s)
                addItem(wanted.steps[s], {v, s == step ? mark : '-', line});
            };
          }
        } else if (mark != '-') {
          // A new line after the part's last, as long as its longest.
          std::uint32_t length = 0;
          for (const std::size_t i : model.linesOfPart(part))
            length = std::max(length, model.lines()[i].stepCount);
          ItemVoice v = drum(drumVoiceNamed(voice).value_or(DrumVoice::BassDrum));
          if (voice == "k") v = drum(DrumVoice::BassDrum);
          if (voice == "s") v = drum(DrumVoice::SnareDrum);
          if (voice == "h") v = drum(DrumVoice::ClosedHat);
          if (voice == "t") v = drum(DrumVoice::Tom1);
          const int line = newLineGoesFirst(doc, edit, part) ? 0 : 1 << 30;
          for (std::uint32_t s = 0; s < length; ++s)
            addItem(wanted.steps[s], {v, s == step ? mark : '-', line});
        }
      } else if (op <= 7) {
        if (record.bars.size() < 2) continue;
        const std::size_t bar =
            static_cast<std::size_t>(gen.pick(static_cast<int>(record.bars.size()) - 1));
        const auto first = static_cast<std::size_t>(record.bars[bar]);
        const auto next = static_cast<std::size_t>(record.bars[bar + 1]);
        std::vector<StepSig> block(old.steps.begin() + static_cast<std::ptrdiff_t>(first),
                                   old.steps.begin() + static_cast<std::ptrdiff_t>(next));
        auto at = [&](std::size_t s) {
          return wanted.steps.begin() + static_cast<std::ptrdiff_t>(s);
        };
        if (op == 5) {
          what = "insert bar " + std::to_string(bar);
          edit = doc.insertBar(part, bar);
          for (StepSig& s : block) {
            for (ItemSig& item : s.items) item.mark = '-';
          }
          wanted.steps.insert(at(first), block.begin(), block.end());
        } else if (op == 6) {
          what = "delete bar " + std::to_string(bar);
          edit = doc.deleteBar(part, bar);
          wanted.steps.erase(at(first), at(next));
        } else {
          what = "duplicate bar " + std::to_string(bar);
          edit = doc.duplicateBar(part, bar);
          wanted.steps.insert(at(next), block.begin(), block.end());
        }
        if (!edit.ok()) {
          ++refused;
          continue;
        }
      } else if (op == 8) {
        const std::string voice = voices[static_cast<std::size_t>(4 + gen.pick(4))];
        what = "add a line of " + voice;
        edit = doc.addVoiceLine(part, voice);
        if (!edit.ok()) {
          ++refused;
          continue;
        }
        std::uint32_t length = 0;
        for (const std::size_t i : doc.model().linesOfPart(part))
          length = std::max(length, doc.model().lines()[i].stepCount);
        const int line = newLineGoesFirst(doc, edit, part) ? 0 : 1 << 30;
        for (std::uint32_t s = 0; s < length; ++s)
          addItem(wanted.steps[s], {drum(*drumVoiceNamed(voice)), '-', line});
      } else {
        const std::string name = "N" + std::to_string(made);
        what = "copy part as " + name;
        edit = doc.duplicatePart(part, name);
        ASSERT_TRUE(edit.ok()) << edit.error << "\n" << doc.text();
        PartSig copy = old;
        copy.name = name;
        want.insert(want.begin() + part + 1, copy);
      }

      // Each change is as small as it can be: an insertion, a deletion, or one byte for
      // another; in text order, none overlapping.
      std::size_t end = 0;
      for (const TextChange& c : edit.changes) {
        ASSERT_GE(c.offset, end) << what;
        end = c.offset + c.length;
        ASSERT_LE(end, doc.text().size());
        EXPECT_TRUE(c.length == 0 || c.text.empty() ||
                    (c.length == 1 && c.text.size() == 1 && doc.text()[c.offset] != c.text[0]))
            << what;
      }
      const std::string beforeText = doc.text();
      doc.apply(edit);
      if (lengthened) lengthened(doc);
      // New lines end as the document's lines do.
      if (beforeText.find('\r') == std::string::npos) {
        EXPECT_EQ(doc.text().find('\r'), std::string::npos) << what;
      } else if (beforeText.find("\n") == std::string::npos ||
                 beforeText.find('\n') == beforeText.find("\r\n") + 1) {
        bool bareLf = false;
        for (std::size_t i = 0; i < doc.text().size(); ++i)
          bareLf |= doc.text()[i] == '\n' && (i == 0 || doc.text()[i - 1] != '\r');
        bool bareLfBefore = false;
        for (std::size_t i = 0; i < beforeText.size(); ++i)
          bareLfBefore |= beforeText[i] == '\n' && (i == 0 || beforeText[i - 1] != '\r');
        EXPECT_EQ(bareLf, bareLfBefore) << what;
      }
      ASSERT_EQ(signatureOf(doc.song()), want) << what << " in\n"
                                               << beforeText << "\ngave\n"
                                               << doc.text();
      ++made;
    }
  }
  // Most random edits can be made: the test exercises every kind.
  EXPECT_LT(refused, made / 2);
}

TEST(GrooveEdit, EditsTouchOnlyTheirOwnCharactersInADocumentThatDoesNotCompileCleanly) {
  const std::string text =
      "s = snare\nk = kick\npart = A tempo = 100 notes = 8\nk |x---|x-x-|\nq |--x-|----|\n"
      "h |x-x- x|\n\xFF\xFE junk\npart = B tempo = 120\nsong = AC\n";
  GrooveDocument doc(text);
  GrooveEdit set = doc.setStep(1, "k", 6, 'X');
  ASSERT_TRUE(set.ok()) << set.error;
  ASSERT_EQ(set.changes.size(), 1U);
  EXPECT_EQ(set.changes[0], (TextChange{text.find("x-x-|") + 2, 1, "X"}));
  // The bar goes into both grid lines, q's (which names nothing) too.
  const GrooveEdit dup = doc.duplicateBar(1, 0);
  ASSERT_TRUE(dup.ok()) << dup.error;
  doc.apply(dup);
  EXPECT_EQ(doc.text(),
            "s = snare\nk = kick\npart = A tempo = 100 notes = 8\nk |x---|x---|x-x-|\n"
            "q |--x-|--x-|----|\nh |x-x- x|\n\xFF\xFE junk\npart = B tempo = 120\nsong = AC\n");
  const GrooveEdit copy = doc.duplicatePart(1, "B");
  EXPECT_TRUE(copy.ok()) << copy.error;  // "part = B tempo = 120" is no section line
  EXPECT_FALSE(doc.duplicatePart(1, "A").ok());
  EXPECT_FALSE(doc.duplicatePart(1, "x = y").ok());
}

// The model holds each grid line as the compiler read it: where it stands, what it plays,
// its bar lines (a repeated one at one step is one), brackets and steps, across parts.
TEST(GridModel, RecordsEachGridLineAsTheCompilerReadIt) {
  const std::string text =
      "k = kick\r\nh |x-|\r\npart = A tempo = 120 notes = 8\r\n  k  |x-||[xo9]-|X  \r\n"
      "q |-x\r\npart = B tempo = 90 notes = 4\r\nw = wave a.wav pan 0\r\nw |[x-|-\r\n";
  TablatureCompiler compiler;
  compiler.compile(text, defaultPadMap(), nullptr);
  const GridModel& model = *compiler.song()->gridModel();
  ASSERT_EQ(model.lines().size(), 4U);
  const GridLine& above = model.lines()[0];
  EXPECT_EQ(above.part, 0);
  EXPECT_EQ(above.line, 2);
  EXPECT_EQ(above.offset, text.find("h |"));

  const GridLine& k = model.lines()[1];
  EXPECT_EQ(k.part, 1);
  EXPECT_EQ(k.line, 4);
  EXPECT_EQ(k.offset, text.find("  k  |"));
  EXPECT_EQ(k.length, 20U);
  EXPECT_EQ(k.symbol(model), "k");
  EXPECT_EQ(k.symbolColumn, 2U);
  EXPECT_TRUE(k.symbolDefined);
  EXPECT_EQ(k.voice, (ItemVoice{ItemVoice::Kind::Drum, 0}));
  EXPECT_EQ(model.body(k), "x-||[xo9]-|X");
  EXPECT_EQ(k.stepCount, 6U);  // the last character is never read
  EXPECT_EQ(k.bars(model), (std::vector<std::int32_t>{0, 2, 6}));
  EXPECT_EQ(k.barColumns(model), (std::vector<std::uint32_t>{5, 8, 9, 16}));
  ASSERT_EQ(k.brackets(model).size(), 1U);
  EXPECT_EQ(k.brackets(model)[0].open, 10U);
  EXPECT_EQ(k.brackets(model)[0].close, 14U);
  std::string marks;
  std::vector<std::uint32_t> columns;
  for (const GridStep& step : k.steps(model)) {
    marks += step.mark;
    columns.push_back(step.column);
    EXPECT_EQ(step.level, levelOfGridMark(step.mark));
    EXPECT_EQ(k.step(model, step.index).column, step.column);
  }
  EXPECT_EQ(marks, "x-xo9-");
  EXPECT_EQ(columns, (std::vector<std::uint32_t>{6, 7, 11, 12, 13, 15}));

  const GridLine& q = model.lines()[2];  // names nothing: plays the kick before it
  EXPECT_FALSE(q.symbolDefined);
  EXPECT_EQ(q.voice, k.voice);
  EXPECT_EQ(q.bars(model), (std::vector<std::int32_t>{0}));

  const GridLine& w = model.lines()[3];
  EXPECT_EQ(w.part, 2);
  EXPECT_EQ(w.voice.kind, ItemVoice::Kind::Sample);
  ASSERT_EQ(w.brackets(model).size(), 1U);
  EXPECT_EQ(w.brackets(model)[0].close, GridBracket::kNoClose);
  EXPECT_EQ(w.bars(model), (std::vector<std::int32_t>{0, 2}));

  ASSERT_EQ(model.sections().size(), 3U);
  EXPECT_EQ(model.sections()[1].line, 3);
  EXPECT_EQ(text.substr(model.sections()[2].offset + model.sections()[2].nameColumn,
                        model.sections()[2].nameLength),
            "B");
  ASSERT_EQ(model.bindings().size(), 1U);
  EXPECT_EQ(model.bindings()[0].symbol, "k");
  EXPECT_EQ(model.sampleSymbols(), std::vector<std::string>{"w"});
}

}  // namespace
}  // namespace pulsewright
