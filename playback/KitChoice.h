#pragma once
// The kit a song plays on: a Hydrogen kit's samples, loaded ahead, or a preset of a
// sound-font kit; with neither, the General MIDI sound font as always.

#include <memory>
#include <string>
#include <vector>

#include "platform/FluidSynthOutput.h"
#include "platform/KitSound.h"

namespace pulsewright {

struct KitChoice {
  std::string name;                       // "" for the General MIDI kits
  std::shared_ptr<const KitSound> sound;  // a Hydrogen kit: plays the notes it has
  std::string soundFont;                  // a sound-font kit: the font and its preset
  int bank = 0, program = 0;

  // The sound fonts the synthesiser tries: the kit's, else `fonts`.
  std::vector<std::string> soundFonts(
      const std::vector<std::string>& fonts = defaultSoundFonts()) const {
    return soundFont.empty() ? fonts : std::vector<std::string>{soundFont};
  }
  // Before the synthesiser opens.
  void applyTo(FluidSynthOutput& synth) const {
    if (!soundFont.empty()) synth.usePreset(bank, program);
    if (sound) synth.setKit(sound);
  }
};

}  // namespace pulsewright
