#include "tablature/Expression.h"

#include <algorithm>
#include <cmath>

namespace pulsewright {

namespace {

// A small mixing function: the same place gives the same numbers on every run.
std::uint64_t mixedSeed(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

std::uint8_t velocityAt(int level) {
  return static_cast<std::uint8_t>(velocityOfLevel(std::clamp(level, 0, 9)));
}

}  // namespace

int swingDelayMs(const TimelinePart& part, std::size_t step) {
  if (part.swingExactPercent == 50.0 || step == 0 || step >= part.steps.size()) return 0;
  // The compiler split the pair so that the first step has P % of it.
  const int first = part.steps[step - 1].duration;
  const int second = part.steps[step].duration;
  const int pair = first + second;
  if (first == second || pair <= 0 ||
      first != static_cast<int>(std::lround(pair * part.swingExactPercent / 100.0)))
    return 0;
  return first - pair / 2;
}

void expandItem(const TimelineItem& item, const TimelinePart& part, const ExpressionPlace& place,
                ExpressionEvents* out) {
  out->clear();
  using Type = ExpressionEvent::Type;
  int level = static_cast<unsigned char>(item.level);  // 0-9
  int shift = 0;
  const bool hit = !item.isRest() && item.kind != TimelineItem::Kind::Skip;
  if (part.humanizeMs > 0 && hit) {
    const int range = std::min<int>(part.humanizeMs, kMaxHumanizeMs);
    const std::uint64_t seed = mixedSeed(
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(place.part)) << 48) ^
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(place.songPosition)) << 32) ^
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(place.step)) << 8) ^ place.item);
    shift = static_cast<int>(seed % static_cast<std::uint64_t>(2 * range + 1)) - range;
    level = std::clamp(level + static_cast<int>((seed >> 32) % 3) - 1, 0, 9);
  }
  const bool sample = item.kind == TimelineItem::Kind::Sample;
  // One stroke of the item's sound at `offset` and `strokeLevel`, on `note`.
  auto stroke = [&](int offset, int strokeLevel, int note) {
    if (sample) {
      out->push({Type::Sample, offset, 0, 0, static_cast<std::int16_t>(strokeLevel + 1)});
      return;
    }
    const auto key = static_cast<std::uint8_t>(note);
    out->push({Type::NoteOn, offset, key, velocityAt(strokeLevel), 0});
    out->push({Type::NoteOff, offset, key, 0, 0});
  };
  if (item.kind == TimelineItem::Kind::Skip || item.kind == TimelineItem::Kind::Rest) {
    if (item.articulation == Articulation::Choke)
      out->push({Type::Cut, shift, item.note, 0, 0});
    else if (item.kind == TimelineItem::Kind::Rest)
      stroke(0, 0, item.note);  // a rest sends what it always did
    return;
  }
  const int note = item.note;
  switch (item.articulation) {
    case Articulation::Flam: stroke(shift - kFlamGraceMs, level - 2, note); break;
    case Articulation::Drag:
      stroke(shift - 2 * kDragGraceMs, level - 2, note);
      stroke(shift - kDragGraceMs, level - 2, note);
      break;
    case Articulation::Choke: out->push({Type::Cut, shift, item.note, 0, 0}); return;
    default: break;
  }
  switch (item.articulation) {
    case Articulation::CrossStick: stroke(shift, level, kCrossStickNote); break;
    case Articulation::Rimshot: stroke(shift, level + 2, note); break;
    case Articulation::Bell: stroke(shift, level, kRideBellNote); break;
    case Articulation::Edge: stroke(shift, level, note == kRideNote ? kRideEdgeNote : note); break;
    case Articulation::HalfOpen:
      stroke(shift, level, kOpenHatNote);
      out->push({Type::Cut, shift + kHalfOpenCutMs, static_cast<std::uint8_t>(kOpenHatNote), 0, 0});
      break;
    case Articulation::Buzz: {
      stroke(shift, level, note);
      // Soft strokes after the first, to the step's end. A roll longer than the room for
      // its strokes still lasts to the end, its strokes a little wider apart.
      const std::int64_t length = std::max<std::int64_t>(place.stepMs, kBuzzStrokeMs);
      const std::int64_t wanted = (length - kBuzzStrokeMs / 2) / kBuzzStrokeMs;
      const auto room = static_cast<std::int64_t>((ExpressionEvents::kMax - out->size()) / 2);
      const std::int64_t strokes = std::min(wanted, room);
      const double spacing = strokes < wanted
                                 ? static_cast<double>(length) / static_cast<double>(strokes + 1)
                                 : static_cast<double>(kBuzzStrokeMs);
      for (std::int64_t i = 1; i <= strokes; ++i)
        stroke(shift + static_cast<int>(std::lround(static_cast<double>(i) * spacing)), level - 3,
               note);
      break;
    }
    default: stroke(shift, level, note); break;
  }
}

}  // namespace pulsewright
