// Every shipped document and a few hundred seeded documents of near misses report what
// they reported when the record in data/diagnostics.record was written: every range in
// both units, severity, text and flag, in order. A change of wording or range shows up
// here first; PW_RECORD_DIAGNOSTICS=FILE writes a new record (and FILE.full) after a deliberate
// change.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/StateJson.h"
#include "tablature/CompiledDocument.h"
#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

namespace fs = std::filesystem;

// Small and the same on every platform, unlike the standard distributions.
class Seeded {
 public:
  explicit Seeded(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint32_t below(std::uint32_t n) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ % n);
  }
  template <std::size_t N>
  const char* pick(const char* const (&from)[N]) {
    return from[below(N)];
  }

 private:
  std::uint64_t state_;
};

// Lines that are, or nearly are, each kind of line.
std::string nearMissLine(Seeded& r) {
  static const char* const kSymbols[] = {"k", "s", "h", "w", "q", "t1", "k.", "h'", "", "  k"};
  static const char* const kGrids[] = {
      "|x-x-|",     "|x-x-x-x-|", "|x-x-x-x-x",  "|x-g-x-|",   "x-x-x-x-|",
      "|[xxx]-x-|", "|x-|x-x-|",  "|x-x-x-|x-|", "|X-o-O-9-|", "|x-\xF0\x9D\x84\x9E-x|",
      "|zz-zz-x-|", "|x - x |"};
  static const char* const kVoices[] = {"k = kick",  "s = snare",       "h = closed hat",
                                        "s = snair", "c = crash",       "crash = c",
                                        "z = zebra", "Tempo = fast",    "t1 = tom 1",
                                        "h = hihat", "k = kick = drum", "kick drum = k"};
  static const char* const kSections[] = {"part = A tempo = 120 notes = 8",
                                          "part = B tempo = 100 notes = 8 metre = 6/8",
                                          "part = C tempo = 120 notes = 8 metre = 6/7",
                                          "part = Verse tempo = 90 notes = 8",
                                          "part = D notes = 8",
                                          "part = E tempo = 120",
                                          "PART=\t  \xC3\xA9  tempo=1 notes=8",
                                          "part = A tempo = 120 notes = 16 program = 5",
                                          "section = B bpm = 80 beats = 4 meter = 3/4",
                                          "part = tempo = 120 notes = 8"};
  static const char* const kWaves[] = {"w = wave clap.wav pan 0",  "w = wave clap.aif pan 10",
                                       "w = wave v.wav",           "w = wave  pan 3",
                                       "q = wave odd1.wav pan -5", "w = wave a b.wav pan 1"};
  static const char* const kSongs[] = {
      "song = AB", "song = ACZ", "song = ", "song = A\xC3\xA9Z", "SONG=ABBA", "song = ZZZZ"};
  static const char* const kOthers[] = {
      "",   "meta title = Near", "Hint: k |x-x-|", "remark",
      "  ", "= |x-x-|",          "k |x-x-|",       "meta author = A"};
  switch (r.below(10)) {
    case 0: return r.pick(kVoices);
    case 1: return r.pick(kSections);
    case 2: return r.pick(kWaves);
    case 3: return r.pick(kSongs);
    case 4: return r.pick(kOthers);
    default: return std::string(r.pick(kSymbols)) + (r.below(3) == 0 ? "" : " ") + r.pick(kGrids);
  }
}

std::string nearMissDocument(std::uint64_t seed) {
  Seeded r(seed);
  std::string text;
  const std::uint32_t lines = 1 + r.below(40);
  for (std::uint32_t i = 0; i < lines; ++i) {
    if (i > 0) text += "\r\n";
    text += nearMissLine(r);
  }
  return text;
}

// Every field of every diagnostic, one line each.
std::string described(const std::vector<Diagnostic>& found) {
  std::ostringstream out;
  for (const Diagnostic& d : found) {
    out << d.line << ':' << d.column << '+' << d.length << ' ' << d.utf16Column << '+'
        << d.utf16Length << ' ' << severityWord(d.severity) << (d.unfinished ? " unfinished" : "")
        << ' ' << d.text << '\n';
  }
  return out.str();
}

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  return hash;
}

struct NamedDocument {
  std::string name;
  std::string text;
  std::string before;  // compiled first in the same compiler, unless empty
};

// The shipped documents, as the command line reads files, the seeded ones and a flood
// that reaches the limits.
std::vector<NamedDocument> everyDocument() {
  std::vector<NamedDocument> documents;
  const fs::path root = fs::path(PW_TEST_DATA_DIR).parent_path().parent_path();
  for (const char* folder : {"tests/data", "examples", "templates/shipped"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (entry.path().extension() != ".tab") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      documents.push_back({fs::relative(entry.path(), root).generic_string(),
                           joinLinesWithCrLf(decodeDocumentBytes(bytes)), ""});
    }
  }
  for (std::uint64_t seed = 1; seed <= 400; ++seed) {
    // Every third document follows another in the same compiler, as Play's would.
    documents.push_back({"seed " + std::to_string(seed), nearMissDocument(seed),
                         seed % 3 == 0 ? nearMissDocument(seed + 1000) : ""});
  }
  std::string flood = "k = kick\r\npart = A tempo = 120 notes = 8\r\nk |x-|\r\nsong = A";
  for (int i = 0; i < 700; ++i)
    flood += "\r\nq |x-x-|\r\nk. |x-|\r\nsong = AZZZZZZZZZZZZZZZZZZZZZZZZZ";
  documents.push_back({"flood", flood, ""});
  return documents;
}

// Known answers, without the disk.
std::string fakeSampleProblem(const std::string& path) {
  return path.find("odd") != std::string::npos ? std::string("not a WAVE file") : std::string();
}

// Named documents with the diagnostics each reports.
std::map<std::string, std::string> reportsOfEveryDocument() {
  std::map<std::string, std::string> reports;
  for (const NamedDocument& document : everyDocument()) {
    DiagnosticOptions options;
    options.sampleProblem = fakeSampleProblem;
    if (!document.before.empty()) {
      TablatureCompiler before;
      CompileRequest request;
      request.sampleProblem = nullptr;
      compileDocument(before, document.before, request);
      options.kept = std::make_shared<const CompilerState>(before.state());
    }
    reports[document.name] = described(diagnose(document.text, options));
  }
  return reports;
}

// The compiler looks for problems as it reads: what it makes must not depend on it.
TEST(DiagnosticsRecord, LookingForProblemsChangesNothingTheCompilerMakes) {
  for (const NamedDocument& document : everyDocument()) {
    std::string states[2];
    for (const bool diagnose : {false, true}) {
      TablatureCompiler compiler;
      CompileRequest request;
      request.sampleProblem = fakeSampleProblem;
      if (!document.before.empty()) compileDocument(compiler, document.before, request);
      request.diagnose = diagnose;
      const CompiledDocument compiled = compileDocument(compiler, document.text, request);
      std::ostringstream json;
      writeStateJson(json, compiler.state(), *compiled.song, compiled.messages);
      states[diagnose ? 1 : 0] = json.str();
    }
    ASSERT_EQ(states[0], states[1]) << document.name;
  }
}

TEST(DiagnosticsRecord, EveryDocumentReportsWhatItDidWhenRecorded) {
  const std::map<std::string, std::string> reports = reportsOfEveryDocument();
  if (const char* path = std::getenv("PW_RECORD_DIAGNOSTICS")) {
    // The record, and beside it every report in full to compare by eye.
    std::ofstream out(path, std::ios::binary);
    std::ofstream full(std::string(path) + ".full", std::ios::binary);
    for (const auto& [name, report] : reports) {
      out << std::hex << fnv1a(report) << std::dec << ' '
          << std::count(report.begin(), report.end(), '\n') << ' ' << name << '\n';
      full << "== " << name << '\n' << report;
    }
    GTEST_SKIP() << "recorded " << reports.size() << " documents in " << path;
  }
  std::ifstream in(std::string(PW_TEST_DATA_DIR) + "/diagnostics.record");
  ASSERT_TRUE(in) << "no record";
  std::size_t checked = 0;
  std::string hash;
  std::size_t count = 0;
  std::string name;
  while (in >> hash >> count && std::getline(in >> std::ws, name)) {
    const auto found = reports.find(name);
    ASSERT_NE(found, reports.end()) << name;
    std::ostringstream now;
    now << std::hex << fnv1a(found->second);
    EXPECT_EQ(now.str(), hash) << name << " (" << count << " recorded) now reports:\n"
                               << found->second;
    ++checked;
  }
  EXPECT_EQ(checked, reports.size());
}

}  // namespace
}  // namespace pulsewright
