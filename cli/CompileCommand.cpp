// pulsewright-cli compile and check: the compiled state as JSON, or every line's kinds.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <memory>
#include <ostream>
#include <unordered_map>

#include "cli/Command.h"
#include "cli/StateJson.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

struct CompileOptions {
  PadMapChoice padMap;
  std::vector<std::string> files;
  bool check = false;  // list the lines' kinds instead of printing the state
};

// Why a line that starts like a section line is none, in the user's words.
std::string sectionHint(const LineTests& tests) {
  namespace t = line_test;
  if (!tests[t::kSectionKeyword] || isSectionLine(tests)) return {};
  std::vector<std::string> missing;
  if (!tests[t::kSectionName]) missing.emplace_back("a name followed by a blank and an item");
  if (!tests[t::kSectionTempo]) missing.emplace_back("tempo = N");
  if (!tests[t::kSectionNotes]) missing.emplace_back("notes = N");
  std::string hint = " (not a section line: it needs ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) hint += i + 1 == missing.size() ? " and " : ", ";
    hint += missing[i];
  }
  return hint + ")";
}

// check's "LINE: kinds" lines, gathered and written in large pieces: a long document
// has a line of output per line. A document has few combinations of kinds: the words of
// each are worked out once.
class LineKindPrinter {
 public:
  LineKindPrinter(std::ostream& out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}
  ~LineKindPrinter() { flush(); }
  LineKindPrinter(const LineKindPrinter&) = delete;
  LineKindPrinter& operator=(const LineKindPrinter&) = delete;

  // A sticking line, which passes no test.
  void printSticking(int lineNumber) {
    static const std::string kSticking = ": sticking\n";
    words_ = &kSticking;
    lastTests_.set();  // no line passes every test: the next line's words are looked up
    write(lineNumber);
  }
  void print(int lineNumber, const LineTests& tests) {
    if (words_ == nullptr || tests != lastTests_) {
      lastTests_ = tests;
      words_ = &wordsOf(tests);
    }
    write(lineNumber);
  }

 private:
  void write(int lineNumber) {
    // Written in place: appending three pieces to a string cost more than the line's
    // compilation.
    const std::size_t most = prefix_.size() + kDigits + words_->size();
    if (buffer_.size() - used_ < most) {
      flush();
      if (buffer_.size() < most) buffer_.resize(most);
    }
    char* to = buffer_.data() + used_;
    to = std::copy(prefix_.begin(), prefix_.end(), to);
    to = std::to_chars(to, to + kDigits, lineNumber).ptr;
    to = std::copy(words_->begin(), words_->end(), to);
    used_ = static_cast<std::size_t>(to - buffer_.data());
  }

 public:
  void flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(used_));
    used_ = 0;
  }

 private:
  // ": kinds\n" for lines that passed `tests`.
  const std::string& wordsOf(const LineTests& tests) {
    std::string& words = known_[tests];
    if (words.empty()) {
      const std::vector<std::string> kinds = describeLineKinds(tests);
      words = ": ";
      if (kinds.empty()) {
        words += "ignored" + sectionHint(tests);
      } else {
        for (std::size_t i = 0; i < kinds.size(); ++i) words += (i > 0 ? ", " : "") + kinds[i];
      }
      words += '\n';
    }
    return words;
  }

  static constexpr std::size_t kChunk = std::size_t{1} << 16;
  static constexpr std::size_t kDigits = 12;  // an int's digits and sign
  std::ostream& out_;
  std::string prefix_;
  std::string buffer_ = std::string(kChunk, '\0');
  std::size_t used_ = 0;  // bytes of buffer_ not yet written
  std::unordered_map<LineTests, std::string> known_;
  LineTests lastTests_;
  const std::string* words_ = nullptr;  // those of lastTests_
};

class PrintingListener : public CompileListener {
 public:
  PrintingListener(std::ostream& err, std::string file) : err_(err), file_(std::move(file)) {}
  void message(int lineNumber, std::string_view text) override {
    err_ << file_ << ":" << lineNumber << ": " << text << "\n";
  }
  void lineClassified(int lineNumber, const LineTests& tests) override {
    if (kinds != nullptr) kinds->print(lineNumber, tests);
  }
  void stickingLineRead(int lineNumber) override {
    if (kinds != nullptr) kinds->printSticking(lineNumber);
  }
  LineKindPrinter* kinds = nullptr;  // check's line kinds, when printed

 private:
  std::ostream& err_;
  std::string file_;
};

// Files of one run share one session, as two presses of Play share its state.
int runCompile(const CompileOptions& options, CliContext& io) {
  PadMap padMap;
  std::string error;
  if (!loadPadMap(options.padMap, io.in, &padMap, &error)) {
    io.err << "pulsewright-cli: " << error << "\n";
    return kExitError;
  }
  useHugeHeapPages();
  int status = kExitOk;
  auto session = std::make_shared<DocumentSession>();
  for (const std::string& path : options.files) {
    std::string bytes;
    std::string reason;
    if (!readInputBytes(path, io.in, &bytes, &reason)) {
      io.err << "pulsewright-cli: cannot read " << path << ": " << reason << "\n";
      status = kExitError;
      continue;
    }
    // One copy of the text at a time: a document may be a single line of many megabytes.
    std::string text = documentTextFromBytes(bytes);
    std::string().swap(bytes);
    PrintingListener listener(io.err, path);
    LineKindPrinter kinds(io.out, options.files.size() > 1 ? path + ":" : std::string());
    if (options.check) {
      listener.kinds = &kinds;
    }
    SessionOptions compiling = commandSessionOptions(padMap, &listener, options.check);
    if (path != "-") compiling.documentFolder = documentFolderOf(path);
    const std::shared_ptr<const SessionResult> result =
        session->compileNow(std::move(text), std::move(compiling));
    // The next file starts from what this one left, as the next Play would.
    session->keepStateOf(result, false);
    const CompiledDocument& compiled = result->document;
    kinds.flush();
    if (!options.check) {
      writeStateJson(io.out, *result->stateAfter, *compiled.song, compiled.messages);
      io.out << "\n";
    }
    for (const Diagnostic& d : compiled.diagnostics) {
      io.err << formatDiagnostic(path == "-" ? "<stdin>" : path, d) << "\n";
    }
  }
  keepUntilExit(std::move(session));  // with the last song it holds
  return status;
}

void addCompileCommand(CLI::App& app, CliContext& context, bool check) {
  auto options = std::make_shared<CompileOptions>();
  options->check = check;
  CLI::App* command =
      check ? app.add_subcommand("check", "print what every line of each FILE is recognised as")
            : app.add_subcommand("compile", "print each FILE's compiled state as one line of JSON");
  addPadMapOptions(*command, options->padMap);
  command->add_option("FILE", options->files, "tablature documents")->required()->type_name("");
  command->callback([options, &context] { context.status = runCompile(*options, context); });
}

}  // namespace

void addCompileCommands(CLI::App& app, CliContext& context) {
  addCompileCommand(app, context, false);
  addCompileCommand(app, context, true);
}

}  // namespace pulsewright
