#include "tablature/GrooveEdit.h"

#include <algorithm>
#include <array>
#include <limits>
#include <set>

#include "tablature/LinePatterns.h"
#include "tablature/LineScan.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

// Symbols for voice lines the edits add, in pad order; a number follows where taken.
constexpr std::array<std::string_view, kVoiceCount> kNewSymbols = {
    "bd", "sd", "hh", "ph", "oh", "t1", "t2", "t3", "t4",
    "rd", "bl", "c1", "c2", "p1", "p2", "cl", "cb"};

char lowered(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowered(x) == lowered(y);
         });
}

bool isWordSymbol(std::string_view symbol) {
  return !symbol.empty() && std::all_of(symbol.begin(), symbol.end(), line_scan::isWord);
}

std::string quoted(std::string_view s) {
  return "'" + std::string(s) + "'";
}

// A mark a step may be set to: a hit, a level, a rest or an expression mark.
bool isStepMark(char c) {
  return isGridMark(c) || articulationOfMark(c).has_value();
}

// The grid with every mark a rest: brackets and bar lines stay.
std::string restsOf(std::string_view grid) {
  std::string rests(grid);
  for (char& c : rests) {
    if (isStepMark(c)) c = '-';
  }
  return rests;
}

}  // namespace

std::string applyChanges(std::string_view text, const std::vector<TextChange>& changes) {
  std::string out;
  std::size_t growth = 0;
  for (const TextChange& c : changes) growth += c.text.size();
  out.reserve(text.size() + growth);
  std::size_t at = 0;
  for (const TextChange& c : changes) {
    out.append(text.substr(at, c.offset - at));
    out.append(c.text);
    at = c.offset + c.length;
  }
  out.append(text.substr(at));
  return out;
}

std::optional<DrumVoice> drumVoiceNamed(std::string_view name) {
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (sameIgnoringCase(kVoiceCaptions[v], name)) return static_cast<DrumVoice>(v);
    std::string_view names = kVoiceNames[v];
    while (!names.empty()) {
      const std::size_t comma = names.find(", ");
      if (sameIgnoringCase(names.substr(0, comma), name)) return static_cast<DrumVoice>(v);
      names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 2);
    }
  }
  return std::nullopt;
}

GrooveDocument::GrooveDocument(std::string text, const PadMap& padMap)
    : text_(std::move(text)), padMap_(padMap), compiler_(std::make_unique<TablatureCompiler>()) {
  read();
}

GrooveDocument::GrooveDocument(std::shared_ptr<const Timeline> song, const PadMap& padMap)
    : text_(song->gridModel()->text()),
      padMap_(padMap),
      compiler_(std::make_unique<TablatureCompiler>()) {
  read();
  song_ = std::move(song);
}

GrooveDocument::~GrooveDocument() = default;

void GrooveDocument::read() {
  // CR LF, LF and a lone CR each end a line, as the compiled text has them.
  lineStarts_.assign(1, 0);
  const std::size_t n = text_.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text_[i];
    if (c == '\r') {
      if (i + 1 < n && text_[i + 1] == '\n') ++i;
      lineStarts_.push_back(i + 1);
    } else if (c == '\n') {
      lineStarts_.push_back(i + 1);
    }
  }
  // Compiled when next asked: the last of a run of edits is never compiled.
  song_.reset();
}

std::shared_ptr<const Timeline> GrooveDocument::compileText(const std::string& crlfText) const {
  if (compile_) return compile_(crlfText);
  compiler_->reset();
  compiler_->compile(crlfText, padMap_, nullptr);
  return compiler_->song();
}

void GrooveDocument::compiled() const {
  if (song_) return;
  song_ = compileText(joinLinesWithCrLf(text_));
}

const Timeline& GrooveDocument::song() const {
  compiled();
  return *song_;
}

const GridModel& GrooveDocument::model() const {
  compiled();
  return *song_->gridModel();
}

void GrooveDocument::apply(const GrooveEdit& edit) {
  if (!edit.ok() || edit.changes.empty()) return;
  text_ = applyChanges(text_, edit.changes);
  read();
}

std::string_view GrooveDocument::lineText(int line) const {
  const auto index = static_cast<std::size_t>(line - 1);
  const std::size_t start = lineStarts_[index];
  std::size_t end = index + 1 < lineStarts_.size() ? lineStarts_[index + 1] : text_.size();
  if (end > start && text_[end - 1] == '\n') --end;
  if (end > start && text_[end - 1] == '\r' && index + 1 < lineStarts_.size()) --end;
  return std::string_view(text_).substr(start, end - start);
}

std::string_view GrooveDocument::lineEnd(int line) const {
  const std::string_view textOfLine = lineText(line);
  const std::size_t end =
      static_cast<std::size_t>(textOfLine.data() - text_.data()) + textOfLine.size();
  const auto index = static_cast<std::size_t>(line);
  const std::size_t next = index < lineStarts_.size() ? lineStarts_[index] : text_.size();
  return std::string_view(text_).substr(end, next - end);
}

std::string_view GrooveDocument::usualLineEnd() const {
  for (int line = 1; line < static_cast<int>(lineStarts_.size()); ++line) {
    const std::string_view end = lineEnd(line);
    if (!end.empty()) return end;
  }
  return "\r\n";
}

std::size_t GrooveDocument::offsetOf(int line, std::size_t column) const {
  return lineStarts_[static_cast<std::size_t>(line - 1)] + column;
}

std::pair<int, std::size_t> GrooveDocument::positionOf(std::size_t offset) const {
  const auto after = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
  const auto line = static_cast<std::size_t>(after - lineStarts_.begin());
  return {static_cast<int>(line), offset - lineStarts_[line - 1]};
}

int GrooveDocument::partNamed(std::string_view name) const {
  compiled();
  int found = -1;
  const std::vector<TimelinePart>& parts = song_->parts();
  for (std::size_t r = 1; r < parts.size(); ++r) {
    if (parts[r].name == name) found = static_cast<int>(r);
  }
  return found;
}

bool GrooveDocument::partExists(int part, GrooveEdit* edit) const {
  if (part >= 0 && static_cast<std::size_t>(part) < song_->parts().size()) return true;
  edit->error = "no part " + std::to_string(part);
  return false;
}

std::vector<std::size_t> GrooveDocument::linesOfVoice(int part, std::string_view voice) const {
  compiled();
  const GridModel& grid = model();
  std::vector<std::size_t> lines = grid.linesOfPart(part);
  std::vector<std::size_t> found;
  for (const std::size_t i : lines) {
    if (grid.lines()[i].symbol(grid) == voice) found.push_back(i);
  }
  if (!found.empty()) return found;
  if (const std::optional<DrumVoice> drum = drumVoiceNamed(voice)) {
    for (const std::size_t i : lines) {
      const GridLine& line = grid.lines()[i];
      if (line.symbolDefined && line.voice.kind == ItemVoice::Kind::Drum &&
          line.voice.drumVoice() == *drum) {
        found.push_back(i);
      }
    }
  }
  return found;
}

GrooveEdit GrooveDocument::setStep(int part, std::string_view voice, std::uint32_t step,
                                   char mark) const {
  compiled();
  GrooveEdit edit;
  if (!isStepMark(mark)) {
    edit.error = quoted(std::string_view(&mark, 1)) +
                 " is no grid mark (x X o O 0-9, f d z c r b e h either case, !, - for a rest)";
    return edit;
  }
  if (!partExists(part, &edit)) return edit;
  const TimelinePart& record = song_->parts()[static_cast<std::size_t>(part)];
  const GridModel& grid = model();
  const std::vector<std::size_t> partLines = grid.linesOfPart(part);
  if (step >= record.steps.size() || partLines.empty()) {
    edit.error = "part " + quoted(record.name) + " has " +
                 std::to_string(partLines.empty() ? 0 : record.steps.size()) + " steps, not " +
                 std::to_string(std::size_t{step} + 1);
    return edit;
  }
  const std::vector<std::size_t> lines = linesOfVoice(part, voice);
  if (lines.empty() && mark == '-') {
    // Nothing to clear, for a voice the document knows.
    const GridModel& known = model();
    const bool named =
        drumVoiceNamed(voice) ||
        std::any_of(known.lines().begin(), known.lines().end(),
                    [&](const GridLine& line) { return line.symbol(known) == voice; }) ||
        std::any_of(known.bindings().begin(), known.bindings().end(),
                    [&](const VoiceBinding& b) { return b.symbol == voice; });
    if (!named) edit.error = "no voice " + quoted(voice) + " in part " + quoted(record.name);
    return edit;
  }
  if (lines.empty()) return newVoiceLine(part, voice, step, mark);

  // The first of the voice's lines that reaches the step has it.
  for (const std::size_t i : lines) {
    const GridLine& line = grid.lines()[i];
    if (line.stepCount <= step) continue;
    const GridStep now = line.step(grid, step);
    if (now.mark == mark) return edit;
    edit.changes.push_back({offsetOf(line.line, now.column), 1, std::string(1, mark)});
    edit.steps.push_back(
        {line.line, static_cast<int>(now.column) + 1, line.symbol(grid), now.mark, mark});
    return edit;
  }
  if (mark == '-') return edit;  // a step no line of the voice reaches has nothing to clear

  // The voice's longest line is lengthened, barred and bracketed as the part's last line
  // that reaches the step, which times those steps.
  const GridLine* shorter = &grid.lines()[lines.front()];
  for (const std::size_t i : lines) {
    if (grid.lines()[i].stepCount > shorter->stepCount) shorter = &grid.lines()[i];
  }
  // A line below it that reaches the step keeps timing those steps; else the last line
  // that reaches it gives them their timing.
  const GridLine* shape = nullptr;
  for (const std::size_t i : partLines) {
    const GridLine& line = grid.lines()[i];
    if (line.stepCount <= step) continue;
    shape = &line;
    if (line.line > shorter->line) break;
  }
  const std::string cannot = "cannot lengthen line " + std::to_string(shorter->line) + " to step " +
                             std::to_string(std::size_t{step} + 1) + ": ";
  if (shape == nullptr) {
    edit.error = cannot + "no grid line of the part reaches it";
    return edit;
  }
  for (const GridBracket& b : shorter->brackets(grid)) {
    if (b.close == GridBracket::kNoClose || b.close >= shorter->lastColumn()) {
      edit.error = cannot + "it ends inside a bracket";
      return edit;
    }
  }
  const std::uint32_t k = shorter->stepCount;
  const std::uint32_t from = k == 0 ? shape->bodyColumn : shape->step(grid, k - 1).column + 1;
  const std::uint32_t target = shape->step(grid, step).column;
  std::uint32_t to = target + 1;
  for (const GridBracket& b : shape->brackets(grid)) {
    const bool open = b.close == GridBracket::kNoClose || b.close >= shape->lastColumn();
    if (b.open < from && (open || b.close >= from)) {
      edit.error = cannot + "line " + std::to_string(shape->line) + " has a bracket there";
      return edit;
    }
    if (b.open >= from && b.open < to) {
      if (open) {
        edit.error = cannot + "line " + std::to_string(shape->line) + " has an open bracket there";
        return edit;
      }
      to = std::max(to, b.close + 1);
    }
  }
  std::string added = restsOf(lineText(shape->line).substr(from, to - from));
  added[target - from] = mark;
  const std::uint32_t at = shorter->lastColumn();
  edit.changes.push_back({offsetOf(shorter->line, at), 0, added});
  if (!keepsTiming(part, edit.changes)) {
    edit.changes.clear();
    edit.error = cannot + "the lines that time those steps are bracketed otherwise";
    return edit;
  }
  edit.steps.push_back({shorter->line, static_cast<int>(at + (target - from)) + 1,
                        shorter->symbol(grid), '-', mark});
  return edit;
}

GrooveEdit GrooveDocument::addVoiceLine(int part, std::string_view voice) const {
  compiled();
  GrooveEdit edit;
  if (!partExists(part, &edit)) return edit;
  if (!linesOfVoice(part, voice).empty()) {
    edit.error = "part " + quoted(song_->parts()[static_cast<std::size_t>(part)].name) +
                 " has a grid line of " + quoted(voice) + " already";
    return edit;
  }
  return newVoiceLine(part, voice, std::nullopt, '-');
}

GrooveEdit GrooveDocument::newVoiceLine(int part, std::string_view voice,
                                        std::optional<std::uint32_t> step, char mark) const {
  GrooveEdit edit;
  const GridModel& grid = model();
  const std::string partName = quoted(song_->parts()[static_cast<std::size_t>(part)].name);
  const std::vector<std::size_t> partLines = grid.linesOfPart(part);
  if (partLines.empty()) {
    edit.error = "part " + partName + " has no grid line to copy its steps from";
    return edit;
  }
  const GridLine& last = grid.lines()[partLines.back()];
  // The symbols of the voices where the new line goes.
  std::array<std::string, kVoiceCount> symbolOf;
  for (const VoiceBinding& b : grid.bindings()) {
    if (b.line <= last.line) symbolOf[index(b.voice)] = b.symbol;
  }
  auto voiceOf = [&](std::string_view symbol) -> std::optional<DrumVoice> {
    std::optional<DrumVoice> found;
    for (const DrumVoice v : kVoiceLookupOrder) {
      if (symbolOf[index(v)] == symbol) found = v;
    }
    return found;
  };
  std::string symbol;
  std::string bindBefore;
  std::string bindAfter;
  const bool symbolSounds =
      isWordSymbol(voice) &&
      (voiceOf(voice) ||
       std::any_of(grid.lines().begin(), grid.lines().end(), [&](const GridLine& line) {
         return line.line <= last.line && line.symbolDefined && line.symbol(grid) == voice;
       }));
  if (symbolSounds) {
    symbol = voice;
  } else if (const std::optional<DrumVoice> drum = drumVoiceNamed(voice)) {
    const std::string& bound = symbolOf[index(*drum)];
    if (isWordSymbol(bound) && voiceOf(bound) == drum) {
      symbol = bound;
    } else {
      // A symbol of its own, bound just for this line and back to the old one after it,
      // so that the lines below play as they did.
      std::set<std::string, std::less<>> taken;
      for (const GridLine& line : grid.lines()) taken.insert(line.symbol(grid));
      for (const VoiceBinding& b : grid.bindings()) taken.insert(b.symbol);
      for (const std::string& s : grid.sampleSymbols()) taken.insert(s);
      symbol = kNewSymbols[index(*drum)];
      for (int n = 2; taken.count(symbol) != 0; ++n)
        symbol = std::string(kNewSymbols[index(*drum)]) + std::to_string(n);
      const std::string caption(kVoiceCaptions[index(*drum)]);
      bindBefore = symbol + " = " + caption;
      if (!bound.empty()) bindAfter = bound + " = " + caption;
    }
  } else {
    edit.error = "no voice " + quoted(voice) + " in part " + partName +
                 ": name a grid symbol or a drum (Bass Drum, Snare Drum, Closed Hat, ...)";
    return edit;
  }

  // Barred and bracketed as the part's last longest line, which times its steps.
  const GridLine* shape = &last;
  for (const std::size_t i : partLines) {
    if (grid.lines()[i].stepCount >= shape->stepCount) shape = &grid.lines()[i];
  }
  if (step && *step >= shape->stepCount) {
    edit.error = "no grid line of part " + partName + " reaches step " + std::to_string(*step + 1);
    return edit;
  }
  const std::string_view shapeText = lineText(shape->line);
  const std::size_t bar = shape->bodyColumn - 1;
  const std::size_t gap = bar - shape->symbolColumn - shape->symbol(grid).size();
  std::string line(shapeText.substr(0, shape->symbolColumn));
  line += symbol;
  line.append(line.size() < bar ? bar - line.size() : std::min<std::size_t>(gap, 1), ' ');
  const std::size_t gridAt = line.size();
  line += restsOf(shapeText.substr(bar, shape->bodyLength + 1));
  std::size_t column = 0;
  if (step) {
    column = gridAt + (shape->step(grid, *step).column - bar);
    line[column] = mark;
  }
  const std::string end(lineEnd(last.line).empty() ? usualLineEnd() : lineEnd(last.line));
  // After the part's last grid line; where the new line would time the steps otherwise,
  // before its first, as the lines below then time them. A grid line whose symbol names
  // nothing plays the sound of the line before it: the new line never comes before one.
  const GridLine& first = grid.lines()[partLines.front()];
  const bool afterLast = partLines.back() + 1 == grid.lines().size() ||
                         grid.lines()[partLines.back() + 1].symbolDefined;
  const bool beforeFirst =
      first.symbolDefined &&
      std::none_of(grid.bindings().begin(), grid.bindings().end(), [&](const VoiceBinding& b) {
        return b.line > first.line && b.line < last.line;
      });
  for (const bool below : {true, false}) {
    if (below ? !afterLast : !beforeFirst) continue;
    // Each line of the text added with its line end: before it below the part's last line,
    // after it above the first.
    std::string added;
    auto addLine = [&](const std::string& text) {
      if (text.empty()) return;
      if (below) added += end;
      added += text;
      if (!below) added += end;
    };
    addLine(bindBefore);
    addLine(line);
    addLine(bindAfter);
    const int lineNumber = (below ? last.line + 1 : first.line) + (bindBefore.empty() ? 0 : 1);
    edit.changes.assign(1, TextChange{below ? offsetOf(last.line, lineText(last.line).size())
                                            : offsetOf(first.line, 0),
                                      0, added});
    if (!keepsTiming(part, edit.changes)) continue;
    if (step && mark != '-')
      edit.steps.push_back({lineNumber, static_cast<int>(column) + 1, symbol, '-', mark});
    return edit;
  }
  edit.changes.clear();
  edit.error = "a new line of " + quoted(voice) + " in part " + partName +
               " would change how other lines sound or are timed";
  return edit;
}

std::vector<GrooveDocument::StepTiming> GrooveDocument::timingOf(int part) const {
  const TimelinePart& record = song_->parts()[static_cast<std::size_t>(part)];
  std::vector<StepTiming> timing;
  timing.reserve(record.steps.size());
  for (const TimelineStep& step : record.steps) {
    const StepMusic& m = record.musicOf(step);
    timing.push_back({step.duration, m.tempo, m.noteSize, m.tupletDivisor});
  }
  return timing;
}

bool GrooveDocument::timedAs(const std::vector<TextChange>& changes, int part,
                             const std::vector<StepTiming>& expected) const {
  // The changed text read as the document would be, by the same compiler: a grid line
  // times the steps it reaches and the two after them, so where lines differ in length
  // and brackets, moving steps can change their timing.
  const std::shared_ptr<const Timeline> changed =
      compileText(joinLinesWithCrLf(applyChanges(text_, changes)));
  if (static_cast<std::size_t>(part) >= changed->parts().size()) return false;
  const TimelinePart& now = changed->parts()[static_cast<std::size_t>(part)];
  if (now.steps.size() != expected.size()) return false;
  for (std::size_t s = 0; s < expected.size(); ++s) {
    const StepMusic& m = now.musicOf(now.steps[s]);
    if (!(StepTiming{now.steps[s].duration, m.tempo, m.noteSize, m.tupletDivisor} == expected[s]))
      return false;
  }
  return true;
}

bool GrooveDocument::keepsTiming(int part, const std::vector<TextChange>& changes) const {
  return timedAs(changes, part, timingOf(part));
}

GrooveEdit GrooveDocument::duplicatePart(int part, std::string_view name) const {
  compiled();
  GrooveEdit edit;
  if (!partExists(part, &edit)) return edit;
  if (part == 0) {
    edit.error = "the grid lines above every section line are no part to copy";
    return edit;
  }
  const GridModel& grid = model();
  const GridSection& section = grid.sections()[static_cast<std::size_t>(part)];
  auto blank = [](char c) { return line_scan::isBlank(c); };
  if (name.empty() || name.find_first_of("=\r\n") != std::string_view::npos ||
      blank(name.front()) || blank(name.back())) {
    edit.error =
        "a part cannot be named " + quoted(name) + ": a name has no '=' and no blank at either end";
    return edit;
  }
  if (partNamed(name) >= 0) {
    edit.error = "a part is named " + quoted(name) + " already";
    return edit;
  }
  const std::string_view oldLine = lineText(section.line);
  std::string newLine(oldLine);
  newLine.replace(section.nameColumn, section.nameLength, name);
  // The copy's section line must read as the part's, with the new name: a name can make
  // a section line a voice line too ("part = snare ...").
  const LineMatcher& matcher = compiler_->matcher();
  std::string_view readName;
  if (matcher.classify(newLine) != matcher.classify(oldLine) ||
      !matcher.extract(LineField::SectionName, newLine, &readName) || readName != name) {
    edit.error = "a part named " + quoted(name) + " would not read as a copy of part " +
                 quoted(song_->parts()[static_cast<std::size_t>(part)].name);
    return edit;
  }
  const std::vector<std::size_t> partLines = grid.linesOfPart(part);
  if (!partLines.empty() && !grid.lines()[partLines.front()].symbolDefined) {
    edit.error = "line " + std::to_string(grid.lines()[partLines.front()].line) +
                 " names no sound and would play another in the copy";
    return edit;
  }
  const int lastLine = partLines.empty() ? section.line : grid.lines()[partLines.back()].line;
  const std::string_view lastText = lineText(lastLine);
  const std::size_t end = offsetOf(lastLine, lastText.size());
  std::string added(lineEnd(lastLine).empty() ? usualLineEnd() : lineEnd(lastLine));
  added += newLine;
  const std::size_t rest = offsetOf(section.line, oldLine.size());
  added.append(text_, rest, end - rest);
  edit.changes.push_back({end, 0, added});
  if (!timedAs(edit.changes, part + 1, timingOf(part))) {
    edit.changes.clear();
    edit.error = "a copy of part " + quoted(song_->parts()[static_cast<std::size_t>(part)].name) +
                 " would be timed otherwise: the brackets of the line before it reach into it";
  }
  return edit;
}

GrooveEdit GrooveDocument::insertBar(int part, std::size_t bar) const {
  return barEdit(part, bar, BarEdit::Insert);
}
GrooveEdit GrooveDocument::deleteBar(int part, std::size_t bar) const {
  return barEdit(part, bar, BarEdit::Delete);
}
GrooveEdit GrooveDocument::duplicateBar(int part, std::size_t bar) const {
  return barEdit(part, bar, BarEdit::Duplicate);
}

GrooveEdit GrooveDocument::barEdit(int part, std::size_t bar, BarEdit kind) const {
  compiled();
  GrooveEdit edit;
  if (!partExists(part, &edit)) return edit;
  const TimelinePart& record = song_->parts()[static_cast<std::size_t>(part)];
  const std::string partName = quoted(record.name);
  if (record.bars.size() < 2) {
    edit.error = "part " + partName + " has no bar lines its grid lines agree on";
    return edit;
  }
  if (bar + 1 >= record.bars.size()) {
    edit.error = "part " + partName + " has " + std::to_string(record.bars.size() - 1) +
                 " bars, not " + std::to_string(bar + 1);
    return edit;
  }
  const std::int32_t first = record.bars[bar];
  const std::int32_t next = record.bars[bar + 1];
  const GridModel& grid = model();
  for (const std::size_t i : grid.linesOfPart(part)) {
    const GridLine& line = grid.lines()[i];
    if (static_cast<std::int32_t>(line.stepCount) <= first) continue;  // ends before the bar
    const std::string cannot = "line " + std::to_string(line.line) + " ";
    // The bar lines at the bar's two ends: the last "|" before its first step and the
    // first after its last.
    const std::vector<GridStep> steps = line.steps(grid);
    std::uint32_t opening = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t closing = opening;
    std::size_t before = 0;  // steps before the bar line
    for (const std::uint32_t column : line.barColumns(grid)) {
      while (before < steps.size() && steps[before].column < column) ++before;
      if (static_cast<std::int32_t>(before) == first) opening = column;
      if (static_cast<std::int32_t>(before) == next &&
          closing == std::numeric_limits<std::uint32_t>::max())
        closing = column;
    }
    if (opening == std::numeric_limits<std::uint32_t>::max() ||
        closing == std::numeric_limits<std::uint32_t>::max()) {
      edit.error = cannot + "has no bar line at either end of bar " + std::to_string(bar + 1);
      return edit;
    }
    for (const GridBracket& b : line.brackets(grid)) {
      const std::uint32_t close =
          b.close == GridBracket::kNoClose ? line.lastColumn() + 1 : b.close;
      if ((b.open < opening && close > opening) || (b.open < closing && close > closing)) {
        edit.error = cannot + "has a bracket across a bar line of bar " + std::to_string(bar + 1);
        return edit;
      }
    }
    const std::string_view barText = lineText(line.line).substr(opening + 1, closing - opening);
    switch (kind) {
      case BarEdit::Delete:
        if (opening + 1 == line.bodyColumn && closing == line.lastColumn()) {
          edit.error = cannot + "has no other bar";
          return edit;
        }
        edit.changes.push_back({offsetOf(line.line, opening + 1), barText.size(), ""});
        break;
      case BarEdit::Duplicate:
        edit.changes.push_back({offsetOf(line.line, closing + 1), 0, std::string(barText)});
        break;
      case BarEdit::Insert:
        edit.changes.push_back({offsetOf(line.line, opening + 1), 0, restsOf(barText)});
        break;
    }
  }
  // The bar's steps move, and the others keep their timing.
  std::vector<StepTiming> timing = timingOf(part);
  const auto at = [&](std::int32_t s) { return timing.begin() + s; };
  const std::vector<StepTiming> block(at(first), at(next));
  if (kind == BarEdit::Delete) {
    timing.erase(at(first), at(next));
  } else {
    timing.insert(at(kind == BarEdit::Insert ? first : next), block.begin(), block.end());
  }
  if (!timedAs(edit.changes, part, timing)) {
    edit.changes.clear();
    edit.error = "the steps of part " + partName +
                 " would be timed otherwise: its grid lines differ in length and brackets";
  }
  return edit;
}

}  // namespace pulsewright
