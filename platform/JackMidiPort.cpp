#include "platform/JackMidiPort.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include "platform/MidiOutput.h"

namespace pulsewright {

namespace {

constexpr std::size_t kQueueBytes = 16384;

struct ClientCloser {
  void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using Client = std::unique_ptr<jack_client_t, ClientCloser>;

Client openClient(const std::string& name) {
  jack_status_t status{};
  return Client(jack_client_open(name.c_str(), JackNoStartServer, &status));
}

}  // namespace

bool jackServerRunning(const std::string& clientName) {
  return openClient(clientName + "-probe") != nullptr;
}

std::vector<std::string> listJackMidiInputs(const std::string& clientName) {
  std::vector<std::string> names;
  Client client = openClient(clientName);
  if (!client) return names;
  const char** ports =
      jack_get_ports(client.get(), nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
  for (const char** p = ports; p && *p; ++p) names.emplace_back(*p);
  if (ports) jack_free(ports);
  return names;
}

std::unique_ptr<JackMidiPort> JackMidiPort::open(const std::string& clientName,
                                                 const std::string& target, int* resultCode) {
  std::unique_ptr<JackMidiPort> port(new JackMidiPort);
  port->client_ = openClient(clientName).release();
  if (!port->client_) {
    *resultCode = midi_result::kNoDriver;
    return nullptr;
  }
  if (!jack_port_by_name(port->client_, target.c_str())) {
    *resultCode = midi_result::kNoDevice;
    return nullptr;
  }
  port->queue_ = jack_ringbuffer_create(kQueueBytes);
  port->port_ =
      jack_port_register(port->client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!port->queue_ || !port->port_) {
    *resultCode = midi_result::kError;
    return nullptr;
  }
  jack_set_process_callback(port->client_, process, port.get());
  jack_on_info_shutdown(
      port->client_,
      [](jack_status_t, const char*, void* self) {
        static_cast<JackMidiPort*>(self)->gone_.store(true);
      },
      port.get());
  if (jack_activate(port->client_) != 0 ||
      jack_connect(port->client_, jack_port_name(port->port_), target.c_str()) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  *resultCode = midi_result::kOk;
  return port;
}

JackMidiPort::~JackMidiPort() {
  // Closing the client also removes its port, and the process callback has stopped when
  // it returns. After the server has gone, libjack crashes in any call on the client,
  // its close included, so the dead client is left to libjack; its process thread ran
  // the shutdown callback as its last act, so the queue is free to go.
  if (client_ && !gone_.load()) jack_client_close(client_);
  if (queue_) jack_ringbuffer_free(queue_);
}

int JackMidiPort::send(const std::uint8_t* bytes, int length) {
  if (gone_.load() || length <= 0 || length > 3) return midi_result::kError;
  if (jack_ringbuffer_write_space(queue_) < static_cast<std::size_t>(length) + 1) {
    return midi_result::kError;
  }
  const char size = static_cast<char>(length);
  jack_ringbuffer_write(queue_, &size, 1);
  jack_ringbuffer_write(queue_, reinterpret_cast<const char*>(bytes),
                        static_cast<std::size_t>(length));
  return midi_result::kOk;
}

int JackMidiPort::process(jack_nframes_t frames, void* self) {
  auto* port = static_cast<JackMidiPort*>(self);
  void* buffer = jack_port_get_buffer(port->port_, frames);
  jack_midi_clear_buffer(buffer);
  char message[4];
  // Everything queued goes out at the start of the cycle, in order; what does not fit
  // waits for the next cycle.
  while (jack_ringbuffer_peek(port->queue_, message, 1) == 1) {
    const std::size_t length = static_cast<unsigned char>(message[0]);
    if (length == 0 || length > 3 || jack_ringbuffer_read_space(port->queue_) < length + 1) break;
    jack_ringbuffer_peek(port->queue_, message, length + 1);
    if (jack_midi_event_write(buffer, 0, reinterpret_cast<jack_midi_data_t*>(message + 1),
                              length) != 0) {
      break;
    }
    jack_ringbuffer_read_advance(port->queue_, length + 1);
  }
  return 0;
}

}  // namespace pulsewright
