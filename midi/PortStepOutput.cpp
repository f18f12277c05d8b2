#include "midi/PortStepOutput.h"

#include "midi/PortClockOutput.h"
#include "playback/SamplePlayer.h"

namespace pulsewright {

std::uint32_t PortStepOutput::send(int kind, int data1, int data2, DueTime due) {
  if (port_ == nullptr) return packShortMessage(kind, channel_, data1, data2);
  return port_->sendChannelMessageAt(kind, data1, data2, due);
}

void PortStepOutput::playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                                DueTime due) {
  // Placed on its frame by the audio engine.
  if (samples_ != nullptr) samples_->PlayB(file, volume, pan, due);
}

std::chrono::microseconds PortStepOutput::lookAhead() {
  if (port_ != nullptr && port_->placesByTime()) return kPortLookAhead;
  return std::chrono::microseconds(0);
}

void PortStepOutput::silence(DueTime) {
  if (port_ == nullptr) return;
  port_->sendChannelMessage(0xB0, 120, 0);  // all sound off
  port_->sendChannelMessage(0xB0, 123, 0);  // all notes off
}

std::chrono::microseconds PortClockOutput::lookAhead() {
  return placesByTime_ ? std::chrono::microseconds(kPortLookAhead) : std::chrono::microseconds(0);
}

bool PortStepOutput::takeDeviceFailure() {
  return port_ != nullptr && port_->takeSendFailure();
}

}  // namespace pulsewright
