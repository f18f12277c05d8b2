#pragma once
// The system's MIDI output ports: the ALSA sequencer's writable ports first (through
// RtMidi, when the sequencer opens), then the JACK server's MIDI inputs (when a server
// runs). Each facility is asked explicitly, so a machine with JACK and no ALSA sequencer
// still lists its JACK ports. The default output (kMidiMapperId) is not served here.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MidiInput.h"
#include "platform/MidiOutput.h"

namespace pulsewright {

class SystemMidiPorts : public MidiOutputService, public MidiInputService {
 public:
  enum class Api { kAlsa, kJack };
  struct Port {
    Api api;
    std::string name;
  };

  // `clientName` names this program's client in the sequencer and the JACK graph.
  explicit SystemMidiPorts(std::string clientName = "Pulsewright");
  ~SystemMidiPorts() override;

  int deviceCount() override;
  std::string deviceName(int device) override;
  // Finds the listed port by name again (numbers shift when ports come and go) and
  // connects to it; kNoDevice when it has gone, kNoDriver when its facility is not
  // running any more.
  int open(int deviceId, MidiHandle* handle) override;
  int sendShort(MidiHandle handle, std::uint32_t word) override;
  // JACK connections place the message at its time in their cycle; ALSA ones send it now.
  int sendShortAt(MidiHandle handle, std::uint32_t word, DueTime due) override;
  bool placesByTime(MidiHandle handle) override;
  // Waits, bounded, for a JACK connection's queued messages to go out.
  int close(MidiHandle handle) override;
  // Messages sent on connections closed since this was made that their device never
  // took: the queue of a JACK server that was stopped, or went, before their time.
  std::uint64_t lostMessages() const { return lost_.load(); }

  // The ports that may be read from: the sequencer's readable ports, then the JACK
  // server's MIDI outputs.
  std::vector<Port> inputPorts();
  std::vector<std::string> inputNames() override;
  // Opens the input port `name` (as inputPorts lists it). A JACK input opens on the
  // client of an open JACK output, so both run in one cycle; else on a client of its own.
  // Null and a result code on failure.
  std::unique_ptr<MidiInput> openInput(const std::string& name, int* resultCode) override;

  class Connection {
   public:
    virtual ~Connection() = default;
    virtual int send(const std::uint8_t* bytes, int length) = 0;
    virtual int sendAt(const std::uint8_t* bytes, int length, DueTime due) {
      (void)due;
      return send(bytes, length);
    }
    virtual bool placesByTime() const { return false; }
    // Ends the connection; returns how many messages sent on it never reached the device.
    virtual std::uint64_t close() { return 0; }
    // An input on this connection's device cycle (JACK), or null.
    virtual std::unique_ptr<MidiInput> openInput(const std::string& source, int* resultCode) {
      (void)source;
      (void)resultCode;
      return nullptr;
    }
  };

 private:
  int sendWord(MidiHandle handle, std::uint32_t word, const DueTime* due);

  struct Open {
    std::mutex mutex;  // one send at a time per connection, and none during close
    std::unique_ptr<Connection> connection;
  };

  const std::string clientName_;
  std::mutex mutex_;
  std::vector<Port> listed_;
  std::map<MidiHandle, std::shared_ptr<Open>> open_;
  MidiHandle nextHandle_ = 1;
  std::atomic<std::uint64_t> lost_{0};
};

}  // namespace pulsewright
