#include "platform/JackMidiPort.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <future>
#include <thread>

#include "platform/CallbackClock.h"
#include "platform/MidiOutput.h"

namespace pulsewright {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr std::size_t kQueueBytes = 16384;
constexpr std::size_t kNowQueueBytes = 4096;
// How long a close may wait for a server that does not answer.
constexpr auto kCloseTimeout = std::chrono::seconds(1);
constexpr auto kDrainMargin = milliseconds(100);

// A server's frame clock keeps its rate; its cycles are entered late now and then.
constexpr CallbackClock::Following kJackFollowing{0.03, 0.03, 0.3};

// One queued message: when it is due on JACK's microsecond clock, and its bytes.
struct Event {
  jack_time_t due;
  std::uint8_t length;
  std::uint8_t bytes[3];
};

// Closes a client on a helper thread and waits for it a bounded time. jack_client_close
// waits for the server's answer, for ever when the server is stopped; the helper thread
// then keeps `keepAlive` (what the client's callbacks use) until the close returns, if
// it ever does.
void closeClient(jack_client_t* client, std::shared_ptr<void> keepAlive) {
  auto closed = std::make_shared<std::promise<void>>();
  std::future<void> done = closed->get_future();
  std::thread([client, closed, keepAlive = std::move(keepAlive)] {
    jack_client_close(client);
    closed->set_value();
  }).detach();
  done.wait_for(kCloseTimeout);
}

struct ClientCloser {
  void operator()(jack_client_t* client) const { closeClient(client, nullptr); }
};
using Client = std::unique_ptr<jack_client_t, ClientCloser>;

Client openClient(const std::string& name) {
  jack_status_t status{};
  return Client(jack_client_open(name.c_str(), JackNoStartServer, &status));
}

}  // namespace

struct JackMidiPort::Shared {
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  jack_ringbuffer_t* queue = nullptr;
  // Messages meant to sound at once (the drum keyboard) do not wait behind the song's
  // messages, which are handed over ahead of their time.
  jack_ringbuffer_t* now = nullptr;
  std::atomic<bool> gone{false};
  bool active = false;                         // the process callback runs
  std::atomic<std::uint64_t> cycles{0};        // process cycles finished
  std::atomic<std::uint32_t> periodMicros{0};  // length of the latest cycle

  ~Shared() {
    if (queue) jack_ringbuffer_free(queue);
    if (now) jack_ringbuffer_free(now);
  }

  // Messages the process callback wrote into the port's buffer.
  std::atomic<std::uint64_t> taken{0};

  // Process thread only: the cycles' frames on JACK's clock (seconds). JACK's own
  // estimate (jack_get_cycle_times) swings by tens of milliseconds for seconds after a
  // late cycle on some drivers; the clock follows the callback's entry times instead.
  double sampleRate = 48000;
  CallbackClock clock{48000, kJackFollowing};
  bool framesStarted = false;
  jack_nframes_t lastFrame = 0;  // as JACK counts them (it wraps)...
  std::int64_t frame = 0;        // ...and counted on

  static int process(jack_nframes_t frames, void* self);
};

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
  port->shared_ = std::make_shared<Shared>();
  Shared& s = *port->shared_;
  s.client = openClient(clientName).release();
  if (!s.client) {
    *resultCode = midi_result::kNoDriver;
    return nullptr;
  }
  if (!jack_port_by_name(s.client, target.c_str())) {
    *resultCode = midi_result::kNoDevice;
    return nullptr;
  }
  s.queue = jack_ringbuffer_create(kQueueBytes);
  s.now = jack_ringbuffer_create(kNowQueueBytes);
  s.port = jack_port_register(s.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!s.queue || !s.now || !s.port) {
    *resultCode = midi_result::kError;
    return nullptr;
  }
  const jack_nframes_t rate = jack_get_sample_rate(s.client);
  if (rate > 0) {
    s.sampleRate = rate;
    s.clock = CallbackClock(rate, kJackFollowing);
    s.periodMicros = jack_get_buffer_size(s.client) * 1000000ull / rate;
  }
  jack_set_process_callback(s.client, Shared::process, &s);
  jack_on_info_shutdown(
      s.client,
      [](jack_status_t, const char*, void* self) { static_cast<Shared*>(self)->gone.store(true); },
      &s);
  if (jack_activate(s.client) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  s.active = true;
  if (jack_connect(s.client, jack_port_name(s.port), target.c_str()) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  *resultCode = midi_result::kOk;
  return port;
}

JackMidiPort::~JackMidiPort() {
  close();
}

std::uint64_t JackMidiPort::close() {
  if (!shared_ || !shared_->client || closed_) return lost_;
  closed_ = true;
  // After the server has gone, libjack crashes in any call on the client, its close
  // included, so the dead client is left to libjack; its process thread ran the shutdown
  // callback as its last act, so the queue is free to go.
  if (!shared_->gone.load()) {
    if (shared_->active) drain();
    // Closing the client also removes its port; the process callback has stopped when
    // the close returns (or, on a server that does not answer, never runs again).
    closeClient(shared_->client, shared_);
  }
  lost_ = sent_ - std::min(sent_, shared_->taken.load());
  return lost_;
}

bool JackMidiPort::serverGone() const {
  return shared_->gone.load();
}

void JackMidiPort::drain() {
  Shared& s = *shared_;
  const auto period = microseconds(s.periodMicros.load());
  const auto deadline = std::max(Clock::now(), lastDue_) + 2 * period + kDrainMargin;
  // Empty queue: its last messages are in the port's buffer of the cycle under way, and
  // reach the port they are wired to once that cycle is over.
  std::uint64_t emptySince = 0;
  bool empty = false;
  while (Clock::now() < deadline && !s.gone.load()) {
    const std::uint64_t cycles = s.cycles.load();
    if (!empty && jack_ringbuffer_read_space(s.queue) == 0 &&
        jack_ringbuffer_read_space(s.now) == 0) {
      empty = true;
      emptySince = cycles;
    }
    if (empty && cycles >= emptySince + 2) return;
    std::this_thread::sleep_for(milliseconds(1));
  }
}

int JackMidiPort::send(const std::uint8_t* bytes, int length) {
  Shared& s = *shared_;
  if (s.gone.load() || length <= 0 || length > 3) return midi_result::kError;
  if (jack_ringbuffer_write_space(s.now) < sizeof(Event)) return midi_result::kError;
  Event event{};
  event.length = static_cast<std::uint8_t>(length);
  std::copy(bytes, bytes + length, event.bytes);
  jack_ringbuffer_write(s.now, reinterpret_cast<const char*>(&event), sizeof event);
  ++sent_;
  lastDue_ = std::max(lastDue_, Clock::now());
  return midi_result::kOk;
}

int JackMidiPort::sendAt(const std::uint8_t* bytes, int length, Clock::time_point due) {
  Shared& s = *shared_;
  if (s.gone.load() || length <= 0 || length > 3) return midi_result::kError;
  if (jack_ringbuffer_write_space(s.queue) < sizeof(Event)) return midi_result::kError;
  // Steady clock to JACK's clock: both read together, the tighter of two tries.
  std::int64_t offset = 0;
  auto span = Clock::duration::max();
  for (int i = 0; i < 2; ++i) {
    const auto before = Clock::now();
    const jack_time_t jackNow = jack_get_time();
    const auto after = Clock::now();
    if (after - before < span) {
      span = after - before;
      const auto mid = before + (after - before) / 2;
      offset = static_cast<std::int64_t>(jackNow) -
               std::chrono::duration_cast<microseconds>(mid.time_since_epoch()).count();
    }
  }
  Event event{};
  event.due = static_cast<jack_time_t>(
      std::chrono::duration_cast<microseconds>(due.time_since_epoch()).count() + offset);
  event.length = static_cast<std::uint8_t>(length);
  std::copy(bytes, bytes + length, event.bytes);
  jack_ringbuffer_write(s.queue, reinterpret_cast<const char*>(&event), sizeof event);
  ++sent_;
  lastDue_ = std::max(lastDue_, due);
  return midi_result::kOk;
}

int JackMidiPort::Shared::process(jack_nframes_t frames, void* self) {
  auto* s = static_cast<Shared*>(self);
  void* buffer = jack_port_get_buffer(s->port, frames);
  jack_midi_clear_buffer(buffer);
  const jack_nframes_t first = jack_last_frame_time(s->client);
  s->frame += s->framesStarted ? static_cast<jack_nframes_t>(first - s->lastFrame) : 0;
  s->framesStarted = true;
  s->lastFrame = first;
  const jack_time_t entered = jack_get_time();
  s->clock.update(s->frame, static_cast<double>(entered) * 1e-6);
  // A message due at time t goes at the frame for t + one period, so those due during
  // the previous period fill this cycle. Later ones wait; late ones go at frame 0.
  const double length = frames / s->sampleRate;
  jack_nframes_t last = 0;
  std::uint64_t taken = 0;
  Event event{};
  // What is meant for now goes first, at the cycle's first frame.
  while (jack_ringbuffer_peek(s->now, reinterpret_cast<char*>(&event), sizeof event) ==
         sizeof event) {
    if (jack_midi_event_write(buffer, 0, event.bytes, event.length) != 0) break;
    jack_ringbuffer_read_advance(s->now, sizeof event);
    ++taken;
  }
  while (jack_ringbuffer_peek(s->queue, reinterpret_cast<char*>(&event), sizeof event) ==
         sizeof event) {
    double offset = s->clock.frameAt(static_cast<double>(event.due) * 1e-6 + length) -
                    static_cast<double>(s->frame);
    // A message a whole period overdue goes now, whatever the estimate says: after a
    // burst of xruns the clock may be off for a while, and nothing may wait on it.
    if (event.due + static_cast<jack_time_t>(length * 1e6) <= entered) offset = 0;
    if (offset >= frames) break;
    // Frames never go backwards within a cycle: messages keep their order.
    const jack_nframes_t frame =
        std::max(last, offset > 0 ? static_cast<jack_nframes_t>(offset) : 0u);
    if (jack_midi_event_write(buffer, frame, event.bytes, event.length) != 0) {
      break;  // the port's buffer is full: the rest waits for the next cycle
    }
    last = frame;
    jack_ringbuffer_read_advance(s->queue, sizeof event);
    ++taken;
  }
  s->taken.fetch_add(taken, std::memory_order_relaxed);
  s->periodMicros.store(static_cast<std::uint32_t>(length * 1e6));
  s->cycles.fetch_add(1);
  return 0;
}

}  // namespace pulsewright
