#include "platform/RtMidiOutput.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include "platform/ShortMessage.h"

namespace pulsewright {

namespace {

// RtMidi, ALSA and JACK print every failure to stderr; here failures are result codes.
void ignoreRtMidiError(RtMidiError::Type, const std::string&, void*) {}
void ignoreJackMessage(const char*) {}
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void quietSystemLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    snd_lib_error_set_handler(ignoreAlsaError);
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
  });
}

RtMidi::Api rtApi(RtMidiOutput::Api api) {
  return api == RtMidiOutput::Api::kAlsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

// Whether a JACK server answers, asked without starting one. RtMidi would try anyway and
// print a warning before an error callback can be set.
bool jackServerRunning(const std::string& clientName) {
  jack_status_t status{};
  jack_client_t* client =
      jack_client_open((clientName + "-probe").c_str(), JackNoStartServer, &status);
  if (client == nullptr) return false;
  jack_client_close(client);
  return true;
}

// Whether the ALSA sequencer opens. RtMidi prints its failure before throwing.
bool alsaSequencerAvailable() {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return false;
  snd_seq_close(seq);
  return true;
}

// A client of one API, or null when that API is not available now.
std::unique_ptr<RtMidiOut> makeClient(RtMidiOutput::Api api, const std::string& clientName) {
  if (api == RtMidiOutput::Api::kJack ? !jackServerRunning(clientName) : !alsaSequencerAvailable()) {
    return nullptr;
  }
  try {
    auto out = std::make_unique<RtMidiOut>(rtApi(api), clientName);
    out->setErrorCallback(ignoreRtMidiError, nullptr);
    return out;
  } catch (const RtMidiError&) {
    return nullptr;  // ALSA without a sequencer device throws here
  }
}

}  // namespace

struct RtMidiOutput::Connection {
  std::mutex mutex;
  std::unique_ptr<RtMidiOut> out;
};

RtMidiOutput::RtMidiOutput(std::string clientName) : clientName_(std::move(clientName)) {
  quietSystemLibraries();
}

RtMidiOutput::~RtMidiOutput() {
  std::lock_guard lock(mutex_);
  open_.clear();
}

int RtMidiOutput::deviceCount() {
  std::vector<Port> ports;
  for (Api api : {Api::kAlsa, Api::kJack}) {
    std::unique_ptr<RtMidiOut> client = makeClient(api, clientName_);
    if (!client) continue;
    try {
      const unsigned count = client->getPortCount();
      for (unsigned i = 0; i < count; ++i) {
        std::string name = client->getPortName(i);
        if (!name.empty()) ports.push_back({api, std::move(name)});
      }
    } catch (const RtMidiError&) {
      // A server that goes away while being listed: keep what was read.
    }
  }
  std::lock_guard lock(mutex_);
  listed_ = std::move(ports);
  return static_cast<int>(listed_.size());
}

std::string RtMidiOutput::deviceName(int device) {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= static_cast<int>(listed_.size())) return {};
  return listed_[device].name;
}

int RtMidiOutput::open(int deviceId, MidiHandle* handle) {
  *handle = 0;
  Port port;
  {
    std::lock_guard lock(mutex_);
    if (deviceId < 0 || deviceId >= static_cast<int>(listed_.size())) {
      return midi_result::kBadDeviceId;
    }
    port = listed_[deviceId];
  }
  auto connection = std::make_shared<Connection>();
  connection->out = makeClient(port.api, clientName_);
  if (!connection->out) return midi_result::kNoDriver;
  try {
    const unsigned count = connection->out->getPortCount();
    unsigned index = count;
    for (unsigned i = 0; i < count && index == count; ++i) {
      if (connection->out->getPortName(i) == port.name) index = i;
    }
    if (index == count) return midi_result::kNoDevice;
    connection->out->openPort(index, "out");
    if (!connection->out->isPortOpen()) return midi_result::kAllocated;
  } catch (const RtMidiError&) {
    return midi_result::kAllocated;
  }
  std::lock_guard lock(mutex_);
  *handle = nextHandle_++;
  open_[*handle] = std::move(connection);
  return midi_result::kOk;
}

int RtMidiOutput::sendShort(MidiHandle handle, std::uint32_t word) {
  std::uint8_t bytes[3];
  const int length = shortMessageBytes(word, bytes);
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(handle);
    if (it == open_.end()) return midi_result::kInvalidHandle;
    connection = it->second;
  }
  if (length == 0) return midi_result::kInvalidParam;
  std::lock_guard lock(connection->mutex);
  try {
    connection->out->sendMessage(bytes, static_cast<std::size_t>(length));
  } catch (const RtMidiError&) {
    return midi_result::kError;
  }
  return midi_result::kOk;
}

int RtMidiOutput::close(MidiHandle handle) {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(handle);
    if (it == open_.end()) return midi_result::kInvalidHandle;
    connection = std::move(it->second);
    open_.erase(it);
  }
  // Waits for a send in flight on this connection, then disconnects.
  std::lock_guard lock(connection->mutex);
  connection->out.reset();
  return midi_result::kOk;
}

}  // namespace pulsewright
