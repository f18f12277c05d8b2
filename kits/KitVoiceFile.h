#pragma once
// The voice map chosen by hand for a kit, kept beside the pad maps: one small file per kit
// name, "<pad-map folder>/kits/<kit name>.voices", a line per voice chosen,
// "Snare Drum = Snare Rim" or "Open Hat = General MIDI". The window writes it; the window
// and pulsewright-cli read it, so a kit plays alike in both.

#include <string>

#include "kits/KitLibrary.h"
#include "kits/KitLoader.h"

namespace pulsewright {

// A choice that sends the voice to the General MIDI synthesiser though the kit has one.
inline constexpr int kKitVoiceSynthesiser = -2;
inline constexpr char kKitVoiceSynthesiserName[] = "General MIDI";

// The window's pad-map folder without the toolkit: $XDG_DATA_HOME (else
// ~/.local/share)/Pulsewright/padmaps.
std::string defaultPadMapFolder();

// The file that keeps `kitName`'s choices in `padMapFolder`.
std::string kitVoiceFile(const std::string& padMapFolder, const std::string& kitName);

// The choices kept for `kit` (-1: the voice plays what mapKitVoices finds); instruments are
// kept by name, so a choice whose instrument the kit no longer has is dropped.
KitVoiceMap readKitVoiceChoices(const std::string& padMapFolder, const KitInfo& kit);
// Keeps `chosen`; a map with no choice left removes the file. False with `problem` set
// when it cannot be written.
bool writeKitVoiceChoices(const std::string& padMapFolder, const KitInfo& kit,
                          const KitVoiceMap& chosen, std::string* problem);

}  // namespace pulsewright
