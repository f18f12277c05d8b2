#include "tablature/Diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fileio/InputFile.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

std::string sampleFileProblem(const std::string& path) {
  std::string problem;
  off_t size = 0;
  const int fd = openRegularFile(path, &size, &problem);
  if (fd < 0) return problem;
  char head[12] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  if (n < 0) {
    problem = std::strerror(errno);
  } else if (n < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    problem = "not a WAVE file";
  }
  ::close(fd);
  return problem;
}

std::vector<Diagnostic> diagnose(std::string_view text, const DiagnosticOptions& options) {
  // One compiler per thread: making one compiles every line pattern, which costs more
  // than checking a long document.
  thread_local TablatureCompiler compiler;
  if (options.kept) {
    compiler.restore(*options.kept);
  } else {
    compiler.reset();
  }
  CompileRequest request;
  request.padMap = options.padMap;
  request.sampleProblem = options.sampleProblem;
  request.documentFolder = options.documentFolder;
  return compileDocument(compiler, text, request).diagnostics;
}

std::string_view severityWord(Severity severity) {
  return severity == Severity::Error ? "error" : "warning";
}

std::string formatDiagnostic(std::string_view file, const Diagnostic& d) {
  return std::string(file) + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": " +
         std::string(severityWord(d.severity)) + ": " + d.text;
}

}  // namespace pulsewright
