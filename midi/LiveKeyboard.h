#pragma once
// The on-screen drum keyboard's logic: seventeen keys, one per drum voice, and the strike
// strength. A press sends a note on for the voice's pad entry, a release the note off.
// No toolkit: the window draws the keys from keyPressed() and forwards mouse and
// keyboard presses to StartNote and StopNote. User-interface thread only.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "padmap/DrumKeys.h"
#include "padmap/DrumVoice.h"

namespace pulsewright {

class MidiPort;

// A pad entry as a whole note number: the text must be a number (blanks around it
// allowed); a fraction rounds to the nearest whole number, a half to the even one.
// Nothing when it is not a number or does not fit 16 bits.
std::optional<std::int16_t> padEntryNote(std::string_view text);

class LiveKeyboard {
 public:
  // The current text of a voice's pad entry, read anew on every press.
  using PadEntryReader = std::function<std::string(DrumVoice)>;
  // Called when a key's pressed look changes.
  using KeyChanged = std::function<void(int index, bool pressed)>;

  LiveKeyboard(MidiPort& port, PadEntryReader padEntry);

  void setKeyChanged(KeyChanged callback) { keyChanged_ = std::move(callback); }

  // Press: note on for the key's pad entry at the live velocity, unless the key already
  // shows pressed. An entry that is not a number plays the note of the press before. A
  // note outside 0-127 is not sent (it has no valid message); the key still shows it.
  void StartNote(std::int16_t index);
  // Release: note off for the note this key's press sent; nothing for a key that is not
  // pressed.
  void StopNote(std::int16_t index);
  // Releases every pressed key, as when the keyboard loses the focus mid-press.
  void releaseAll();
  // The velocity bar: 127 at the top to 0 at the bottom.
  void vol_Change(int value);

  bool keyPressed(int index) const;
  std::int16_t liveNote() const { return liveNote_; }
  std::int16_t liveVelocity() const { return liveVelocity_; }

 private:
  void setPressed(int index, bool pressed);

  MidiPort& port_;
  PadEntryReader padEntry_;
  KeyChanged keyChanged_;
  std::array<bool, kKeyCount> pressed_{};
  std::array<std::int16_t, kKeyCount> heldNote_{};  // each pressed key's own note
  std::int16_t liveNote_ = 0;
  std::int16_t liveVelocity_ = 127;
};

}  // namespace pulsewright
