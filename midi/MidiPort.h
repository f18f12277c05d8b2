#pragma once
// The one MIDI output connection of the main window: its state, the "Midi Device" and
// "Midi Channel" menus as plain data, and the packing of channel messages. No toolkit:
// the main window binds its menu items to deviceMenu() and channelMenu() and forwards
// their clicks to device_Click and chan_Click.
//
// Threads: send() and sendChannelMessage() may be called from any thread at once (the
// sequencer's playback thread and the live keyboard on the user-interface thread).
// listDevices, device_Click, chan_Click and close belong to the user-interface thread;
// sends running meanwhile go to whichever handle is current and fail silently on a
// closed one. The accessors return a consistent snapshot from any thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/MidiOutput.h"
#include "platform/ShortMessage.h"

namespace pulsewright {

// kind + channel + data1 * 256 + data2 * 65536, computed as a 32-bit word. Values
// outside 0-127 are packed as they come; the outputs refuse the malformed word that
// results instead of sending it.
constexpr std::uint32_t packShortMessage(int kind, int channel, int data1, int data2) {
  return static_cast<std::uint32_t>(kind) + static_cast<std::uint32_t>(channel) +
         static_cast<std::uint32_t>(data1) * 256u + static_cast<std::uint32_t>(data2) * 65536u;
}

struct MenuItem {
  std::string caption;
  bool visible = false;
  bool enabled = false;
  bool checked = false;
  bool operator==(const MenuItem&) const = default;
};

inline constexpr int kDeviceMenuItems = 11;   // "MIDI Mapper" and at most ten devices
inline constexpr int kChannelMenuItems = 16;  // "1" to "16"
inline constexpr char kMidiMapperCaption[] = "MIDI Mapper";

using DeviceMenu = std::array<MenuItem, kDeviceMenuItems>;
using ChannelMenu = std::array<MenuItem, kChannelMenuItems>;

// "Couldn't open midi out, rc = " followed by the code in decimal.
std::string openFailureMessage(int resultCode);

class MidiPort {
 public:
  // Shows one modal message (OK button, the application's title) to the user.
  using MessageBox = std::function<void(const std::string& text)>;

  // `output` must outlive the port. Without a message box failures are only stored.
  explicit MidiPort(MidiOutputService& output, MessageBox messageBox = {});
  MidiPort(const MidiPort&) = delete;
  MidiPort& operator=(const MidiPort&) = delete;

  // Start-up: "MIDI Mapper" in item 0, one item per output device in items 1-10 (the
  // rest are skipped), then opens the mapper as device_Click(0) does and selects
  // channel 0.
  void listDevices();
  // The user picks device item `index`: moves the check mark, closes the current handle
  // and opens device index - 1; a failed open shows openFailureMessage once.
  void device_Click(std::int16_t index);
  // The user picks channel item `index` (0-15). Nothing is sent. An index outside the
  // menu changes nothing: it would put the kind's bits out of place in every status byte.
  void chan_Click(std::int16_t index);
  // Exit and unload: closes the handle and stores the result; never shows a message.
  void close();

  // Thread-safe: stores `word` as lastMessage and sends it on the current handle. The
  // result is not examined; a closed or failed device drops the message silently.
  void send(std::uint32_t word);
  // Thread-safe: packs kind + the current channel + data1 * 256 + data2 * 65536 and
  // sends it as send() does, reading the channel and sending in one step, so a channel
  // pick never splits a message. Returns the word sent.
  std::uint32_t sendChannelMessage(int kind, int data1, int data2);
  // As sendChannelMessage, for a message meant to sound at `due` (see
  // MidiOutputService::sendShortAt).
  std::uint32_t sendChannelMessageAt(int kind, int data1, int data2, DueTime due);
  // Whether a send failed on an open device since the last call (a device that went
  // away while a song played); clears the flag.
  bool takeSendFailure();
  // Whether the current device places messages by their due time.
  bool placesByTime() const;

  std::int32_t deviceCount() const;
  std::int32_t deviceId() const;
  MidiHandle handle() const;
  std::int32_t lastResult() const;
  std::uint32_t lastMessage() const;
  std::int16_t channel() const;
  DeviceMenu deviceMenu() const;
  ChannelMenu channelMenu() const;

 private:
  void sendLocked(std::uint32_t word);
  void noteResult(int rc);
  MenuItem* deviceItem(int index);

  MidiOutputService& output_;
  MessageBox messageBox_;
  mutable std::mutex mutex_;
  std::atomic<bool> sendFailed_{false};
  std::int32_t deviceCount_ = 0;
  std::int32_t deviceId_ = 0;
  MidiHandle handle_ = 0;
  std::int32_t lastResult_ = 0;
  std::uint32_t lastMessage_ = 0;
  std::int16_t channel_ = 0;
  DeviceMenu deviceMenu_;
  ChannelMenu channelMenu_;
};

}  // namespace pulsewright
