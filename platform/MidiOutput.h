#pragma once
// The MIDI output facility: a numbered list of output devices, one handle per open
// device, and packed short messages sent on a handle.

#include <chrono>
#include <cstdint>
#include <string>

namespace pulsewright {

// Result codes of open, send and close. 0 is success; every failure is a non-zero code
// that the port stores and, for a failed open, shows in its message.
namespace midi_result {
inline constexpr int kOk = 0;
inline constexpr int kError = 1;          // the backend failed for a reason of its own
inline constexpr int kBadDeviceId = 2;    // no device with that identifier
inline constexpr int kAllocated = 4;      // the device refuses a connection (busy)
inline constexpr int kInvalidHandle = 5;  // the handle is not open (handle 0 never is)
inline constexpr int kNoDriver = 6;       // the backend is missing (no sound font, no server)
inline constexpr int kInvalidParam = 11;  // the word is no valid short message
inline constexpr int kNoDevice = 68;      // the port listed earlier has gone
}  // namespace midi_result

// Opaque output handle; 0 is never an open handle.
using MidiHandle = std::uint32_t;

// When an event is meant to sound, on the steady clock.
using DueTime = std::chrono::steady_clock::time_point;

// Identifier of the built-in default output, shown as "MIDI Mapper".
inline constexpr int kMidiMapperId = -1;

// Devices are numbered from 0; kMidiMapperId names the default output, which is not
// counted. Every call is safe from several threads at once, and a send on a handle that
// is closed, or was never opened, fails with a code and no other effect.
class MidiOutputService {
 public:
  virtual ~MidiOutputService() = default;

  // Reads the system's list of output devices afresh and returns its length. The names,
  // and the devices that open() reaches, are those of the latest listing.
  virtual int deviceCount() = 0;
  // Name of device number `device` of the latest listing, whole; "" when out of range.
  virtual std::string deviceName(int device) = 0;
  // Opens a device of the latest listing (or the default output for kMidiMapperId).
  // On success stores a new handle and returns 0; on failure stores 0 and returns a code.
  virtual int open(int deviceId, MidiHandle* handle) = 0;
  // Sends one packed short message (status in bits 0-7, data bytes in 8-15 and 16-23).
  virtual int sendShort(MidiHandle handle, std::uint32_t word) = 0;
  // Sends one message meant to sound at `due`. Outputs that place events inside a buffer
  // of their own (the built-in synthesiser, JACK) queue it with its time and keep a
  // constant latency; the others send it at once, so callers hand such events over at
  // their due time (see placesByTime).
  virtual int sendShortAt(MidiHandle handle, std::uint32_t word, DueTime due) {
    (void)due;
    return sendShort(handle, word);
  }
  // Whether sendShortAt on `handle` places the event by its time, so that the player may
  // hand events over ahead of their time.
  virtual bool placesByTime(MidiHandle handle) {
    (void)handle;
    return false;
  }
  virtual int close(MidiHandle handle) = 0;
};

}  // namespace pulsewright
