#pragma once
// A JACK client of a test's own: one MIDI input port "in" whose messages it notes with
// the absolute frame each arrived at. Its process callback only copies into storage made
// beforehand.

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace pulsewright::jacktest {

class JackReceiver {
 public:
  struct Message {
    long frame = 0;
    long transportFrame = -1;  // where the transport stood; -1 when it did not roll
    int length = 0;
    std::uint8_t bytes[3]{};
    int status() const { return bytes[0]; }
  };

  JackReceiver() : messages_(kCapacity) {}
  ~JackReceiver() { close(); }
  JackReceiver(const JackReceiver&) = delete;
  JackReceiver& operator=(const JackReceiver&) = delete;

  bool open(const std::string& name) {
    client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &JackReceiver::process, this);
    return port_ != nullptr && jack_activate(client_) == 0;
  }
  void close() {
    if (client_ != nullptr) jack_client_close(client_);
    client_ = nullptr;
  }
  std::string portName() const { return jack_port_name(port_); }
  jack_client_t* client() const { return client_; }
  // What came in since the last clear(), in order.
  std::vector<Message> messages() const {
    return {messages_.begin() + static_cast<long>(first_),
            messages_.begin() + static_cast<long>(count_.load(std::memory_order_acquire))};
  }
  // Only the reader moves on: the process callback alone writes, and never reuses a slot
  // the reader may be copying.
  void clear() { first_ = count_.load(std::memory_order_acquire); }

 private:
  static constexpr std::size_t kCapacity = 1 << 15;

  static int process(jack_nframes_t frames, void* self) {
    auto* r = static_cast<JackReceiver*>(self);
    const jack_nframes_t start = jack_last_frame_time(r->client_);
    jack_position_t position;
    const bool rolling = jack_transport_query(r->client_, &position) == JackTransportRolling;
    void* buffer = jack_port_get_buffer(r->port_, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    std::size_t stored = r->count_.load(std::memory_order_relaxed);
    for (jack_nframes_t i = 0; i < count && stored < kCapacity; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0 || event.size > 3)
        continue;
      Message& m = r->messages_[stored++];
      m.frame = static_cast<long>(start) + static_cast<long>(event.time);
      m.transportFrame = rolling ? static_cast<long>(position.frame + event.time) : -1;
      m.length = static_cast<int>(event.size);
      for (std::size_t b = 0; b < event.size; ++b) m.bytes[b] = event.buffer[b];
    }
    r->count_.store(stored, std::memory_order_release);
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  std::vector<Message> messages_;
  std::atomic<std::size_t> count_{0};
  std::size_t first_ = 0;  // the reader's thread only
};

// A MIDI clock source of a test's own: an output port "out" that sends a schedule of
// one-byte messages, each at its frame counted from the cycle in which start() was seen.
class JackClockSource {
 public:
  struct Send {
    long frame;
    std::uint8_t status;
  };
  JackClockSource() = default;
  ~JackClockSource() { close(); }
  JackClockSource(const JackClockSource&) = delete;
  JackClockSource& operator=(const JackClockSource&) = delete;

  // The schedule is set before the client opens and never changed.
  bool open(const std::string& name, std::vector<Send> schedule) {
    schedule_ = std::move(schedule);
    client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &JackClockSource::process, this);
    return port_ != nullptr && jack_activate(client_) == 0;
  }
  void start() { armed_.store(true); }
  // How many of the schedule's messages went out.
  std::size_t sent() const { return next_.load(); }
  void close() {
    if (client_ != nullptr) jack_client_close(client_);
    client_ = nullptr;
  }

 private:
  static int process(jack_nframes_t frames, void* self) {
    auto* s = static_cast<JackClockSource*>(self);
    void* buffer = jack_port_get_buffer(s->port_, frames);
    jack_midi_clear_buffer(buffer);
    if (!s->armed_.load()) return 0;
    const long first = s->elapsed_;
    std::size_t next = s->next_.load(std::memory_order_relaxed);
    for (;
         next < s->schedule_.size() && s->schedule_[next].frame < first + static_cast<long>(frames);
         ++next) {
      const auto offset =
          static_cast<jack_nframes_t>(std::max(0L, s->schedule_[next].frame - first));
      jack_midi_event_write(buffer, offset, &s->schedule_[next].status, 1);
    }
    s->next_.store(next, std::memory_order_release);
    s->elapsed_ += static_cast<long>(frames);
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  std::vector<Send> schedule_;
  std::atomic<bool> armed_{false};
  std::atomic<std::size_t> next_{0};
  long elapsed_ = 0;  // process thread only
};

}  // namespace pulsewright::jacktest
