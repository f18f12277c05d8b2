#pragma once
// MIDI output ports of the system through RtMidi: the ALSA sequencer's writable ports
// first (when the sequencer opens), then the JACK server's MIDI inputs (when a server
// runs). Each API is chosen explicitly, so a machine with JACK and no ALSA sequencer
// still lists its JACK ports. The default output (kMidiMapperId) is not served here.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MidiOutput.h"

namespace pulsewright {

class RtMidiOutput : public MidiOutputService {
 public:
  enum class Api { kAlsa, kJack };
  struct Port {
    Api api;
    std::string name;
  };

  // `clientName` names this program's client in the sequencer and the JACK graph.
  explicit RtMidiOutput(std::string clientName = "Pulsewright");
  ~RtMidiOutput() override;

  int deviceCount() override;
  std::string deviceName(int device) override;
  // Finds the listed port by name again (numbers shift when ports come and go) and
  // connects to it; kNoDevice when it has gone, kNoDriver when its API is not running.
  int open(int deviceId, MidiHandle* handle) override;
  int sendShort(MidiHandle handle, std::uint32_t word) override;
  int close(MidiHandle handle) override;

 private:
  struct Connection;

  const std::string clientName_;
  std::mutex mutex_;
  std::vector<Port> listed_;
  std::map<MidiHandle, std::shared_ptr<Connection>> open_;
  MidiHandle nextHandle_ = 1;
};

}  // namespace pulsewright
