#pragma once
// Problems in a tablature document that the compiler passes over in silence (an
// undefined symbol, a line that is almost a section or grid line, a song character that
// names no part, ...), each with the range of text it is about. The editor underlines
// the ranges; the command line prints FILE:LINE:COL reports.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"

namespace pulsewright {

enum class Severity { Warning, Error };

struct Diagnostic {
  int line = 1;    // from 1
  int column = 1;  // from 1, in code points
  int length = 0;  // in code points
  // The same range in UTF-16 units, as the editor counts: offset from the line's
  // start (from 0) and length.
  int utf16Column = 0;
  int utf16Length = 0;
  Severity severity = Severity::Warning;
  std::string text;
  // The line looks half typed (a grid line not closed, or shorter or longer than its
  // part's first): an edit made while the song plays waits for it to be finished.
  bool unfinished = false;
};

// Why the sample player could not play this file ("" when it can): it must be a
// readable regular file that starts like a WAVE file. Paths are taken as the player
// takes them, relative to the working folder.
std::string sampleFileProblem(const std::string& path);

struct CompilerState;

struct DiagnosticOptions {
  PadMap padMap = defaultPadMap();
  // Null skips the sample files.
  std::function<std::string(const std::string& path)> sampleProblem = sampleFileProblem;
  // The document's folder: relative sample paths are looked for there first.
  std::string documentFolder;
  // What the compilation before left behind, as Play's next compilation will find it;
  // null for a fresh compiler.
  std::shared_ptr<const CompilerState> kept;
};

// Beyond these, a pass stops reporting: a pathological line cannot flood the editor.
inline constexpr int kMaxDiagnostics = 1000;
inline constexpr int kMaxDiagnosticsPerLine = 20;

// The problems of a document, lines separated by CR LF as the compiler reads it, in
// line and column order. Runs a compilation of its own from the kept state (or a fresh
// one), so what it says is what the next Play of the text does.
std::vector<Diagnostic> diagnose(std::string_view text, const DiagnosticOptions& options = {});

std::string_view severityWord(Severity severity);  // "warning" or "error"

// "FILE:LINE:COL: error: text", the form compilers print and editors read.
std::string formatDiagnostic(std::string_view file, const Diagnostic& diagnostic);

}  // namespace pulsewright
