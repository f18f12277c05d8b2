#include "recording/Take.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <unordered_set>

#include "midifile/MidiImport.h"
#include "padmap/DrumVoice.h"
#include "tablature/GridModel.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "text/NumericValue.h"

namespace pulsewright {

namespace {

using V = DrumVoice;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct TextLine {
  std::string_view text;  // without its line end
  std::string_view end;   // "\r\n", "\n", "\r", or "" for the last line
};

// CR LF, LF and a lone CR each end a line, as when a document is read.
std::vector<TextLine> splitLines(std::string_view text) {
  std::vector<TextLine> lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back({text.substr(start), {}});
      return lines;
    }
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    lines.push_back({text.substr(start, end - start), text.substr(end, next - end)});
    start = next;
  }
}

// The lines joined with CR LF, the separator the compiler splits at.
std::string compilerText(const std::vector<TextLine>& lines, std::size_t bytes) {
  std::string text;
  text.reserve(bytes + lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i].text;
  }
  return text;
}

bool isHitMark(char c) {
  return c == 'x' || c == 'X' || c == 'o' || c == 'O' || (c >= '0' && c <= '9');
}

int levelOfMark(char c) {
  if (c == 'X' || c == 'O') return 7;
  if (c == 'x' || c == 'o') return 5;
  return c - '0';
}

char markOfLevel(int level) {
  if (level == 5) return 'x';
  if (level == 7) return 'X';
  return static_cast<char>('0' + level);
}

// Each step's onset from the part's first step, as the sequencer times them when the
// part loops, and the part's length last. Empty when a step lasts no time: the song ends
// there and the part cannot loop.
std::vector<double> stepOnsets(const TimelinePart& part) {
  // A negative duration keeps the interval before: at the first step, that of the last
  // step of the pass before.
  std::int64_t interval = 0;
  for (auto s = part.steps.rbegin(); s != part.steps.rend(); ++s) {
    if (s->duration >= 0) {
      interval = s->duration;
      break;
    }
  }
  std::vector<double> onsets;
  onsets.reserve(part.steps.size() + 1);
  double time = 0;
  for (const TimelineStep& step : part.steps) {
    if (step.duration >= 0) interval = step.duration;
    if (interval <= 0) return {};
    onsets.push_back(time);
    time += static_cast<double>(interval);
  }
  onsets.push_back(time);
  return onsets;
}

// The voice each key plays back to: the pad map's voice first (the first in pad order
// when two share a key), then the drum families and the keys electronic kits send.
std::array<std::optional<V>, 128> voicesOfKeys(const PadMap& padMap) {
  std::array<std::optional<V>, 128> voices{};
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    // Read as the compiler reads a pad entry; note 0 is the rest, no key.
    const double note = std::nearbyint(numericValue(padMap[v]));
    if (note >= 1 && note <= 127 && !voices[static_cast<std::size_t>(note)]) {
      voices[static_cast<std::size_t>(note)] = static_cast<V>(v);
    }
  }
  for (int key = 0; key < 128; ++key) {
    if (!voices[static_cast<std::size_t>(key)])
      voices[static_cast<std::size_t>(key)] = drumVoiceOfKey(key);
  }
  return voices;
}

std::optional<V> voiceOfHit(const TakeHit& hit, const std::array<std::optional<V>, 128>& voices) {
  if (hit.key < 0 || hit.key > 127) return std::nullopt;
  const std::optional<V> voice = voices[static_cast<std::size_t>(hit.key)];
  // The pedal controller says how open the hat was, whichever hat key the kit sent.
  if (voice && (*voice == V::ClosedHat || *voice == V::OpenHat) && hit.hiHatControl >= 0) {
    return hit.hiHatControl <= kClosedHatPedalMax ? V::ClosedHat : V::OpenHat;
  }
  return voice;
}

// A hit as it goes into the grid.
struct Placed {
  std::uint32_t step = 0;
  V voice = V::BassDrum;
  int level = 0;
};

// A grid line of the part being written.
struct PartLine {
  std::size_t index = 0;  // into the document's lines
  bool drum = false;
  V voice = V::BassDrum;
  std::vector<std::uint32_t> steps;  // where each step character stands in the line
  const GridLine* grid = nullptr;
};

// Where the grid characters of a line stand, as the compiler read them.
std::vector<std::uint32_t> stepColumns(const GridModel& model, const GridLine& line) {
  std::vector<std::uint32_t> columns;
  columns.reserve(line.stepCount);
  for (const GridStep& step : line.steps(model)) columns.push_back(step.column);
  return columns;
}

std::string plural(std::size_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

// A text inserted after line `after` (from 1; 0 is before the first line).
struct Insertion {
  std::size_t after = 0;
  int order = 0;  // among insertions after the same line
  std::string text;
};

enum InsertionOrder { kVoiceLine, kBindingBeforeGrid, kGridLine, kBindingAfterGrid };

}  // namespace

TakeResult writeTake(std::string_view document, std::string_view partName,
                     const std::vector<TakeHit>& hits, TakeMode mode, const PadMap& padMap) {
  TakeResult result;
  result.document.assign(document);

  std::string_view body = document;
  const bool byteOrderMark = body.substr(0, kByteOrderMark.size()) == kByteOrderMark;
  if (byteOrderMark) body.remove_prefix(kByteOrderMark.size());
  const std::vector<TextLine> lines = splitLines(body);

  TablatureCompiler compiler;
  compiler.compile(compilerText(lines, body.size()), padMap, nullptr);
  std::shared_ptr<const Timeline> song = compiler.song();
  const GridModel& gridModel = *song->gridModel();

  // The last part of the name is the one the song plays.
  std::size_t partIndex = 0;
  for (std::size_t r = 1; r < song->parts().size(); ++r) {
    if (song->parts()[r].name == partName) partIndex = r;
  }
  const std::string quotedName = "'" + std::string(partName) + "'";
  if (partName.empty() || partIndex == 0) {
    result.error = "no part is named " + quotedName;
    return result;
  }
  const TimelinePart& part = song->parts()[partIndex];
  if (!part.hasSteps()) {
    result.error = "part " + quotedName + " has no grid lines to write into";
    return result;
  }
  const std::vector<double> onsets = stepOnsets(part);
  if (onsets.empty()) {
    result.error = "part " + quotedName + " has a step that lasts no time, so it cannot loop";
    return result;
  }
  const std::size_t stepCount = part.steps.size();
  const double length = onsets.back();

  // Replace keeps the last pass; overdub merges them all.
  int keptPass = 0;
  for (const TakeHit& hit : hits) keptPass = std::max(keptPass, hit.pass);

  const std::array<std::optional<V>, 128> voices = voicesOfKeys(padMap);
  std::map<int, std::size_t> unknownKeys;
  std::size_t countIn = 0;
  std::size_t timeless = 0;
  std::vector<Placed> placed;
  placed.reserve(hits.size());
  for (const TakeHit& hit : hits) {
    if (mode == TakeMode::Replace && hit.pass != keptPass) continue;
    const std::optional<V> voice = voiceOfHit(hit, voices);
    if (!voice) {
      ++unknownKeys[hit.key];
      continue;
    }
    if (!std::isfinite(hit.seconds)) {
      ++timeless;
      continue;
    }
    const double ms = hit.seconds * 1000.0;
    // The step before the first beat is the last one, so half of it is early enough.
    if (hit.pass <= 0 && ms < -(length - onsets[stepCount - 1]) / 2) {
      ++countIn;
      continue;
    }
    double t = std::fmod(ms, length);
    if (t < 0) t += length;
    if (!(t < length)) t = 0;  // rounding brought it to the next pass's first step
    // The nearest onset, the later one when both are as near: a hit half a step before a
    // bar line belongs to the next bar.
    std::size_t step = static_cast<std::size_t>(std::upper_bound(onsets.begin(), onsets.end(), t) -
                                                onsets.begin()) -
                       1;
    if (onsets[step + 1] - t <= t - onsets[step]) ++step;
    if (step == stepCount) step = 0;  // past the part's end: its first step
    placed.push_back({static_cast<std::uint32_t>(step), *voice,
                      levelOfVelocity(std::clamp(hit.velocity, 1, 127))});
  }
  for (const auto& [key, count] : unknownKeys) {
    result.warnings.push_back(
        "key " + std::to_string(key) +
        " is no drum voice of the pad map or of a kit: " + plural(count, "hit") + " not written");
  }
  if (countIn > 0) {
    result.warnings.push_back(plural(countIn, "hit") +
                              " in the count-in, more than half a step before the first beat, " +
                              (countIn == 1 ? "was" : "were") + " not written");
  }
  if (timeless > 0) {
    result.warnings.push_back(plural(timeless, "hit") + " with no time " +
                              (timeless == 1 ? "was" : "were") + " not written");
  }
  if (hits.empty()) result.warnings.emplace_back("nothing was played: the document is unchanged");
  if (placed.empty()) return result;

  // Two hits of one drum on one step are one, at the higher level.
  std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return a.voice != b.voice ? a.voice < b.voice : a.step < b.step;
  });
  {
    auto out = placed.begin();
    for (auto it = placed.begin(); it != placed.end(); ++it) {
      if (out != placed.begin() && std::prev(out)->voice == it->voice &&
          std::prev(out)->step == it->step) {
        std::prev(out)->level = std::max(std::prev(out)->level, it->level);
      } else {
        *out++ = *it;
      }
    }
    placed.erase(out, placed.end());
  }
  std::array<bool, kVoiceCount> played{};
  for (const Placed& p : placed) played[index(p.voice)] = true;

  // The part's grid lines: those after its section line and before the next one.
  const int nextSection = partIndex + 1 < song->parts().size()
                              ? song->parts()[partIndex + 1].sectionLine
                              : std::numeric_limits<int>::max();
  std::vector<PartLine> partLines;
  for (const GridLine& grid : gridModel.lines()) {
    if (grid.line <= part.sectionLine || grid.line >= nextSection) continue;
    PartLine line;
    line.index = static_cast<std::size_t>(grid.line) - 1;
    line.drum = grid.symbolDefined && grid.voice.kind == ItemVoice::Kind::Drum;
    line.voice = grid.voice.drumVoice();
    line.steps = stepColumns(gridModel, grid);
    line.grid = &grid;
    partLines.push_back(std::move(line));
  }
  // A part of grid lines with no step ("h |||") still has one step to play.
  const bool stepsWritten = std::any_of(partLines.begin(), partLines.end(), [&](const PartLine& l) {
    return l.steps.size() >= stepCount;
  });
  if (!stepsWritten) {
    result.error = "part " + quotedName + " has no steps to write into";
    return result;
  }

  // Lines are copied only once written to.
  std::vector<std::string> edited;
  edited.reserve(partLines.size());
  std::vector<std::int32_t> editOf(partLines.size(), -1);
  auto textOf = [&](std::size_t k) -> std::string& {
    if (editOf[k] < 0) {
      editOf[k] = static_cast<std::int32_t>(edited.size());
      edited.emplace_back(lines[partLines[k].index].text);
    }
    return edited[static_cast<std::size_t>(editOf[k])];
  };
  auto charAt = [&](std::size_t k, std::size_t step) {
    const std::size_t column = partLines[k].steps[step];
    return editOf[k] < 0 ? lines[partLines[k].index].text[column]
                         : edited[static_cast<std::size_t>(editOf[k])][column];
  };

  if (mode == TakeMode::Replace) {
    for (std::size_t k = 0; k < partLines.size(); ++k) {
      const PartLine& line = partLines[k];
      if (!line.drum || !played[index(line.voice)]) continue;
      for (std::size_t s = 0; s < line.steps.size(); ++s) {
        if (isHitMark(charAt(k, s))) textOf(k)[line.steps[s]] = '-';
      }
    }
  }

  // Hits of a voice go into the line of that voice that already has a hit on the step,
  // else into the first of its lines that reaches the step; the rest into a new line.
  std::vector<Placed> written;
  written.reserve(placed.size());
  std::array<std::vector<Placed>, kVoiceCount> unplaced;
  std::vector<std::int32_t> owner;
  std::vector<char> ownerHasHit;
  for (std::size_t first = 0; first < placed.size();) {
    const V voice = placed[first].voice;
    std::size_t last = first;
    while (last < placed.size() && placed[last].voice == voice) ++last;
    owner.assign(stepCount, -1);
    ownerHasHit.assign(stepCount, 0);
    for (std::size_t k = 0; k < partLines.size(); ++k) {
      const PartLine& line = partLines[k];
      if (!line.drum || line.voice != voice) continue;
      const std::size_t reach = std::min(line.steps.size(), stepCount);
      for (std::size_t s = 0; s < reach; ++s) {
        if (ownerHasHit[s] != 0) continue;
        if (isHitMark(charAt(k, s))) {
          owner[s] = static_cast<std::int32_t>(k);
          ownerHasHit[s] = 1;
        } else if (owner[s] < 0) {
          owner[s] = static_cast<std::int32_t>(k);
        }
      }
    }
    for (std::size_t h = first; h < last; ++h) {
      Placed hit = placed[h];
      const std::int32_t k = owner[hit.step];
      if (k < 0) {
        unplaced[index(voice)].push_back(hit);
        continue;
      }
      const auto line = static_cast<std::size_t>(k);
      const char now = charAt(line, hit.step);
      if (isHitMark(now)) hit.level = std::max(hit.level, levelOfMark(now));
      if (!isHitMark(now) || levelOfMark(now) != hit.level) {
        textOf(line)[partLines[line].steps[hit.step]] = markOfLevel(hit.level);
      }
      written.push_back(hit);
    }
    first = last;
  }

  std::vector<Insertion> insertions;
  if (std::any_of(unplaced.begin(), unplaced.end(), [](const auto& u) { return !u.empty(); })) {
    // New lines copy the bar lines and brackets of the part's longest grid line, so they
    // keep its steps and its bars.
    std::size_t model = 0;
    for (std::size_t k = 1; k < partLines.size(); ++k) {
      if (partLines[k].steps.size() > partLines[model].steps.size()) model = k;
    }
    const std::string_view modelText = lines[partLines[model].index].text;
    const GridLine& modelGrid = *partLines[model].grid;
    const std::size_t indent = modelGrid.symbolColumn;
    const std::size_t bar = modelGrid.bodyColumn - 1;
    const std::size_t gap = bar - indent - modelGrid.symbol(gridModel).size();
    std::string emptyGrid(modelText.substr(bar, modelGrid.bodyLength + 1));
    for (const std::uint32_t column : partLines[model].steps) emptyGrid[column - bar] = '-';
    if (isHitMark(emptyGrid.back())) emptyGrid.back() = '-';

    // The symbols in force where the new lines go, after the part's last grid line.
    const std::size_t lastGridLine = partLines.back().index + 1;
    std::array<std::string, kVoiceCount> symbolOf;
    std::size_t lastBindingAbove = 0;
    std::unordered_set<std::string> taken;
    for (const VoiceBinding& b : gridModel.bindings()) {
      if (static_cast<std::size_t>(b.line) <= lastGridLine) symbolOf[index(b.voice)] = b.symbol;
      if (b.line < part.sectionLine) lastBindingAbove = static_cast<std::size_t>(b.line);
      taken.insert(b.symbol);
    }
    for (const GridLine& grid : gridModel.lines()) taken.insert(grid.symbol(gridModel));
    for (const std::string& wave : compiler.state().waveNames) taken.insert(wave);

    for (const V voice : kImportLineOrder) {
      const std::size_t v = index(voice);
      if (unplaced[v].empty()) continue;
      std::string symbol = symbolOf[v];
      // A grid line can use the voice's symbol when it is a word and no other voice has it.
      const bool usable = !symbol.empty() &&
                          std::count(symbolOf.begin(), symbolOf.end(), symbol) == 1 &&
                          std::all_of(symbol.begin(), symbol.end(), [](char c) {
                            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
                          });
      if (!usable) {
        std::string fresh(kImportVoiceSymbols[v]);
        for (int n = 2; taken.count(fresh) != 0; ++n)
          fresh = std::string(kImportVoiceSymbols[v]) + std::to_string(n);
        taken.insert(fresh);
        const std::string_view caption = kVoiceCaptions[v];
        auto voiceLine = [caption](std::string line) { return line.append(" = ").append(caption); };
        if (!symbol.empty()) {
          // Bound just for this line, and back to its old symbol after it, so the lines
          // below play as they did.
          insertions.push_back({lastGridLine, kBindingBeforeGrid, voiceLine(fresh)});
          insertions.push_back({lastGridLine, kBindingAfterGrid, voiceLine(symbol)});
        } else {
          // With the voice lines above the part, or just above its section line.
          const std::size_t after = lastBindingAbove > 0
                                        ? lastBindingAbove
                                        : static_cast<std::size_t>(part.sectionLine) - 1;
          insertions.push_back({after, kVoiceLine, voiceLine(fresh)});
        }
        symbol = std::move(fresh);
      }
      std::string text(modelText.substr(0, indent));
      text += symbol;
      const std::size_t pad = indent + symbol.size() < bar ? bar - indent - symbol.size()
                                                           : std::min<std::size_t>(gap, 1);
      text.append(pad, ' ');
      const std::size_t at = text.size();
      text += emptyGrid;
      for (const Placed& hit : unplaced[v]) {
        text[at + partLines[model].steps[hit.step] - bar] = markOfLevel(hit.level);
        written.push_back(hit);
      }
      insertions.push_back({lastGridLine, kGridLine, std::move(text)});
    }
    std::stable_sort(insertions.begin(), insertions.end(),
                     [](const Insertion& a, const Insertion& b) {
                       return a.after != b.after ? a.after < b.after : a.order < b.order;
                     });
  }

  // The new text: every line with its own line end; inserted lines take the line end
  // of the line they follow, or the document's first.
  std::vector<const std::string*> replaced(lines.size(), nullptr);
  for (std::size_t k = 0; k < partLines.size(); ++k) {
    if (editOf[k] >= 0) replaced[partLines[k].index] = &edited[static_cast<std::size_t>(editOf[k])];
  }
  std::string_view usualEnd = "\r\n";
  for (const TextLine& line : lines) {
    if (!line.end.empty()) {
      usualEnd = line.end;
      break;
    }
  }
  std::size_t extra = 0;
  for (const Insertion& insertion : insertions) extra += insertion.text.size() + 2;
  std::string out;
  out.reserve(document.size() + extra);
  if (byteOrderMark) out += kByteOrderMark;
  std::size_t next = 0;
  for (; next < insertions.size() && insertions[next].after == 0; ++next) {
    out += insertions[next].text;
    out += usualEnd;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (replaced[i] != nullptr) {
      out += *replaced[i];
    } else {
      out += lines[i].text;
    }
    if (next == insertions.size() || insertions[next].after != i + 1) {
      out += lines[i].end;
      continue;
    }
    const std::string_view end = lines[i].end.empty() ? usualEnd : lines[i].end;
    out += end;
    for (; next < insertions.size() && insertions[next].after == i + 1; ++next) {
      out += insertions[next].text;
      // The document's last line keeps having no line end.
      const bool lastInserted =
          next + 1 == insertions.size() || insertions[next + 1].after != i + 1;
      if (!lastInserted || !lines[i].end.empty()) out += end;
    }
  }

  // The new text must play the take on the steps it was written to and keep the part's
  // timing; anything else would be a fault here, and leaves the document as it was.
  std::string_view outBody = out;
  if (byteOrderMark) outBody.remove_prefix(kByteOrderMark.size());
  const std::vector<TextLine> outLines = splitLines(outBody);
  const std::size_t partCount = song->parts().size();
  std::vector<std::int16_t> durations(stepCount);
  for (std::size_t s = 0; s < stepCount; ++s) durations[s] = part.steps[s].duration;
  // The first song goes before the second is made: a long document's songs are large.
  song.reset();
  compiler.reset();
  compiler.compile({}, padMap, nullptr);
  compiler.compile(compilerText(outLines, outBody.size()), padMap, nullptr);
  const std::shared_ptr<const Timeline> check = compiler.song();
  std::string fault;
  if (check->parts().size() != partCount || check->parts()[partIndex].steps.size() != stepCount) {
    fault = "its steps would change";
  } else {
    const TimelinePart& now = check->parts()[partIndex];
    for (std::size_t s = 0; s < stepCount && fault.empty(); ++s) {
      if (now.steps[s].duration != durations[s]) fault = "its timing would change";
    }
    for (const Placed& hit : written) {
      if (!fault.empty()) break;
      const auto items = now.itemsOf(now.steps[hit.step]);
      const bool heard = std::any_of(items.begin(), items.end(), [&](const TimelineItem& item) {
        return !item.isRest() && item.voice.kind == ItemVoice::Kind::Drum &&
               item.voice.drumVoice() == hit.voice && item.level >= hit.level;
      });
      if (!heard) {
        fault = "it would not play the " + std::string(kVoiceCaptions[index(hit.voice)]) +
                " on step " + std::to_string(hit.step);
      }
    }
  }
  if (!fault.empty()) {
    result.error = "the take cannot be written into part " + quotedName + ": " + fault;
    return result;
  }

  result.hitsWritten = static_cast<int>(written.size());
  result.changed = out != document;
  result.document = std::move(out);
  return result;
}

}  // namespace pulsewright
