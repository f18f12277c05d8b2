#include "midi/MidiPort.h"

#include <algorithm>

namespace pulsewright {

std::string openFailureMessage(int resultCode) {
  return "Couldn't open midi out, rc = " + std::to_string(resultCode);
}

MidiPort::MidiPort(MidiOutputService& output, MessageBox messageBox)
    : output_(output), messageBox_(std::move(messageBox)) {}

std::vector<std::string> MidiPort::deviceNames() const {
  // Listing may take a while (it asks the sequencer and the JACK server): no lock held.
  std::vector<std::string> names;
  const int count = output_.deviceCount();
  names.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) names.push_back(output_.deviceName(i));
  return names;
}

std::vector<std::string> MidiPort::listDevices() {
  std::vector<std::string> names = deviceNames();
  openDevice(kMidiMapperId);
  selectChannel(0);
  return names;
}

void MidiPort::openDevice(std::int32_t device) {
  MidiHandle old;
  {
    std::lock_guard lock(mutex_);
    deviceId_ = device;
    old = handle_;
  }
  // The old device is always closed first, also when the same one is opened again.
  const int closed = output_.close(old);
  {
    std::lock_guard lock(mutex_);
    lastResult_ = closed;
  }
  // Opening may load a sound font or reach a server: no lock held, so sends meanwhile
  // go to the closed handle and fail silently.
  MidiHandle opened = old;
  const int rc = output_.open(device, &opened);
  {
    std::lock_guard lock(mutex_);
    handle_ = opened;
    lastResult_ = rc;
  }
  if (rc != midi_result::kOk && messageBox_) messageBox_(openFailureMessage(rc));
}

void MidiPort::selectChannel(std::int16_t channel) {
  if (channel < 0 || channel >= kMidiChannels) return;
  std::lock_guard lock(mutex_);
  channel_ = channel;
}

void MidiPort::close() {
  MidiHandle h;
  {
    std::lock_guard lock(mutex_);
    h = handle_;
  }
  const int rc = output_.close(h);
  std::lock_guard lock(mutex_);
  lastResult_ = rc;
}

void MidiPort::noteResult(int rc) {
  // Only a device that went away counts: a closed port drops messages on purpose.
  if (handle_ != 0 && rc != midi_result::kOk && rc != midi_result::kInvalidParam) {
    sendFailed_.store(true);
  }
}

bool MidiPort::takeSendFailure() {
  return sendFailed_.exchange(false);
}

void MidiPort::sendLocked(std::uint32_t word) {
  lastMessage_ = word;
  noteResult(output_.sendShort(handle_, lastMessage_));
}

void MidiPort::send(std::uint32_t word) {
  std::lock_guard lock(mutex_);
  sendLocked(word);
}

std::uint32_t MidiPort::sendChannelMessage(int kind, int data1, int data2) {
  std::lock_guard lock(mutex_);
  const std::uint32_t word = packShortMessage(kind, channel_, data1, data2);
  sendLocked(word);
  return word;
}

std::uint32_t MidiPort::sendChannelMessageAt(int kind, int data1, int data2, DueTime due) {
  std::lock_guard lock(mutex_);
  const std::uint32_t word = packShortMessage(kind, channel_, data1, data2);
  lastMessage_ = word;
  noteResult(output_.sendShortAt(handle_, word, due));
  return word;
}

bool MidiPort::placesByTime() const {
  std::lock_guard lock(mutex_);
  return handle_ != 0 && output_.placesByTime(handle_);
}

std::int32_t MidiPort::deviceId() const {
  std::lock_guard lock(mutex_);
  return deviceId_;
}
MidiHandle MidiPort::handle() const {
  std::lock_guard lock(mutex_);
  return handle_;
}
std::int32_t MidiPort::lastResult() const {
  std::lock_guard lock(mutex_);
  return lastResult_;
}
std::uint32_t MidiPort::lastMessage() const {
  std::lock_guard lock(mutex_);
  return lastMessage_;
}
std::int16_t MidiPort::channel() const {
  std::lock_guard lock(mutex_);
  return channel_;
}
}  // namespace pulsewright
