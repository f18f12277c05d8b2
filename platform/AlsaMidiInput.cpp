#include "platform/AlsaMidiInput.h"

#include <alsa/asoundlib.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cmath>

#include "platform/MidiOutput.h"
#include "platform/ShortMessage.h"

namespace pulsewright {

namespace {

// A reader that falls this far behind loses the newest messages, not the memory.
constexpr std::size_t kMaxQueued = 4096;
constexpr auto kCheckEvery = std::chrono::milliseconds(250);

void ignoreRtMidiError(RtMidiError::Type, const std::string&, void*) {}

// An RtMidi input client of the sequencer, or null when there is none. RtMidi prints its
// failure before throwing, so the sequencer is tried first.
std::unique_ptr<RtMidiIn> alsaInputClient(const std::string& clientName) {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, 0) < 0) return nullptr;
  snd_seq_close(seq);
  try {
    auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName);
    in->setErrorCallback(ignoreRtMidiError, nullptr);
    return in;
  } catch (const RtMidiError&) {
    return nullptr;
  }
}

std::vector<std::string> portNames(RtMidiIn& in) {
  std::vector<std::string> names;
  try {
    const unsigned count = in.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
      std::string name = in.getPortName(i);
      if (!name.empty()) names.push_back(std::move(name));
    }
  } catch (const RtMidiError&) {
    // A sequencer that fails half-way: keep what was read.
  }
  return names;
}

}  // namespace

std::vector<std::string> listAlsaMidiInputs(const std::string& clientName) {
  std::unique_ptr<RtMidiIn> in = alsaInputClient(clientName);
  return in ? portNames(*in) : std::vector<std::string>{};
}

SequencerTimes::TimePoint SequencerTimes::stamp(double sinceFirst, TimePoint arrival) {
  const auto offset = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(sinceFirst));
  const TimePoint origin = arrival - offset;
  if (!started_ || origin < origin_) origin_ = origin;
  started_ = true;
  return origin_ + offset;
}

std::unique_ptr<AlsaMidiInput> AlsaMidiInput::open(const std::string& clientName,
                                                   const std::string& source, int* resultCode) {
  std::unique_ptr<AlsaMidiInput> input(new AlsaMidiInput);
  input->clientName_ = clientName;
  input->source_ = source;
  input->in_ = alsaInputClient(clientName);
  if (!input->in_) {
    *resultCode = midi_result::kNoDriver;
    return nullptr;
  }
  const std::vector<std::string> names = portNames(*input->in_);
  const auto found = std::find(names.begin(), names.end(), source);
  if (found == names.end()) {
    *resultCode = midi_result::kNoDevice;
    return nullptr;
  }
  try {
    // The callback is set before the port opens, so no message waits in RtMidi's queue.
    input->in_->setCallback(&AlsaMidiInput::onMessage, input.get());
    input->in_->ignoreTypes(true, true, true);
    input->in_->openPort(static_cast<unsigned>(found - names.begin()), "in");
  } catch (const RtMidiError&) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  if (!input->in_->isPortOpen()) {
    *resultCode = midi_result::kAllocated;
    return nullptr;
  }
  *resultCode = midi_result::kOk;
  return input;
}

bool AlsaMidiInput::takeClock(bool on) {
  clock_.store(on);
  try {
    in_->ignoreTypes(true, !on, true);
  } catch (const RtMidiError&) {
    return false;
  }
  return true;
}

AlsaMidiInput::~AlsaMidiInput() {
  // Closing stops RtMidi's thread before this object's queue goes.
  if (in_) in_->closePort();
}

void AlsaMidiInput::onMessage(double delta, std::vector<unsigned char>* message, void* self) {
  auto* input = static_cast<AlsaMidiInput*>(self);
  const auto arrival = std::chrono::steady_clock::now();
  std::lock_guard lock(input->mutex_);
  input->sinceFirst_ += std::max(delta, 0.0);
  const SequencerTimes::TimePoint stamped = input->times_.stamp(input->sinceFirst_, arrival);
  // Channel messages only, and MIDI clock where it is asked for.
  if (message->empty() || message->size() > 3 || (*message)[0] < 0x80 ||
      ((*message)[0] >= 0xF0 && !(input->clock_.load() && isClockMessage((*message)[0])))) {
    return;
  }
  if (input->queue_.size() >= kMaxQueued) {
    ++input->dropped_;
    return;
  }
  MidiInputEvent event;
  event.time = stamped;
  event.length = static_cast<int>(message->size());
  std::copy(message->begin(), message->end(), event.bytes);
  input->queue_.push_back(event);
}

bool AlsaMidiInput::read(MidiInputEvent* event) {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) return false;
  *event = queue_.front();
  queue_.pop_front();
  return true;
}

bool AlsaMidiInput::gone() {
  const auto now = std::chrono::steady_clock::now();
  if (gone_ || now - checked_ < kCheckEvery) return gone_;
  checked_ = now;
  const std::vector<std::string> names = listAlsaMidiInputs(clientName_ + " check");
  gone_ = std::find(names.begin(), names.end(), source_) == names.end();
  return gone_;
}

std::uint64_t AlsaMidiInput::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace pulsewright
