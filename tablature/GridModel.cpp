#include "tablature/GridModel.h"

#include <algorithm>

namespace pulsewright {

bool isGridMark(char c) {
  return c == '-' || c == 'x' || c == 'X' || c == 'o' || c == 'O' || (c >= '0' && c <= '9');
}

int levelOfGridMark(char c) {
  if (c == 'x' || c == 'o') return 5;
  if (c == 'X' || c == 'O') return 7;
  if (c >= '0' && c <= '9') return c - '0';
  return 0;
}

std::vector<std::uint32_t> GridLine::barColumns(const GridModel& model) const {
  std::vector<std::uint32_t> columns{bodyColumn - 1};
  const std::string_view body = model.body(*this);
  for (std::uint32_t k = 0; k < skipCount_; ++k) {
    const std::uint32_t p = model.skips_[firstSkip_ + k];
    if (body[p] == '|') columns.push_back(bodyColumn + p);
  }
  if (!body.empty() && body.back() == '|') columns.push_back(lastColumn());
  return columns;
}

const std::string& GridLine::symbol(const GridModel& model) const {
  return model.symbols_[static_cast<std::size_t>(symbolId)];
}

std::vector<std::int32_t> GridLine::bars(const GridModel& model) const {
  // A bar line stands before the step it is followed by: as many steps before it as
  // characters, less the bar lines and brackets among them.
  std::vector<std::int32_t> bars{0};
  const std::string_view body = model.body(*this);
  for (std::uint32_t k = 0; k < skipCount_; ++k) {
    const std::uint32_t p = model.skips_[firstSkip_ + k];
    const auto step = static_cast<std::int32_t>(p - k);
    if (body[p] == '|' && bars.back() != step) bars.push_back(step);
  }
  if (closedByLastCharacter) bars.push_back(static_cast<std::int32_t>(stepCount));
  return bars;
}

std::vector<GridBracket> GridLine::brackets(const GridModel& model) const {
  const auto first = model.brackets_.begin() + firstBracket_;
  return {first, first + bracketCount_};
}

std::vector<GridStep> GridLine::steps(const GridModel& model) const {
  std::vector<GridStep> steps;
  steps.reserve(stepCount);
  const std::string_view body = model.body(*this);
  const std::uint32_t* skip = model.skips_.data() + firstSkip_;
  const std::uint32_t* const skipEnd = skip + skipCount_;
  for (std::uint32_t p = 0; steps.size() < stepCount; ++p) {
    if (skip != skipEnd && *skip == p) {
      ++skip;
      continue;
    }
    const char mark = body[p];
    steps.push_back(GridStep{mark, levelOfGridMark(mark), bodyColumn + p,
                             static_cast<std::uint32_t>(steps.size())});
  }
  return steps;
}

GridStep GridLine::step(const GridModel& model, std::uint32_t index) const {
  // Step `index` stands `index` characters on, and one more for each bar line or bracket
  // before it.
  std::uint32_t p = index;
  for (std::uint32_t k = 0; k < skipCount_ && model.skips_[firstSkip_ + k] <= p; ++k) ++p;
  const char mark = model.body(*this)[p];
  return GridStep{mark, levelOfGridMark(mark), bodyColumn + p, index};
}

const GridLine* GridModel::lineAt(int lineNumber) const {
  const auto found =
      std::lower_bound(lines_.begin(), lines_.end(), lineNumber,
                       [](const GridLine& line, int number) { return line.line < number; });
  return found != lines_.end() && found->line == lineNumber ? &*found : nullptr;
}

std::vector<std::size_t> GridModel::linesOfPart(int part) const {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].part == part) found.push_back(i);
  }
  return found;
}

}  // namespace pulsewright
