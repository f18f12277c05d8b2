#pragma once
// The mixer a document keeps on a line of its own, beside its kit line:
// "meta mix = Snare Drum -6 dB pan -50; Open Hat mute; Ride solo". Older documents never
// have one: like the kit line it is a remark to the compiler, so the song is unchanged.
// Each entry names a voice by its caption (any case) and gives any of a gain in dB, a pan
// from -100 (left) to 100 (right), "mute" and "solo".

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "padmap/DrumVoice.h"
#include "tablature/GrooveEdit.h"

namespace pulsewright {

inline constexpr double kMixMinGainDb = -60, kMixMaxGainDb = 12;

struct VoiceMix {
  double gainDb = 0;
  double pan = 0;  // -100 left to 100 right
  bool mute = false, solo = false;
  bool operator==(const VoiceMix&) const = default;
  bool plain() const { return *this == VoiceMix{}; }
  // The gains of the left and right channels: the gain, and a pan that turns the far
  // side down (a balance), so a centred voice at 0 dB is exactly as it was unmixed.
  float leftGain() const;
  float rightGain() const;
};

struct DocumentMix {
  std::array<VoiceMix, kVoiceCount> voices{};
  bool operator==(const DocumentMix&) const = default;
  bool plain() const;
  bool anySolo() const;
  // Whether the voice sounds: not muted, and soloed when any voice is.
  bool sounds(std::size_t voice) const;
};

// The last mix line of the text; entries that name no voice are skipped.
DocumentMix documentMix(std::string_view text);
// The mix line's value: only the voices that differ from a plain one ("" for a plain mix).
std::string formatMix(const DocumentMix& mix);
// The one change that puts `mix` into `text` (lines joined by CR LF, as the editor's
// applyTextChanges takes them): the last mix line replaced, else a new first line; a
// plain mix takes the line out. Nothing when the text already says so.
std::optional<TextChange> mixLineChange(std::string_view text, const DocumentMix& mix);

}  // namespace pulsewright
