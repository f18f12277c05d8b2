#pragma once
// The one MIDI output connection of the main window and the command line: the open
// device and its result codes, the channel, and the packing and sending of channel
// messages. What the menus show lives in MidiMenus.
//
// Threads: send() and sendChannelMessage() may be called from any thread at once (the
// sequencer's playback thread and the live keyboard on the user-interface thread).
// listDevices, openDevice, selectChannel and close belong to the user-interface thread;
// sends running meanwhile go to whichever handle is current and fail silently on a
// closed one. The accessors return a consistent snapshot from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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

  // Start-up: asks the output for its devices, opens the mapper as openDevice does and
  // selects channel 0. Returns the devices' names.
  std::vector<std::string> listDevices();
  // The devices' names as the output lists them now; the open device stays open.
  std::vector<std::string> deviceNames() const;
  // Closes the current handle and opens `device` of the listing (kMidiMapperId for the
  // mapper); a failed open shows openFailureMessage once.
  void openDevice(std::int32_t device);
  // Messages go out on `channel` (0-15) from now on. Nothing is sent. A channel outside
  // 0-15 changes nothing: it would put the kind's bits out of place in every status byte.
  void selectChannel(std::int16_t channel);
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

  std::int32_t deviceId() const;
  MidiHandle handle() const;
  std::int32_t lastResult() const;
  std::uint32_t lastMessage() const;
  std::int16_t channel() const;

 private:
  void sendLocked(std::uint32_t word);
  void noteResult(int rc);

  MidiOutputService& output_;
  MessageBox messageBox_;
  mutable std::mutex mutex_;
  std::atomic<bool> sendFailed_{false};
  std::int32_t deviceId_ = 0;
  MidiHandle handle_ = 0;
  std::int32_t lastResult_ = 0;
  std::uint32_t lastMessage_ = 0;
  std::int16_t channel_ = 0;
};

}  // namespace pulsewright
