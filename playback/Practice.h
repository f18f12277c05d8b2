#pragma once
// Practice controls that sit beside the song: voices muted or soloed, a tempo that rises
// pass by pass, and where a step falls in the part's bars.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/DrumVoice.h"
#include "tablature/Timeline.h"

namespace pulsewright {

// Voices kept quiet, by grid symbol ("k") or drum voice name ("Snare Drum", any case).
// With any voice soloed only the soloed voices sound; a muted voice stays quiet even
// when soloed.
struct VoiceMask {
  std::vector<std::string> muted;
  std::vector<std::string> soloed;

  bool empty() const { return muted.empty() && soloed.empty(); }
  bool operator==(const VoiceMask&) const = default;
  // Flips one voice in or out of a list.
  static void toggle(std::vector<std::string>& list, const std::string& voice);
};

// "k,s" split at the commas, blanks around each name dropped, empty names left out.
std::vector<std::string> splitVoiceList(std::string_view text);

// The names of the mask that no grid line of the song answers to, each once.
std::vector<std::string> unknownVoices(const VoiceMask& mask, const Timeline& song);

// The grid symbols of the song that name a voice that sounds, for a message listing
// what may be named.
std::string voiceChoices(const Timeline& song);

// A mask read against one song: which of its items sound.
class VoiceFilter {
 public:
  VoiceFilter() = default;  // every item sounds
  VoiceFilter(const VoiceMask& mask, const Timeline& song);

  bool sounds(const TimelineItem& item) const {
    if (!active_) return true;
    std::uint8_t flags = 0;
    if (item.symbol >= 0 && static_cast<std::size_t>(item.symbol) < symbols_.size()) {
      flags = symbols_[static_cast<std::size_t>(item.symbol)];
    }
    if (item.voice.kind == ItemVoice::Kind::Drum && item.voice.drum < kVoiceCount) {
      flags |= drums_[item.voice.drum];
    }
    if ((flags & kMuted) != 0) return false;
    return !soloing_ || (flags & kSoloed) != 0;
  }
  bool active() const { return active_; }

 private:
  static constexpr std::uint8_t kMuted = 1;
  static constexpr std::uint8_t kSoloed = 2;
  std::vector<std::uint8_t> symbols_;  // by index into Timeline::symbols()
  std::array<std::uint8_t, kVoiceCount> drums_{};
  bool soloing_ = false;
  bool active_ = false;
};

// The song without the items the mask keeps quiet; every time stays as it was.
Timeline withoutSilencedVoices(const Timeline& song, const VoiceMask& mask);

// The speed trainer: the first pass at `startPercent` of the written tempo, each further
// pass `stepPercent` faster, up to `endPercent`.
struct TempoRamp {
  double startPercent = 0;  // 0: no ramp
  double stepPercent = 0;
  double endPercent = 0;

  bool on() const { return startPercent > 0; }
  // The tempo scale of pass `pass` (from 0).
  double scaleOf(int pass) const;
  bool operator==(const TempoRamp&) const = default;
};

// "70:5:100"; nullopt with *error set for anything else, for a start above the end and
// for percentages outside the player's tempo scales.
std::optional<TempoRamp> parseTempoRamp(std::string_view text, std::string* error);

// Bar and beat, both from 1.
struct BarBeat {
  int bar = 1;
  int beat = 1;
  bool operator==(const BarBeat&) const = default;
};

// Where step `step` (from 0) of `part` falls: the bar from the part's bar lines (or, with
// none, bars of its metre), the beat in the metre's beat unit, a dotted quarter in
// compound time (6/8 has two beats, 12/8 four).
BarBeat barBeatOf(const TimelinePart& part, int step);

}  // namespace pulsewright
