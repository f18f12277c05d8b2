#include "playback/KitChoice.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "playback/Practice.h"

namespace pulsewright {

namespace {

// The voice a note of the song stands for: the pad map's, else its General MIDI family.
std::string voiceOfMissingNote(int note, const PadMap& padMap) {
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::optional<double> n = padEntryNumber(padMap[v]);
    if (n && std::lround(*n) == note) return std::string(kVoiceCaptions[v]);
  }
  if (const std::optional<DrumVoice> voice = drumVoiceOfKey(note)) {
    return std::string(kVoiceCaptions[index(*voice)]);
  }
  return "note " + std::to_string(note);
}

}  // namespace

void KitChoice::setMix(const DocumentMix& mix, const PadMap& padMap) {
  noteMix.fill(1.0f);
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::optional<double> number = padEntryNumber(padMap[v]);
    if (!number || *number < 0 || *number > 127) continue;
    const auto note = static_cast<std::size_t>(std::lround(*number));
    noteMix[note * 2] = mix.voices[v].leftGain();
    noteMix[note * 2 + 1] = mix.voices[v].rightGain();
  }
}

std::string missingVoicesMessage(const KitChoice& choice, const Timeline& song,
                                 const PadMap& padMap) {
  if (!choice.sound) return {};
  std::set<int> notes;
  for (const TimelinePart& part : song.parts()) {
    for (const TimelineItem& item : part.items) {
      if (item.kind == TimelineItem::Kind::Note) notes.insert(item.note);
    }
  }
  std::vector<std::string> missing;
  for (int note : notes) {
    if (note < 0 || note > 127 ||
        choice.sound->instrumentOfNote[static_cast<std::size_t>(note)] >= 0) {
      continue;
    }
    const std::string voice = voiceOfMissingNote(note, padMap);
    if (std::find(missing.begin(), missing.end(), voice) == missing.end()) missing.push_back(voice);
  }
  // In pad order, as the Options window lists the voices; other notes after them.
  auto rank = [](const std::string& voice) {
    const auto* at = std::find(kVoiceCaptions.begin(), kVoiceCaptions.end(), voice);
    return at - kVoiceCaptions.begin();
  };
  std::stable_sort(missing.begin(), missing.end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  if (missing.empty()) return {};
  std::string message = choice.name + " has no instrument for ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    message += (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") + missing[i];
  }
  return message + ": the General MIDI synthesiser plays " + (missing.size() == 1 ? "it" : "them");
}

Timeline withoutMixSilencedVoices(const Timeline& song, const DocumentMix& mix) {
  VoiceMask mask;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (mix.voices[v].mute) mask.muted.emplace_back(kVoiceCaptions[v]);
    if (mix.voices[v].solo) mask.soloed.emplace_back(kVoiceCaptions[v]);
  }
  return mask.empty() ? song : withoutSilencedVoices(song, mask);
}

}  // namespace pulsewright
