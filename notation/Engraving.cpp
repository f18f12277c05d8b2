#include "notation/Engraving.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace pulsewright {

namespace {

constexpr double kMargin = 1.0;
constexpr double kClefWidth = 2.8;
constexpr double kTimeWidth = 2.5;
constexpr double kStemLength = 3.5;
constexpr double kHeadHalfWidth = 0.6;
constexpr double kBeamWidth = 0.45;
constexpr double kBeamGap = 0.75;
constexpr double kHookLength = 1.0;
constexpr double kRestHalfHeight = 1.4;
constexpr double kSystemGap = 1.5;
constexpr double kTextRow = 2.2;
constexpr double kCutRoom = 0.7;  // after the last head of a measure cut at a system's end
constexpr double kSimileWidth = 5.0;
constexpr double kGraceScale = 0.6;    // a grace head's size against a note's
constexpr double kGraceSpacing = 1.1;  // between a grace head and the next head on
constexpr double kStickingSize = 1.3;

// The room after a note or rest that lasts `quarters` until the next one: the longer, the
// wider, but far less than in proportion.
double gapWidth(double quarters) {
  return std::max(1.25, 1.75 + 0.6 * std::log2(std::max(quarters, 1e-6) * 2.0));
}

double lineY(int staffPosition) {
  return 4.0 - staffPosition * 0.5;
}

// A time at which something of a measure starts, and the room it takes.
struct Slot {
  int at = 0;
  double width = 0;
  double before = 0;  // room grace notes take before it (the slot before holds it too)
};

struct PreparedMeasure {
  std::vector<Slot> slots;
  double left = 1.0;   // before the first slot: bar line room, time signature
  double right = 0.4;  // after the last
  bool timeSignature = false;
  // Per voice and note: which head of the chord goes beside the stem (a second).
  std::vector<std::vector<double>> shifted[2];
};

// A stretch of one measure's slots on one system: most measures are one piece.
struct Piece {
  std::size_t measure = 0;
  std::size_t from = 0, to = 0;  // slots
  bool first = true, last = true;
};

std::vector<ScoreHit> sortedHits(const ScoreNote& n) {
  std::vector<ScoreHit> hits = n.hits;
  std::stable_sort(hits.begin(), hits.end(), [](const ScoreHit& a, const ScoreHit& b) {
    return staffPosition(placementOf(a.voice)) < staffPosition(placementOf(b.voice));
  });
  return hits;
}

class Engraver {
 public:
  Engraver(const Score& score, double width) : score_(score) { e_.width = std::max(width, 30.0); }

  Engraving run(double firstTop) {
    nextTop_ = firstTop;
    prepare();
    breakSystems();
    for (std::size_t s = 0; s < systems_.size(); ++s) engraveSystem(s);
    if (systems_.empty()) {
      beginSystem();
      staffLines(e_.width - kMargin);
      finishSystem();
    }
    e_.height = e_.systems.back().bottom + 1.0;
    return std::move(e_);
  }

 private:
  // --- widths -------------------------------------------------------------------------

  void prepare() {
    const ScoreMeasure* previous = nullptr;
    for (const ScoreMeasure& m : score_.measures) {
      PreparedMeasure p;
      std::map<int, double> extra;  // by start: room a ghost, dot or second head needs
      std::vector<int> starts;
      std::vector<int> ghostAt;         // a ghost's parentheses need room before it too
      std::map<int, double> graceRoom;  // by start: grace heads stand before their note
      for (int v = 0; v < 2 && !m.simile; ++v) {
        for (const ScoreNote& n : m.voices[v]) {
          if (n.hidden) continue;
          starts.push_back(n.start);
          std::vector<double> shifted;
          int below = -100;
          bool belowShifted = false, belowGhost = false;
          double room = n.dotted ? 0.6 : 0.0;
          for (const ScoreHit& h : sortedHits(n)) {
            const int pos = staffPosition(placementOf(h.voice));
            const bool ghost = h.level <= 3;
            if (const int graces = graceNotesOf(h.articulation); graces > 0) {
              graceRoom[n.start] =
                  std::max(graceRoom[n.start], graces * kGraceSpacing + (ghost ? 0.7 : 0.0));
            }
            const bool shift = pos - below <= 1 && !belowShifted;
            // Beside the stem, clear of the head below and both heads' parentheses.
            const double by = !shift ? 0.0 : ghost || belowGhost ? 2.7 : 2 * kHeadHalfWidth;
            shifted.push_back(by);
            room = std::max(room, by);
            if (ghost) {
              room = std::max(room, by + 0.7);
              ghostAt.push_back(n.start);
            }
            below = pos;
            belowShifted = shift;
            belowGhost = ghost;
          }
          p.shifted[v].push_back(shifted);
          extra[n.start] = std::max(extra[n.start], room);
        }
      }
      std::sort(starts.begin(), starts.end());
      starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
      const int end = m.duration();
      for (std::size_t i = 0; i < starts.size(); ++i) {
        const int next = i + 1 < starts.size() ? starts[i + 1] : end;
        const double quarters = static_cast<double>(next - starts[i]) / score_.divisions;
        double w = gapWidth(quarters) + extra[starts[i]];
        if (std::find(ghostAt.begin(), ghostAt.end(), next) != ghostAt.end()) w += 0.7;
        if (const auto g = graceRoom.find(next); g != graceRoom.end()) w += g->second;
        if (starts.size() == 1 && m.voices[0].size() == 1 && m.voices[0][0].measureRest) w = 4.0;
        const auto g = graceRoom.find(starts[i]);
        p.slots.push_back({starts[i], w, g != graceRoom.end() ? g->second : 0.0});
      }
      if (p.slots.empty()) p.slots.push_back({0, m.simile ? kSimileWidth : 4.0});
      p.timeSignature =
          previous == nullptr || previous->beats != m.beats || previous->beatType != m.beatType;
      if (p.timeSignature) p.left += kTimeWidth;
      if (m.repeatStart) p.left += 1.2;
      if (m.repeatTimes > 1) p.right += 1.2;
      prepared_.push_back(std::move(p));
      previous = &m;
    }
  }

  double available() const { return e_.width - 2 * kMargin - kClefWidth; }

  double pieceWidth(const Piece& piece) const {
    const PreparedMeasure& p = prepared_[piece.measure];
    double w = (piece.first ? p.left : 0.4) + (piece.last ? p.right : kCutRoom);
    if (piece.from < piece.to) w += p.slots[piece.from].before;
    for (std::size_t s = piece.from; s < piece.to; ++s) w += p.slots[s].width;
    return w;
  }

  void breakSystems() {
    std::vector<Piece> line;
    double used = 0;
    auto close = [&] {
      if (!line.empty()) systems_.push_back(std::move(line));
      line.clear();
      used = 0;
    };
    for (std::size_t m = 0; m < prepared_.size(); ++m) {
      const PreparedMeasure& p = prepared_[m];
      Piece whole{m, 0, p.slots.size(), true, true};
      const double w = pieceWidth(whole);
      if (used + w <= available() || (line.empty() && w <= available())) {
        line.push_back(whole);
        used += w;
        continue;
      }
      if (w <= available()) {
        close();
        line.push_back(whole);
        used = w;
        continue;
      }
      // Too dense for a system of its own: carried on from system to system, cut
      // between slots.
      if (used > available() * 0.6) close();
      Piece piece{m, 0, 0, true, false};
      while (piece.from < p.slots.size()) {
        piece.to = piece.from;
        double room = available() - used - (piece.first ? p.left : 0.4) - kCutRoom;
        while (piece.to < p.slots.size() &&
               (room >= p.slots[piece.to].width || piece.to == piece.from)) {
          room -= p.slots[piece.to].width;
          ++piece.to;
        }
        piece.last = piece.to == p.slots.size();
        line.push_back(piece);
        used += pieceWidth(piece);
        if (!piece.last) close();
        piece.first = false;
        piece.from = piece.to;
      }
    }
    close();
  }

  // --- drawing --------------------------------------------------------------------------

  void stroke(double x1, double y1, double x2, double y2, double width, StrokeKind kind) {
    e_.strokes.push_back({x1, y1, x2, y2, width, kind});
  }

  void beginSystem() {
    Engraving::System s;
    s.strokes = e_.strokes.size();
    s.heads = e_.heads.size();
    s.rests = e_.rests.size();
    s.texts = e_.texts.size();
    s.columns = e_.columns.size();
    e_.systems.push_back(s);
    pending_.clear();
    below_.clear();
    // The percussion clef: two thick bars over the middle lines.
    stroke(kMargin + 0.8, 1.0, kMargin + 0.8, 3.0, 0.35, StrokeKind::Clef);
    stroke(kMargin + 1.5, 1.0, kMargin + 1.5, 3.0, 0.35, StrokeKind::Clef);
  }

  void staffLines(double end) {
    for (int line = 0; line < 5; ++line) {
      stroke(kMargin, line, end, line, 0.1, StrokeKind::StaffLine);
    }
  }

  void engraveSystem(std::size_t index) {
    const std::vector<Piece>& pieces = systems_[index];
    beginSystem();
    double fixed = 0, slots = 0;
    for (const Piece& piece : pieces) {
      const PreparedMeasure& p = prepared_[piece.measure];
      double w = 0;
      for (std::size_t s = piece.from; s < piece.to; ++s) w += p.slots[s].width;
      slots += w;
      fixed += pieceWidth(piece) - w;
    }
    // A full system is stretched to the width; a last one short of it by half at most.
    const bool lastSystem = index + 1 == systems_.size();
    double stretch = slots > 0 ? (available() - fixed) / slots : 1.0;
    if (lastSystem && fixed + slots < available() * 0.75) stretch = std::min(stretch, 1.5);
    stretch = std::max(stretch, 1.0);
    if (index > 0) {
      const std::string number = std::to_string(pieces.front().measure + 1);
      pending_.push_back({kMargin, 0, number, 1.1, TextKind::MeasureNumber});
    }
    double x = kMargin + kClefWidth;
    for (const Piece& piece : pieces) x = engravePiece(piece, x, stretch);
    staffLines(x);
    finishSystem();
  }

  double engravePiece(const Piece& piece, double x, double stretch) {
    const ScoreMeasure& m = score_.measures[piece.measure];
    const PreparedMeasure& p = prepared_[piece.measure];
    const bool last = piece.last && piece.measure + 1 == score_.measures.size();
    if (piece.first) {
      if (m.repeatStart) {
        stroke(x + 0.2, 0, x + 0.2, 4.0, 0.4, StrokeKind::ThickBarLine);
        stroke(x + 0.7, 0, x + 0.7, 4.0, 0.12, StrokeKind::BarLine);
        stroke(x + 1.15, 1.5, x + 1.15, 1.5, 0.4, StrokeKind::RepeatDot);
        stroke(x + 1.15, 2.5, x + 1.15, 2.5, 0.4, StrokeKind::RepeatDot);
        x += 1.2;
      }
      double words = x;
      if (!m.partName.empty()) {
        pending_.push_back({words, 0, m.partName, 1.8, TextKind::PartName});
        words = textBox(pending_.back()).right + 1.0;
      }
      const ScoreMeasure* before =
          piece.measure > 0 ? &score_.measures[piece.measure - 1] : nullptr;
      if (m.tempo > 0 && (before == nullptr || before->tempo != m.tempo)) {
        char tempo[32];
        std::snprintf(tempo, sizeof tempo, "\xE2\x99\xA9 = %g", m.tempo);
        pending_.push_back({words, 0, tempo, 1.4, TextKind::Tempo});
      }
      const int swingBefore = before != nullptr ? before->swingPercent : 50;
      if (m.swingPercent != swingBefore) {
        const std::string swing = m.swingPercent == 50
                                      ? std::string("Straight")
                                      : "Swing " + std::to_string(m.swingPercent) + ":" +
                                            std::to_string(100 - m.swingPercent);
        pending_.push_back({words, 0, swing, 1.4, TextKind::Swing});
      }
      if (p.timeSignature) {
        e_.texts.push_back({x + 1.2, 1.0, std::to_string(m.beats), 2.0, TextKind::TimeSignature});
        e_.texts.push_back(
            {x + 1.2, 3.0, std::to_string(m.beatType), 2.0, TextKind::TimeSignature});
        x += kTimeWidth;
      }
      x += 1.0;
    } else {
      x += 0.4;
    }
    if (piece.from < piece.to) x += p.slots[piece.from].before;
    // Where each slot of the piece stands, and the time at its end.
    std::map<int, double> slotX;
    for (std::size_t s = piece.from; s < piece.to; ++s) {
      slotX[p.slots[s].at] = x;
      x += p.slots[s].width * stretch;
    }
    const int endAt = piece.to < p.slots.size() ? p.slots[piece.to].at : m.duration();
    slotX[endAt] = x;
    columns(m, piece, slotX, endAt);
    if (m.simile) {
      simileSign((slotX.begin()->second + x) / 2);
    } else {
      for (int v = 1; v <= 2; ++v) voice(m, p, v, slotX, endAt);
    }
    x += piece.last ? p.right : kCutRoom;
    if (piece.last) {
      if (m.repeatTimes > 1) {
        stroke(x - 1.25, 1.5, x - 1.25, 1.5, 0.4, StrokeKind::RepeatDot);
        stroke(x - 1.25, 2.5, x - 1.25, 2.5, 0.4, StrokeKind::RepeatDot);
        stroke(x - 0.7, 0, x - 0.7, 4.0, 0.12, StrokeKind::BarLine);
        stroke(x - 0.2, 0, x - 0.2, 4.0, 0.4, StrokeKind::ThickBarLine);
        EngravedText times{0, 0, "\xC3\x97" + std::to_string(m.repeatTimes), 1.4,
                           TextKind::RepeatCount};
        times.x = x - (textBox(times).right - textBox(times).left);
        pending_.push_back(times);
      } else if (last) {
        stroke(x - 0.7, 0, x - 0.7, 4.0, 0.12, StrokeKind::BarLine);
        stroke(x - 0.2, 0, x - 0.2, 4.0, 0.4, StrokeKind::ThickBarLine);
      } else {
        stroke(x, 0, x, 4.0, 0.12, StrokeKind::BarLine);
      }
    }
    return x;
  }

  // The one-bar repeat sign centred on `x`: a slash rising over the middle line, a dot
  // above it on the left and one below it on the right.
  void simileSign(double x) {
    stroke(x - 1.0, 3.0, x + 1.0, 1.0, 0.55, StrokeKind::SimileSlash);
    stroke(x - 0.85, 1.4, x - 0.85, 1.4, 0.45, StrokeKind::RepeatDot);
    stroke(x + 0.85, 2.6, x + 0.85, 2.6, 0.45, StrokeKind::RepeatDot);
  }

  // The playing mark's room: each grid step from where it starts to where the next does.
  void columns(const ScoreMeasure& m, const Piece& piece, const std::map<int, double>& slotX,
               int endAt) {
    const int beginAt = slotX.begin()->first;
    auto xAt = [&](int at) {
      auto hi = slotX.lower_bound(at);
      if (hi == slotX.end()) return std::prev(hi)->second;
      if (hi->first == at || hi == slotX.begin()) return hi->second;
      auto lo = std::prev(hi);
      return lo->second + (hi->second - lo->second) * (at - lo->first) /
                              static_cast<double>(hi->first - lo->first);
    };
    int at = 0;
    for (std::size_t s = 0; s < m.steps.size(); ++s) {
      const int next = at + m.steps[s].duration;
      const bool inPiece = at >= (piece.first ? 0 : beginAt) && at < endAt;
      if (inPiece) {
        e_.columns.push_back({xAt(at), xAt(std::min(next, endAt)), -1.5, 5.5, piece.measure,
                              m.steps[s].partStep, m.songPosition, m.repeatedPositions});
        const char hand = m.steps[s].sticking;
        if (hand != '-' && hand != ' ') {
          below_.push_back(
              {xAt(at) + 0.9, 0, std::string(1, hand), kStickingSize, TextKind::Sticking});
        }
      }
      at = next;
    }
  }

  struct Drawn {
    const ScoreNote* note = nullptr;
    std::size_t firstHead = 0, heads = 0;
    double x = 0;
    double inner = 0, outer = 0;  // head nearest the stem's end, farthest
    double end = 0;               // the stem's end
    bool stem = false;
  };

  void voice(const ScoreMeasure& m, const PreparedMeasure& p, int v,
             const std::map<int, double>& slotX, int endAt) {
    const std::vector<ScoreNote>& notes = m.voice(v);
    restOf_.clear();
    const bool up = v == 1;
    const bool otherVoice = !m.voice(v == 1 ? 2 : 1).empty();
    std::vector<Drawn> drawn;
    std::size_t visible = 0;
    for (const ScoreNote& n : notes) {
      const std::size_t index = visible;
      if (!n.hidden) ++visible;
      if (n.hidden || n.start < slotX.begin()->first || n.start >= endAt) continue;
      const double x = slotX.at(n.start) + 0.9;
      if (n.rest()) {
        rest(m, v, n, x, otherVoice, slotX);
        continue;
      }
      Drawn d;
      d.note = &n;
      d.x = x;
      d.firstHead = e_.heads.size();
      const std::vector<ScoreHit> hits = sortedHits(n);
      const std::vector<double>& shifted = p.shifted[v - 1][index];
      for (std::size_t h = 0; h < hits.size(); ++h) {
        const ScoreHit& hit = hits[h];
        const DrumPlacement place = placementOf(hit.voice);
        EngravedHead head;
        head.staffPosition = staffPosition(place);
        head.x = x + shifted[h];
        head.y = lineY(head.staffPosition);
        head.head = noteheadOf(hit);
        head.articulation = hit.articulation;
        head.hollow = n.typeLog2 >= 1;
        head.parentheses = hit.level <= 3;
        head.accent = hit.level >= 7;
        head.dotted = n.dotted;
        head.dotY = head.staffPosition % 2 == 0 ? head.y - 0.5 : head.y;
        head.voice = v;
        head.column = columnOf(m, n.step);
        head.source = hit.source;
        e_.heads.push_back(head);
        ledgerLines(head.x, head.staffPosition);
        if (h == 0) d.inner = d.outer = head.y;
        d.inner = up ? std::min(d.inner, head.y) : std::max(d.inner, head.y);
        d.outer = up ? std::max(d.outer, head.y) : std::min(d.outer, head.y);
      }
      d.heads = e_.heads.size() - d.firstHead;
      graceHeads(d, up);
      d.stem = n.typeLog2 <= 1;
      d.end = d.inner + (up ? -kStemLength : kStemLength);
      // Heads off the staff keep their stems reaching the middle line.
      d.end = up ? std::min(d.end, 2.0) : std::max(d.end, 2.0);
      drawn.push_back(d);
    }
    beams(drawn, up);
    for (const Drawn& d : drawn) {
      const double sx = d.x + (up ? kHeadHalfWidth : -kHeadHalfWidth);
      if (d.stem) stroke(sx, d.outer, sx, d.end, 0.12, StrokeKind::Stem);
      const bool beamed = d.note->beams[0] != Beam::None;
      if (d.stem && !beamed) {
        for (int f = 0; f < d.note->beamLevels(); ++f) {
          const double fy = d.end + (up ? 1 : -1) * f * kBeamGap;
          stroke(sx, fy, sx + 0.9, fy + (up ? 1.4 : -1.4), 0.2, StrokeKind::Flag);
        }
      }
      // Accents beyond the stem's end and the staff, other marks beyond them.
      const double reach = d.stem ? d.end : d.inner + (up ? -0.5 : 0.5);
      double markAt = up ? std::min(reach, -0.5) - 1.0 : std::max(reach, 4.5) + 1.0;
      bool buzz = false;
      for (std::size_t h = d.firstHead; h < d.firstHead + d.heads; ++h) {
        e_.heads[h].accentY = markAt;
        buzz = buzz || e_.heads[h].articulation == Articulation::Buzz;
      }
      for (std::size_t h = d.firstHead; h < d.firstHead + d.heads; ++h) {
        EngravedHead& head = e_.heads[h];
        if (!markedAbove(head.articulation)) continue;
        if (head.accent) markAt += up ? -1.0 : 1.0;
        head.markY = markAt;
        markAt += up ? -1.0 : 1.0;
      }
      // A press roll: a "z" across the stem, halfway along it (over the head without one).
      if (buzz) {
        const double cx = d.stem ? sx : d.x;
        const double cy = d.stem ? (d.inner + d.end) / 2 : d.inner + (up ? -1.2 : 1.2);
        stroke(cx - 0.4, cy - 0.3, cx + 0.4, cy - 0.3, 0.14, StrokeKind::BuzzRoll);
        stroke(cx + 0.4, cy - 0.3, cx - 0.4, cy + 0.3, 0.14, StrokeKind::BuzzRoll);
        stroke(cx - 0.4, cy + 0.3, cx + 0.4, cy + 0.3, 0.14, StrokeKind::BuzzRoll);
      }
    }
    tuplets(drawn, notes, up);
  }

  static bool markedAbove(Articulation a) {
    return a == Articulation::HalfOpen || a == Articulation::Choke || a == Articulation::Edge;
  }

  // Small heads before the note's flams (one, slashed) and drags (two, beamed), each with
  // a short stem on the note's side.
  void graceHeads(const Drawn& d, bool up) {
    const std::size_t count = d.heads;
    for (std::size_t h = d.firstHead; h < d.firstHead + count; ++h) {
      const EngravedHead main = e_.heads[h];
      const int graces = graceNotesOf(main.articulation);
      if (graces == 0) continue;
      const double start = d.x - (main.parentheses ? 0.7 : 0.0);
      double stemEnd = 0;
      std::vector<double> stems;
      for (int g = graces; g >= 1; --g) {
        EngravedHead grace = main;
        grace.x = start - g * kGraceSpacing;
        grace.grace = true;
        grace.parentheses = false;
        grace.accent = false;
        grace.dotted = false;
        grace.hollow = false;
        grace.articulation = Articulation::None;
        grace.head = main.head == Notehead::Slashed ? Notehead::Normal : main.head;
        e_.heads.push_back(grace);
        ledgerLines(grace.x, grace.staffPosition);
        const double sx = grace.x + (up ? 1 : -1) * kHeadHalfWidth * kGraceScale;
        stemEnd = grace.y + (up ? -2.2 : 2.2);
        stroke(sx, grace.y, sx, stemEnd, 0.08, StrokeKind::GraceStem);
        stems.push_back(sx);
      }
      if (graces == 1) {
        const double sx = stems.front();
        const double my = (main.y + stemEnd) / 2 + (up ? -0.3 : 0.3);
        stroke(sx - 0.35, my + 0.35, sx + 0.35, my - 0.35, 0.08, StrokeKind::GraceStem);
      } else {
        for (int b = 0; b < 2; ++b) {
          const double by = stemEnd + (up ? 1 : -1) * b * 0.45;
          stroke(stems.front(), by, stems.back(), by, 0.25, StrokeKind::GraceStem);
        }
      }
    }
  }

  std::size_t columnOf(const ScoreMeasure& m, std::size_t step) const {
    // Columns of the measure were just made; the one of `step` is counted from the end.
    std::size_t c = e_.columns.size();
    while (c > 0 && e_.columns[c - 1].measure == currentMeasure(m)) --c;
    for (std::size_t k = c; k < e_.columns.size(); ++k) {
      if (e_.columns[k].partStep == m.steps[step].partStep) return k;
    }
    return c;
  }
  std::size_t currentMeasure(const ScoreMeasure& m) const {
    return static_cast<std::size_t>(&m - score_.measures.data());
  }

  void rest(const ScoreMeasure& m, int v, const ScoreNote& n, double x, bool otherVoice,
            const std::map<int, double>& slotX) {
    double y = 2.0;
    if (n.measureRest) {
      // Whole-measure rest: in the middle of the measure.
      const double left = slotX.begin()->second;
      const double right = std::prev(slotX.end())->second;
      e_.rests.push_back({(left + right) / 2, 2.0, 2, false, v});
      return;
    }
    if (otherVoice && n.typeLog2 < 1) {
      // Clear of the other voice's heads sounding at the same time.
      const std::vector<ScoreNote>& other = m.voice(v == 1 ? 2 : 1);
      y = v == 1 ? 1.0 : 3.0;
      for (const ScoreNote& o : other) {
        if (o.rest() || o.start != n.start) continue;
        for (const ScoreHit& h : o.hits) {
          const double hy = lineY(staffPosition(placementOf(h.voice)));
          y = v == 1 ? std::min(y, hy - 0.5 - kRestHalfHeight - 0.1)
                     : std::max(y, hy + 0.5 + kRestHalfHeight + 0.1);
        }
      }
    }
    restOf_[&n] = e_.rests.size();
    e_.rests.push_back({x, y, n.typeLog2, n.dotted, v});
  }

  void ledgerLines(double x, int position) {
    for (int p = -2; p >= position; p -= 2) {
      stroke(x - 1.0, lineY(p), x + 1.0, lineY(p), 0.1, StrokeKind::LedgerLine);
    }
    for (int p = 10; p <= position; p += 2) {
      stroke(x - 1.0, lineY(p), x + 1.0, lineY(p), 0.1, StrokeKind::LedgerLine);
    }
  }

  // Beamed runs share one stem end beyond the farthest reaching stem; secondary beams
  // and hooks as the notes' beam levels say.
  void beams(std::vector<Drawn>& drawn, bool up) {
    std::size_t i = 0;
    while (i < drawn.size()) {
      if (drawn[i].note->beams[0] == Beam::None) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j + 1 < drawn.size() && drawn[j].note->beams[0] != Beam::End &&
             drawn[j + 1].note->beams[0] != Beam::None &&
             drawn[j + 1].note->beams[0] != Beam::Begin) {
        ++j;
      }
      if (j == i) {  // cut off from its run at a system's end: a flag instead
        drawn[i].stem = true;
        ++i;
        continue;
      }
      double y = drawn[i].end;
      for (std::size_t k = i; k <= j; ++k)
        y = up ? std::min(y, drawn[k].end) : std::max(y, drawn[k].end);
      for (std::size_t k = i; k <= j; ++k) drawn[k].end = y;
      const double side = up ? kHeadHalfWidth : -kHeadHalfWidth;
      for (int level = 1; level <= kBeamLevels; ++level) {
        const double ly = y + (up ? 1 : -1) * (level - 1) * kBeamGap;
        for (std::size_t k = i; k <= j; ++k) {
          const Beam b = drawn[k].note->beams[level - 1];
          const double sx = drawn[k].x + side;
          if ((b == Beam::Begin || b == Beam::Continue) && k < j) {
            stroke(sx, ly, drawn[k + 1].x + side, ly, kBeamWidth, StrokeKind::Beam);
          } else if (b == Beam::ForwardHook) {
            stroke(sx, ly, sx + kHookLength, ly, kBeamWidth, StrokeKind::Beam);
          } else if (b == Beam::BackwardHook) {
            stroke(sx - kHookLength, ly, sx, ly, kBeamWidth, StrokeKind::Beam);
          }
        }
      }
      i = j + 1;
    }
  }

  void tuplets(const std::vector<Drawn>& drawn, const std::vector<ScoreNote>& notes, bool up) {
    const ScoreNote* first = nullptr;
    double x1 = 0, x2 = 0;
    double y = up ? -1.0 : 5.0;
    for (const ScoreNote& n : notes) {
      if (n.hidden) continue;
      const Drawn* d = nullptr;
      for (const Drawn& k : drawn) {
        if (k.note == &n) d = &k;
      }
      if (n.tupletStart) {
        first = &n;
        y = up ? -1.0 : 5.0;
        x1 = 1e300;
        x2 = -1e300;
      }
      if (first == nullptr) continue;
      double x = 0;
      if (d != nullptr) {
        x = d->x;
        const double reach = d->stem ? d->end : d->inner;
        y = up ? std::min(y, reach - 1.0) : std::max(y, reach + 1.0);
        for (std::size_t h = d->firstHead; h < d->firstHead + d->heads; ++h) {
          const EngravedHead& head = e_.heads[h];
          y = up ? std::min(y, (head.accent ? head.accentY - 0.4 : head.y - 0.5) - 0.8)
                 : std::max(y, (head.accent ? head.accentY + 0.4 : head.y + 0.5) + 0.8);
        }
      } else if (const auto r = restOf_.find(&n); r != restOf_.end()) {
        const EngravedRest& rest = e_.rests[r->second];
        x = rest.x;
        y = up ? std::min(y, rest.y - kRestHalfHeight - 0.8)
               : std::max(y, rest.y + kRestHalfHeight + 0.8);
      } else {
        continue;
      }
      x1 = std::min(x1, x - 0.6);
      x2 = std::max(x2, x + 0.9);
      if (!n.tupletStop) continue;
      const double hook = up ? 0.6 : -0.6;
      stroke(x1, y + hook, x1, y, 0.1, StrokeKind::TupletBracket);
      stroke(x1, y, x2, y, 0.1, StrokeKind::TupletBracket);
      stroke(x2, y, x2, y + hook, 0.1, StrokeKind::TupletBracket);
      e_.texts.push_back({(x1 + x2) / 2, y + (up ? -0.9 : 0.9), std::to_string(first->actualNotes),
                          1.3, TextKind::TupletNumber});
      first = nullptr;
    }
  }

  // Places the system's words over everything else in it, and the system below the last.
  void finishSystem() {
    Engraving::System& s = e_.systems.back();
    double high = -1.0, low = 5.0;
    auto reach = [&](double a, double b) {
      high = std::min({high, a, b});
      low = std::max({low, a, b});
    };
    for (std::size_t i = s.strokes; i < e_.strokes.size(); ++i) {
      reach(e_.strokes[i].y1, e_.strokes[i].y2);
    }
    for (std::size_t i = s.heads; i < e_.heads.size(); ++i) {
      const EngravedHead& h = e_.heads[i];
      reach(h.y - 0.6, h.y + 0.6);
      if (h.accent) reach(h.accentY - 0.5, h.accentY + 0.5);
      if (markedAbove(h.articulation)) reach(h.markY - 0.5, h.markY + 0.5);
    }
    for (std::size_t i = s.rests; i < e_.rests.size(); ++i) {
      reach(e_.rests[i].y - kRestHalfHeight, e_.rests[i].y + kRestHalfHeight);
    }
    for (std::size_t i = s.texts; i < e_.texts.size(); ++i) {
      const Box b = textBox(e_.texts[i]);
      reach(b.top, b.bottom);
    }
    // Words in rows over the skyline, a row higher where one would run into the last.
    std::vector<double> rowEnds;
    for (EngravedText& t : pending_) {
      const Box b = textBox(t);
      std::size_t row = 0;
      while (row < rowEnds.size() && rowEnds[row] > b.left - 0.6) ++row;
      if (row == rowEnds.size()) rowEnds.push_back(0);
      rowEnds[row] = b.right;
      t.y = high - 0.6 - row * kTextRow;
    }
    for (EngravedText& t : pending_) {
      e_.texts.push_back(t);
      high = std::min(high, textBox(t).top);
    }
    pending_.clear();
    // The sticking in one row under everything else.
    for (EngravedText& t : below_) {
      t.y = low + 0.4 + t.size * 0.8;
      e_.texts.push_back(t);
    }
    if (!below_.empty()) low += 0.4 + kStickingSize * 1.05;
    below_.clear();
    const double top = nextTop_ - high;
    for (std::size_t i = s.strokes; i < e_.strokes.size(); ++i) {
      e_.strokes[i].y1 += top;
      e_.strokes[i].y2 += top;
    }
    for (std::size_t i = s.heads; i < e_.heads.size(); ++i) {
      e_.heads[i].y += top;
      e_.heads[i].accentY += top;
      e_.heads[i].markY += top;
      e_.heads[i].dotY += top;
    }
    for (std::size_t i = s.rests; i < e_.rests.size(); ++i) e_.rests[i].y += top;
    for (std::size_t i = s.texts; i < e_.texts.size(); ++i) e_.texts[i].y += top;
    for (std::size_t i = s.columns; i < e_.columns.size(); ++i) {
      e_.columns[i].top += top;
      e_.columns[i].bottom += top;
    }
    s.top = nextTop_;
    s.bottom = top + low;
    e_.systemTops.push_back(top);
    nextTop_ = s.bottom + kSystemGap;
  }

  const Score& score_;
  Engraving e_;
  std::vector<PreparedMeasure> prepared_;
  std::vector<std::vector<Piece>> systems_;
  std::vector<EngravedText> pending_;               // the system's words, placed when it is done
  std::vector<EngravedText> below_;                 // its sticking, placed under it then
  std::map<const ScoreNote*, std::size_t> restOf_;  // the rests drawn, by note
  double nextTop_ = 0;
};

// Copies systems [from, to) of `e` onto a page, `y` spaces down from where they were.
void copySystems(const Engraving& e, std::size_t from, std::size_t to, double y, Engraving* page) {
  auto end = [&](std::size_t s, auto member, std::size_t size) {
    return s < e.systems.size() ? e.systems[s].*member : size;
  };
  using S = Engraving::System;
  for (std::size_t i = e.systems[from].strokes; i < end(to, &S::strokes, e.strokes.size()); ++i) {
    EngravedStroke st = e.strokes[i];
    st.y1 += y;
    st.y2 += y;
    page->strokes.push_back(st);
  }
  for (std::size_t i = e.systems[from].heads; i < end(to, &S::heads, e.heads.size()); ++i) {
    EngravedHead h = e.heads[i];
    h.y += y;
    h.accentY += y;
    h.markY += y;
    h.dotY += y;
    page->heads.push_back(h);
  }
  for (std::size_t i = e.systems[from].rests; i < end(to, &S::rests, e.rests.size()); ++i) {
    EngravedRest r = e.rests[i];
    r.y += y;
    page->rests.push_back(r);
  }
  for (std::size_t i = e.systems[from].texts; i < end(to, &S::texts, e.texts.size()); ++i) {
    EngravedText t = e.texts[i];
    t.y += y;
    page->texts.push_back(t);
  }
  for (std::size_t i = e.systems[from].columns; i < end(to, &S::columns, e.columns.size()); ++i) {
    EngravedColumn c = e.columns[i];
    c.top += y;
    c.bottom += y;
    page->columns.push_back(c);
  }
  for (std::size_t s = from; s < to; ++s) {
    Engraving::System system = e.systems[s];
    system.top += y;
    system.bottom += y;
    page->systems.push_back(system);
    page->systemTops.push_back(e.systemTops[s] + y);
  }
}

}  // namespace

Box textBox(const EngravedText& t) {
  // Glyphs about half as wide as tall; digits and capitals a little wider.
  double width = 0;
  for (std::size_t i = 0; i < t.text.size(); ++i) {
    const auto c = static_cast<unsigned char>(t.text[i]);
    if ((c & 0xC0) == 0x80) continue;  // inside a UTF-8 sequence
    width += (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80 ? 0.68 : 0.56;
  }
  width *= t.size;
  switch (t.kind) {
    case TextKind::TimeSignature:
    case TextKind::TupletNumber:
      return {t.x - width / 2, t.y - t.size / 2, t.x + width / 2, t.y + t.size / 2};
    case TextKind::Title:
    case TextKind::Sticking:
    case TextKind::PageNumber:
    case TextKind::Composer:
      return {t.x - width / 2, t.y - t.size * 0.8, t.x + width / 2, t.y + t.size * 0.25};
    default: return {t.x, t.y - t.size * 0.8, t.x + width, t.y + t.size * 0.25};
  }
}

Engraving engrave(const Score& score, double width) {
  return Engraver(score, width).run(1.0);
}

std::vector<Engraving> engravePages(const Score& score, double width, double height) {
  const Engraving all = engrave(score, width);
  std::vector<Engraving> pages;
  const double foot = 3.0;  // the page number's room
  double titleRoom = 0;
  Engraving head;
  head.width = width;
  head.height = height;
  if (!score.title.empty()) {
    head.texts.push_back({width / 2, 3.5, score.title, 3.0, TextKind::Title});
    titleRoom = 5.0;
  }
  if (!score.author.empty()) {
    head.texts.push_back({width - kMargin, titleRoom + 2.0, score.author, 1.5, TextKind::Composer});
    Box b = textBox(head.texts.back());
    head.texts.back().x -= (b.right - b.left) / 2;
    titleRoom += 3.0;
  }
  std::size_t s = 0;
  while (s < all.systems.size() || pages.empty()) {
    Engraving page = pages.empty() ? head : Engraving{};
    page.width = width;
    page.height = height;
    const double start = (pages.empty() ? titleRoom : 0.0) + 1.0;
    std::size_t to = s;
    if (s < all.systems.size()) {
      const double shift = start - all.systems[s].top;
      to = s + 1;  // at least one system a page, however tall
      while (to < all.systems.size() && all.systems[to].bottom + shift <= height - foot) ++to;
      copySystems(all, s, to, shift, &page);
    }
    pages.push_back(std::move(page));
    s = to;
    if (s >= all.systems.size()) break;
  }
  for (std::size_t p = 0; p < pages.size(); ++p) {
    pages[p].texts.push_back(
        {width / 2, height - 1.0, std::to_string(p + 1), 1.3, TextKind::PageNumber});
  }
  return pages;
}

}  // namespace pulsewright
