#include "midi/LiveKeyboard.h"

#include <cmath>

#include "midi/MidiPort.h"
#include "padmap/PadMap.h"

namespace pulsewright {

std::optional<std::int16_t> padEntryNote(std::string_view text) {
  const std::optional<double> value = padEntryNumber(text);
  if (!value) return std::nullopt;
  const double rounded = std::nearbyint(*value);  // the default mode rounds halves to even
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) return std::nullopt;
  return static_cast<std::int16_t>(rounded);
}

LiveKeyboard::LiveKeyboard(MidiPort& port, PadEntryReader padEntry)
    : port_(port), padEntry_(std::move(padEntry)) {}

bool LiveKeyboard::keyPressed(int index) const {
  return index >= 0 && index < kKeyCount && pressed_[static_cast<std::size_t>(index)];
}

void LiveKeyboard::setPressed(int index, bool pressed) {
  pressed_[static_cast<std::size_t>(index)] = pressed;
  if (keyChanged_) keyChanged_(index, pressed);
}

void LiveKeyboard::StartNote(std::int16_t index) {
  if (index >= 0 && index < kKeyCount) {
    if (auto note = padEntryNote(padEntry_(kKeyboardKeys[index].voice))) liveNote_ = *note;
  }
  if (index < 0 || index >= kKeyCount) return;
  if (pressed_[static_cast<std::size_t>(index)]) return;  // no second note on
  setPressed(index, true);
  heldNote_[static_cast<std::size_t>(index)] = liveNote_;
  if (liveNote_ >= 0 && liveNote_ <= 127)
    port_.sendChannelMessage(kNoteOn, liveNote_, liveVelocity_);
}

void LiveKeyboard::StopNote(std::int16_t index) {
  if (index < 0 || index >= kKeyCount || !pressed_[static_cast<std::size_t>(index)]) return;
  setPressed(index, false);
  const std::int16_t note = heldNote_[static_cast<std::size_t>(index)];
  if (note >= 0 && note <= 127) port_.sendChannelMessage(kNoteOff, note, 0);
}

void LiveKeyboard::releaseAll() {
  for (int i = 0; i < kKeyCount; ++i) StopNote(static_cast<std::int16_t>(i));
}

void LiveKeyboard::vol_Change(int value) {
  if (value < 0) value = 0;
  if (value > 127) value = 127;
  liveVelocity_ = static_cast<std::int16_t>(value);
}

}  // namespace pulsewright
