#include "platform/JackTransport.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "platform/MidiOutput.h"

namespace pulsewright {

namespace {

constexpr double kTicksPerBeat = 1920;
constexpr double kSame = 1e-9;  // quarters: positions this close are one
constexpr auto kCloseTimeout = std::chrono::seconds(1);

// The quarter where bar `bar` (from 1) starts: the song's own bars, then bars of
// `barQuarters` past its end.
double barStartOf(const TransportSong& song, std::int32_t bar, double barQuarters) {
  const auto& starts = song.barStarts;
  const auto index = static_cast<std::size_t>(std::max<std::int32_t>(bar, 1) - 1);
  if (index < starts.size()) return starts[index];
  const double last = starts.empty() ? 0 : starts.back();
  const std::size_t past = index - (starts.empty() ? 0 : starts.size() - 1);
  return last + static_cast<double>(past) * barQuarters;
}

const TransportSong::Stretch& stretchAt(const TransportSong& song, double ms) {
  const auto& s = song.stretches;
  auto it = std::upper_bound(s.begin(), s.end(), ms,
                             [](double t, const TransportSong::Stretch& x) { return t < x.ms; });
  return it == s.begin() ? s.front() : *(it - 1);
}

}  // namespace

struct JackTransportPlayer::State {
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  std::shared_ptr<const TransportSong> song;  // set before the callback runs; never changed
  double rate = 48000;
  std::atomic<bool> gone{false};
  std::atomic<bool> master{false};
  std::atomic<bool> following{false};
  std::atomic<bool> rollingNow{false};
  std::atomic<bool> closing{false};
  std::atomic<std::uint64_t> cycles{0};
  std::atomic<std::uint64_t> sentCount{0};
  std::atomic<std::uint64_t> startCount{0};
  std::atomic<std::uint64_t> stopCount{0};
  bool active = false;

  // Process thread only.
  bool wasRolling = false;
  bool wasFollowing = false;
  jack_nframes_t expectedFrame = 0;  // the next cycle's transport frame, rolling on
  double predicted = 0;              // the quarter there, at the latest tempo
  std::size_t next = 0;              // the next message

  static int process(jack_nframes_t frames, void* self);
  static void timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int,
                       void* self);
  void silence(void* buffer, std::uint64_t* written) const;
  // Writes the messages due in this cycle by the master's bar and beat.
  void followMaster(const jack_position_t& pos, jack_nframes_t frames, bool continued, void* buffer,
                    std::uint64_t* written);
  // ... by the song's own clock, the transport's frame counting from its start.
  void followFrames(const jack_position_t& pos, jack_nframes_t frames, bool continued, void* buffer,
                    std::uint64_t* written);
};

void JackTransportPlayer::State::silence(void* buffer, std::uint64_t* written) const {
  const auto status = static_cast<std::uint8_t>(0xB0 | (song->channel & 0x0F));
  const std::uint8_t soundOff[] = {status, 120, 0};
  const std::uint8_t notesOff[] = {status, 123, 0};
  if (jack_midi_event_write(buffer, 0, soundOff, 3) == 0) ++*written;
  if (jack_midi_event_write(buffer, 0, notesOff, 3) == 0) ++*written;
}

void JackTransportPlayer::State::followMaster(const jack_position_t& pos, jack_nframes_t frames,
                                              bool continued, void* buffer,
                                              std::uint64_t* written) {
  const TransportSong& s = *song;
  const double rateNow = pos.frame_rate > 0 ? pos.frame_rate : rate;
  const double beatQuarters = 4.0 / pos.beat_type;
  const double perFrame = pos.beats_per_minute / 60.0 / rateNow * beatQuarters;
  const double tickQuarters = beatQuarters / pos.ticks_per_beat;
  const double said = barStartOf(s, pos.bar, pos.beats_per_bar * beatQuarters) +
                      ((pos.beat - 1) + pos.tick / pos.ticks_per_beat) * beatQuarters;
  // The master's tick is whole: the position lies within a tick after what it says. A
  // cycle that goes on from the last keeps the position carried over while the master
  // agrees, and moves up to what it says when that is later; otherwise it starts anew.
  double at = said;
  if (continued && std::abs(predicted - said) < tickQuarters) {
    at = std::max(predicted, said);
  } else {
    continued = false;
  }
  const auto& m = s.messages;
  if (!continued) {
    next = static_cast<std::size_t>(
        std::lower_bound(m.begin(), m.end(), at - kSame,
                         [](const TransportSong::Message& x, double q) { return x.quarter < q; }) -
        m.begin());
  }
  const double end = at + frames * perFrame;
  jack_nframes_t last = 0;
  for (; next < m.size() && m[next].quarter < end - kSame; ++next) {
    const double offset = (m[next].quarter - at) / perFrame;
    auto frame = static_cast<jack_nframes_t>(
        std::clamp(std::floor(offset + 1e-6), 0.0, static_cast<double>(frames - 1)));
    frame = std::max(frame, last);
    if (jack_midi_event_write(buffer, frame, m[next].bytes, m[next].length) != 0) break;
    last = frame;
    ++*written;
  }
  predicted = end;
}

void JackTransportPlayer::State::followFrames(const jack_position_t& pos, jack_nframes_t frames,
                                              bool continued, void* buffer,
                                              std::uint64_t* written) {
  const double rateNow = pos.frame_rate > 0 ? pos.frame_rate : rate;
  const auto& m = song->messages;
  auto frameOf = [&](const TransportSong::Message& x) {
    return static_cast<std::int64_t>(std::llround(x.ms * rateNow / 1000.0));
  };
  const auto first = static_cast<std::int64_t>(pos.frame);
  if (!continued) {
    next =
        static_cast<std::size_t>(std::lower_bound(m.begin(), m.end(), first,
                                                  [&](const TransportSong::Message& x,
                                                      std::int64_t f) { return frameOf(x) < f; }) -
                                 m.begin());
  }
  jack_nframes_t last = 0;
  for (; next < m.size() && frameOf(m[next]) < first + frames; ++next) {
    auto frame = static_cast<jack_nframes_t>(std::max<std::int64_t>(frameOf(m[next]) - first, 0));
    frame = std::max(frame, last);
    if (jack_midi_event_write(buffer, frame, m[next].bytes, m[next].length) != 0) break;
    last = frame;
    ++*written;
  }
}

int JackTransportPlayer::State::process(jack_nframes_t frames, void* self) {
  auto* s = static_cast<State*>(self);
  void* buffer = jack_port_get_buffer(s->port, frames);
  jack_midi_clear_buffer(buffer);
  jack_position_t pos;
  const jack_transport_state_t state = jack_transport_query(s->client, &pos);
  const bool rolling = state == JackTransportRolling && !s->closing.load();
  std::uint64_t written = 0;
  if (!rolling) {
    // Stopped (or closing): what sounds is silenced once.
    if (s->wasRolling) {
      s->silence(buffer, &written);
      s->stopCount.fetch_add(1);
    }
    s->wasRolling = false;
  } else {
    const bool fromMaster = (pos.valid & JackPositionBBT) != 0 && !s->master.load() &&
                            pos.beats_per_minute > 0 && pos.beat_type > 0 &&
                            pos.ticks_per_beat > 0 && pos.beats_per_bar > 0;
    const bool continued =
        s->wasRolling && s->wasFollowing == fromMaster && pos.frame == s->expectedFrame;
    if (fromMaster) {
      s->followMaster(pos, frames, continued, buffer, &written);
    } else {
      s->followFrames(pos, frames, continued, buffer, &written);
    }
    if (!s->wasRolling) s->startCount.fetch_add(1);
    s->wasFollowing = fromMaster;
    s->following.store(fromMaster, std::memory_order_relaxed);
    s->wasRolling = true;
    s->expectedFrame = pos.frame + frames;
  }
  s->rollingNow.store(rolling, std::memory_order_relaxed);
  s->sentCount.fetch_add(written, std::memory_order_relaxed);
  s->cycles.fetch_add(1);
  return 0;
}

void JackTransportPlayer::State::timebase(jack_transport_state_t, jack_nframes_t,
                                          jack_position_t* pos, int, void* self) {
  const auto* s = static_cast<State*>(self);
  const TransportSong& song = *s->song;
  const double rateNow = pos->frame_rate > 0 ? pos->frame_rate : s->rate;
  const double ms = pos->frame * 1000.0 / rateNow;
  const TransportSong::Stretch& stretch = stretchAt(song, ms);
  const double quarter = stretch.quarter + (ms - stretch.ms) * stretch.quartersPerMs;
  const double beatQuarters = 4.0 / stretch.beatType;
  const double barQuarters = stretch.beatsPerBar * beatQuarters;
  // The bar that holds the quarter: the song's own, then bars of the last metre.
  const auto& starts = song.barStarts;
  std::int32_t bar = 1;
  if (!starts.empty()) {
    bar = static_cast<std::int32_t>(
        std::upper_bound(starts.begin(), starts.end(), quarter + kSame) - starts.begin());
    if (bar == static_cast<std::int32_t>(starts.size())) {
      bar += static_cast<std::int32_t>(std::floor((quarter - starts.back()) / barQuarters + kSame));
    }
    bar = std::max(bar, 1);
  }
  const double inBar = std::max(0.0, quarter - barStartOf(song, bar, barQuarters));
  const double beats = inBar / beatQuarters;
  const double beat = std::floor(beats + kSame);
  pos->valid = JackPositionBBT;
  pos->bar = bar;
  pos->beat = static_cast<std::int32_t>(beat) + 1;
  pos->tick = static_cast<std::int32_t>(
      std::clamp(std::floor((beats - beat) * kTicksPerBeat), 0.0, kTicksPerBeat - 1));
  pos->bar_start_tick = barStartOf(song, bar, barQuarters) / beatQuarters * kTicksPerBeat;
  pos->beats_per_bar = static_cast<float>(stretch.beatsPerBar);
  pos->beat_type = static_cast<float>(stretch.beatType);
  pos->ticks_per_beat = kTicksPerBeat;
  pos->beats_per_minute = stretch.quartersPerMs * 60000.0 / beatQuarters;
}

std::unique_ptr<JackTransportPlayer> JackTransportPlayer::open(
    const std::string& clientName, const std::string& target,
    std::shared_ptr<const TransportSong> song, int* resultCode) {
  if (!song || song->stretches.empty()) {
    *resultCode = midi_result::kInvalidParam;
    return nullptr;
  }
  std::unique_ptr<JackTransportPlayer> player(new JackTransportPlayer);
  player->state_ = std::make_shared<State>();
  State& s = *player->state_;
  s.song = std::move(song);
  jack_status_t status{};
  s.client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
  if (s.client == nullptr) {
    *resultCode = midi_result::kNoDriver;
    return nullptr;
  }
  s.port = jack_port_register(s.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (s.port == nullptr) {
    *resultCode = midi_result::kError;
    return nullptr;
  }
  s.rate = jack_get_sample_rate(s.client);
  jack_set_process_callback(s.client, State::process, &s);
  jack_on_info_shutdown(
      s.client,
      [](jack_status_t, const char*, void* self) { static_cast<State*>(self)->gone.store(true); },
      &s);
  if (jack_activate(s.client) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  s.active = true;
  if (!jack_port_by_name(s.client, target.c_str())) {
    *resultCode = midi_result::kNoDevice;
    return nullptr;
  }
  if (jack_connect(s.client, jack_port_name(s.port), target.c_str()) != 0) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  *resultCode = midi_result::kOk;
  return player;
}

JackTransportPlayer::~JackTransportPlayer() {
  if (!state_ || state_->client == nullptr || state_->gone.load()) return;
  State& s = *state_;
  if (s.active) {
    // The callback silences what sounds in its next cycle; two cycles, bounded.
    s.closing.store(true);
    const std::uint64_t from = s.cycles.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (s.cycles.load() < from + 2 && std::chrono::steady_clock::now() < deadline &&
           !s.gone.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (s.master.load()) jack_release_timebase(s.client);
  }
  // A server that no longer answers cannot hold the close up: a helper thread waits for
  // it, keeping what the callback uses alive.
  auto closed = std::make_shared<std::promise<void>>();
  std::future<void> done = closed->get_future();
  std::thread([state = state_, closed] {
    jack_client_close(state->client);
    closed->set_value();
  }).detach();
  done.wait_for(kCloseTimeout);
}

bool JackTransportPlayer::offerTimebase() {
  State& s = *state_;
  if (s.master.load()) return true;
  if (s.gone.load()) return false;
  // Conditional: a master already there keeps the part.
  if (jack_set_timebase_callback(s.client, 1, State::timebase, &s) == 0) s.master.store(true);
  return s.master.load();
}

bool JackTransportPlayer::timebaseMaster() const {
  return state_->master.load();
}

bool JackTransportPlayer::followsMaster() const {
  return state_->following.load();
}

bool JackTransportPlayer::rolling() const {
  return state_->rollingNow.load();
}

std::uint64_t JackTransportPlayer::starts() const {
  return state_->startCount.load();
}

std::uint64_t JackTransportPlayer::stops() const {
  return state_->stopCount.load();
}

void JackTransportPlayer::startRolling() {
  if (!state_->gone.load()) jack_transport_start(state_->client);
}

void JackTransportPlayer::stopRolling() {
  if (!state_->gone.load()) jack_transport_stop(state_->client);
}

bool JackTransportPlayer::serverGone() const {
  return state_->gone.load();
}

std::uint64_t JackTransportPlayer::sent() const {
  return state_->sentCount.load();
}

pthread_t JackTransportPlayer::processThread() const {
  return jack_client_thread_id(state_->client);
}

}  // namespace pulsewright
