#pragma once
// Where the compiler puts the problems it finds, at the moment it finds them, each at
// its range in its line; compileDocument hands them over in line and column order.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tablature/Diagnostics.h"
#include "text/Utf8.h"

namespace pulsewright {

class DiagnosticSink {
 public:
  // Why the sample player could not play a file ("" when it can); null skips the files.
  std::function<std::string(const std::string& path)> sampleProblem;
  // The document's folder: relative sample paths are looked for there first.
  std::string documentFolder;

  // A problem of line `lineNumber` (from 1), whose text is `line`; `range` is a view
  // inside it (any other view stands for the line's start). Past the limits nothing is
  // kept, and the answer is false.
  bool report(int lineNumber, std::string_view line, std::string_view range, Severity severity,
              std::string text, bool unfinished = false);
  // Whether a report on line `lineNumber` would be kept: a long document then spends no
  // time wording reports that are dropped.
  bool keeps(int lineNumber) const {
    return found_.size() < static_cast<std::size_t>(kMaxDiagnostics) &&
           (lineNumber != countedLine_ || countOnLine_ < kMaxDiagnosticsPerLine);
  }
  // Reports so far; an index for amend().
  std::size_t size() const { return found_.size(); }
  // Adds words to a report made before.
  void amend(std::size_t index, std::string_view more) { found_[index].text += more; }
  // Everything reported, in line and column order (reports of one place in the order
  // they came); the sink is empty again.
  std::vector<Diagnostic> take();

 private:
  std::vector<Diagnostic> found_;
  LineColumns columns_;
  int columnsLine_ = 0;
  int countedLine_ = 0;
  int countOnLine_ = 0;
};

}  // namespace pulsewright
