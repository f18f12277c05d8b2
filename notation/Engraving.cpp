#include "notation/Engraving.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pulsewright {

namespace {

constexpr double kMargin = 1.0;
constexpr double kAbove = 7.0;  // room over the top line: part names, tempo, brackets
constexpr double kBelow = 5.0;
constexpr double kStemLength = 3.5;
constexpr double kHeadHalfWidth = 0.6;
constexpr double kBeamWidth = 0.45;
constexpr double kBeamGap = 0.75;

double stepWidth(const ScoreStep& step, int divisions) {
  const double quarters = static_cast<double>(step.duration) / divisions;
  return 2.2 + 1.2 * std::max(0.0, std::log2(quarters * 2.0));
}

class Engraver {
 public:
  Engraver(const Score& score, double width) : score_(score) {
    e_.width = std::max(width, 30.0);
    e_.systemHeight = kAbove + 4.0 + kBelow;
  }

  Engraving run() {
    double x = 0;
    const ScoreMeasure* previous = nullptr;
    for (std::size_t m = 0; m < score_.measures.size(); ++m) {
      const ScoreMeasure& measure = score_.measures[m];
      const bool metreChanged = previous == nullptr || previous->beats != measure.beats ||
                                previous->beatType != measure.beatType;
      double width = 2.0;
      for (const ScoreStep& s : measure.steps) width += stepWidth(s, score_.divisions);
      if (metreChanged) width += 2.5;
      if (e_.systemTops.empty() || (x + width > e_.width - kMargin && x > systemStart_)) {
        x = newSystem();
      }
      if (metreChanged) {
        timeSignature(x + 1.2, measure);
        x += 2.5;
      }
      x = engraveMeasure(m, x, previous);
      previous = &measure;
    }
    if (e_.systemTops.empty()) {
      newSystem();
      lineEnd_ = e_.width - kMargin;
      finishSystem();
    }
    e_.height = e_.systemTops.back() + 4.0 + kBelow;
    return std::move(e_);
  }

 private:
  double top() const { return e_.systemTops.back(); }
  double lineY(int staffPosition) const { return top() + 4.0 - staffPosition * 0.5; }

  void stroke(double x1, double y1, double x2, double y2, double width, StrokeKind kind) {
    e_.strokes.push_back({x1, y1, x2, y2, width, kind});
  }

  double newSystem() {
    if (!e_.systemTops.empty()) finishSystem();
    const double t = e_.systemTops.empty() ? kAbove : e_.systemTops.back() + e_.systemHeight;
    e_.systemTops.push_back(t);
    // The percussion clef: two thick bars over the middle lines.
    stroke(kMargin + 0.8, t + 1.0, kMargin + 0.8, t + 3.0, 0.35, StrokeKind::Clef);
    stroke(kMargin + 1.5, t + 1.0, kMargin + 1.5, t + 3.0, 0.35, StrokeKind::Clef);
    systemStart_ = kMargin + 2.8;
    lineEnd_ = systemStart_;
    return systemStart_;
  }

  void finishSystem() {
    const double t = top();
    for (int line = 0; line < 5; ++line) {
      stroke(kMargin, t + line, lineEnd_, t + line, 0.1, StrokeKind::StaffLine);
    }
  }

  void timeSignature(double x, const ScoreMeasure& m) {
    e_.texts.push_back({x, top() + 1.0, std::to_string(m.beats), 2.0, TextKind::TimeSignature});
    e_.texts.push_back({x, top() + 3.0, std::to_string(m.beatType), 2.0, TextKind::TimeSignature});
  }

  double engraveMeasure(std::size_t index, double x, const ScoreMeasure* previous) {
    const ScoreMeasure& m = score_.measures[index];
    double words = x;
    if (!m.partName.empty()) {
      e_.texts.push_back({x, top() - 5.4, m.partName, 1.8, TextKind::PartName});
      words += 1.4 * static_cast<double>(m.partName.size()) + 1.0;
    }
    if (m.tempo > 0 && (previous == nullptr || previous->tempo != m.tempo)) {
      char tempo[32];
      std::snprintf(tempo, sizeof tempo, "\xE2\x99\xA9 = %g", m.tempo);
      e_.texts.push_back({words, top() - 5.4, tempo, 1.4, TextKind::Tempo});
    }
    x += 1.0;
    const std::size_t firstHead = e_.heads.size();
    const std::size_t firstStroke = e_.strokes.size();
    std::vector<double> headX;
    for (const ScoreStep& s : m.steps) {
      const double w = stepWidth(s, score_.divisions);
      const std::size_t column = e_.columns.size();
      e_.columns.push_back({x, x + w, top() - 1.5, top() + 5.5, index, s.partStep, m.songPosition});
      const double hx = x + 0.9;
      headX.push_back(hx);
      for (int voice = 1; voice <= 2; ++voice) {
        const auto& hits = s.hits(voice);
        if (hits.empty()) {
          if ((voice == 1 && m.hasHands()) || (voice == 2 && m.hasFeet())) {
            e_.rests.push_back({hx, top() + (voice == 1 ? (m.hasFeet() ? 1.0 : 2.0) : 3.5),
                                s.typeLog2, s.dotted, voice});
          }
          continue;
        }
        for (const ScoreHit& hit : hits) {
          const DrumPlacement p = placementOf(hit.voice);
          EngravedHead head;
          head.staffPosition = staffPosition(p);
          head.x = hx;
          head.y = lineY(head.staffPosition);
          head.head = p.head;
          head.hollow = s.typeLog2 >= 1;
          head.parentheses = hit.level <= 3;
          head.accent = hit.level >= 7;
          head.voice = voice;
          head.column = column;
          head.source = hit.source;
          e_.heads.push_back(head);
          ledgerLines(hx, head.staffPosition);
        }
      }
      x += w;
    }
    if (!m.hasHands() && !headX.empty()) {
      // A measure's rest for a voice with nothing to play in the measure.
      e_.rests.push_back({(headX.front() + headX.back()) / 2, top() + 2.0, 2, false, 1});
    }
    stems(m, firstHead, headX);
    tuplets(m, headX, firstStroke);
    x += 1.0;
    const bool last = index + 1 == score_.measures.size();
    if (last) {
      stroke(x - 0.6, top(), x - 0.6, top() + 4.0, 0.12, StrokeKind::BarLine);
      stroke(x - 0.1, top(), x - 0.1, top() + 4.0, 0.4, StrokeKind::ThickBarLine);
    } else {
      stroke(x, top(), x, top() + 4.0, 0.12, StrokeKind::BarLine);
    }
    lineEnd_ = x + (last ? 0.1 : 0.0);
    if (last) finishSystem();
    return x;
  }

  void ledgerLines(double x, int position) {
    for (int p = -2; p >= position; p -= 2) {
      stroke(x - 1.0, lineY(p), x + 1.0, lineY(p), 0.1, StrokeKind::LedgerLine);
    }
    for (int p = 10; p <= position; p += 2) {
      stroke(x - 1.0, lineY(p), x + 1.0, lineY(p), 0.1, StrokeKind::LedgerLine);
    }
  }

  // Stems, beams and flags of both voices; accents go beyond the stem ends.
  void stems(const ScoreMeasure& m, std::size_t firstHead, const std::vector<double>& headX) {
    for (int voice = 1; voice <= 2; ++voice) {
      const bool up = voice == 1;
      const auto v = static_cast<std::size_t>(voice - 1);
      // Per step: the head nearest the stem end and the one farthest from it.
      std::vector<double> inner(m.steps.size(), 0), outer(m.steps.size(), 0);
      std::vector<bool> has(m.steps.size(), false);
      for (std::size_t h = firstHead; h < e_.heads.size(); ++h) {
        const EngravedHead& head = e_.heads[h];
        if (head.voice != voice) continue;
        const std::size_t s = head.column - (e_.columns.size() - m.steps.size());
        if (!has[s]) {
          inner[s] = outer[s] = head.y;
          has[s] = true;
        }
        inner[s] = up ? std::min(inner[s], head.y) : std::max(inner[s], head.y);
        outer[s] = up ? std::max(outer[s], head.y) : std::min(outer[s], head.y);
      }
      std::vector<double> end(m.steps.size(), 0);
      for (std::size_t s = 0; s < m.steps.size(); ++s) {
        if (has[s]) end[s] = inner[s] + (up ? -kStemLength : kStemLength);
      }
      // Beamed runs share one stem end, beyond the farthest reaching stem.
      std::size_t runStart = 0;
      for (std::size_t s = 0; s < m.steps.size(); ++s) {
        const Beam b = m.steps[s].beams[v];
        if (b == Beam::Begin) runStart = s;
        if (b != Beam::End) continue;
        double y = end[runStart];
        for (std::size_t k = runStart; k <= s; ++k) {
          if (has[k]) y = up ? std::min(y, end[k]) : std::max(y, end[k]);
        }
        for (std::size_t k = runStart; k <= s; ++k) end[k] = y;
        const double x1 = headX[runStart] + (up ? kHeadHalfWidth : -kHeadHalfWidth);
        const double x2 = headX[s] + (up ? kHeadHalfWidth : -kHeadHalfWidth);
        const int levels = std::max(1, -m.steps[runStart].typeLog2);
        for (int level = 0; level < std::min(levels, 4); ++level) {
          const double ly = y + (up ? 1 : -1) * level * kBeamGap;
          stroke(x1, ly, x2, ly, kBeamWidth, StrokeKind::Beam);
        }
      }
      for (std::size_t s = 0; s < m.steps.size(); ++s) {
        if (!has[s] || m.steps[s].typeLog2 >= 2) continue;
        const double sx = headX[s] + (up ? kHeadHalfWidth : -kHeadHalfWidth);
        stroke(sx, outer[s], sx, end[s], 0.12, StrokeKind::Stem);
        if (m.steps[s].beams[v] == Beam::None) {
          for (int f = 0; f < std::min(4, -m.steps[s].typeLog2); ++f) {
            const double fy = end[s] + (up ? 1 : -1) * f * kBeamGap;
            stroke(sx, fy, sx + 0.9, fy + (up ? 1.4 : -1.4), 0.2, StrokeKind::Flag);
          }
        }
      }
      for (std::size_t h = firstHead; h < e_.heads.size(); ++h) {
        EngravedHead& head = e_.heads[h];
        if (head.voice != voice) continue;
        const std::size_t s = head.column - (e_.columns.size() - m.steps.size());
        head.accentY = up ? std::min(end[s], top()) - 1.2 : std::max(end[s], top() + 4.0) + 1.2;
      }
    }
  }

  void tuplets(const ScoreMeasure& m, const std::vector<double>& headX, std::size_t firstStroke) {
    std::size_t start = 0;
    for (std::size_t s = 0; s < m.steps.size(); ++s) {
      if (m.steps[s].tupletStart) start = s;
      if (!m.steps[s].tupletStop) continue;
      double y = top() - 1.0;
      for (std::size_t k = firstStroke; k < e_.strokes.size(); ++k) {
        const EngravedStroke& st = e_.strokes[k];
        if ((st.kind == StrokeKind::Beam || st.kind == StrokeKind::Stem) && st.x1 >= headX[start] &&
            st.x1 <= headX[s] + 1.0) {
          y = std::min({y, st.y1 - 1.0, st.y2 - 1.0});
        }
      }
      const double x1 = headX[start] - 0.4;
      const double x2 = headX[s] + 1.0;
      stroke(x1, y + 0.6, x1, y, 0.1, StrokeKind::TupletBracket);
      stroke(x1, y, x2, y, 0.1, StrokeKind::TupletBracket);
      stroke(x2, y, x2, y + 0.6, 0.1, StrokeKind::TupletBracket);
      e_.texts.push_back({(x1 + x2) / 2, y - 0.9, std::to_string(m.steps[start].actualNotes), 1.3,
                          TextKind::TupletNumber});
    }
  }

  const Score& score_;
  Engraving e_;
  double systemStart_ = 0;
  double lineEnd_ = 0;
};

}  // namespace

Engraving engrave(const Score& score, double width) {
  return Engraver(score, width).run();
}

}  // namespace pulsewright
