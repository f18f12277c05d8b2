#include "tablature/DiagnosticSink.h"

#include <algorithm>
#include <utility>

namespace pulsewright {

bool DiagnosticSink::report(int lineNumber, std::string_view line, std::string_view range,
                            Severity severity, std::string text, bool unfinished) {
  if (found_.size() >= static_cast<std::size_t>(kMaxDiagnostics)) return false;
  if (lineNumber == countedLine_) {
    if (++countOnLine_ > kMaxDiagnosticsPerLine) return false;
  } else {
    countedLine_ = lineNumber;
    countOnLine_ = 1;
  }
  std::size_t from = 0;
  std::size_t size = 0;
  if (range.data() >= line.data() && range.data() + range.size() <= line.data() + line.size()) {
    from = static_cast<std::size_t>(range.data() - line.data());
    size = range.size();
  }
  // Reports of one line come together: its columns are counted once, walking forward.
  if (columnsLine_ != lineNumber) {
    columns_.reset(line);
    columnsLine_ = lineNumber;
  }
  Diagnostic d;
  d.line = lineNumber;
  const TextColumn start = columns_.at(from);
  const TextColumn end = columns_.at(from + size);
  d.column = start.column;
  d.length = end.column - start.column;
  d.utf16Column = start.utf16;
  d.utf16Length = end.utf16 - start.utf16;
  d.severity = severity;
  d.text = std::move(text);
  d.unfinished = unfinished;
  found_.push_back(std::move(d));
  return true;
}

std::vector<Diagnostic> DiagnosticSink::take() {
  std::stable_sort(found_.begin(), found_.end(), [](const Diagnostic& a, const Diagnostic& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  columnsLine_ = 0;
  countedLine_ = 0;
  countOnLine_ = 0;
  return std::exchange(found_, {});
}

}  // namespace pulsewright
