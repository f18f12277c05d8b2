#pragma once
// MIDI output to a JACK server through libjack: the list of the server's MIDI inputs, and
// one connection (a client with one output port wired to one input). A server that dies
// while connected turns the connection into one whose sends fail; closing it then must
// not touch the port, which is why this does not go through RtMidi's JACK client (its
// close unregisters the port of a dead client and crashes).

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pulsewright {

// Whether a JACK server answers; never starts one.
bool jackServerRunning(const std::string& clientName);
// The full names ("client:port") of the server's MIDI input ports; empty without a server.
std::vector<std::string> listJackMidiInputs(const std::string& clientName);

class JackMidiPort {
 public:
  // Opens a client named `clientName` with an output port "out" connected to `target`.
  // Returns null and a result code (platform/MidiOutput.h) on failure.
  static std::unique_ptr<JackMidiPort> open(const std::string& clientName,
                                            const std::string& target, int* resultCode);
  ~JackMidiPort();
  JackMidiPort(const JackMidiPort&) = delete;
  JackMidiPort& operator=(const JackMidiPort&) = delete;

  // Queues one message for the next process cycle; one sender at a time. Fails once the
  // server has gone or the queue is full.
  int send(const std::uint8_t* bytes, int length);
  bool serverGone() const { return gone_.load(); }

 private:
  JackMidiPort() = default;
  static int process(jack_nframes_t frames, void* self);

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  jack_ringbuffer_t* queue_ = nullptr;
  std::atomic<bool> gone_{false};
};

}  // namespace pulsewright
