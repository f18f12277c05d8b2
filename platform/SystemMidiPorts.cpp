#include "platform/SystemMidiPorts.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include "platform/AlsaMidiInput.h"
#include "platform/JackMidiPort.h"
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

// Whether the ALSA sequencer opens. RtMidi prints its failure before throwing.
bool alsaSequencerAvailable() {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return false;
  snd_seq_close(seq);
  return true;
}

// An RtMidi client of the ALSA sequencer, or null when there is no sequencer.
std::unique_ptr<RtMidiOut> alsaClient(const std::string& clientName) {
  if (!alsaSequencerAvailable()) return nullptr;
  try {
    auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, clientName);
    out->setErrorCallback(ignoreRtMidiError, nullptr);
    return out;
  } catch (const RtMidiError&) {
    return nullptr;
  }
}

class AlsaConnection : public SystemMidiPorts::Connection {
 public:
  explicit AlsaConnection(std::unique_ptr<RtMidiOut> out) : out_(std::move(out)) {}
  int send(const std::uint8_t* bytes, int length) override {
    try {
      out_->sendMessage(bytes, static_cast<std::size_t>(length));
    } catch (const RtMidiError&) {
      return midi_result::kError;
    }
    return midi_result::kOk;
  }

 private:
  std::unique_ptr<RtMidiOut> out_;
};

class JackConnection : public SystemMidiPorts::Connection {
 public:
  explicit JackConnection(std::unique_ptr<JackMidiPort> port) : port_(std::move(port)) {}
  int send(const std::uint8_t* bytes, int length) override { return port_->send(bytes, length); }
  int sendAt(const std::uint8_t* bytes, int length, DueTime due) override {
    return port_->sendAt(bytes, length, due);
  }
  bool placesByTime() const override { return true; }
  std::uint64_t close() override { return port_->close(); }
  std::unique_ptr<MidiInput> openInput(const std::string& source, int* resultCode) override {
    return port_->openInput(source, resultCode);
  }

 private:
  std::unique_ptr<JackMidiPort> port_;
};

std::unique_ptr<SystemMidiPorts::Connection> openAlsa(const std::string& clientName,
                                                      const std::string& target, int* rc) {
  std::unique_ptr<RtMidiOut> out = alsaClient(clientName);
  if (!out) {
    *rc = midi_result::kNoDriver;
    return nullptr;
  }
  try {
    const unsigned count = out->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
      if (out->getPortName(i) != target) continue;
      out->openPort(i, "out");
      if (!out->isPortOpen()) break;
      *rc = midi_result::kOk;
      return std::make_unique<AlsaConnection>(std::move(out));
    }
    *rc = midi_result::kNoDevice;
  } catch (const RtMidiError&) {
    *rc = midi_result::kAllocated;
  }
  return nullptr;
}

}  // namespace

SystemMidiPorts::SystemMidiPorts(std::string clientName) : clientName_(std::move(clientName)) {
  quietSystemLibraries();
}

SystemMidiPorts::~SystemMidiPorts() {
  std::lock_guard lock(mutex_);
  open_.clear();
}

int SystemMidiPorts::deviceCount() {
  std::vector<Port> ports;
  if (std::unique_ptr<RtMidiOut> alsa = alsaClient(clientName_)) {
    try {
      const unsigned count = alsa->getPortCount();
      for (unsigned i = 0; i < count; ++i) {
        std::string name = alsa->getPortName(i);
        if (!name.empty()) ports.push_back({Api::kAlsa, std::move(name)});
      }
    } catch (const RtMidiError&) {
      // A sequencer that fails half-way: keep what was read.
    }
  }
  for (std::string& name : listJackMidiInputs(clientName_)) {
    ports.push_back({Api::kJack, std::move(name)});
  }
  std::lock_guard lock(mutex_);
  listed_ = std::move(ports);
  return static_cast<int>(listed_.size());
}

std::string SystemMidiPorts::deviceName(int device) {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= static_cast<int>(listed_.size())) return {};
  return listed_[device].name;
}

int SystemMidiPorts::open(int deviceId, MidiHandle* handle) {
  *handle = 0;
  Port port;
  {
    std::lock_guard lock(mutex_);
    if (deviceId < 0 || deviceId >= static_cast<int>(listed_.size())) {
      return midi_result::kBadDeviceId;
    }
    port = listed_[deviceId];
  }
  auto opened = std::make_shared<Open>();
  int rc = midi_result::kError;
  if (port.api == Api::kAlsa) {
    opened->connection = openAlsa(clientName_, port.name, &rc);
  } else if (auto jack = JackMidiPort::open(clientName_, port.name, &rc)) {
    opened->connection = std::make_unique<JackConnection>(std::move(jack));
  }
  if (!opened->connection) return rc;
  std::lock_guard lock(mutex_);
  *handle = nextHandle_++;
  open_[*handle] = std::move(opened);
  return midi_result::kOk;
}

int SystemMidiPorts::sendShort(MidiHandle handle, std::uint32_t word) {
  return sendWord(handle, word, nullptr);
}

int SystemMidiPorts::sendShortAt(MidiHandle handle, std::uint32_t word, DueTime due) {
  return sendWord(handle, word, &due);
}

bool SystemMidiPorts::placesByTime(MidiHandle handle) {
  std::shared_ptr<Open> opened;
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(handle);
    if (it == open_.end()) return false;
    opened = it->second;
  }
  std::lock_guard lock(opened->mutex);
  return opened->connection && opened->connection->placesByTime();
}

int SystemMidiPorts::sendWord(MidiHandle handle, std::uint32_t word, const DueTime* due) {
  std::uint8_t bytes[3];
  const int length = shortMessageBytes(word, bytes);
  std::shared_ptr<Open> opened;
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(handle);
    if (it == open_.end()) return midi_result::kInvalidHandle;
    opened = it->second;
  }
  if (length == 0) return midi_result::kInvalidParam;
  std::lock_guard lock(opened->mutex);
  if (!opened->connection) return midi_result::kInvalidHandle;
  return due ? opened->connection->sendAt(bytes, length, *due)
             : opened->connection->send(bytes, length);
}

std::vector<SystemMidiPorts::Port> SystemMidiPorts::inputPorts() {
  std::vector<Port> ports;
  for (std::string& name : listAlsaMidiInputs(clientName_)) {
    ports.push_back({Api::kAlsa, std::move(name)});
  }
  for (std::string& name : listJackMidiOutputs(clientName_)) {
    ports.push_back({Api::kJack, std::move(name)});
  }
  return ports;
}

std::vector<std::string> SystemMidiPorts::inputNames() {
  std::vector<std::string> names;
  for (Port& port : inputPorts()) names.push_back(std::move(port.name));
  return names;
}

std::unique_ptr<MidiInput> SystemMidiPorts::openInput(const std::string& name, int* resultCode) {
  *resultCode = midi_result::kNoDevice;
  for (const Port& port : inputPorts()) {
    if (port.name != name) continue;
    if (port.api == Api::kAlsa) return AlsaMidiInput::open(clientName_, name, resultCode);
    // On an open JACK output's client when there is one.
    std::vector<std::shared_ptr<Open>> opened;
    {
      std::lock_guard lock(mutex_);
      for (auto& [handle, open] : open_) opened.push_back(open);
    }
    for (const std::shared_ptr<Open>& open : opened) {
      std::lock_guard lock(open->mutex);
      if (!open->connection) continue;
      int rc = midi_result::kError;
      if (std::unique_ptr<MidiInput> input = open->connection->openInput(name, &rc)) {
        *resultCode = rc;
        return input;
      }
      if (rc != midi_result::kError) {
        *resultCode = rc;
        return nullptr;
      }
    }
    return JackMidiInput::open(clientName_, name, resultCode);
  }
  return nullptr;
}

int SystemMidiPorts::close(MidiHandle handle) {
  std::shared_ptr<Open> opened;
  {
    std::lock_guard lock(mutex_);
    auto it = open_.find(handle);
    if (it == open_.end()) return midi_result::kInvalidHandle;
    opened = std::move(it->second);
    open_.erase(it);
  }
  // Waits for a send in flight on this connection, then disconnects (a JACK connection
  // first lets its queue play out).
  std::lock_guard lock(opened->mutex);
  if (opened->connection) lost_ += opened->connection->close();
  opened->connection.reset();
  return midi_result::kOk;
}

}  // namespace pulsewright
