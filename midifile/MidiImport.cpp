#include "midifile/MidiImport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <unordered_map>

#include "midifile/StandardMidiFileReader.h"
#include "padmap/DrumVoice.h"
#include "tablature/ImportWriter.h"
#include "tablature/Timeline.h"
#include "text/DocumentText.h"
#include "text/Utf8.h"

namespace pulsewright {

namespace {

using V = DrumVoice;

// An onset this near a step is on it (less for fine grids: a quarter of the step).
constexpr double kToleranceMs = 25;
// Silence after the bar of the last note is kept up to this many bars.
constexpr int kTrailingBars = 4;
// Meta values longer than this are cut; more text events than this are left out.
constexpr std::size_t kMaxMetaBytes = 1000;
constexpr std::size_t kMaxDescriptionTexts = 20;
// When the bars are too many to name, consecutive bars are joined into parts of up to
// this many.
constexpr int kMaxBarsPerPart = 64;

// Two or three hits of a drum this near each other, each before the last softer than it,
// are a flam or a drag on the last.
constexpr double kGraceMs = 40;
// An open hat cut this soon after it is struck is a half-open hat.
constexpr double kHalfOpenCutMs = 80;
// Off-beats at this share of a pair of eighths or sixteenths are written as swing; a
// share near two thirds is left to the triplet grids, which hold it as exactly.
constexpr int kLeastSwing = 55;
constexpr int kMostSwing = 75;

struct Onset {
  std::int64_t tick;
  std::uint8_t voice;
  std::uint8_t level;
  Articulation articulation = Articulation::None;
};

struct Hit {
  int step;
  std::uint8_t voice;
  std::uint8_t level;
  Articulation articulation = Articulation::None;
};

// What an electronic kit's articulation key asks of the drum drumVoiceOfKey plays it on.
Articulation articulationOfKey(int key) {
  switch (key) {
    case 22:                             // closed hat edge
    case 26:                             // open hat edge
    case 59: return Articulation::Edge;  // ride edge
    case 53: return Articulation::Bell;  // on the ride, whose bell it is
    case 23: return Articulation::HalfOpen;
    case 37: return Articulation::CrossStick;
    case 40: return Articulation::Rimshot;
    default: return Articulation::None;
  }
}

bool cymbalVoice(std::uint8_t voice) {
  const auto v = static_cast<V>(voice);
  return v == V::Crash1 || v == V::Crash2 || v == V::Ride || v == V::Bell || v == V::OpenHat ||
         v == V::ClosedHat;
}

// Snare and toms: a flam may start on one and end on another.
bool handDrum(std::uint8_t voice) {
  const auto v = static_cast<V>(voice);
  return v == V::SnareDrum || v == V::Tom1 || v == V::Tom2 || v == V::Tom3 || v == V::Tom4;
}

// A bar, or the share of a bar between two changes of tempo or program.
struct Piece {
  double start = 0;
  double end = 0;
  int bar = 1;  // from 1
  std::uint32_t us = 500000;
  int tempo = 120;
  int program = -1;
  int grid = 8;
  int swing = 50;  // the off-beats' share of each pair of steps, in percent
  int steps = 1;
  // The time signature of the piece's bar.
  int beats = 4;
  int beatUnit = 4;
  std::size_t firstHit = 0;
  std::size_t hitCount = 0;
};

// One change of the written tempo or of the program, at the step it was snapped to.
struct Change {
  double at;
  int value;
  std::uint32_t us;  // tempo changes only
};

// The names the one writer of imported documents gives, in its order.
std::string partName(std::size_t n) {
  return importedPartName(n);
}

constexpr std::size_t kPartNames = 62 + (0x9FFF - 0x4E00 + 1) + (0x4DBF - 0x3400 + 1) +
                                   (0xD7A3 - 0xAC00 + 1) + (0x2A6DF - 0x20000 + 1);

char levelCharacter(int level) {
  if (level == 5) return 'x';
  if (level == 7) return 'X';
  return static_cast<char>('0' + level);
}

char hitCharacter(const Hit& hit) {
  if (hit.articulation == Articulation::None) return levelCharacter(hit.level);
  return markOfArticulation(hit.articulation, hit.level);
}

int writtenTempo(std::uint32_t us) {
  const double bpm = 60'000'000.0 / us;
  return static_cast<int>(std::clamp(std::lround(bpm), 1L, static_cast<long>(kMaxImportTempo)));
}

// Text of a meta event as one line of UTF-8: control characters become blanks.
std::string metaValue(std::string_view raw) {
  std::string text = decodeDocumentBytes(raw);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  if (text.size() > kMaxMetaBytes) {
    std::size_t cut = kMaxMetaBytes;
    while (cut > 0 && isContinuationByte(text[cut])) --cut;
    text.resize(cut);
  }
  return text;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string plural(std::size_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

class Importer {
 public:
  Importer(const MidiImportOptions& options) : options_(options) {}
  MidiImportResult run(std::string_view bytes);

 private:
  void collectOnsets();
  void collectChokes();
  void findGraces();
  bool layBars();
  void placeChanges();
  void cutPieces();
  void quantise();
  int chooseGrid(const Piece& piece, const std::vector<double>& positions, bool last) const;
  int chooseSwing(const Piece& piece, const std::vector<double>& positions, int* grid) const;
  std::string metaLines() const;
  bool writeParts(int barsPerPart, std::string* parts, std::string* song) const;
  // The parts written so far by shape (their text with every hit alike): text and name.
  using Shapes = std::unordered_map<std::string, std::vector<std::pair<std::string, std::string>>>;
  static std::string shapeOf(std::string_view body);
  // The name of a part `body` differs from by one level at most at each hit, if any.
  static const std::string* foldedInto(const std::string& body, const Shapes& shapes);
  std::uint32_t tempoAt(double tick) const;
  double msPerTick(std::uint32_t us) const { return us / 1000.0 / division_; }
  void warn(std::string text) { result_.warnings.push_back(std::move(text)); }

  MidiImportOptions options_;
  MidiImportResult result_;
  MidiFileContents file_;
  double division_ = 480;
  std::vector<Onset> onsets_;
  std::vector<MidiFileTempo> tempi_;  // sorted, one per tick, from tick 0
  std::vector<std::pair<double, double>> bars_;
  struct BarMetre {
    int beats;
    int beatUnit;
  };
  std::vector<BarMetre> barMetres_;  // one per bar
  mutable std::size_t foldedBars_ = 0;
  std::vector<Change> tempoChanges_;
  std::vector<Change> programChanges_;
  std::vector<Piece> pieces_;
  std::vector<Hit> hits_;
  std::array<bool, kVoiceCount> used_{};
};

std::uint32_t Importer::tempoAt(double tick) const {
  auto it = std::upper_bound(tempi_.begin(), tempi_.end(), tick,
                             [](double t, const MidiFileTempo& m) { return t < m.tick; });
  return it == tempi_.begin() ? 500000 : std::prev(it)->microsecondsPerQuarter;
}

void Importer::collectOnsets() {
  const int channel = options_.channel - 1;
  std::array<std::size_t, 16> others{};
  std::array<std::size_t, 128> unknown{};
  onsets_.reserve(file_.notes.size());
  for (const MidiFileNoteOn& n : file_.notes) {
    ++result_.notesPerChannel[n.channel];
    if (n.channel != channel) {
      ++others[n.channel];
      continue;
    }
    std::optional<DrumVoice> voice = drumVoiceOfKey(n.key);
    if (n.key == 53) voice = V::Ride;  // the ride's bell: a mark on the ride line
    if (!voice) {
      ++unknown[n.key];
      voice = n.key < 35 ? V::Perc1 : V::Perc2;
    }
    onsets_.push_back({n.tick, static_cast<std::uint8_t>(index(*voice)),
                       static_cast<std::uint8_t>(levelOfVelocity(n.velocity)),
                       articulationOfKey(n.key)});
  }
  collectChokes();
  std::stable_sort(onsets_.begin(), onsets_.end(),
                   [](const Onset& a, const Onset& b) { return a.tick < b.tick; });

  std::string counts;
  std::size_t total = 0;
  for (std::size_t c = 0; c < others.size(); ++c) {
    if (others[c] == 0) continue;
    total += others[c];
    counts += (counts.empty() ? "" : ", ") + std::string("channel ") + std::to_string(c + 1) +
              ": " + std::to_string(others[c]);
  }
  if (total > 0 && !onsets_.empty()) {
    warn(plural(total, "note") + " on other channels left out (" + counts + ")");
  }
  if (onsets_.empty()) {
    result_.error = "no notes on channel " + std::to_string(options_.channel);
    if (total > 0) result_.error += " (the notes are on " + counts + ")";
    return;
  }
  for (std::size_t key = 0; key < unknown.size(); ++key) {
    if (unknown[key] == 0) continue;
    warn("key " + std::to_string(key) + " is no drum this program knows: its " +
         plural(unknown[key], "hit") + " play " +
         std::string(kVoiceCaptions[index(key < 35 ? V::Perc1 : V::Perc2)]));
  }
}

// A cymbal grabbed: key pressure rising to 127 is a choke, which strikes nothing.
void Importer::collectChokes() {
  std::array<std::uint8_t, 128> pressure{};
  for (const MidiFileKeyPressure& k : file_.keyPressures) {
    if (k.channel != options_.channel - 1) continue;
    const bool grabbed = k.pressure == 127 && pressure[k.key] != 127;
    pressure[k.key] = k.pressure;
    const std::optional<DrumVoice> voice = drumVoiceOfKey(k.key);
    if (!grabbed || !voice || !cymbalVoice(static_cast<std::uint8_t>(index(*voice)))) continue;
    onsets_.push_back({k.tick, static_cast<std::uint8_t>(index(*voice)), 0, Articulation::Choke});
  }
}

// Runs of hits of one drum (or of the snare and toms) each within kGraceMs of the one
// before: one or two softer hits before the last are its flam's or drag's grace notes.
void Importer::findGraces() {
  std::vector<bool> dropped(onsets_.size(), false);
  auto msBetween = [&](const Onset& before, const Onset& after) {
    return static_cast<double>(after.tick - before.tick) *
           msPerTick(tempoAt(static_cast<double>(before.tick)));
  };
  // An open hat cut soon after its stroke: the half-open hat, its cut no choke.
  const auto openHat = static_cast<std::uint8_t>(index(V::OpenHat));
  std::optional<std::size_t> lastOpen;
  for (std::size_t i = 0; i < onsets_.size(); ++i) {
    Onset& o = onsets_[i];
    if (o.voice != openHat) continue;
    if (o.articulation != Articulation::Choke) {
      lastOpen = i;
    } else if (lastOpen && onsets_[*lastOpen].articulation == Articulation::None &&
               msBetween(onsets_[*lastOpen], o) <= kHalfOpenCutMs) {
      onsets_[*lastOpen].articulation = Articulation::HalfOpen;
      dropped[i] = true;
      lastOpen.reset();
    }
  }
  // A stroke of one drum and two or more softer ones each close after the one before: a
  // buzz roll on the first.
  std::unordered_map<int, std::vector<std::size_t>> strokes;  // by drum
  auto closeRoll = [&](std::vector<std::size_t>& run) {
    bool buzz = run.size() >= 3 && onsets_[run[0]].articulation == Articulation::None;
    for (std::size_t k = 1; buzz && k < run.size(); ++k) {
      buzz = onsets_[run[k]].level < onsets_[run[0]].level &&
             onsets_[run[k]].articulation == Articulation::None;
    }
    if (buzz) {
      onsets_[run[0]].articulation = Articulation::Buzz;
      for (std::size_t k = 1; k < run.size(); ++k) dropped[run[k]] = true;
    }
    run.clear();
  };
  for (std::size_t i = 0; i < onsets_.size(); ++i) {
    if (onsets_[i].articulation == Articulation::Choke || dropped[i]) continue;
    std::vector<std::size_t>& run = strokes[onsets_[i].voice];
    if (!run.empty() && msBetween(onsets_[run.back()], onsets_[i]) > kGraceMs) closeRoll(run);
    run.push_back(i);
  }
  for (auto& [drum, run] : strokes) closeRoll(run);
  std::unordered_map<int, std::vector<std::size_t>> runs;  // by drum (-1: the hand drums)
  auto close = [&](std::vector<std::size_t>& run) {
    if (run.size() == 2 || run.size() == 3) {
      Onset& main = onsets_[run.back()];
      bool softer = true;
      for (std::size_t k = 0; k + 1 < run.size(); ++k) {
        softer = softer && onsets_[run[k]].level < main.level;
      }
      if (softer) {
        main.articulation = run.size() == 2 ? Articulation::Flam : Articulation::Drag;
        for (std::size_t k = 0; k + 1 < run.size(); ++k) dropped[run[k]] = true;
      }
    }
    run.clear();
  };
  for (std::size_t i = 0; i < onsets_.size(); ++i) {
    const Onset& o = onsets_[i];
    if (o.articulation == Articulation::Choke || dropped[i]) continue;
    std::vector<std::size_t>& run = runs[handDrum(o.voice) ? -1 : o.voice];
    if (!run.empty() && msBetween(onsets_[run.back()], o) > kGraceMs) close(run);
    run.push_back(i);
  }
  for (auto& [drum, run] : runs) close(run);
  std::size_t out = 0;
  for (std::size_t i = 0; i < onsets_.size(); ++i) {
    if (!dropped[i]) onsets_[out++] = onsets_[i];
  }
  onsets_.resize(out);
}

// The file's bars, from its time signatures (4/4 until the first), up to the end of its
// tracks or a few bars after the last note.
bool Importer::layBars() {
  std::vector<MidiFileTimeSignature> meters = file_.signatures;
  std::stable_sort(meters.begin(), meters.end(),
                   [](const auto& a, const auto& b) { return a.tick < b.tick; });
  const auto lastOnset = static_cast<double>(onsets_.back().tick);
  // Past the last note, so that a note a little early for the next bar finds it.
  const double end = std::max(static_cast<double>(file_.endTick), lastOnset + division_ / 24 + 1);
  int num = 4;
  int den = 4;
  std::size_t m = 0;
  double cursor = 0;
  int barsAfterLast = 0;
  while (cursor < end) {
    while (m < meters.size() && meters[m].tick <= cursor) {
      num = meters[m].numerator;
      den = meters[m].denominator;
      ++m;
    }
    double next = cursor + num * 4.0 * division_ / den;
    if (m < meters.size() && meters[m].tick < next) next = static_cast<double>(meters[m].tick);
    // After the last note only whole bars count: a note off that runs over the bar line
    // makes no bar of its own.
    if (cursor > lastOnset + division_ / 24) {
      if (next > end) break;
      if (++barsAfterLast > kTrailingBars) {
        warn("the silence after the last note is cut to " + plural(kTrailingBars, "bar"));
        break;
      }
    }
    bars_.emplace_back(cursor, std::min(next, end));
    barMetres_.push_back({num, den});
    if (bars_.size() > static_cast<std::size_t>(kMaxImportBars)) {
      result_.error = "the song is longer than " + std::to_string(kMaxImportBars) + " bars";
      return false;
    }
    cursor = next;
  }
  return true;
}

// Tempo and program changes, each moved to the nearest triplet thirty-second of its bar
// (or to the next bar when that is nearer), so that every share of a bar fits a grid.
void Importer::placeChanges() {
  const double step = division_ / 12;
  std::size_t bar = 0;
  auto snap = [&](double tick) {
    while (bar + 1 < bars_.size() && bars_[bar].second <= tick) ++bar;
    const auto& [start, end] = bars_[bar];
    const double at = start + std::round((tick - start) / step) * step;
    return at >= end - 1e-6 ? end : std::max(at, start);
  };

  int written = writtenTempo(tempoAt(0));
  tempoChanges_.push_back({0, written, tempoAt(0)});
  int clamped = 0;
  double largest = 0;
  for (const MidiFileTempo& t : tempi_) {
    const double bpm = 60'000'000.0 / t.microsecondsPerQuarter;
    const int tempo = writtenTempo(t.microsecondsPerQuarter);
    if (bpm > kMaxImportTempo + 0.5) ++clamped;
    largest = std::max(largest, std::abs(tempo - bpm) / bpm);
    if (t.tick == 0 || tempo == written) continue;
    written = tempo;
    tempoChanges_.push_back({snap(static_cast<double>(t.tick)), tempo, t.microsecondsPerQuarter});
  }
  if (clamped > 0) {
    warn(plural(clamped, "tempo") + " faster than " + std::to_string(kMaxImportTempo) +
         " beats a minute written as " + std::to_string(kMaxImportTempo));
  } else if (largest > 0.001) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.1f", largest * 100);
    warn("tempi are written in whole beats a minute: the song plays up to " + std::string(percent) +
         "% faster or slower");
  }

  std::vector<MidiFileProgram> programs;
  for (const MidiFileProgram& p : file_.programs) {
    if (p.channel == options_.channel - 1) programs.push_back(p);
  }
  std::stable_sort(programs.begin(), programs.end(),
                   [](const auto& a, const auto& b) { return a.tick < b.tick; });
  bar = 0;
  for (const MidiFileProgram& p : programs) {
    if (!programChanges_.empty() && programChanges_.back().value == p.program) continue;
    programChanges_.push_back({snap(static_cast<double>(p.tick)), p.program, 0});
  }
}

void Importer::cutPieces() {
  std::size_t t = 0;
  std::size_t p = 0;
  int tempo = 120;
  std::uint32_t us = 500000;
  int program = -1;
  for (std::size_t b = 0; b < bars_.size(); ++b) {
    double start = bars_[b].first;
    const double end = bars_[b].second;
    while (start < end) {
      while (t < tempoChanges_.size() && tempoChanges_[t].at <= start + 1e-6) {
        tempo = tempoChanges_[t].value;
        us = tempoChanges_[t].us;
        ++t;
      }
      while (p < programChanges_.size() && programChanges_[p].at <= start + 1e-6) {
        program = programChanges_[p].value;
        ++p;
      }
      double cut = end;
      if (t < tempoChanges_.size()) cut = std::min(cut, tempoChanges_[t].at);
      if (p < programChanges_.size()) cut = std::min(cut, programChanges_[p].at);
      if (cut <= start + 1e-6) cut = end;
      Piece piece;
      piece.start = start;
      piece.end = cut;
      piece.bar = static_cast<int>(b) + 1;
      piece.beats = barMetres_[b].beats;
      piece.beatUnit = barMetres_[b].beatUnit;
      piece.us = us;
      piece.tempo = tempo;
      piece.program = program;
      pieces_.push_back(piece);
      start = cut;
    }
  }
}

int Importer::chooseGrid(const Piece& piece, const std::vector<double>& positions,
                         bool last) const {
  if (options_.grid > 0) return options_.grid;
  const double len = piece.end - piece.start;
  const double perTick = msPerTick(piece.us);
  int best = kMidiImportGrids.back();
  double bestError = 1e300;
  for (int grid : kMidiImportGrids) {
    const double step = 4 * division_ / grid;
    double error = 0;
    if (!last) {
      const double steps = std::round(len / step);
      if (steps < 1) continue;
      error = std::abs(len - steps * step) * perTick;
    }
    for (double pos : positions) {
      error = std::max(error, std::abs(pos - std::round(pos / step) * step) * perTick);
    }
    if (error <= std::min(kToleranceMs, step * perTick / 4) + 1e-9) return grid;
    if (error < bestError) {
      bestError = error;
      best = grid;
    }
  }
  return best;
}

// Swung eighths or sixteenths where the straight grids need more steps to hold the
// off-beats (or none holds them): the swing in percent, `grid` set to its note size; 50
// when the piece is not swung.
int Importer::chooseSwing(const Piece& piece, const std::vector<double>& positions,
                          int* grid) const {
  if (options_.grid > 0) return 50;
  const double perTick = msPerTick(piece.us);
  for (const int swung : {8, 16}) {
    if (*grid <= swung || (swung == 16 && *grid < 24)) continue;
    const double pair = 8 * division_ / swung;
    double sum = 0;
    int offBeats = 0;
    for (const double pos : positions) {
      const double share = std::fmod(pos, pair) / pair;
      if (share > 0.3 && share < 0.85) {
        sum += share;
        ++offBeats;
      }
    }
    if (offBeats == 0) continue;
    const int percent = static_cast<int>(std::lround(100 * sum / offBeats));
    if (percent < kLeastSwing || percent > kMostSwing || std::abs(percent - 200.0 / 3) < 2) {
      continue;
    }
    const double tolerance = std::min(kToleranceMs, pair / 2 * perTick / 4);
    bool fits = true;
    for (const double pos : positions) {
      const double from = std::floor(pos / pair) * pair;
      const double off =
          std::min({pos - from, std::abs(pos - from - pair * percent / 100.0), from + pair - pos});
      fits = fits && off * perTick <= tolerance + 1e-9;
    }
    // Only where it holds the off-beats better than the straight grid does.
    double straight = 0, swungError = 0;
    const double step = 4 * division_ / *grid;
    for (const double pos : positions) {
      straight = std::max(straight, std::abs(pos - std::round(pos / step) * step) * perTick);
      const double from = std::floor(pos / pair) * pair;
      swungError = std::max(
          swungError,
          std::min({pos - from, std::abs(pos - from - pair * percent / 100.0), from + pair - pos}) *
              perTick);
    }
    if (!fits || swungError + 1.0 >= straight) continue;
    *grid = swung;
    return percent;
  }
  return 50;
}

void Importer::quantise() {
  std::vector<double> positions;
  std::vector<Onset> mine;
  std::vector<Onset> carried;  // onsets that rounded up onto the next piece's first step
  std::size_t next = 0;
  std::size_t moved = 0;
  double movedMs = 0;
  int movedBar = 0;
  std::size_t merged = 0;
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    Piece& piece = pieces_[i];
    const bool last = i + 1 == pieces_.size();
    // An onset a little before the piece's end belongs to the next piece's first step.
    mine.assign(carried.begin(), carried.end());
    positions.assign(carried.size(), 0.0);
    carried.clear();
    while (next < onsets_.size()) {
      const Onset& o = onsets_[next];
      const double early =
          std::min(kToleranceMs / msPerTick(tempoAt(static_cast<double>(o.tick))), division_ / 24);
      if (!last && static_cast<double>(o.tick) + early >= piece.end) break;
      mine.push_back(o);
      positions.push_back(std::max(0.0, static_cast<double>(o.tick) - piece.start));
      ++next;
    }

    piece.grid = chooseGrid(piece, positions, last);
    piece.swing = chooseSwing(piece, positions, &piece.grid);
    const double step = 4 * division_ / piece.grid;
    // Where a position stands in steps: on a swung grid every second step is late.
    const double swingShift = (piece.swing - 50) / 50.0;
    auto stepAt = [&](double position) {
      if (piece.swing == 50) return std::round(position / step);
      const double from = std::floor(position / (2 * step));
      const double inPair = position / step - 2 * from;  // 0-2; the off-beat at 1 + shift
      const double off = 1 + swingShift;
      const double nearest = inPair < off / 2 ? 0 : inPair < (off + 2) / 2 ? 1 : 2;
      return 2 * from + nearest;
    };
    auto positionOf = [&](double at) {
      const double odd = std::fmod(at, 2.0) == 1.0 ? swingShift : 0.0;
      return (at + odd) * step;
    };
    const double exact = (piece.end - piece.start) / step;
    piece.steps = std::max(1, static_cast<int>(last ? std::ceil(exact - 1e-6) : std::round(exact)));
    const double perTick = msPerTick(piece.us);
    const double tolerance = std::min(kToleranceMs, step * perTick / 4);

    piece.firstHit = hits_.size();
    for (std::size_t k = 0; k < mine.size(); ++k) {
      const double at = stepAt(positions[k]);
      const double off = std::abs(positions[k] - positionOf(at)) * perTick;
      if (off > tolerance + 1e-9) {
        ++moved;
        if (off > movedMs) {
          movedMs = off;
          movedBar = piece.bar;
        }
      }
      auto s = static_cast<int>(at);
      if (s >= piece.steps) {
        if (!last) {
          carried.push_back(mine[k]);
          continue;
        }
        piece.steps = s + 1;
      }
      hits_.push_back({s, mine[k].voice, mine[k].level, mine[k].articulation});
    }
    // Two hits of one drum on one step are one, at the louder level; a choke on the step
    // of a hit gives way to it.
    auto first = hits_.begin() + static_cast<std::ptrdiff_t>(piece.firstHit);
    std::sort(first, hits_.end(), [](const Hit& a, const Hit& b) {
      return a.step != b.step ? a.step < b.step : a.voice < b.voice;
    });
    auto out = first;
    for (auto it = first; it != hits_.end(); ++it) {
      if (out != first && std::prev(out)->step == it->step && std::prev(out)->voice == it->voice) {
        Hit& kept = *std::prev(out);
        if (it->articulation == Articulation::Choke) continue;
        if (kept.articulation == Articulation::Choke) {
          kept = *it;
          continue;
        }
        kept.level = std::max(kept.level, it->level);
        if (kept.articulation == Articulation::None) kept.articulation = it->articulation;
        ++merged;
      } else {
        *out++ = *it;
      }
    }
    hits_.erase(out, hits_.end());
    piece.hitCount = hits_.size() - piece.firstHit;
    for (std::size_t h = piece.firstHit; h < hits_.size(); ++h) used_[hits_[h].voice] = true;
  }
  if (moved > 0) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.0f", movedMs);
    warn(plural(moved, "hit") +
         " lie between the grid's steps and were moved to the nearest (by up to " + ms +
         " ms, in bar " + std::to_string(movedBar) + ")");
  }
  if (merged > 0) {
    warn(plural(merged, "hit") +
         " fell on a step that holds the same drum already: each pair "
         "plays once, at the louder level");
  }
}

std::string Importer::metaLines() const {
  std::string title;
  std::map<std::string, std::string> keyed;  // "author" -> value
  std::vector<std::string> description;
  for (const MidiFileText& t : file_.texts) {
    if (t.type == 3 && t.track == 0 && title.empty()) {
      title = metaValue(t.text);
    } else if (t.type == 1 || t.type == 2) {
      std::string value = metaValue(t.text);
      if (value.empty()) continue;
      const std::size_t colon = value.find(": ");
      const std::string key = colon == std::string::npos ? "" : lower(value.substr(0, colon));
      if (t.type == 1 && (key == "title" || key == "author" || key == "artist" || key == "genre" ||
                          key == "description")) {
        keyed[key] = metaValue(value.substr(colon + 2));
      } else if (description.size() < kMaxDescriptionTexts) {
        description.push_back(std::move(value));
      }
    }
  }
  if (!title.empty() && keyed.count("title") == 0) keyed["title"] = title;
  if (!description.empty() && keyed.count("description") == 0) {
    std::string joined;
    for (const std::string& d : description) joined += (joined.empty() ? "" : " / ") + d;
    keyed["description"] = metaValue(joined);
  }
  std::string lines;
  for (const char* key : {"title", "author", "artist", "genre", "description"}) {
    const auto it = keyed.find(key);
    if (it != keyed.end() && !it->second.empty()) {
      lines += std::string("meta ") + key + " = " + it->second + "\n";
    }
  }
  return lines;
}

// The parts and the song line, consecutive pieces of one tempo, grid and program joined
// into parts of up to `barsPerPart`. False when the parts are too many to name.
bool Importer::writeParts(int barsPerPart, std::string* parts, std::string* song) const {
  std::unordered_map<std::string, std::string> names;
  Shapes shapes;
  foldedBars_ = 0;
  std::size_t firstUsed = 0;
  while (!used_[index(kImportLineOrder[firstUsed])]) ++firstUsed;
  std::string body;
  std::array<std::string, kVoiceCount> lines;
  std::size_t i = 0;
  while (i < pieces_.size()) {
    const Piece& head = pieces_[i];
    std::size_t end = i + 1;
    while (end < pieces_.size() && end - i < static_cast<std::size_t>(barsPerPart) &&
           pieces_[end].tempo == head.tempo && pieces_[end].grid == head.grid &&
           pieces_[end].program == head.program && pieces_[end].beats == head.beats &&
           pieces_[end].beatUnit == head.beatUnit && pieces_[end].swing == head.swing) {
      ++end;
    }
    std::array<bool, kVoiceCount> here{};
    bool any = false;
    for (std::size_t k = i; k < end; ++k) {
      for (std::size_t h = 0; h < pieces_[k].hitCount; ++h) {
        here[hits_[pieces_[k].firstHit + h].voice] = true;
        any = true;
      }
    }
    if (!any) here[index(kImportLineOrder[firstUsed])] = true;  // a bar of rests takes its time
    std::size_t width = 0;
    for (std::size_t v = 0; v < kVoiceCount; ++v) {
      if (here[v]) width = std::max(width, kImportVoiceSymbols[v].size());
      lines[v].clear();
    }
    for (std::size_t k = i; k < end; ++k) {
      const Piece& piece = pieces_[k];
      for (std::size_t v = 0; v < kVoiceCount; ++v) {
        if (!here[v]) continue;
        lines[v] += '|';
        lines[v].append(static_cast<std::size_t>(piece.steps), '-');
      }
      for (std::size_t h = 0; h < piece.hitCount; ++h) {
        const Hit& hit = hits_[piece.firstHit + h];
        std::string& line = lines[hit.voice];
        line[line.size() - static_cast<std::size_t>(piece.steps) +
             static_cast<std::size_t>(hit.step)] = hitCharacter(hit);
      }
    }
    body = " tempo = " + std::to_string(head.tempo) + " notes = " + std::to_string(head.grid);
    if (head.program >= 0) body += " program = " + std::to_string(head.program);
    // The bars' steps make a metre of their own (6 eighths are 3/4): the file's is written
    // where it differs, for bars as long as it says (not one cut short by a change).
    body += metreItem(Metre{head.beats, head.beatUnit, true},
                      static_cast<std::uint32_t>(head.steps), head.grid);
    if (head.swing != 50) body += " swing = " + std::to_string(head.swing);
    body += '\n';
    for (V voice : kImportLineOrder) {
      const std::size_t v = index(voice);
      if (!here[v]) continue;
      body += kImportVoiceSymbols[v];
      body.append(width - kImportVoiceSymbols[v].size() + 1, ' ');
      body += lines[v];
      body += "|\n";
    }
    if (options_.foldLevels && names.count(body) == 0) {
      if (const std::string* near = foldedInto(body, shapes)) {
        foldedBars_ += end - i;
        *song += *near;
        i = end;
        continue;
      }
    }
    auto [it, added] = names.try_emplace(body);
    if (added) {
      if (names.size() > kPartNames) return false;
      it->second = partName(names.size() - 1);
      *parts += "part = " + it->second + body + "\n";
      if (options_.foldLevels) shapes[shapeOf(body)].emplace_back(body, it->second);
    }
    *song += it->second;
    i = end;
  }
  return true;
}

namespace {
// The level a grid character plays, -1 for a rest.
int levelOf(char c) {
  if (c == 'x') return 5;
  if (c == 'X') return 7;
  if (c >= '0' && c <= '9') return c - '0';
  return -1;
}

// Calls `each(i, inGrid)` for every character of a part's text, inGrid for those of its
// grids (after a line's first "|"), where the levels stand.
template <typename Each>
void forGridCharacters(std::string_view body, Each each) {
  bool inGrid = false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\n') inGrid = false;
    each(i, inGrid && body[i] != '|');
    if (body[i] == '|') inGrid = true;
  }
}
}  // namespace

std::string Importer::shapeOf(std::string_view body) {
  std::string shape(body);
  forGridCharacters(body, [&](std::size_t i, bool grid) {
    if (grid && levelOf(body[i]) >= 0) shape[i] = '*';
  });
  return shape;
}

const std::string* Importer::foldedInto(const std::string& body, const Shapes& shapes) {
  const auto alike = shapes.find(shapeOf(body));
  if (alike == shapes.end()) return nullptr;
  for (const auto& part : alike->second) {
    const std::string& other = part.first;
    bool near = true;
    forGridCharacters(body, [&](std::size_t i, bool grid) {
      if (grid && body[i] != other[i] && std::abs(levelOf(body[i]) - levelOf(other[i])) > 1)
        near = false;
    });
    if (near) return &part.second;
  }
  return nullptr;
}

MidiImportResult Importer::run(std::string_view bytes) {
  if (!readStandardMidiFile(bytes, &file_, &result_.error)) return result_;
  division_ = file_.division;
  collectOnsets();
  if (!result_.ok()) return result_;

  // The tempo map of every track, one tempo a tick (the last one written wins).
  tempi_ = file_.tempi;
  std::stable_sort(tempi_.begin(), tempi_.end(),
                   [](const auto& a, const auto& b) { return a.tick < b.tick; });
  std::vector<MidiFileTempo> unique;
  for (const MidiFileTempo& t : tempi_) {
    if (!unique.empty() && unique.back().tick == t.tick) {
      unique.back() = t;
    } else {
      unique.push_back(t);
    }
  }
  tempi_ = std::move(unique);
  findGraces();

  if (!layBars()) return result_;
  placeChanges();
  cutPieces();
  quantise();

  std::string parts;
  std::string song;
  int barsPerPart = 1;
  while (!writeParts(barsPerPart, &parts, &song)) {
    if (barsPerPart >= kMaxBarsPerPart) {
      result_.error = "the song has too many different bars to name its parts";
      return result_;
    }
    barsPerPart *= 2;
    parts.clear();
    song.clear();
  }
  if (barsPerPart > 1) {
    warn("too many different bars to give each a part: parts of up to " +
         plural(barsPerPart, "bar"));
  }
  if (foldedBars_ > 0) {
    warn(plural(foldedBars_, "bar") +
         " played as an earlier part that differs from them by one level at some hits");
  }

  std::string& doc = result_.document;
  doc = metaLines();
  if (!doc.empty()) doc += '\n';
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (used_[v])
      doc += std::string(kImportVoiceSymbols[v]) + " = " + std::string(kVoiceCaptions[v]) + "\n";
  }
  doc += '\n';
  doc += parts;
  doc += "song = " + song + "\n";
  return result_;
}

}  // namespace

int levelOfVelocity(int velocity) {
  static const std::array<std::uint8_t, 128> kLevels = [] {
    std::array<std::uint8_t, 128> levels{};
    for (int v = 0; v < 128; ++v) {
      levels[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(levelOfImportedVelocity(v));
    }
    return levels;
  }();
  return kLevels[static_cast<std::size_t>(std::clamp(velocity, 0, 127))];
}

MidiImportResult importMidiFile(std::string_view bytes, const MidiImportOptions& options) {
  return Importer(options).run(bytes);
}

}  // namespace pulsewright
