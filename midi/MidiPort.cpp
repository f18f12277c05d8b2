#include "midi/MidiPort.h"

namespace pulsewright {

std::string openFailureMessage(int resultCode) {
  return "Couldn't open midi out, rc = " + std::to_string(resultCode);
}

MidiPort::MidiPort(MidiOutputService& output, MessageBox messageBox)
    : output_(output), messageBox_(std::move(messageBox)) {
  deviceMenu_[0].visible = true;
  deviceMenu_[0].enabled = true;
  for (int i = 0; i < kChannelMenuItems; ++i) {
    channelMenu_[i] = MenuItem{std::to_string(i + 1), true, true, false};
  }
}

MenuItem* MidiPort::deviceItem(int index) {
  if (index < 0 || index >= kDeviceMenuItems) return nullptr;
  return &deviceMenu_[index];
}

void MidiPort::listDevices() {
  // Listing may take a while (it asks the sequencer and the JACK server), so it runs
  // outside the lock; only this thread writes the menu.
  const int count = output_.deviceCount();
  std::array<std::string, kDeviceMenuItems> names;
  for (int i = 0; i < count && i + 1 < kDeviceMenuItems; ++i) names[i + 1] = output_.deviceName(i);
  {
    std::lock_guard lock(mutex_);
    deviceMenu_[0].caption = kMidiMapperCaption;
    deviceMenu_[0].visible = true;
    deviceMenu_[0].enabled = true;
    deviceCount_ = count;
    for (int i = 0; i < count && i + 1 < kDeviceMenuItems; ++i) {
      MenuItem& item = deviceMenu_[i + 1];
      item.caption = names[i + 1];
      item.visible = true;
      item.enabled = true;
    }
  }
  device_Click(0);
  std::lock_guard lock(mutex_);
  channel_ = 0;
  for (MenuItem& item : channelMenu_) item.checked = false;
  channelMenu_[0].checked = true;
}

void MidiPort::device_Click(std::int16_t index) {
  MidiHandle old;
  int id;
  {
    std::lock_guard lock(mutex_);
    if (MenuItem* item = deviceItem(deviceId_ + 1)) item->checked = false;
    if (MenuItem* item = deviceItem(index)) item->checked = true;
    deviceId_ = index - 1;
    id = deviceId_;
    old = handle_;
  }
  // The old device is always closed first, also when the same item is picked again.
  const int closed = output_.close(old);
  {
    std::lock_guard lock(mutex_);
    lastResult_ = closed;
  }
  // Opening may load a sound font or reach a server: no lock held, so sends meanwhile
  // go to the closed handle and fail silently.
  MidiHandle opened = old;
  const int rc = output_.open(id, &opened);
  {
    std::lock_guard lock(mutex_);
    handle_ = opened;
    lastResult_ = rc;
  }
  if (rc != midi_result::kOk && messageBox_) messageBox_(openFailureMessage(rc));
}

void MidiPort::chan_Click(std::int16_t index) {
  if (index < 0 || index >= kChannelMenuItems) return;
  std::lock_guard lock(mutex_);
  if (channel_ >= 0 && channel_ < kChannelMenuItems) channelMenu_[channel_].checked = false;
  channel_ = static_cast<std::int16_t>(index);
  channelMenu_[channel_].checked = true;
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

std::int32_t MidiPort::deviceCount() const {
  std::lock_guard lock(mutex_);
  return deviceCount_;
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
DeviceMenu MidiPort::deviceMenu() const {
  std::lock_guard lock(mutex_);
  return deviceMenu_;
}
ChannelMenu MidiPort::channelMenu() const {
  std::lock_guard lock(mutex_);
  return channelMenu_;
}

}  // namespace pulsewright
