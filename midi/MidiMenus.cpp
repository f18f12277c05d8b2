#include "midi/MidiMenus.h"

namespace pulsewright {

MidiMenus::MidiMenus(const std::vector<std::string>& deviceNames) {
  devices_[0] = MenuItem{kMidiMapperCaption, true, true, true};
  for (std::size_t i = 0; i < deviceNames.size() && i + 1 < devices_.size(); ++i) {
    devices_[i + 1] = MenuItem{deviceNames[i], true, true, false};
  }
  for (int i = 0; i < kChannelMenuItems; ++i) {
    channels_[i] = MenuItem{std::to_string(i + 1), true, true, i == 0};
  }
}

void MidiMenus::pickDevice(int index) {
  if (pickedDevice_ >= 0 && pickedDevice_ < kDeviceMenuItems) {
    devices_[pickedDevice_].checked = false;
  }
  pickedDevice_ = index;
  if (index >= 0 && index < kDeviceMenuItems) devices_[index].checked = true;
}

void MidiMenus::pickChannel(int index) {
  if (index < 0 || index >= kChannelMenuItems) return;
  channels_[pickedChannel_].checked = false;
  pickedChannel_ = index;
  channels_[index].checked = true;
}

}  // namespace pulsewright
