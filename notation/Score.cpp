#include "notation/Score.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <unordered_map>

#include "notation/RhythmSpelling.h"
#include "tablature/CompiledDocument.h"
#include "tablature/GridModel.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"

namespace pulsewright {

namespace {

struct Frac {
  std::int64_t num = 0;
  std::int64_t den = 1;
};

Frac reduced(std::int64_t num, std::int64_t den) {
  const std::int64_t g = std::gcd(num, den);
  return g == 0 ? Frac{0, 1} : Frac{num / g, den / g};
}

Frac add(Frac a, Frac b) {
  const std::int64_t l = std::lcm(a.den, b.den);
  return reduced(a.num * (l / a.den) + b.num * (l / b.den), l);
}

bool operator==(Frac a, Frac b) {
  return a.num == b.num && a.den == b.den;
}

// Every step's length is a whole number of divisions when the divisions per quarter are a
// multiple of every denominator; past this the song is given rounded lengths instead.
constexpr std::int64_t kMaxDivisions = 1 << 22;
constexpr std::int64_t kRoundedDivisions = 3840;
// The longest bar, in divisions: a duration a 32-bit reader of the score can hold.
constexpr std::int64_t kMaxDuration = 0x7FFFFFFF;

// The length in quarters of step `step` of `part`, from the compiler's exact length; false
// when it is not a whole note size's note of small terms, which are written rounded.
bool exactLength(const TimelinePart& part, std::size_t step, double noteSize, Frac* length) {
  const PositionRun* run = part.positionRunOf(step);
  if (run == nullptr || !run->ownLength || !run->exactLength || noteSize != std::floor(noteSize))
    return false;
  const MusicalTime& whole = run->length;
  if (whole.num != 1 || whole.den > 1 << 20) return false;
  *length = reduced(4, whole.den);
  return true;
}

// One part as measures: its steps' lengths and written values, split into bars.
struct PartLayout {
  std::vector<Frac> lengths;
  std::vector<ScoreStep> steps;             // hits empty
  std::vector<int> barStarts;               // first step of every bar, from 0
  std::vector<std::pair<int, int>> metres;  // beats / beat type per bar
  std::vector<double> tempi;                // per step
};

class Builder {
 public:
  explicit Builder(const ScoreSource& source,
                   const std::function<bool(const ScoreMeasure&)>* measureSink = nullptr)
      : src_(source), measureSink_(measureSink) {
    score_.title = source.metadata.title;
    score_.author =
        !source.metadata.author.empty() ? source.metadata.author : source.metadata.artist;
  }

  Score song() {
    struct Segment {
      int position, part, played, times;
    };
    std::vector<Segment> segments;
    Timeline::Cursor cursor = src_.timeline.begin();
    TimelineTick tick;
    while (cursor.next(&tick)) {
      if (segments.empty() || segments.back().position != tick.songPosition) {
        segments.push_back({tick.songPosition, tick.part, 0, 1});
      }
      ++segments.back().played;
    }
    for (const Segment& s : segments) layout(s.part);
    chooseDivisions();
    // A part played whole several times in a row is written once between repeat bars.
    std::vector<Segment> written;
    for (const Segment& s : segments) {
      const auto whole = [&](const Segment& g) {
        return g.played ==
               static_cast<int>(
                   src_.timeline.parts()[static_cast<std::size_t>(g.part)].steps.size());
      };
      if (!written.empty() && written.back().part == s.part && whole(written.back()) && whole(s) &&
          written.back().position + written.back().times == s.position) {
        ++written.back().times;
        continue;
      }
      written.push_back(s);
    }
    // A one-bar part played several times in a row inside a longer song keeps a bar for
    // every play, the bars after the first as simile marks, so the score reads bar for
    // bar with the song line; a song that is nothing but one bar played over stays one
    // bar between repeat signs.
    for (const Segment& s : written) {
      if (stopped_) break;
      if (s.times > 1 && written.size() > 1 && barsOf(s.part) == 1) {
        for (int play = 0; play < s.times && !stopped_; ++play) {
          emit(s.part, s.played, s.position + play, 1, play > 0);
        }
        continue;
      }
      emit(s.part, s.played, s.position, s.times);
    }
    return std::move(score_);
  }

  Score part(int part) {
    const auto& parts = src_.timeline.parts();
    if (part < 0 || static_cast<std::size_t>(part) >= parts.size()) return std::move(score_);
    layout(part);
    chooseDivisions();
    emit(part, static_cast<int>(parts[static_cast<std::size_t>(part)].steps.size()), 1, 1);
    return std::move(score_);
  }

 private:
  // The steps at which a grid line's inner bar lines stand, as the compiler read them
  // (the opening bar line and a closing one it never reads aside).
  std::vector<int> barLinesOf(int lineNumber) const {
    const GridModel* model = src_.timeline.gridModel();
    const GridLine* line = model != nullptr ? model->lineAt(lineNumber) : nullptr;
    if (line == nullptr) return {};
    const std::vector<std::int32_t> read = line->bars(*model);
    const std::size_t end = read.size() - (line->closedByLastCharacter ? 1 : 0);
    return std::vector<int>(read.begin() + 1, read.begin() + static_cast<std::ptrdiff_t>(end));
  }

  void layout(int partIndex) {
    if (layouts_.count(partIndex) != 0) return;
    const TimelinePart& part = src_.timeline.parts()[static_cast<std::size_t>(partIndex)];
    PartLayout& out = layouts_[partIndex];
    Frac previous{1, 2};
    double tempo = 120;
    for (const TimelineStep& step : part.steps) {
      Frac length;
      const StepMusic& m = part.musicOf(step);
      if (m.tempo > 0 && m.noteSize > 0 && m.tupletDivisor > 0) {
        tempo = m.tempo;
        if (!exactLength(part, out.steps.size(), m.noteSize, &length)) {
          const double q = 4.0 / (m.noteSize * m.tupletDivisor);
          length = reduced(std::max<std::int64_t>(1, std::llround(q * kRoundedDivisions)),
                           kRoundedDivisions);
          roundedNote("part " + part.name + ": a note size of " + std::to_string(m.noteSize) +
                      " is written with rounded lengths");
        }
      } else {
        length = previous;  // an untimed step keeps the interval before, as it plays
      }
      previous = length;
      out.lengths.push_back(length);
      out.tempi.push_back(tempo);
      ScoreStep s;
      s.partStep = static_cast<int>(out.steps.size());
      out.steps.push_back(s);
    }
    splitBars(part, out);
  }

  void roundedNote(const std::string& text) {
    if (std::find(score_.warnings.begin(), score_.warnings.end(), text) == score_.warnings.end()) {
      score_.warnings.push_back(text);
    }
  }

  void splitBars(const TimelinePart& part, PartLayout& out) {
    const int count = static_cast<int>(out.steps.size());
    std::vector<int> gridLines;
    for (const TimelineItem& item : part.items) {
      if (item.source.line > 0) gridLines.push_back(item.source.line);
    }
    std::sort(gridLines.begin(), gridLines.end());
    gridLines.erase(std::unique(gridLines.begin(), gridLines.end()), gridLines.end());
    std::vector<int> bars;
    for (const std::int32_t b : part.bars) bars.push_back(static_cast<int>(b));
    if (part.bars.empty() && !gridLines.empty()) {
      // Grid lines that disagree: the bars of the first one.
      bars = barLinesOf(gridLines.front());
      for (std::size_t g = 1; g < gridLines.size(); ++g) {
        if (barLinesOf(gridLines[g]) != bars) {
          score_.warnings.push_back("part " + part.name + ": the bar lines of line " +
                                    std::to_string(gridLines[g]) + " differ from line " +
                                    std::to_string(gridLines.front()) + "; the bars of line " +
                                    std::to_string(gridLines.front()) + " are used");
        }
      }
    }
    bars.erase(
        std::remove_if(bars.begin(), bars.end(), [&](int b) { return b <= 0 || b >= count; }),
        bars.end());
    out.barStarts = {0};
    if (bars.empty()) {
      // No bar lines inside: bars of four quarters where the steps fall on them.
      std::vector<int> cuts;
      Frac sum;
      for (int s = 0; s < count; ++s) {
        sum = add(sum, out.lengths[static_cast<std::size_t>(s)]);
        if (sum == Frac{4, 1} && s + 1 < count) {
          cuts.push_back(s + 1);
          sum = Frac{};
        }
      }
      if (sum == Frac{4, 1} || sum == Frac{}) bars = cuts;
    }
    out.barStarts.insert(out.barStarts.end(), bars.begin(), bars.end());
    for (std::size_t b = 0; b < out.barStarts.size(); ++b) {
      const int from = out.barStarts[b];
      const int to = b + 1 < out.barStarts.size() ? out.barStarts[b + 1] : count;
      Frac length;
      for (int s = from; s < to; ++s)
        length = add(length, out.lengths[static_cast<std::size_t>(s)]);
      const Metre& metre = part.metre;
      // A beat unit that is no note value (5 for notes = 5) makes no time signature.
      const bool modelFits = metre.fromBars && metre.beatUnit > 0 &&
                             (metre.beatUnit & (metre.beatUnit - 1)) == 0 &&
                             length == reduced(std::int64_t{4} * metre.beats, metre.beatUnit);
      // A bar line at the very end (or a part still being typed) leaves a bar with no step.
      const Frac first = from < count ? out.lengths[static_cast<std::size_t>(from)] : Frac{};
      out.metres.push_back(modelFits ? std::pair{metre.beats, metre.beatUnit}
                                     : metreOf(length, first, part.name));
    }
  }

  // The time signature of a bar `length` quarters long.
  std::pair<int, int> metreOf(Frac length, Frac first, const std::string& partName) {
    if (length.den == 1 && length.num > 0 && length.num <= 64) {
      const auto quarters = static_cast<int>(length.num);
      // Eighths in threes: 9 and 12 of them are compound time; 6 reads as 3/4.
      if (first == Frac{1, 2} && (quarters * 2 == 9 || quarters * 2 == 12)) {
        return {quarters * 2, 8};
      }
      return {quarters, 4};
    }
    for (int beatType = 8; beatType <= 64; beatType *= 2) {
      const std::int64_t num = length.num * beatType;
      const std::int64_t den = length.den * 4;
      if (num % den == 0 && num / den > 0 && num / den <= 99) {
        if (num / den * 2 == 9 * (beatType / 8) && beatType == 8) return {9, 8};
        return {static_cast<int>(num / den), beatType};
      }
    }
    // No time signature has the bar's length: the nearest in sixteenths marks it, the
    // notes keeping their lengths.
    const double sixteenths =
        16.0 * static_cast<double>(length.num) / static_cast<double>(length.den) / 4.0;
    const int beats = static_cast<int>(std::clamp(std::llround(sixteenths), 1LL, 9999LL));
    roundedNote("part " + partName + ": a bar fits no time signature: it is marked " +
                std::to_string(beats) + "/16");
    return {beats, 16};
  }

  void chooseDivisions() {
    std::int64_t divisions = 1;
    for (const auto& [index, layout] : layouts_) {
      for (const Frac& f : layout.lengths) {
        divisions = std::lcm(divisions, f.den);
        if (divisions > kMaxDivisions) break;
      }
      if (divisions > kMaxDivisions) break;
    }
    // A compound beat (three eighths, or sixteenths) is a whole number of divisions.
    for (const auto& [index, layout] : layouts_) {
      for (const auto& [beats, beatType] : layout.metres) {
        if (beatType >= 8 && divisions <= kMaxDivisions)
          divisions = std::lcm(divisions, beatType / 4);
      }
    }
    if (divisions > kMaxDivisions) {
      divisions = kRoundedDivisions;
      roundedNote("the steps' lengths have no common division: they are rounded");
    }
    // Every bar's length in divisions is a positive int, as readers of the score hold it:
    // where long bars and fine tuplets together pass that, fewer divisions are taken, the
    // steps rounded to them.
    if (longestBar(divisions) > kMaxDuration) {
      while (divisions > 1 && longestBar(divisions) > kMaxDuration) {
        divisions = divisions > kRoundedDivisions ? kRoundedDivisions : divisions / 2;
      }
      roundedNote("a bar is too long to write its steps exactly: they are rounded");
    }
    if (longestBar(divisions) > kMaxDuration) {
      score_.unwritable = "a bar lasts longer than a MusicXML duration can hold";
    }
    score_.divisions = static_cast<int>(divisions);
    for (auto& [index, layout] : layouts_) {
      for (std::size_t s = 0; s < layout.steps.size(); ++s) {
        layout.steps[s].duration = static_cast<int>(
            std::min<std::int64_t>(stepDuration(layout.lengths[s], divisions), kMaxDuration));
      }
    }
  }

  static std::int64_t stepDuration(const Frac& length, std::int64_t divisions) {
    // In long double: a long step times many divisions passes 64 bits before it is divided.
    const long double exact = static_cast<long double>(length.num) *
                              static_cast<long double>(divisions) /
                              static_cast<long double>(length.den);
    if (exact > static_cast<long double>(kMaxDuration)) return kMaxDuration + 1;
    return std::max<std::int64_t>(1, std::llround(exact));
  }

  // The most divisions any bar of the laid-out parts takes (past kMaxDuration, any more).
  std::int64_t longestBar(std::int64_t divisions) const {
    std::int64_t longest = 0;
    for (const auto& [index, layout] : layouts_) {
      const std::size_t count = layout.steps.size();
      for (std::size_t b = 0; b < layout.barStarts.size(); ++b) {
        const auto from = static_cast<std::size_t>(layout.barStarts[b]);
        const std::size_t to = b + 1 < layout.barStarts.size()
                                   ? static_cast<std::size_t>(layout.barStarts[b + 1])
                                   : count;
        std::int64_t bar = 0;
        for (std::size_t s = from; s < to && bar <= kMaxDuration; ++s) {
          bar += stepDuration(layout.lengths[s], divisions);
        }
        longest = std::max(longest, bar);
      }
    }
    return longest;
  }

  // The bars of a part that hold a step.
  int barsOf(int partIndex) const {
    const PartLayout& out = layouts_.at(partIndex);
    const auto count = static_cast<int>(out.steps.size());
    int bars = 0;
    for (std::size_t b = 0; b < out.barStarts.size(); ++b) {
      const int to = b + 1 < out.barStarts.size() ? out.barStarts[b + 1] : count;
      if (out.barStarts[b] < to) ++bars;
    }
    return bars;
  }

  void emit(int partIndex, int played, int songPosition, int times, bool simile = false) {
    const TimelinePart& part = src_.timeline.parts()[static_cast<std::size_t>(partIndex)];
    const PartLayout& out = layouts_.at(partIndex);
    const int count = static_cast<int>(out.steps.size());
    auto barEnd = [&](std::size_t b) {
      return b + 1 < out.barStarts.size() ? out.barStarts[b + 1] : count;
    };
    std::size_t lastBar = 0;
    for (std::size_t b = 0; b < out.barStarts.size(); ++b) {
      if (out.barStarts[b] < barEnd(b)) lastBar = b;
    }
    for (std::size_t b = 0; b < out.barStarts.size(); ++b) {
      const int from = out.barStarts[b];
      const int to = barEnd(b);
      if (from >= to) continue;
      ScoreMeasure m;
      m.beats = out.metres[b].first;
      m.beatType = out.metres[b].second;
      m.tempo = out.tempi[static_cast<std::size_t>(from)];
      m.songPosition = songPosition;
      if (b == 0 && !simile) m.partName = part.name;
      m.simile = simile;
      m.swingPercent = static_cast<unsigned char>(part.swingPercent);  // 50-75
      m.swingTypeLog2 = swingTypeOf(part);
      for (int s = from; s < to; ++s) {
        ScoreStep step = out.steps[static_cast<std::size_t>(s)];
        if (s < played) addHits(part, part.steps[static_cast<std::size_t>(s)], &step);
        if (static_cast<std::size_t>(s) < part.sticking.size() && s < played) {
          step.sticking = part.sticking[static_cast<std::size_t>(s)];
        }
        m.steps.push_back(std::move(step));
      }
      m.repeatedPositions = times;
      if (times > 1) {
        m.repeatStart = b == 0;
        if (b == lastBar) m.repeatTimes = times;
      }
      spellMeasure(m, score_.divisions,
                   [&](const std::string& w) { roundedNote("part " + part.name + ": " + w); });
      if (measureSink_ != nullptr) {
        if (!(*measureSink_)(m)) {
          stopped_ = true;
          return;
        }
      } else {
        score_.measures.push_back(std::move(m));
      }
    }
  }

  // The written value of each step of a swung pair: the part's note size's.
  static int swingTypeOf(const TimelinePart& part) {
    if (part.steps.empty()) return -1;
    const double noteSize = part.musicOf(part.steps.front()).noteSize;
    if (noteSize <= 0) return -1;
    return std::clamp(static_cast<int>(std::lround(std::log2(4.0 / noteSize))), kShortestType,
                      kLongestType);
  }

  void addHits(const TimelinePart& part, const TimelineStep& step, ScoreStep* out) {
    for (const TimelineItem& item : part.itemsOf(step)) {
      if (item.kind == TimelineItem::Kind::Sample) {
        ++score_.samplesLeftOut;
        continue;
      }
      // A choke strikes nothing but is written, on the cymbal it stops.
      const bool choke = item.articulation == Articulation::Choke;
      if (item.kind != TimelineItem::Kind::Note && !choke) continue;
      ScoreHit hit;
      if (item.voice.kind == ItemVoice::Kind::Drum) hit.voice = item.voice.drumVoice();
      hit.key = item.note;
      hit.source = item.source;
      hit.level = static_cast<unsigned char>(item.level);  // 0-9
      hit.articulation = item.articulation;
      if (choke) hit.level = 5;  // written as a plain head with its mark
      (placementOf(hit.voice).foot ? out->feet : out->hands).push_back(hit);
    }
  }

  const ScoreSource& src_;
  const std::function<bool(const ScoreMeasure&)>* measureSink_;
  bool stopped_ = false;  // the measure sink wants no more
  Score score_;
  std::map<int, PartLayout> layouts_;
};

}  // namespace

DrumPlacement placementOf(std::optional<DrumVoice> voice) {
  if (!voice) return {'A', 5, Notehead::Normal, false, "Drum"};
  switch (*voice) {
    case DrumVoice::BassDrum: return {'F', 4, Notehead::Normal, true, "Bass Drum"};
    case DrumVoice::SnareDrum: return {'C', 5, Notehead::Normal, false, "Snare Drum"};
    case DrumVoice::ClosedHat: return {'G', 5, Notehead::X, false, "Closed Hi-Hat"};
    case DrumVoice::PedalHat: return {'D', 4, Notehead::X, true, "Pedal Hi-Hat"};
    case DrumVoice::OpenHat: return {'G', 5, Notehead::CircleX, false, "Open Hi-Hat"};
    case DrumVoice::Tom1: return {'E', 5, Notehead::Normal, false, "Tom 1"};
    case DrumVoice::Tom2: return {'D', 5, Notehead::Normal, false, "Tom 2"};
    case DrumVoice::Tom3: return {'A', 4, Notehead::Normal, false, "Floor Tom"};
    case DrumVoice::Tom4: return {'G', 4, Notehead::Normal, false, "Low Floor Tom"};
    case DrumVoice::Ride: return {'F', 5, Notehead::X, false, "Ride Cymbal"};
    case DrumVoice::Bell: return {'F', 5, Notehead::Diamond, false, "Ride Bell"};
    case DrumVoice::Crash1: return {'A', 5, Notehead::X, false, "Crash Cymbal 1"};
    case DrumVoice::Crash2: return {'B', 5, Notehead::X, false, "Crash Cymbal 2"};
    case DrumVoice::Perc1: return {'E', 4, Notehead::Triangle, false, "Percussion 1"};
    case DrumVoice::Perc2: return {'B', 4, Notehead::Triangle, false, "Percussion 2"};
    case DrumVoice::Claps: return {'C', 6, Notehead::X, false, "Hand Clap"};
    case DrumVoice::CowBell: return {'E', 6, Notehead::Triangle, false, "Cowbell"};
  }
  return {};
}

int graceNotesOf(Articulation articulation) {
  return articulation == Articulation::Flam ? 1 : articulation == Articulation::Drag ? 2 : 0;
}

Notehead noteheadOf(const ScoreHit& hit) {
  switch (hit.articulation) {
    case Articulation::CrossStick: return Notehead::X;
    case Articulation::Rimshot: return Notehead::Slashed;
    case Articulation::Bell: return Notehead::Diamond;
    default: return placementOf(hit.voice).head;
  }
}

int staffPosition(const DrumPlacement& p) {
  static constexpr std::string_view kSteps = "CDEFGAB";
  const auto step = static_cast<int>(kSteps.find(p.step));
  return (p.octave - 4) * 7 + step - 2;  // E4 is the bottom line
}

bool ScoreMeasure::hasFeet() const {
  return std::any_of(steps.begin(), steps.end(),
                     [](const ScoreStep& s) { return !s.feet.empty(); });
}

bool ScoreMeasure::hasHands() const {
  return std::any_of(steps.begin(), steps.end(),
                     [](const ScoreStep& s) { return !s.hands.empty(); });
}

int ScoreMeasure::duration() const {
  std::int64_t sum = 0;
  for (const ScoreStep& s : steps) sum += s.duration;
  return static_cast<int>(std::min<std::int64_t>(sum, kMaxDuration));
}

Score buildScore(const ScoreSource& source) {
  return Builder(source).song();
}

Score buildScore(const ScoreSource& source,
                 const std::function<bool(const ScoreMeasure&)>& measure) {
  return Builder(source, &measure).song();
}

Score buildPartScore(const ScoreSource& source, int part) {
  return Builder(source).part(part);
}

Score scoreOfDocument(std::string_view text, const PadMap& padMap, bool* playable) {
  TablatureCompiler compiler;
  CompileRequest request;
  request.padMap = padMap;
  request.sampleProblem = nullptr;
  request.diagnose = false;
  return scoreOfCompiled(compileDocument(compiler, text, request), text, playable);
}

Score scoreOfCompiled(const CompiledDocument& compiled, std::string_view text, bool* playable) {
  if (playable != nullptr) *playable = compiled.song->playable();
  if (!compiled.song->playable()) return {};
  return buildScore({*compiled.song, compiled.metadata, text});
}

std::string_view noteTypeName(int typeLog2) {
  static constexpr std::string_view kNames[] = {"1024th",  "512th", "256th", "128th",
                                                "64th",    "32nd",  "16th",  "eighth",
                                                "quarter", "half",  "whole", "breve"};
  const int i = std::clamp(typeLog2, kShortestType, kLongestType) - kShortestType;
  return kNames[i];
}

}  // namespace pulsewright
