#include "cli/VoiceOptions.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <utility>

namespace pulsewright {

void addVoiceOptions(CLI::App& command, VoiceChoice& choice, bool forExport) {
  command
      .add_option("--mute", choice.mute,
                  forExport ? "leave these voices out: grid symbols or drum voice names, "
                              "comma-separated"
                            : "keep these voices quiet: grid symbols or drum voice names, "
                              "comma-separated")
      ->option_text("k,s");
  command
      .add_option("--solo", choice.solo,
                  forExport ? "keep only these voices"
                            : "let only these voices sound (the click "
                              "still sounds)")
      ->option_text("h");
}

std::optional<VoiceMask> voiceMaskOf(const VoiceChoice& choice, const std::string& file,
                                     const Timeline& song, std::ostream& err) {
  VoiceMask mask{splitVoiceList(choice.mute), splitVoiceList(choice.solo)};
  bool known = true;
  const std::pair<const char*, const std::vector<std::string>*> lists[] = {
      {"--mute", &mask.muted}, {"--solo", &mask.soloed}};
  for (const auto& [option, names] : lists) {
    for (const std::string& name : unknownVoices(VoiceMask{*names, {}}, song)) {
      err << "pulsewright-cli: " << option << ": no grid line of " << file << " plays \"" << name
          << "\" (its voices: " << voiceChoices(song) << ")\n";
      known = false;
    }
  }
  if (!known) return std::nullopt;
  return mask;
}

}  // namespace pulsewright
