#include "cli/CliApp.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "cli/DevicesCommand.h"
#include "cli/ExportCommand.h"
#include "cli/ImportCommand.h"
#include "cli/PlayCommand.h"
#include "cli/StateJson.h"
#include "padmap/PadMap.h"
#include "tablature/DocumentText.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;

const std::string kUsage =
    std::string("usage: pulsewright-cli compile [--preset 1|2] [--padmap FILE.drm] FILE...\n"
                "       pulsewright-cli check [--preset 1|2] [--padmap FILE.drm] FILE...\n"
                "       pulsewright-cli ") +
    kPlayUsage + "       pulsewright-cli " + kImportUsage + "       pulsewright-cli " +
    kExportUsage +
    "       pulsewright-cli devices\n"
    "FILE may be - for standard input.\n";

bool readLimited(std::istream& stream, std::string* bytes) {
  bytes->clear();
  char buffer[1 << 16];
  while (stream.read(buffer, sizeof buffer) || stream.gcount() > 0) {
    bytes->append(buffer, static_cast<std::size_t>(stream.gcount()));
    if (bytes->size() > kMaxInputBytes) return false;
  }
  return true;
}

std::string sizeLimitReason() {
  return "larger than " + std::to_string(kMaxInputBytes >> 20) + " MB";
}

struct Options {
  PadMap padMap = defaultPadMap();
  std::vector<std::string> files;
};

// Parses the options shared by compile and check; false after printing the reason.
bool parseOptions(const std::vector<std::string>& args, std::istream& in, std::ostream& err,
                  Options* options, int* status) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string error;
    if (parsePadMapOption(args, &i, in, &options->padMap, &error)) continue;
    if (!error.empty()) {
      err << "pulsewright-cli: " << error << "\n";
      *status = kExitError;
      return false;
    }
    if (a.size() > 1 && a[0] == '-' && a != "-") {
      err << "pulsewright-cli: unknown option " << a << "\n" << kUsage;
      *status = kExitError;
      return false;
    } else {
      options->files.push_back(a);
    }
  }
  if (options->files.empty()) {
    err << kUsage;
    *status = kExitError;
    return false;
  }
  return true;
}

class PrintingListener : public CompileListener {
 public:
  PrintingListener(std::ostream& err, std::string file) : err_(err), file_(std::move(file)) {}
  void message(int lineNumber, std::string_view text) override {
    messages.emplace_back(text);
    err_ << file_ << ":" << lineNumber << ": " << text << "\n";
  }
  void lineClassified(int lineNumber, const LineTests& tests) override {
    if (onLine) onLine(lineNumber, tests);
  }
  std::vector<std::string> messages;
  std::function<void(int, const LineTests&)> onLine;

 private:
  std::ostream& err_;
  std::string file_;
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

int compileFiles(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                 std::ostream& err, bool check) {
  Options options;
  int status = kExitOk;
  if (!parseOptions(args, in, err, &options, &status)) return status;

  TablatureCompiler compiler;
  for (const std::string& path : options.files) {
    std::string bytes;
    std::string reason;
    if (!readInputBytes(path, in, &bytes, &reason)) {
      err << "pulsewright-cli: cannot read " << path << ": " << reason << "\n";
      status = kExitError;
      continue;
    }
    const std::string text = joinLinesWithCrLf(decodeDocumentBytes(bytes));
    PrintingListener listener(err, path);
    if (check) {
      const std::string prefix = options.files.size() > 1 ? path + ":" : std::string();
      // The prefix is copied: it goes out of scope before the compilation calls back.
      listener.onLine = [&out, prefix](int lineNumber, const LineTests& tests) {
        const std::vector<std::string> kinds = describeLineKinds(tests);
        out << prefix << lineNumber << ": ";
        if (kinds.empty()) {
          out << "ignored" << sectionHint(tests);
        } else {
          for (std::size_t i = 0; i < kinds.size(); ++i) out << (i > 0 ? ", " : "") << kinds[i];
        }
        out << "\n";
      };
    }
    compiler.compile(text, options.padMap, &listener);
    if (!check) out << stateToJson(compiler.state(), listener.messages) << "\n";
  }
  out.flush();
  return status;
}

}  // namespace

bool parsePadMapOption(const std::vector<std::string>& args, std::size_t* i, std::istream& in,
                       PadMap* padMap, std::string* error) {
  error->clear();
  const std::string& a = args[*i];
  if (a != "--preset" && a != "--padmap") return false;
  if (*i + 1 >= args.size()) {
    *error = a + " needs a value";
    return false;
  }
  const std::string& value = args[++*i];
  if (a == "--preset") {
    if (value != "1" && value != "2") {
      *error = "--preset takes 1 or 2";
      return false;
    }
    *padMap = presetPadMap(kDrumMachinePresets[value == "1" ? 0 : 1]);
    return true;
  }
  std::string bytes;
  std::string reason;
  if (!readInputBytes(value, in, &bytes, &reason)) {
    *error = "cannot read pad map " + value + ": " + reason;
    return false;
  }
  *padMap = parsePadMapFile(decodeDocumentBytes(bytes));
  return true;
}

bool readInputBytes(const std::string& path, std::istream& stdinStream, std::string* bytes,
                    std::string* reason) {
  if (path == "-") {
    if (!readLimited(stdinStream, bytes)) {
      *reason = sizeLimitReason();
      return false;
    }
    return true;
  }
  // Only regular files: a directory, a FIFO or a device such as /dev/zero would hang
  // or fail half-way.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = "not a regular file";
    return false;
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxInputBytes) {
    *reason = sizeLimitReason();
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *reason = std::strerror(errno);
    return false;
  }
  if (!readLimited(file, bytes)) {
    *reason = sizeLimitReason();
    return false;
  }
  if (file.bad()) {
    *reason = "read error";
    return false;
  }
  return true;
}

int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return kExitError;
  }
  const std::string& command = args[0];
  if (command == "compile") return compileFiles(args, in, out, err, false);
  if (command == "check") return compileFiles(args, in, out, err, true);
  if (command == "devices") return runDevicesCommand(args, out, err);
  if (command == "play") return runPlayCommand(args, in, out, err);
  if (command == "import") return runImportCommand(args, in, out, err);
  if (command == "export") return runExportCommand(args, in, out, err);
  if (command == "--help" || command == "-h" || command == "help") {
    out << kUsage;
    return kExitOk;
  }
  err << "pulsewright-cli: unknown command " << command << "\n" << kUsage;
  return kExitError;
}

}  // namespace pulsewright
