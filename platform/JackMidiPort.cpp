#include "platform/JackMidiPort.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <future>
#include <thread>

#include "platform/CallbackClock.h"
#include "platform/MidiOutput.h"
#include "platform/ShortMessage.h"

namespace pulsewright {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr std::size_t kQueueBytes = 16384;
constexpr std::size_t kNowQueueBytes = 4096;
// How long a close may wait for a server that does not answer.
constexpr auto kCloseTimeout = std::chrono::seconds(1);
constexpr auto kDrainMargin = milliseconds(100);

// A server's frame clock keeps its rate; its cycles are entered late now and then. A
// sound card's clock is within a few hundredths of a per cent of its nominal rate; a
// rate learned further off than the loop can follow (entries that came late while it
// learned) would drift the phase away, moving it a period at a time.
constexpr CallbackClock::Following kJackFollowing{0.03, 0.03, 0.3, 0.0002};
// Cycles entered a period or more behind the estimate for this long mean the server's
// frames have moved (a synchronous server that waited on a slow client, a stall): the
// clock's phase moves there. Its following alone would take seconds, while messages
// went out on entry times and what came in was stamped on the estimate.
constexpr double kShiftedSeconds = 0.015;
// MIDI clock (the system messages) keeps its own spacing in frames, 24 a quarter to the
// frame, laid from the first of a run on: the server's frames may stray from the system
// clock the due times are on, and a clock that follows that wander jitters by it. Where
// the run strays from the estimate by more than the slack it is drawn back a frame a
// message; past the break (a stall), or after a pause, it starts again on the estimate.
// Channel messages stay on the estimate, where what comes in is stamped.
constexpr double kScheduleSlackSeconds = 0.004;
constexpr double kScheduleBreakSeconds = 0.05;
constexpr double kScheduleGapSeconds = 0.5;

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

// One message read from the input port: when it came in on JACK's clock (seconds), and
// its bytes.
struct InputEvent {
  double time;
  std::uint8_t length;
  std::uint8_t bytes[3];
};

// A message passed through from the input, at the frame it came in.
struct ThruEvent {
  jack_nframes_t frame;
  std::uint8_t length;
  std::uint8_t bytes[3];
};
constexpr int kMaxThruPerCycle = 64;
constexpr std::size_t kInputBytes = 32768;

// The steady clock minus JACK's microsecond clock, both read together, the tighter of
// two tries.
std::int64_t steadyMinusJack() {
  std::int64_t offset = 0;
  auto span = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 2; ++i) {
    const auto before = std::chrono::steady_clock::now();
    const jack_time_t jackNow = jack_get_time();
    const auto after = std::chrono::steady_clock::now();
    if (after - before < span) {
      span = after - before;
      const auto mid = before + (after - before) / 2;
      offset = std::chrono::duration_cast<microseconds>(mid.time_since_epoch()).count() -
               static_cast<std::int64_t>(jackNow);
    }
  }
  return offset;
}

}  // namespace

struct JackMidiPort::Shared {
  jack_client_t* client = nullptr;
  // Registered while the callback may run: it reads them once a cycle. The output is
  // null on a client that only reads; the input is null until one is opened.
  std::atomic<jack_port_t*> port{nullptr};
  std::atomic<jack_port_t*> in{nullptr};
  jack_ringbuffer_t* input = nullptr;  // InputEvents
  std::atomic<int> thruChannel{-1};
  std::atomic<bool> clockIn{false};  // MIDI clock comes through the input too
  std::atomic<bool> outputOpen{false};
  std::atomic<bool> inputTaken{false};  // a JackMidiInput reads the input port
  std::atomic<std::uint64_t> inputDropped{0};
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
    if (input) jack_ringbuffer_free(input);
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
  double behindSince = -1;       // entry time from which every cycle came a period late
  double leastBehind = 0;        // seconds, the least of those cycles' lateness
  bool scheduled = false;        // a run of clock messages goes on...
  double runFrame = 0;           // ...its latest message's frame...
  jack_time_t runDue = 0;        // ...and due time

  static int process(jack_nframes_t frames, void* self);
  // The frame of a clock message due at `due` (JACK's microseconds), `length` seconds
  // later: on the run's own spacing, within the slack of the cycle clock's estimate.
  double frameOfDue(jack_time_t due, double length);
  // Feeds the cycle clock the entry of the cycle at `frame`, `length` seconds long.
  void followServer(double entered, double length);
  // Moves the input port's messages of this cycle into `input`, and those to pass
  // through into `thru`; returns how many of those.
  int readInput(jack_nframes_t frames, ThruEvent* thru);
  // Opens the client, registers `portName` (output or input) and activates it.
  static std::shared_ptr<Shared> start(const std::string& clientName, bool output, int* resultCode);
};

struct JackMidiPort::Owner {
  std::shared_ptr<Shared> shared;
  ~Owner() {
    // After the server has gone, libjack crashes in any call on the client, its close
    // included, so the dead client is left to libjack; its process thread ran the
    // shutdown callback as its last act, so the queues are free to go. Closing the client
    // also removes its ports; the process callback has stopped when the close returns
    // (or, on a server that does not answer, never runs again).
    if (shared && shared->client && !shared->gone.load()) closeClient(shared->client, shared);
  }
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

std::vector<std::string> listJackMidiOutputs(const std::string& clientName) {
  std::vector<std::string> names;
  Client client = openClient(clientName + "-list");
  if (!client) return names;
  const char** ports =
      jack_get_ports(client.get(), nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  for (const char** p = ports; p && *p; ++p) {
    // Our own clients' outputs ("name:out", "name-01:out") are no kit.
    const std::string name = *p;
    const bool ours = name.rfind(clientName, 0) == 0 && name.size() > clientName.size() &&
                      (name[clientName.size()] == ':' || name[clientName.size()] == '-');
    if (!ours) names.push_back(name);
  }
  if (ports) jack_free(ports);
  return names;
}

std::shared_ptr<JackMidiPort::Shared> JackMidiPort::Shared::start(const std::string& clientName,
                                                                  bool output, int* resultCode) {
  auto shared = std::make_shared<Shared>();
  Shared& s = *shared;
  s.client = openClient(clientName).release();
  if (!s.client) {
    *resultCode = midi_result::kNoDriver;
    return nullptr;
  }
  // From here on a failure closes the client with the object.
  auto owner = std::make_shared<Owner>();
  owner->shared = shared;
  s.queue = jack_ringbuffer_create(kQueueBytes);
  s.now = jack_ringbuffer_create(kNowQueueBytes);
  s.input = jack_ringbuffer_create(kInputBytes);
  jack_port_t* port =
      output ? jack_port_register(s.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0)
             : jack_port_register(s.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  if (!s.queue || !s.now || !s.input || !port) {
    *resultCode = midi_result::kError;
    return nullptr;
  }
  (output ? s.port : s.in).store(port);
  s.outputOpen = output;
  s.inputTaken = !output;
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
  owner->shared = nullptr;  // the caller takes the client over
  *resultCode = midi_result::kOk;
  return shared;
}

std::unique_ptr<JackMidiPort> JackMidiPort::open(const std::string& clientName,
                                                 const std::string& target, int* resultCode) {
  std::shared_ptr<Shared> shared = Shared::start(clientName, true, resultCode);
  if (!shared) return nullptr;
  std::unique_ptr<JackMidiPort> port(new JackMidiPort);
  port->owner_ = std::make_shared<Owner>();
  port->owner_->shared = shared;
  port->shared_ = shared;
  Shared& s = *shared;
  if (!jack_port_by_name(s.client, target.c_str())) {
    *resultCode = midi_result::kNoDevice;
    return nullptr;
  }
  if (jack_connect(s.client, jack_port_name(s.port.load()), target.c_str()) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  *resultCode = midi_result::kOk;
  return port;
}

JackMidiPort::~JackMidiPort() {
  close();
}

pthread_t JackMidiPort::processThread() const {
  return jack_client_thread_id(shared_->client);
}

std::uint64_t JackMidiPort::close() {
  if (!shared_ || !shared_->client || closed_) return lost_;
  closed_ = true;
  if (!shared_->gone.load()) {
    if (shared_->active) drain();
    // An input on this client may keep it open: the output stops taking messages.
    shared_->outputOpen.store(false);
    shared_->thruChannel.store(-1);
    if (owner_.use_count() > 1) jack_port_disconnect(shared_->client, shared_->port.load());
  }
  owner_.reset();
  lost_ = sent_ - std::min(sent_, shared_->taken.load());
  return lost_;
}

bool JackMidiPort::serverGone() const {
  return shared_->gone.load();
}

std::unique_ptr<JackMidiInput> JackMidiPort::openInput(const std::string& source, int* resultCode) {
  Shared& s = *shared_;
  if (closed_ || s.gone.load()) {
    *resultCode = midi_result::kNoDriver;
    return nullptr;
  }
  if (s.inputTaken.exchange(true)) {
    *resultCode = midi_result::kAllocated;  // one input per client
    return nullptr;
  }
  auto input = std::make_unique<JackMidiInput>(owner_, s);  // gives the input back on failure
  jack_port_t* from = jack_port_by_name(s.client, source.c_str());
  if (!from || !(jack_port_flags(from) & JackPortIsOutput) ||
      std::string(jack_port_type(from)) != JACK_DEFAULT_MIDI_TYPE) {
    *resultCode = midi_result::kNoDevice;
    return nullptr;
  }
  // A port registered for an earlier input stays (the callback may be reading it).
  jack_port_t* in = s.in.load();
  if (in == nullptr) {
    in = jack_port_register(s.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (in == nullptr) {
      *resultCode = midi_result::kError;
      return nullptr;
    }
    s.in.store(in);
  }
  if (jack_connect(s.client, source.c_str(), jack_port_name(in)) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  *resultCode = midi_result::kOk;
  return input;
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
  if (closed_ || s.gone.load() || length <= 0 || length > 3) return midi_result::kError;
  if (jack_ringbuffer_write_space(s.now) < sizeof(Event)) return midi_result::kError;
  Event event{};
  event.length = static_cast<std::uint8_t>(length);
  std::copy(bytes, bytes + length, event.bytes);
  jack_ringbuffer_write(s.now, reinterpret_cast<const char*>(&event), sizeof event);
  ++sent_;
  lastDue_ = std::max(lastDue_, Clock::now());
  return midi_result::kOk;
}

std::int64_t JackClockOffset::next() {
  constexpr std::uint64_t kUsesBetweenReadings = 64;
  constexpr std::int64_t kReadingErrorMicros = 2;
  if (uses_++ % kUsesBetweenReadings == 0) {
    const std::int64_t reading = steadyMinusJack();
    if (uses_ == 1 || std::abs(reading - micros_) > kReadingErrorMicros) micros_ = reading;
  }
  return micros_;
}

int JackMidiPort::sendAt(const std::uint8_t* bytes, int length, Clock::time_point due) {
  Shared& s = *shared_;
  if (closed_ || s.gone.load() || length <= 0 || length > 3) return midi_result::kError;
  if (jack_ringbuffer_write_space(s.queue) < sizeof(Event)) return midi_result::kError;
  Event event{};
  event.due = static_cast<jack_time_t>(
      std::chrono::duration_cast<microseconds>(due.time_since_epoch()).count() -
      clockOffset_.next());
  event.length = static_cast<std::uint8_t>(length);
  std::copy(bytes, bytes + length, event.bytes);
  jack_ringbuffer_write(s.queue, reinterpret_cast<const char*>(&event), sizeof event);
  ++sent_;
  lastDue_ = std::max(lastDue_, due);
  return midi_result::kOk;
}

int JackMidiPort::Shared::readInput(jack_nframes_t frames, ThruEvent* thru) {
  jack_port_t* in = this->in.load(std::memory_order_acquire);
  if (in == nullptr) return 0;
  void* buffer = jack_port_get_buffer(in, frames);
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  const int channel = outputOpen.load() ? thruChannel.load() : -1;
  const bool clocks = clockIn.load(std::memory_order_relaxed);
  int passed = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    // Channel messages only: no system exclusive or active sensing, MIDI clock only where
    // a song follows it (and never passed through).
    if (event.size == 0 || event.size > 3 || event.buffer[0] < 0x80) continue;
    const bool system = event.buffer[0] >= 0xF0;
    if (system && !(clocks && isClockMessage(event.buffer[0]))) continue;
    InputEvent in{};
    in.time = clock.timeOf(static_cast<double>(frame + event.time));
    in.length = static_cast<std::uint8_t>(event.size);
    std::copy(event.buffer, event.buffer + event.size, in.bytes);
    if (jack_ringbuffer_write_space(input) >= sizeof in) {
      jack_ringbuffer_write(input, reinterpret_cast<const char*>(&in), sizeof in);
    } else {
      inputDropped.fetch_add(1, std::memory_order_relaxed);
    }
    if (channel >= 0 && !system && passed < kMaxThruPerCycle) {
      ThruEvent& t = thru[passed++];
      t.frame = event.time;
      t.length = in.length;
      std::copy(in.bytes, in.bytes + in.length, t.bytes);
      t.bytes[0] = static_cast<std::uint8_t>((t.bytes[0] & 0xF0) | channel);
    }
  }
  return passed;
}

void JackMidiPort::Shared::followServer(double entered, double length) {
  clock.update(frame, entered);
  const double behind = entered - clock.timeOf(static_cast<double>(frame));
  if (behind < length) {
    behindSince = -1;
    return;
  }
  if (behindSince < 0) {
    behindSince = entered;
    leastBehind = behind;
    return;
  }
  leastBehind = std::min(leastBehind, behind);
  if (entered - behindSince >= std::max(kShiftedSeconds, 3 * length)) {
    // Output and input then share the server's frames again, not a line it has left.
    // The least lateness of those cycles is how far the frames moved; the rest of any
    // one cycle's is its own late wake-up.
    clock.shiftPhase(leastBehind);
    behindSince = -1;
  }
}

double JackMidiPort::Shared::frameOfDue(jack_time_t due, double length) {
  const double estimate = clock.frameAt(static_cast<double>(due) * 1e-6 + length);
  const double since = (static_cast<double>(due) - static_cast<double>(runDue)) * 1e-6;
  double at = runFrame + since * sampleRate;
  const double apart = at - estimate;
  if (!scheduled || since < 0 || since > kScheduleGapSeconds ||
      std::abs(apart) > kScheduleBreakSeconds * sampleRate) {
    at = estimate;
  } else if (std::abs(apart) > kScheduleSlackSeconds * sampleRate) {
    at -= apart > 0 ? 1 : -1;
  }
  return at;
}

int JackMidiPort::Shared::process(jack_nframes_t frames, void* self) {
  auto* s = static_cast<Shared*>(self);
  jack_port_t* out = s->port.load(std::memory_order_acquire);
  void* buffer = out != nullptr ? jack_port_get_buffer(out, frames) : nullptr;
  if (buffer != nullptr) jack_midi_clear_buffer(buffer);
  const jack_nframes_t first = jack_last_frame_time(s->client);
  s->frame += s->framesStarted ? static_cast<jack_nframes_t>(first - s->lastFrame) : 0;
  s->framesStarted = true;
  s->lastFrame = first;
  const jack_time_t entered = jack_get_time();
  const double length = frames / s->sampleRate;
  s->followServer(static_cast<double>(entered) * 1e-6, length);
  s->periodMicros.store(static_cast<std::uint32_t>(length * 1e6));
  ThruEvent thru[kMaxThruPerCycle];
  const int thruCount = s->readInput(frames, thru);
  if (buffer == nullptr) {
    s->cycles.fetch_add(1);
    return 0;
  }
  // A message due at time t goes at the frame for t + one period, so those due during
  // the previous period fill this cycle. Later ones wait; late ones go at frame 0.
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
  // What comes in passes through at the frame it came in, among the queued messages in
  // the order of their frames.
  int nextThru = 0;
  auto passThrough = [&](jack_nframes_t upTo) {
    for (; nextThru < thruCount && thru[nextThru].frame <= upTo; ++nextThru) {
      const jack_nframes_t frame = std::max(last, thru[nextThru].frame);
      if (jack_midi_event_write(buffer, frame, thru[nextThru].bytes, thru[nextThru].length) == 0) {
        last = frame;
      }
    }
  };
  while (jack_ringbuffer_peek(s->queue, reinterpret_cast<char*>(&event), sizeof event) ==
         sizeof event) {
    const bool clockMessage = event.bytes[0] >= 0xF0;
    const double at = clockMessage
                          ? s->frameOfDue(event.due, length)
                          : s->clock.frameAt(static_cast<double>(event.due) * 1e-6 + length);
    double offset = at - static_cast<double>(s->frame);
    // A message a whole period overdue goes now, whatever the estimate says: after a
    // burst of xruns the clock may be off for a while, and nothing may wait on it. One
    // the estimate places in this cycle stays at its frame: a cycle entered late does
    // not move it.
    const bool overdue =
        offset >= frames && event.due + static_cast<jack_time_t>(length * 1e6) <= entered;
    if (overdue) offset = 0;
    if (offset >= frames) break;
    if (clockMessage) {
      s->scheduled = !overdue;  // after an overdue one the next starts a run anew
      s->runFrame = at;
      s->runDue = event.due;
    }
    // Frames never go backwards within a cycle: messages keep their order.
    const jack_nframes_t wanted = offset > 0 ? static_cast<jack_nframes_t>(offset) : 0u;
    passThrough(wanted);
    const jack_nframes_t frame = std::max(last, wanted);
    if (jack_midi_event_write(buffer, frame, event.bytes, event.length) != 0) {
      break;  // the port's buffer is full: the rest waits for the next cycle
    }
    last = frame;
    jack_ringbuffer_read_advance(s->queue, sizeof event);
    ++taken;
  }
  passThrough(frames);
  s->taken.fetch_add(taken, std::memory_order_relaxed);
  s->cycles.fetch_add(1);
  return 0;
}

std::unique_ptr<JackMidiInput> JackMidiInput::open(const std::string& clientName,
                                                   const std::string& source, int* resultCode) {
  std::shared_ptr<JackMidiPort::Shared> shared =
      JackMidiPort::Shared::start(clientName, false, resultCode);
  if (!shared) return nullptr;
  auto owner = std::make_shared<JackMidiPort::Owner>();
  owner->shared = shared;
  jack_port_t* from = jack_port_by_name(shared->client, source.c_str());
  if (!from || !(jack_port_flags(from) & JackPortIsOutput) ||
      std::string(jack_port_type(from)) != JACK_DEFAULT_MIDI_TYPE) {
    *resultCode = midi_result::kNoDevice;
    return nullptr;
  }
  if (jack_connect(shared->client, source.c_str(), jack_port_name(shared->in.load())) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  *resultCode = midi_result::kOk;
  return std::make_unique<JackMidiInput>(std::move(owner), *shared);
}

JackMidiInput::JackMidiInput(std::shared_ptr<JackMidiPort::Owner> owner,
                             JackMidiPort::Shared& shared)
    : owner_(std::move(owner)), shared_(shared) {}

JackMidiInput::~JackMidiInput() {
  shared_.thruChannel.store(-1);
  shared_.clockIn.store(false);
  // The output may keep the client: its input stops listening. The port stays
  // registered (the callback may be reading it) until the client closes.
  jack_port_t* in = shared_.in.load();
  if (in != nullptr && !shared_.gone.load() && owner_.use_count() > 1) {
    jack_port_disconnect(shared_.client, in);
  }
  // What came in for this input is not for the next one.
  jack_ringbuffer_read_advance(shared_.input, jack_ringbuffer_read_space(shared_.input));
  shared_.inputTaken.store(false);
}

bool JackMidiInput::read(MidiInputEvent* event) {
  InputEvent in{};
  if (jack_ringbuffer_read_space(shared_.input) < sizeof in) return false;
  jack_ringbuffer_read(shared_.input, reinterpret_cast<char*>(&in), sizeof in);
  double latency = 0;
  if (!shared_.gone.load()) {
    jack_latency_range_t range{};
    jack_port_get_latency_range(shared_.in.load(), JackCaptureLatency, &range);
    latency = range.max / shared_.sampleRate;
  }
  const auto micros =
      static_cast<std::int64_t>(std::llround((in.time - latency) * 1e6)) + clockOffset_.next();
  event->time = std::chrono::steady_clock::time_point(microseconds(micros));
  event->length = in.length;
  std::copy(in.bytes, in.bytes + in.length, event->bytes);
  return true;
}

bool JackMidiInput::gone() {
  if (shared_.gone.load()) return true;
  jack_port_t* in = shared_.in.load();
  return in == nullptr || jack_port_connected(in) == 0;
}

bool JackMidiInput::setThru(int channel) {
  if (shared_.port.load() == nullptr || !shared_.outputOpen.load()) return false;
  shared_.thruChannel.store(channel >= 0 && channel < 16 ? channel : -1);
  return true;
}

bool JackMidiInput::takeClock(bool on) {
  shared_.clockIn.store(on);
  return true;
}

std::optional<std::chrono::microseconds> JackMidiInput::outputLatency() {
  jack_port_t* out = shared_.port.load();
  if (out == nullptr || !shared_.outputOpen.load() || shared_.gone.load()) return std::nullopt;
  jack_latency_range_t range{};
  jack_port_get_latency_range(out, JackPlaybackLatency, &range);
  // A message goes one period after its time, then through the port's latency.
  const double frames = jack_get_buffer_size(shared_.client) + range.max;
  return microseconds(std::llround(frames / shared_.sampleRate * 1e6));
}

std::uint64_t JackMidiInput::dropped() const {
  return shared_.inputDropped.load();
}

}  // namespace pulsewright
