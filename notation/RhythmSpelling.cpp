#include "notation/RhythmSpelling.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace pulsewright {

namespace {

using i64 = std::int64_t;
constexpr int kFinestGrid = 8;  // a beat split in halves this many times at most

// A written value and its length in divisions.
struct Value {
  i64 length = 0;
  int typeLog2 = 0;
  bool dotted = false;
};

// The note values whose length is a whole number of divisions, longest first.
std::vector<Value> valuesOf(int q) {
  std::vector<Value> values;
  for (int k = kLongestType; k >= kShortestType; --k) {
    const i64 dotted = k >= 1                                    ? (i64{3} * q) << (k - 1)
                       : (i64{3} * q) % (i64{1} << (1 - k)) == 0 ? (i64{3} * q) >> (1 - k)
                                                                 : -1;
    const i64 plain = k >= 0 ? i64{q} << k : q % (i64{1} << -k) == 0 ? q >> -k : -1;
    if (dotted > 0 && k > kShortestType) values.push_back({dotted, k, true});
    if (plain > 0) values.push_back({plain, k, false});
  }
  return values;
}

bool powerOfTwo(i64 n) {
  return n > 0 && (n & (n - 1)) == 0;
}

class Speller {
 public:
  Speller(ScoreMeasure& m, int divisions, const std::function<void(const std::string&)>& warn)
      : m_(m),
        q_(std::max(1, divisions)),
        beat_(beatLength(m, divisions)),
        compound_(compoundMetre(m)),
        warn_(warn),
        values_(valuesOf(q_)) {
    i64 at = 0;
    for (const ScoreStep& s : m_.steps) {
      stepStarts_.push_back(at);
      at += s.duration;
    }
    length_ = at;
  }

  void voice(int v) {
    std::vector<ScoreNote>& out = m_.voices[v - 1];
    out.clear();
    out_ = &out;
    groups_.clear();
    onsets_.clear();
    for (std::size_t s = 0; s < m_.steps.size(); ++s) {
      if (!m_.steps[s].hits(v).empty()) onsets_.push_back({stepStarts_[s], s});
    }
    if (v == 2 && onsets_.empty()) return;  // no second voice in this measure
    if (length_ <= 0) return;
    if (onsets_.empty()) {
      ScoreNote rest;
      rest.duration = static_cast<int>(length_);
      rest.typeLog2 = 2;
      rest.measureRest = true;
      out.push_back(rest);
      groups_.push_back({-1, 0});
      return;
    }
    voice_ = v;
    const i64 beats = (length_ + beat_ - 1) / beat_;
    std::size_t next = 0;  // first onset not yet written
    for (i64 b = 0; b < beats;) {
      const i64 from = b * beat_;
      const i64 to = std::min(length_, from + beat_);
      const std::size_t first = next;
      while (next < onsets_.size() && onsets_[next].at < to) ++next;
      if (first == next) {
        i64 end = b + 1;
        std::size_t probe = next;
        while (end < beats && (probe >= onsets_.size() || onsets_[probe].at >= (end + 1) * beat_))
          ++end;
        emptyBeats(b, std::min<i64>(end, beats));
        b = end;
        continue;
      }
      if (regular(first, next, from, to)) {
        spellRegular(first, next, from, to, static_cast<int>(b));
        ++b;
        continue;
      }
      // Longer tuplet notes across two beats (a quarter-note triplet) are bracketed once.
      if (!compound_ && b + 1 < beats && to + beat_ <= length_) {
        std::size_t after = next;
        while (after < onsets_.size() && onsets_[after].at < to + beat_) ++after;
        if (after > next && !regular(next, after, to, to + beat_)) {
          const i64 one = tupletCount(first, next, from, to);
          const i64 two = tupletCount(next, after, to, to + beat_);
          const i64 both = tupletCount(first, after, from, to + beat_);
          if (both < one + two && !powerOfTwo(both)) {
            spellTuplet(first, after, from, to + beat_, static_cast<int>(b));
            next = after;
            b += 2;
            continue;
          }
        }
      }
      spellTuplet(first, next, from, to, static_cast<int>(b));
      ++b;
    }
    beam();
  }

 private:
  struct Onset {
    i64 at;
    std::size_t step;
  };
  struct Group {
    int id;   // notes beamed together share it; -1: beamed to none
    int sub;  // secondary beams join within it
  };

  std::size_t stepAt(i64 at) const {
    const auto it = std::upper_bound(stepStarts_.begin(), stepStarts_.end(), at);
    return it == stepStarts_.begin() ? 0 : static_cast<std::size_t>(it - stepStarts_.begin() - 1);
  }

  bool onGrid(i64 offset) const {
    const i64 scale = compound_ ? 3 : 1;
    for (int n = 0; n <= kFinestGrid; ++n) {
      if ((offset * scale << n) % beat_ == 0) return true;
    }
    return false;
  }

  // Whether the onsets [first, last) in the beat [from, to) need no tuplet.
  bool regular(std::size_t first, std::size_t last, i64 from, i64 to) const {
    if (!onGrid(to - from)) return false;
    for (std::size_t i = first; i < last; ++i) {
      if (!onGrid(onsets_[i].at - from)) return false;
    }
    return true;
  }

  i64 tupletUnit(std::size_t first, std::size_t last, i64 from, i64 to) const {
    i64 unit = to - from;
    for (std::size_t i = first; i < last; ++i) unit = std::gcd(unit, onsets_[i].at - from);
    return std::max<i64>(1, unit);
  }
  i64 tupletCount(std::size_t first, std::size_t last, i64 from, i64 to) const {
    return (to - from) / tupletUnit(first, last, from, to);
  }

  void push(ScoreNote n, Group g) {
    n.step = stepAt(n.start);
    if (n.typeLog2 < kShortestType || n.typeLog2 > kLongestType) {
      n.typeLog2 = std::clamp(n.typeLog2, kShortestType, kLongestType);
      n.dotted = false;
      nearest("a note shorter or longer than any note value is drawn as a " +
              std::string(noteTypeName(n.typeLog2)));
    }
    out_->push_back(std::move(n));
    groups_.push_back(g);
  }

  void nearest(const std::string& what) {
    if (warn_) warn_(what);
  }

  ScoreNote note(i64 start, const Value& v, std::size_t step) const {
    ScoreNote n;
    n.start = static_cast<int>(start);
    n.duration = static_cast<int>(v.length);
    n.typeLog2 = v.typeLog2;
    n.dotted = v.dotted;
    if (step != static_cast<std::size_t>(-1)) n.hits = m_.steps[step].hits(voice_);
    return n;
  }

  // A value for what matches no note value: the nearest shorter one's type, the length
  // kept, so that the measure still adds up.
  Value odd(i64 length) {
    nearest("a length no note value writes is drawn as the nearest one");
    const double quarters = static_cast<double>(length) / q_;
    return {length, static_cast<int>(std::floor(std::log2(quarters))), false};
  }

  // Rests for [at, at + length) within the beat that starts at `beatStart`.
  void rests(i64 at, i64 length, i64 beatStart, Group g) {
    while (length > 0) {
      const Value* pick = nullptr;
      if (compound_ && at == beatStart && length >= beat_) {
        for (const Value& v : values_)
          if (v.length == beat_) pick = &v;
      }
      for (const Value& v : values_) {
        if (pick != nullptr) break;
        if (!v.dotted && v.length <= length && (at - beatStart) % v.length == 0) pick = &v;
      }
      const Value chosen = pick != nullptr ? *pick : odd(length);
      push(note(at, chosen, static_cast<std::size_t>(-1)), g);
      at += chosen.length;
      length -= chosen.length;
    }
  }

  void emptyBeats(i64 from, i64 to) {
    const i64 start = from * beat_;
    const i64 end = std::min(length_, to * beat_);
    if (voice_ == 2) {
      // The feet's empty beats carry no rests: the hands' rests say the same.
      ScoreNote gap;
      gap.start = static_cast<int>(start);
      gap.duration = static_cast<int>(end - start);
      gap.hidden = true;
      push(gap, {-1, 0});
      return;
    }
    for (i64 b = from; b < to;) {
      const i64 at = b * beat_;
      const bool pair = !compound_ && b % 2 == 0 && b + 1 < to && at + 2 * beat_ <= length_;
      const i64 length = std::min(length_ - at, pair ? 2 * beat_ : beat_);
      rests(at, length, at, {-1, 0});
      b += pair ? 2 : 1;
    }
  }

  void spellRegular(std::size_t first, std::size_t last, i64 from, i64 to, int beatIndex) {
    const i64 half = compound_ ? std::max<i64>(1, beat_ / 3) : std::max<i64>(1, beat_ / 2);
    auto group = [&](i64 at) { return Group{beatIndex, static_cast<int>((at - from) / half)}; };
    if (onsets_[first].at > from) rests(from, onsets_[first].at - from, from, group(from));
    for (std::size_t i = first; i < last; ++i) {
      const i64 at = onsets_[i].at;
      const i64 length = (i + 1 < last ? onsets_[i + 1].at : to) - at;
      const Value* pick = nullptr;
      for (const Value& v : values_) {
        if (v.length <= length) {
          pick = &v;
          break;
        }
      }
      const Value chosen = pick != nullptr ? *pick : odd(length);
      push(note(at, chosen, onsets_[i].step), group(at));
      if (length > chosen.length) {
        rests(at + chosen.length, length - chosen.length, from, group(at + chosen.length));
      }
    }
  }

  void spellTuplet(std::size_t first, std::size_t last, i64 from, i64 to, int beatIndex) {
    const i64 unit = tupletUnit(first, last, from, to);
    const i64 count = (to - from) / unit;
    i64 normal = compound_ ? 3 : 1;
    while (normal * 2 <= count) normal *= 2;
    // One written unit: (to - from) / normal divisions, 2^unitType quarters.
    const double quarters = static_cast<double>(to - from) / static_cast<double>(normal) / q_;
    const double exactType = std::log2(quarters);
    const int unitType = static_cast<int>(std::lround(exactType));
    if (std::abs(exactType - unitType) > 1e-9) {
      nearest("a tuplet in a beat cut short is drawn with the nearest note values");
    }
    const bool tuplet = count != normal;
    const std::size_t before = out_->size();
    const Group group{beatIndex, 0};
    auto add = [&](i64 atUnits, i64 units, bool dotted, std::size_t step) {
      ScoreNote n;
      n.start = static_cast<int>(from + atUnits * unit);
      n.duration = static_cast<int>(units * unit);
      const i64 plain = dotted ? units / 3 * 2 : units;
      n.typeLog2 = unitType + static_cast<int>(std::lround(std::log2(static_cast<double>(plain))));
      n.dotted = dotted;
      if (tuplet) {
        n.actualNotes = static_cast<int>(std::min<i64>(count, 1 << 30));
        n.normalNotes = static_cast<int>(std::min<i64>(normal, 1 << 30));
      }
      if (step != static_cast<std::size_t>(-1)) n.hits = m_.steps[step].hits(voice_);
      push(std::move(n), group);
    };
    auto restUnits = [&](i64 at, i64 units) {
      while (units > 0) {
        i64 take = 1;
        while (take * 2 <= units && at % (take * 2) == 0) take *= 2;
        add(at, take, false, static_cast<std::size_t>(-1));
        at += take;
        units -= take;
      }
    };
    const i64 firstAt = (onsets_[first].at - from) / unit;
    restUnits(0, firstAt);
    for (std::size_t i = first; i < last; ++i) {
      const i64 at = (onsets_[i].at - from) / unit;
      const i64 end = i + 1 < last ? (onsets_[i + 1].at - from) / unit : count;
      const i64 units = end - at;
      i64 plain = 1;
      while (plain * 2 <= units) plain *= 2;
      const bool dotted = plain >= 2 && plain / 2 * 3 <= units;
      const i64 take = dotted ? plain / 2 * 3 : plain;
      add(at, take, dotted, onsets_[i].step);
      restUnits(at + take, units - take);
    }
    if (tuplet && out_->size() > before) {
      (*out_)[before].tupletStart = true;
      out_->back().tupletStop = true;
    }
  }

  // Beams over the notes of eighths or shorter in one group; a rest ends a beam.
  void beam() {
    std::vector<ScoreNote>& notes = *out_;
    auto beamable = [&](std::size_t i) {
      return !notes[i].rest() && !notes[i].hidden && notes[i].beamLevels() > 0 &&
             groups_[i].id >= 0;
    };
    std::size_t i = 0;
    while (i < notes.size()) {
      if (!beamable(i)) {
        ++i;
        continue;
      }
      std::size_t j = i + 1;
      while (j < notes.size() && beamable(j) && groups_[j].id == groups_[i].id) ++j;
      if (j - i >= 2) {
        for (int level = 1; level <= kBeamLevels; ++level) {
          for (std::size_t k = i; k < j; ++k) {
            if (notes[k].beamLevels() < level) continue;
            auto joined = [&](std::size_t a, std::size_t b) {
              return notes[a].beamLevels() >= level && notes[b].beamLevels() >= level &&
                     (level == 1 || groups_[a].sub == groups_[b].sub);
            };
            const bool left = k > i && joined(k - 1, k);
            const bool right = k + 1 < j && joined(k, k + 1);
            Beam& b = notes[k].beams[level - 1];
            if (left && right) {
              b = Beam::Continue;
            } else if (left) {
              b = Beam::End;
            } else if (right) {
              b = Beam::Begin;
            } else {
              b = k == i ? Beam::ForwardHook : Beam::BackwardHook;
            }
          }
        }
      }
      i = j;
    }
  }

  ScoreMeasure& m_;
  int q_;
  i64 beat_;
  bool compound_;
  const std::function<void(const std::string&)>& warn_;
  std::vector<Value> values_;
  std::vector<i64> stepStarts_;
  i64 length_ = 0;
  int voice_ = 1;
  std::vector<Onset> onsets_;
  std::vector<ScoreNote>* out_ = nullptr;
  std::vector<Group> groups_;
};

}  // namespace

bool compoundMetre(const ScoreMeasure& m) {
  return m.beatType >= 8 && m.beats % 3 == 0 && m.beats > 3;
}

int beatLength(const ScoreMeasure& m, int divisions) {
  if (!compoundMetre(m)) return std::max(1, divisions);
  const i64 beat = i64{3} * divisions * 4 / m.beatType;
  return static_cast<int>(std::max<i64>(1, beat));
}

int ScoreNote::beamLevels() const {
  return rest() || hidden ? 0 : std::clamp(-typeLog2, 0, kBeamLevels);
}

void spellMeasure(ScoreMeasure& measure, int divisions,
                  const std::function<void(const std::string&)>& warn) {
  Speller speller(measure, divisions, warn);
  speller.voice(1);
  speller.voice(2);
}

}  // namespace pulsewright
