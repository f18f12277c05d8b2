#pragma once
// The kit a song plays on: a Hydrogen kit's samples, loaded ahead, or a preset of a
// sound-font kit; with neither, the General MIDI sound font as always.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "padmap/PadMap.h"
#include "platform/FluidSynthOutput.h"
#include "platform/KitSound.h"
#include "tablature/DocumentMix.h"
#include "tablature/Timeline.h"

namespace pulsewright {

struct KitChoice {
  std::string name;                       // "" for the General MIDI kits
  std::shared_ptr<const KitSound> sound;  // a Hydrogen kit: plays the notes it has
  std::string soundFont;                  // a sound-font kit: the font and its preset
  int bank = 0, program = 0;
  // The document's mixer: left and right gain of each note (1 and 1: as the kit has it).
  std::array<float, 256> noteMix = [] {
    std::array<float, 256> gains;
    gains.fill(1.0f);
    return gains;
  }();

  // The gains of `mix` on the notes `padMap` gives the voices.
  void setMix(const DocumentMix& mix, const PadMap& padMap);

  // The sound fonts the synthesiser tries: the kit's, else `fonts`.
  std::vector<std::string> soundFonts(
      const std::vector<std::string>& fonts = defaultSoundFonts()) const {
    return soundFont.empty() ? fonts : std::vector<std::string>{soundFont};
  }
  // Before the synthesiser opens.
  void applyTo(FluidSynthOutput& synth) const {
    if (!soundFont.empty()) synth.usePreset(bank, program);
    if (sound) synth.setKit(sound);
    applyMixTo(synth.kitVoices());
  }
  void applyMixTo(KitVoices& voices) const {
    for (int note = 0; note < 128; ++note) {
      voices.setNoteMix(note, noteMix[static_cast<std::size_t>(note) * 2],
                        noteMix[static_cast<std::size_t>(note) * 2 + 1]);
    }
  }
};

// "<kit> has no instrument for Ride and Tom 1: the General MIDI synthesiser plays them":
// the voices `song` plays that the kit's samples leave to the synthesiser; "" for none.
std::string missingVoicesMessage(const KitChoice& choice, const Timeline& song,
                                 const PadMap& padMap);

// The song without the voices the mix mutes, or leaves out by soloing others.
Timeline withoutMixSilencedVoices(const Timeline& song, const DocumentMix& mix);

}  // namespace pulsewright
