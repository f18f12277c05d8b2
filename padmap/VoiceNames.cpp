#include "padmap/VoiceNames.h"

#include <algorithm>
#include <array>
#include <string>

namespace pulsewright {

namespace {

// Forms of each voice's name that a voice line binds, in small letters without blanks.
const std::array<std::vector<std::string_view>, kVoiceCount> kForms = {{
    {"bass", "bassdrum", "kick", "kickdrum"},
    {"snare", "snaredrum"},
    {"closed", "closedhat", "closedhihat"},
    {"pedal", "pedalhat", "pedalhihat"},
    {"open", "openhat", "openhihat"},
    {"tom1", "tomone"},
    {"tom2", "tomtwo"},
    {"tom3", "tomthree"},
    {"tom4", "tomfour"},
    {"ride", "ridecymbal"},
    {"bell", "cymbalbell", "bellcymbal"},
    {"crash1", "crashone"},
    {"crash2", "crashtwo"},
    {"perc1", "percone"},
    {"perc2", "perctwo"},
    {"clap", "claps", "handclap", "handclaps"},
    {"cowbell"},
}};

// Words that name a family of voices wherever they stand ("hihat", "floor tom").
constexpr std::array<std::string_view, 12> kFamilyWords = {"kick", "bass", "snare", "hat",
                                                           "tom",  "ride", "bell",  "crash",
                                                           "perc", "clap", "cow",   "cymbal"};

std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<DrumVoice> nearestVoices(std::string_view words) {
  std::string key;
  for (char c : words) {
    if (c >= 'A' && c <= 'Z') {
      key += static_cast<char>(c - 'A' + 'a');
    } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      key += c;
    } else if (c != ' ' && c != '\t' && c != '-' && c != '_') {
      return {};  // punctuation: a remark, not a voice name
    }
    if (key.size() > 24) return {};  // longer than any voice name by far
  }
  if (key.empty()) return {};
  std::array<std::size_t, kVoiceCount> distance{};
  std::size_t nearest = key.size();
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    distance[v] = key.size() + 32;
    for (std::string_view form : kForms[v])
      distance[v] = std::min(distance[v], editDistance(key, form));
    nearest = std::min(nearest, distance[v]);
  }
  // A slip of a letter or two; short words must be nearer still.
  const std::size_t slip = key.size() <= 4 ? 1 : 2;
  std::vector<DrumVoice> found;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (nearest <= slip && distance[v] == nearest) found.push_back(static_cast<DrumVoice>(v));
  }
  if (!found.empty()) return found;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const bool family = std::any_of(kFamilyWords.begin(), kFamilyWords.end(), [&](auto word) {
      return key.find(word) != std::string::npos &&
             std::any_of(kForms[v].begin(), kForms[v].end(),
                         [&](auto form) { return form.find(word) != std::string_view::npos; });
    });
    if (family) found.push_back(static_cast<DrumVoice>(v));
  }
  return found;
}

std::string voiceList(const std::vector<DrumVoice>& voices) {
  std::string text;
  for (std::size_t i = 0; i < voices.size(); ++i) {
    if (i > 0) text += i + 1 == voices.size() ? " or " : ", ";
    text += kVoiceCaptions[index(voices[i])];
  }
  return text;
}

}  // namespace pulsewright
