#include "cli/Command.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <istream>
#include <ostream>

#include "fileio/InputFile.h"
#include "playback/SongRenderer.h"
#include "tablature/Timeline.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

bool readLimited(std::istream& stream, std::string* bytes) {
  bytes->clear();
  char buffer[1 << 16];
  while (stream.read(buffer, sizeof buffer) || stream.gcount() > 0) {
    bytes->append(buffer, static_cast<std::size_t>(stream.gcount()));
    if (bytes->size() > kMaxInputBytes) return false;
  }
  return true;
}

bool processEndsAfterCommand = false;
bool heapGrownAhead = false;  // by useHugeHeapPages()

// The signal that asked the command to stop, 0 while none has.
std::atomic<int> gStopSignal{0};
extern "C" void onStopSignal(int signal) {
  gStopSignal.store(signal);
}

}  // namespace

struct StopSignals::Saved {
  int signal;
  struct sigaction action;
};

StopSignals::StopSignals(std::initializer_list<int> signals) {
  gStopSignal.store(0);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : signals) {
    Saved saved{signal, {}};
    if (sigaction(signal, &action, &saved.action) == 0) previous_.push_back(saved);
  }
}

StopSignals::~StopSignals() {
  for (const Saved& saved : previous_) sigaction(saved.signal, &saved.action, nullptr);
}

int StopSignals::caught() const {
  return gStopSignal.load();
}

void setProcessEndsAfterCommand(bool ends) {
  processEndsAfterCommand = ends;
}

// compile and check read a whole document into many small blocks and then end: on a long one,
// faulting the heap in 4 KB at a time took a quarter of its time. The heap is grown once,
// ahead, and given transparent huge pages where the system has them; blocks of 4 MB and
// more are still mapped on their own and given back when freed, so a long line's peak
// memory stays about as it was. Where the address space is limited, or this does not
// take (another allocator, no huge pages), nothing changes.
void useHugeHeapPages() {
  if (!processEndsAfterCommand) return;  // a test's process keeps its allocator as it is
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  constexpr int kOwnMapping = 4 << 20;
  constexpr int kHeapAhead = 128 << 20;
  constexpr int kDefaultTopPad = 128 << 10;
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) return;
  if (mallopt(M_MMAP_THRESHOLD, kOwnMapping) == 0) return;
  mallopt(M_TRIM_THRESHOLD, 2 * kHeapAhead);
  mallopt(M_TOP_PAD, kHeapAhead);
  auto* const before = static_cast<char*>(sbrk(0));
  // More than the heap has free, so that it grows now, by kHeapAhead as well. (Through a
  // volatile pointer: a compiler may drop a block that is freed unused.)
  void* volatile block = std::malloc(kOwnMapping / 2);
  std::free(block);
  auto* const after = static_cast<char*>(sbrk(0));
  mallopt(M_TOP_PAD, kDefaultTopPad);  // later growth as usual
  if (reinterpret_cast<std::intptr_t>(before) == -1 || after <= before)
    return;  // no heap to advise
  auto offset = [](const char* p) { return reinterpret_cast<std::uintptr_t>(p) % kHugePage; };
  char* const from = before + (kHugePage - offset(before)) % kHugePage;
  char* const to = after - offset(after);
  if (to > from) madvise(from, static_cast<std::size_t>(to - from), MADV_HUGEPAGE);  // a hint
  heapGrownAhead = true;
}

void keepLargeBlocksOnHeap() {
  if (heapGrownAhead) mallopt(M_MMAP_THRESHOLD, 32 << 20);  // glibc's largest
}

SessionOptions commandSessionOptions(const PadMap& padMap, CompileListener* listener,
                                     bool diagnose) {
  SessionOptions options;
  options.padMap = padMap;
  options.listener = listener;
  options.diagnose = diagnose;
  // As one compiler reads file after file; and the process ends after the command, so a
  // large text needs no thread whose memory goes with it.
  options.ownMetadata = false;
  options.largeTextsAside = false;
  return options;
}

void keepUntilExit(std::shared_ptr<const void> object) {
  if (!processEndsAfterCommand) return;
  // Never destroyed, and reachable to the end, so leak checkers do not count it.
  static auto* const kept = new std::vector<std::shared_ptr<const void>>;
  kept->push_back(std::move(object));
}

bool readInputBytes(const std::string& path, std::istream& stdinStream, std::string* bytes,
                    std::string* reason) {
  if (path != "-") return readRegularFile(path, kMaxInputBytes, bytes, reason);
  if (!readLimited(stdinStream, bytes)) {
    *reason = sizeLimitReason(kMaxInputBytes);
    return false;
  }
  return true;
}

void addPadMapOptions(CLI::App& command, PadMapChoice& choice) {
  CLI::Option* preset =
      command.add_option("--preset", choice.preset, "drum machine preset pad map (1 or 2)")
          ->check(CLI::IsMember({"1", "2"}))
          ->option_text("1|2");
  command.add_option("--padmap", choice.file, "pad map file (.drm) giving each drum its notes")
      ->option_text("FILE.drm")
      ->excludes(preset);
}

bool loadPadMap(const PadMapChoice& choice, std::istream& in, PadMap* padMap, std::string* error) {
  if (!choice.preset.empty()) {
    *padMap = presetPadMap(kDrumMachinePresets[choice.preset == "1" ? 0 : 1]);
  } else if (!choice.file.empty()) {
    std::string bytes;
    std::string reason;
    if (!readInputBytes(choice.file, in, &bytes, &reason)) {
      *error = "cannot read pad map " + choice.file + ": " + reason;
      return false;
    }
    *padMap = parsePadMapFile(decodeDocumentBytes(bytes));
  } else {
    *padMap = defaultPadMap();
  }
  return true;
}

std::string documentFolderOf(const std::string& file) {
  if (file == "-") return {};
  return std::filesystem::path(file).parent_path().string();
}

bool loadDocument(const std::string& file, const PadMapChoice& choice, CliContext& io,
                  PadMap* padMap, std::string* text) {
  std::string reason;
  if (!loadPadMap(choice, io.in, padMap, &reason)) {
    io.err << "pulsewright-cli: " << reason << "\n";
    return false;
  }
  std::string bytes;
  if (!readInputBytes(file, io.in, &bytes, &reason)) {
    io.err << "pulsewright-cli: cannot read " << file << ": " << reason << "\n";
    return false;
  }
  *text = documentTextFromBytes(bytes);
  return true;
}

CLI::Validator finiteNumber(double minimum, double maximum) {
  return CLI::Validator(
      [minimum, maximum](const std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || !std::isfinite(value) || value < minimum || value > maximum) {
          return "a number from " + CLI::detail::to_string(minimum) + " to " +
                 CLI::detail::to_string(maximum) + " expected, not " + text;
        }
        return {};
      },
      "", "finite");
}

std::string formatDuration(double seconds) {
  char text[64];
  if (seconds >= 86400.0 * 365) {
    std::snprintf(text, sizeof text, "%.3g years", seconds / (86400.0 * 365.25));
  } else if (seconds >= 86400.0) {
    std::snprintf(text, sizeof text, "%.1f days", seconds / 86400.0);
  } else {
    const auto whole = static_cast<long>(std::ceil(seconds));
    if (whole >= 3600) {
      std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                    whole % 60);
    } else {
      std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
  }
  return text;
}

void addMaxLengthOption(CLI::App& command, double& maxSeconds) {
  command
      .add_option("--max-length", maxSeconds,
                  "refuse a song longer than this many seconds (default 3600)")
      ->check(finiteNumber(0, 1e9))
      ->option_text("SECONDS");
}

bool withinMaxLength(const Timeline& timeline, double maxSeconds, const std::string& file,
                     std::string_view verb, std::ostream& err) {
  const double seconds = songSeconds(timeline);
  if (seconds <= maxSeconds) return true;
  err << "pulsewright-cli: " << file << ": the song lasts " << formatDuration(seconds)
      << ", longer than --max-length " << formatDuration(maxSeconds)
      << " (raise --max-length, in seconds, to " << verb << " it)\n";
  return false;
}

std::string lowerCase(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

int pickByName(const std::vector<std::string>& names, const std::string& wanted) {
  const std::string w = lowerCase(wanted);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (lowerCase(names[i]) == w) return static_cast<int>(i);
  }
  int found = -1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (lowerCase(names[i]).find(w) != std::string::npos) {
      if (found >= 0) return -2;
      found = static_cast<int>(i);
    }
  }
  return found;
}

}  // namespace pulsewright
