#pragma once
// What the "Midi Device" and "Midi Channel" menus show, as plain data: built from the
// device listing, moved by the user's picks, read by the main window, which binds its
// menu items to devices() and channels(). No toolkit; user-interface thread only.

#include <array>
#include <string>
#include <vector>

#include "platform/ShortMessage.h"

namespace pulsewright {

struct MenuItem {
  std::string caption;
  bool visible = false;
  bool enabled = false;
  bool checked = false;
  bool operator==(const MenuItem&) const = default;
};

inline constexpr int kDeviceMenuItems = 11;              // "MIDI Mapper" and at most ten devices
inline constexpr int kChannelMenuItems = kMidiChannels;  // "1" to "16"
inline constexpr char kMidiMapperCaption[] = "MIDI Mapper";

using DeviceMenu = std::array<MenuItem, kDeviceMenuItems>;
using ChannelMenu = std::array<MenuItem, kChannelMenuItems>;

class MidiMenus {
 public:
  // The menus as the listing leaves them: "MIDI Mapper" in item 0, checked, one item per
  // device in items 1-10 (the rest are left out), channel "1" checked.
  explicit MidiMenus(const std::vector<std::string>& deviceNames = {});

  // The device that item `index` opens: the mapper for item 0, device index - 1 otherwise.
  static int deviceOfItem(int index) { return index - 1; }

  // The user picks device item `index`: the check mark moves there, also when the open
  // fails (an index outside the menu only clears it).
  void pickDevice(int index);
  // The user picks channel item `index` (0-15); an index outside the menu changes nothing.
  void pickChannel(int index);

  const DeviceMenu& devices() const { return devices_; }
  const ChannelMenu& channels() const { return channels_; }

 private:
  DeviceMenu devices_;
  ChannelMenu channels_;
  int pickedDevice_ = 0;
  int pickedChannel_ = 0;
};

}  // namespace pulsewright
