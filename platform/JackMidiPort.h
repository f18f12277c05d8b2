#pragma once
// MIDI output to a JACK server through libjack: the list of the server's MIDI inputs, and
// one connection (a client with one output port wired to one input). A server that dies
// while connected turns the connection into one whose sends fail; closing it then must
// not touch the port, which is why this does not go through RtMidi's JACK client (its
// close unregisters the port of a dead client and crashes).
//
// Each message carries the time it is due; the process callback writes it at the frame of
// its cycle that lies one period after that time, so the latency is constant and the
// spacing between messages is kept to the frame.
//
// MIDI input runs on the same client where there is an output: one process callback reads
// the input and writes the output, so what comes in can be passed on in the same cycle
// and both sides share one cycle clock.

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/MidiInput.h"

namespace pulsewright {

class JackMidiInput;

// Whether a JACK server answers; never starts one.
bool jackServerRunning(const std::string& clientName);
// The full names ("client:port") of the server's MIDI input ports; empty without a server.
std::vector<std::string> listJackMidiInputs(const std::string& clientName);
// The full names of the server's MIDI output ports (what may be read from), those of
// clients named `clientName` left out; empty without a server.
std::vector<std::string> listJackMidiOutputs(const std::string& clientName);

// The steady clock minus JACK's microsecond clock, as due times and input times cross
// between them. One reading is kept, so that times that were equal stay equal (each
// reading is off by a microsecond or so, which can put them a frame apart); it is read
// again every 64 uses, for a JACK that keeps a clock of its own and drifts slowly, and
// taken only where it moved by more than a reading's error. The first use reads it (the
// clock is JACK's to read once a client is open).
class JackClockOffset {
 public:
  std::int64_t next();

 private:
  std::int64_t micros_ = 0;
  std::uint64_t uses_ = 0;
};

class JackMidiPort {
 public:
  using Clock = std::chrono::steady_clock;

  // Opens a client named `clientName` with an output port "out" connected to `target`.
  // Returns null and a result code (platform/MidiOutput.h) on failure.
  static std::unique_ptr<JackMidiPort> open(const std::string& clientName,
                                            const std::string& target, int* resultCode);
  // Waits until every queued message has gone out (at most two periods plus 100 ms after
  // the last one is due), then closes the client. A server that no longer answers (stopped)
  // cannot hold this up for more than a second: the close is left to a helper thread.
  ~JackMidiPort();
  JackMidiPort(const JackMidiPort&) = delete;
  JackMidiPort& operator=(const JackMidiPort&) = delete;

  // Queues one message to go out at the start of the next cycle, ahead of messages
  // queued by sendAt that are due later; one sender at a time. Fails once the server has
  // gone or the queue is full.
  int send(const std::uint8_t* bytes, int length);
  // Queues one message due at `due`. Messages go out in the order they were queued: one
  // due before its predecessor goes out with it. A message already late goes at the start
  // of the next cycle.
  int sendAt(const std::uint8_t* bytes, int length, Clock::time_point due);
  bool serverGone() const;
  // Waits for the queue as the destructor does and closes the client. Returns how many of
  // the messages queued since the open the server never took (a server stopped or gone
  // before their time); the same on every later call.
  std::uint64_t close();
  // Opens an input port "in" on this connection's client, wired from `source` (a MIDI
  // output port); its messages may pass through to this output in the cycle they came
  // in. Null and a result code on failure.
  std::unique_ptr<JackMidiInput> openInput(const std::string& source, int* resultCode);
  // The thread the process callback runs on (for checks of what it does).
  pthread_t processThread() const;

  // What the client and its process callback share; outlives this object while a close
  // is pending on a server that does not answer.
  struct Shared;
  // Closes the client when the last of the output and the input holding it lets go.
  struct Owner;

 private:
  JackMidiPort() = default;
  void drain();

  std::shared_ptr<Owner> owner_;
  std::shared_ptr<Shared> shared_;
  Clock::time_point lastDue_{};
  std::uint64_t sent_ = 0;
  std::uint64_t lost_ = 0;
  bool closed_ = false;
  JackClockOffset clockOffset_;  // turns due times into JACK's
};

// A JACK MIDI input port: frame-accurate times, taken from the cycle clock of its client.
class JackMidiInput : public MidiInput {
 public:
  // A client of its own with an input port "in" wired from `source`, for when no JACK
  // output is open. Null and a result code on failure.
  static std::unique_ptr<JackMidiInput> open(const std::string& clientName,
                                             const std::string& source, int* resultCode);
  JackMidiInput(std::shared_ptr<JackMidiPort::Owner> owner, JackMidiPort::Shared& shared);
  ~JackMidiInput() override;
  JackMidiInput(const JackMidiInput&) = delete;
  JackMidiInput& operator=(const JackMidiInput&) = delete;

  bool read(MidiInputEvent* event) override;
  // The source port was unregistered or disconnected, or the server went.
  bool gone() override;
  bool setThru(int channel) override;
  bool takeClock(bool on) override;
  // The paired output's period (its messages go one period after their time) and its
  // port's playback latency.
  std::optional<std::chrono::microseconds> outputLatency() override;
  std::uint64_t dropped() const override;

 private:
  std::shared_ptr<JackMidiPort::Owner> owner_;
  JackMidiPort::Shared& shared_;
  JackClockOffset clockOffset_;  // turns the input's times into the steady clock's
};

}  // namespace pulsewright
