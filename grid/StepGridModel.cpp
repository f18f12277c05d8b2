#include "grid/StepGridModel.h"

#include <algorithm>
#include <string_view>

#include "tablature/GridModel.h"
#include "tablature/LineScan.h"

namespace pulsewright {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool isGridCharacter(char c) {
  return isGridMark(c) || articulationOfMark(c).has_value() || c == '|' || c == '[' || c == ']';
}

// A mark the grid writes: a hit, a level, a rest or an articulation.
bool isCellMark(char c) {
  return isGridMark(c) || articulationOfMark(c).has_value();
}

int levelOfCellMark(char c) {
  if (const std::optional<ArticulationMark> a = articulationOfMark(c)) return a->level;
  return levelOfGridMark(c);
}

std::string voiceNameOf(const GridLine& line) {
  switch (line.voice.kind) {
    case ItemVoice::Kind::Drum: return std::string(kVoiceCaptions[line.voice.drum]);
    case ItemVoice::Kind::Sample: return "Sample";
    case ItemVoice::Kind::None: break;
  }
  return "No sound";
}

// Why a line that looks like a grid line (a symbol, then "|") is none; empty when it
// does not look like one.
std::string whyNoGridLine(std::string_view text, int number) {
  std::string_view sticking;
  if (line_scan::stickingLine(text, &sticking)) return {};  // shown as the sticking lane
  std::size_t at = 0;
  while (at < text.size() && isBlank(text[at])) ++at;
  const std::size_t symbol = at;
  while (at < text.size() && !isBlank(text[at]) && text[at] != '|' && text[at] != '=') ++at;
  if (at == symbol || at == text.size() || text[at] == '=') return {};
  while (at < text.size() && isBlank(text[at])) ++at;
  if (at == text.size() || text[at] != '|') return {};
  std::size_t end = text.size();
  while (end > at && isBlank(text[end - 1])) --end;
  for (std::size_t i = at; i < end; ++i) {
    if (!isGridCharacter(text[i])) {
      return "Line " + std::to_string(number) + " is no grid line: '" + std::string(1, text[i]) +
             "' stands in its grid (only x X o O 0-9, f d z c r b e h !, - [ ] | may).";
    }
  }
  return "Line " + std::to_string(number) + " is not read as a grid line.";
}

}  // namespace

StepGridModel::StepGridModel(PadMap padMap) : padMap_(std::move(padMap)) {}

StepGridModel::~StepGridModel() = default;

void StepGridModel::setCompiled(std::shared_ptr<const Timeline> song) {
  song_ = std::move(song);
  document_.reset();
  pending_.clear();
  drag_.reset();
  stale_ = false;
  reshaped_ = false;
  layOut();
}

void StepGridModel::showPartAtLine(int line) {
  lineAsked_ = line;
  if (!playing_ && partAt(line) != part_) layOut();
}

void StepGridModel::setPlaying(int part, int step) {
  const bool again = !playing_ || part != playingPart_;
  playing_ = true;
  playingPart_ = part;
  playingStep_ = step;
  if (again) layOut();
}

void StepGridModel::stopped() {
  if (!playing_) return;
  playing_ = false;
  layOut();
}

int StepGridModel::partAt(int line) const {
  if (!song_ || song_->gridModel() == nullptr) return -1;
  const GridModel& grid = *song_->gridModel();
  const std::vector<GridSection>& sections = grid.sections();
  int found = -1;
  for (std::size_t p = 1; p < sections.size(); ++p) {
    if (sections[p].line <= line &&
        (found < 0 || sections[p].line >= sections[static_cast<std::size_t>(found)].line))
      found = static_cast<int>(p);
  }
  if (found >= 0) return found;
  // Above every section line: the grid lines there, or else the first part with steps.
  if (!grid.lines().empty() && grid.lines().front().part == 0) return 0;
  const std::vector<TimelinePart>& parts = song_->parts();
  for (std::size_t p = 1; p < parts.size(); ++p) {
    if (parts[p].hasSteps()) return static_cast<int>(p);
  }
  return -1;
}

void StepGridModel::layOut() {
  rows_.clear();
  rowLines_.clear();
  columns_.clear();
  note_.clear();
  partName_.clear();
  sticking_.clear();
  part_ = -1;
  if (!song_ || song_->gridModel() == nullptr) {
    note_ = "Nothing to show yet.";
    return;
  }
  const GridModel& grid = *song_->gridModel();
  part_ = playing_ ? playingPart_ : partAt(lineAsked_);
  if (part_ < 0 || static_cast<std::size_t>(part_) >= song_->parts().size()) {
    part_ = -1;
    note_ = "No part has grid lines.";
    return;
  }
  const TimelinePart& record = song_->parts()[static_cast<std::size_t>(part_)];
  partName_ = record.name;
  sticking_ = record.sticking;
  const std::size_t sectionIndex = static_cast<std::size_t>(part_);

  // The part's grid lines follow its section line: found from there, not by a walk
  // over every line of a long document.
  std::vector<std::size_t> lines;
  const std::vector<GridLine>& all = grid.lines();
  const int sectionLine =
      sectionIndex < grid.sections().size() ? grid.sections()[sectionIndex].line : 0;
  auto at = std::lower_bound(all.begin(), all.end(), sectionLine,
                             [](const GridLine& l, int n) { return l.line < n; });
  for (; at != all.end() && at->part == part_; ++at)
    lines.push_back(static_cast<std::size_t>(at - all.begin()));
  if (lines.empty()) lines = grid.linesOfPart(part_);

  // The rows: one per symbol, in the order the symbols first come.
  const GridLine* longest = nullptr;
  for (const std::size_t i : lines) {
    const GridLine& line = all[i];
    if (longest == nullptr || line.stepCount > longest->stepCount) longest = &line;
    const std::string& symbol = line.symbol(grid);
    auto row = std::find_if(rows_.begin(), rows_.end(),
                            [&](const StepGridRow& r) { return r.symbol == symbol; });
    if (row == rows_.end()) {
      rows_.push_back({symbol, voiceNameOf(line), line.voice, line.line, {}, false});
      rowLines_.emplace_back();
      row = rows_.end() - 1;
    }
    rowLines_[static_cast<std::size_t>(row - rows_.begin())].push_back(i);
  }
  const std::uint32_t count = longest == nullptr ? 0 : longest->stepCount;
  const std::vector<std::int32_t> bars =
      longest == nullptr ? std::vector<std::int32_t>{} : longest->bars(grid);
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    StepGridRow& row = rows_[r];
    row.marks.assign(count, '\0');
    for (const std::size_t i : rowLines_[r]) {
      const GridLine& line = all[i];
      for (const GridStep& s : line.steps(grid)) {
        if (row.marks[s.index] == '\0') row.marks[s.index] = s.mark;
      }
      // Its bar lines must be the longest line's, as far as it reaches.
      std::vector<std::int32_t> expected;
      for (const std::int32_t b : bars) {
        if (b <= static_cast<std::int32_t>(line.stepCount)) expected.push_back(b);
      }
      std::vector<std::int32_t> own = line.bars(grid);
      if (!own.empty() && own.back() == static_cast<std::int32_t>(line.stepCount) &&
          (expected.empty() || expected.back() != own.back()))
        own.pop_back();  // a short line's closing bar line where the bar goes on
      if (own != expected) row.barsDiffer = true;
    }
  }

  // The columns: bar lines from the longest line, beats from the part's metre.
  columns_.resize(count);
  int bar = -1;
  std::int32_t barFirst = 0;
  for (std::uint32_t s = 0; s < count; ++s) {
    StepGridColumn& column = columns_[s];
    column.barStart =
        std::find(bars.begin(), bars.end(), static_cast<std::int32_t>(s)) != bars.end();
    if (column.barStart || s == 0) {
      ++bar;
      barFirst = static_cast<std::int32_t>(s);
    }
    column.bar = bar;
    const std::optional<StepPosition> position = record.positionOf(s);
    if (position && position->fromBar.den > 0) {
      // The beat is a 1/beatUnit note: fromBar × beatUnit whole beats have passed.
      const WideInt beats = static_cast<WideInt>(position->fromBar.num) * record.metre.beatUnit;
      column.beat = static_cast<int>(beats / position->fromBar.den);
      column.beatStart = beats % position->fromBar.den == 0;
    } else {
      column.beat = (static_cast<std::int32_t>(s) - barFirst) / 4;
      column.beatStart = (static_cast<std::int32_t>(s) - barFirst) % 4 == 0;
    }
    column.shaded = column.beat % 2 == 1;
  }

  // The lines of the part's stretch of text that the compiler did not read as grid lines.
  const std::string& text = grid.text();
  std::size_t from = sectionIndex < grid.sections().size() && sectionLine > 0
                         ? grid.sections()[sectionIndex].offset
                         : 0;
  std::size_t to = text.size();
  int number = sectionLine > 0 ? sectionLine : 1;
  for (const GridSection& other : grid.sections()) {
    if (other.line > sectionLine && other.offset < to) to = other.offset;
  }
  while (from < to) {
    std::size_t end = text.find("\r\n", from);
    if (end == std::string::npos || end > to) end = to;
    if (grid.lineAt(number) == nullptr) {
      const std::string why =
          whyNoGridLine(std::string_view(text).substr(from, end - from), number);
      if (!why.empty()) note_ += (note_.empty() ? "" : " ") + why;
    }
    from = end + 2;
    ++number;
  }
  if (rows_.empty() && note_.empty()) note_ = "Part " + partName_ + " has no grid lines.";
  cursorRow_ = std::clamp(cursorRow_, 0, static_cast<int>(rows_.size()));
  cursorStep_ = std::clamp(cursorStep_, 0, std::max(0, columnCount() - 1));
}

std::vector<DrumVoice> StepGridModel::voicesToAdd() const {
  std::vector<DrumVoice> voices;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const bool shown = std::any_of(rows_.begin(), rows_.end(), [&](const StepGridRow& r) {
      return r.voice.kind == ItemVoice::Kind::Drum && r.voice.drum == v;
    });
    if (!shown) voices.push_back(static_cast<DrumVoice>(v));
  }
  return voices;
}

bool StepGridModel::isCell(int row, int step) const {
  return row >= 0 && row < static_cast<int>(rows_.size()) && step >= 0 && step < columnCount();
}

char StepGridModel::markAt(int row, int step) const {
  if (drag_) {
    if (drag_->levelBy != 0 && row == drag_->row && step == drag_->step) {
      const char now = rows_[static_cast<std::size_t>(row)].marks[static_cast<std::size_t>(step)];
      const int base = isCellMark(now) && now != '-' ? levelOfCellMark(now) : 5;
      return markOfLevel(row, step, std::clamp(base + drag_->levelBy, 0, 9));
    }
    const auto painted = drag_->cells.find({row, step});
    if (painted != drag_->cells.end()) return painted->second;
  }
  const auto pending = pending_.find({row, step});
  if (pending != pending_.end()) return pending->second.mark;
  return rows_[static_cast<std::size_t>(row)].marks[static_cast<std::size_t>(step)];
}

StepGridCell StepGridModel::cell(int row, int step) const {
  StepGridCell c;
  if (!isCell(row, step)) return c;
  const char mark = markAt(row, step);
  c.missing = mark == '\0';
  c.mark = c.missing ? '-' : mark;
  c.level = levelOfCellMark(c.mark);
  c.hit = c.mark != '-';
  if (const std::optional<ArticulationMark> a = articulationOfMark(c.mark)) {
    c.articulation = a->articulation;
    if (c.articulation == Articulation::Choke) c.ghost = false;  // no hit, nothing soft
  }
  c.accent = c.hit && (c.mark == 'X' || c.mark == 'O' || c.level >= 7);
  c.ghost = c.hit && c.level <= 3;
  return c;
}

void StepGridModel::setCursor(int row, int step) {
  cursorRow_ = std::clamp(row, 0, static_cast<int>(rows_.size()));
  cursorStep_ = std::clamp(step, 0, std::max(0, columnCount() - 1));
}

void StepGridModel::moveCursor(int rows, int steps) {
  setCursor(cursorRow_ + rows, cursorStep_ + steps);
}

std::pair<int, std::size_t> StepGridModel::textPositionOfCursor() const {
  if (!song_ || song_->gridModel() == nullptr || rows_.empty()) return {lineAsked_, 0};
  const GridModel& grid = *song_->gridModel();
  if (cursorRow_ >= static_cast<int>(rows_.size())) {
    return {grid.lines()[rowLines_.back().back()].line, 0};
  }
  const std::vector<std::size_t>& lines = rowLines_[static_cast<std::size_t>(cursorRow_)];
  const GridLine* longest = &grid.lines()[lines.front()];
  for (const std::size_t i : lines) {
    const GridLine& line = grid.lines()[i];
    if (line.stepCount > static_cast<std::uint32_t>(cursorStep_))
      return {line.line, line.step(grid, static_cast<std::uint32_t>(cursorStep_)).column};
    if (line.stepCount > longest->stepCount) longest = &line;
  }
  return {longest->line, longest->lastColumn()};
}

bool StepGridModel::placeCursorAtText(int line, std::size_t byteColumn) {
  if (!song_ || song_->gridModel() == nullptr) return false;
  const GridModel& grid = *song_->gridModel();
  for (std::size_t r = 0; r < rowLines_.size(); ++r) {
    for (const std::size_t i : rowLines_[r]) {
      const GridLine& gridLine = grid.lines()[i];
      if (gridLine.line != line) continue;
      int step = 0;
      for (const GridStep& s : gridLine.steps(grid)) {
        if (s.column > byteColumn) break;
        step = static_cast<int>(s.index);
      }
      setCursor(static_cast<int>(r), step);
      return true;
    }
  }
  return false;
}

const std::string& StepGridModel::text() const {
  static const std::string none;
  if (document_) return document_->text();
  return song_ && song_->gridModel() != nullptr ? song_->gridModel()->text() : none;
}

GrooveDocument& StepGridModel::document() {
  if (!document_) document_ = std::make_unique<GrooveDocument>(song_, padMap_);
  return *document_;
}

bool StepGridModel::editable() {
  error_.clear();
  if (part_ < 0 || !song_ || song_->gridModel() == nullptr) {
    error_ = "No part to edit.";
    return false;
  }
  if (stale_ || reshaped_) {
    error_ = "The grid is being read again from the text.";
    return false;
  }
  return true;
}

std::optional<TextChange> StepGridModel::inPlace(int row, int step, char mark) {
  const StepGridRow& r = rows_[static_cast<std::size_t>(row)];
  const GrooveEdit edit =
      document().setStep(part_, r.symbol, static_cast<std::uint32_t>(step), mark);
  if (!edit.ok()) {
    error_ = edit.error;
    return std::nullopt;
  }
  const auto pending = pending_.find({row, step});
  if (edit.changes.empty()) {
    // The compiled text has the mark; the grid changed it since.
    if (pending == pending_.end()) return std::nullopt;
    TextChange change{pending->second.offset, 1, std::string(1, mark)};
    pending_.erase(pending);
    return change;
  }
  pending_[{row, step}] = Pending{mark, edit.changes.front().offset};
  return edit.changes.front();
}

void StepGridModel::flushPending() {
  if (pending_.empty()) return;
  GrooveEdit marks;
  for (const auto& [cell, p] : pending_)
    marks.changes.push_back({p.offset, 1, std::string(1, p.mark)});
  std::sort(marks.changes.begin(), marks.changes.end(),
            [](const TextChange& a, const TextChange& b) { return a.offset < b.offset; });
  document().apply(marks);
}

std::vector<TextChange> StepGridModel::reshape(const GrooveEdit& edit) {
  if (!edit.ok()) {
    error_ = edit.error;
    return {};
  }
  if (!edit.changes.empty()) reshaped_ = true;
  return edit.changes;
}

std::vector<TextChange> StepGridModel::setMark(int row, int step, char mark) {
  if (!isCell(row, step) || !isCellMark(mark) || !editable()) return {};
  const char now = markAt(row, step);
  if (now == mark) return {};
  if (now == '\0') {
    if (mark == '-') return {};  // a missing step is a rest already
    // The row's line is lengthened with rests up to the step.
    flushPending();
    std::vector<TextChange> changes =
        reshape(document().setStep(part_, rows_[static_cast<std::size_t>(row)].symbol,
                                   static_cast<std::uint32_t>(step), mark));
    if (!changes.empty()) pending_[{row, step}] = Pending{mark, 0};
    return changes;
  }
  const std::optional<TextChange> change = inPlace(row, step, mark);
  if (!change) return {};
  return {*change};
}

std::vector<TextChange> StepGridModel::toggle(int row, int step) {
  if (!isCell(row, step)) return {};
  const char now = markAt(row, step);
  return setMark(row, step, now == '-' || now == '\0' ? kDefaultMark : '-');
}

char StepGridModel::markOfLevel(int row, int step, int level) const {
  const char now = rows_[static_cast<std::size_t>(row)].marks[static_cast<std::size_t>(step)];
  const bool circle = now == 'o' || now == 'O';
  // An articulation keeps its mark at 5 and 7, the levels its letters hold.
  if (const std::optional<ArticulationMark> a = articulationOfMark(now);
      a && a->articulation != Articulation::Choke && (level == 5 || level == 7)) {
    return markOfArticulation(a->articulation, level);
  }
  if (level == 5) return circle ? 'o' : 'x';
  if (level == 7) return circle ? 'O' : 'X';
  return static_cast<char>('0' + level);
}

std::string StepGridModel::articulationsOf(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
  const ItemVoice& voice = rows_[static_cast<std::size_t>(row)].voice;
  if (voice.kind != ItemVoice::Kind::Drum) return "fdz";
  switch (voice.drumVoice()) {
    case DrumVoice::SnareDrum: return "fdzcr";
    case DrumVoice::ClosedHat:
    case DrumVoice::OpenHat: return "heb!";
    case DrumVoice::Ride:
    case DrumVoice::Bell:
    case DrumVoice::Crash1:
    case DrumVoice::Crash2: return "be!";
    case DrumVoice::BassDrum:
    case DrumVoice::PedalHat: return "";
    default: return "fdz";
  }
}

std::vector<TextChange> StepGridModel::putArticulation(int row, int step, char mark) {
  const std::optional<ArticulationMark> wanted = articulationOfMark(mark);
  if (!isCell(row, step) || !wanted) return {};
  const char now = markAt(row, step);
  const bool rest = now == '-' || now == '\0';
  const int level = rest ? 5 : levelOfCellMark(now);
  const std::optional<ArticulationMark> had = articulationOfMark(now);
  if (had && had->articulation == wanted->articulation) {
    // Off again: a plain hit at the level it had (a choke was no hit: a rest).
    if (wanted->articulation == Articulation::Choke) return setMark(row, step, '-');
    return setMark(row, step, level == 7 ? 'X' : 'x');
  }
  if (wanted->articulation == Articulation::Choke) return setMark(row, step, '!');
  // The letters hold 5 and 7: a louder hit takes the upper case, a softer the lower.
  return setMark(row, step, markOfArticulation(wanted->articulation, level > 5 ? 7 : 5));
}

std::vector<TextChange> StepGridModel::cycleArticulation(int row, int step) {
  const std::string marks = articulationsOf(row);
  if (marks.empty() || !isCell(row, step)) return {};
  const char now = markAt(row, step);
  const std::optional<ArticulationMark> had = articulationOfMark(now);
  std::size_t next = 0;
  if (had) {
    const char lower = markOfArticulation(had->articulation, 5);
    const std::size_t at = marks.find(lower);
    if (at == std::string::npos || at + 1 == marks.size()) {
      return putArticulation(row, step, lower);  // past the last: off
    }
    next = at + 1;
  }
  return putArticulation(row, step, marks[next]);
}

std::vector<TextChange> StepGridModel::setLevel(int row, int step, int level) {
  if (!isCell(row, step) || level < 0 || level > 9) return {};
  const char now = markAt(row, step);
  if (now != '\0' && now != '-' && levelOfCellMark(now) == level) return {};
  return setMark(row, step, markOfLevel(row, step, level));
}

std::vector<TextChange> StepGridModel::changeLevel(int row, int step, int by) {
  if (!isCell(row, step) || by == 0) return {};
  const char now = markAt(row, step);
  if (now == '-' || now == '\0')
    return by > 0 ? setMark(row, step, kDefaultMark) : std::vector<TextChange>{};
  const int level = levelOfCellMark(now) + by;
  if (level < 0) return setMark(row, step, '-');
  return setLevel(row, step, std::min(level, 9));
}

std::vector<TextChange> StepGridModel::insertBar(int step) {
  if (!editable()) return {};
  const std::vector<std::int32_t>& bars = song_->parts()[static_cast<std::size_t>(part_)].bars;
  std::size_t bar = 0;
  while (bar + 1 < bars.size() && bars[bar + 1] <= step) ++bar;
  flushPending();
  return reshape(document().insertBar(part_, bar));
}

std::vector<TextChange> StepGridModel::duplicateBar(int step) {
  if (!editable()) return {};
  const std::vector<std::int32_t>& bars = song_->parts()[static_cast<std::size_t>(part_)].bars;
  std::size_t bar = 0;
  while (bar + 1 < bars.size() && bars[bar + 1] <= step) ++bar;
  flushPending();
  return reshape(document().duplicateBar(part_, bar));
}

std::vector<TextChange> StepGridModel::addVoice(DrumVoice voice) {
  if (!editable()) return {};
  flushPending();
  return reshape(document().addVoiceLine(part_, kVoiceCaptions[index(voice)]));
}

void StepGridModel::beginPaint(int row, int step) {
  drag_.reset();
  if (!isCell(row, step)) return;
  const char now = markAt(row, step);
  drag_ = Drag{row, step, now == '-' || now == '\0', 0, {}};
}

void StepGridModel::paintOver(int row, int step) {
  if (!drag_ || !isCell(row, step) || drag_->levelBy != 0) return;
  if (drag_->cells.empty()) {
    // The first cell joins the paint once the drag leaves it.
    const char first = markAt(drag_->row, drag_->step);
    if (first != '\0')
      drag_->cells[{drag_->row, drag_->step}] = drag_->paintsHits ? kDefaultMark : '-';
  }
  const char now = markAt(row, step);
  if (now == '\0') return;                      // a drag lengthens no line
  if (drag_->paintsHits && now != '-') return;  // a hit keeps its level
  drag_->cells[{row, step}] = drag_->paintsHits ? kDefaultMark : '-';
}

void StepGridModel::dragLevel(int by) {
  if (!drag_ || !drag_->cells.empty()) return;
  drag_->levelBy = by;
}

std::vector<TextChange> StepGridModel::endDrag() {
  if (!drag_) return {};
  const Drag drag = std::move(*drag_);
  drag_.reset();
  if (drag.levelBy != 0) {
    const char now = markAt(drag.row, drag.step);
    const int base = now == '-' || now == '\0' ? 5 : levelOfCellMark(now);
    return setLevel(drag.row, drag.step, std::clamp(base + drag.levelBy, 0, 9));
  }
  if (drag.cells.empty()) return toggle(drag.row, drag.step);
  if (!editable()) return {};
  // One edit for the whole drag: every painted step changes in place.
  std::vector<TextChange> changes;
  for (const auto& [cell, mark] : drag.cells) {
    if (markAt(cell.first, cell.second) == mark) continue;
    if (const std::optional<TextChange> change = inPlace(cell.first, cell.second, mark))
      changes.push_back(*change);
  }
  std::sort(changes.begin(), changes.end(),
            [](const TextChange& a, const TextChange& b) { return a.offset < b.offset; });
  return changes;
}

std::vector<EditorChange> StepGridModel::editorChanges(const std::vector<TextChange>& changes) {
  std::vector<EditorChange> placed;
  if (!song_ || song_->gridModel() == nullptr) return placed;
  GrooveDocument& doc = document();
  const std::string& text = doc.text();
  auto place = [&](std::size_t offset, int* line, int* column) {
    const auto [number, byteColumn] = doc.positionOf(offset);
    *line = number;
    // UTF-16 units: one per character, two for one past the basic plane (4 UTF-8 bytes).
    int units = 0;
    for (std::size_t i = offset - byteColumn; i < offset; ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    *column = units;
  };
  for (const TextChange& change : changes) {
    EditorChange& e = placed.emplace_back();
    place(change.offset, &e.line, &e.column);
    place(change.offset + change.length, &e.endLine, &e.endColumn);
    for (std::size_t i = 0; i < change.text.size(); ++i) {
      const char c = change.text[i];
      if (c == '\r') {
        if (i + 1 < change.text.size() && change.text[i + 1] == '\n') ++i;
        e.text += '\n';
      } else {
        e.text += c;
      }
    }
  }
  return placed;
}

}  // namespace pulsewright
