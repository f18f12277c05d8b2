#include "app/SyncPlay.h"

#include <chrono>

#include "platform/JackMidiPort.h"
#include "platform/JackTransport.h"
#include "platform/MidiInput.h"
#include "playback/ClockInDriver.h"
#include "playback/TransportLayout.h"

namespace pulsewright {

namespace {
constexpr char kSyncClientName[] = "Pulsewright";
constexpr int kSyncPollMs = 5;
}  // namespace

SyncPlay::SyncPlay(const SyncSettings& choices, Transport& transport, MidiInputService* input,
                   QObject* parent)
    : QObject(parent), choices_(choices), transport_(transport), input_(input) {
  timer_.setInterval(kSyncPollMs);
  connect(&timer_, &QTimer::timeout, this, &SyncPlay::poll);
  transport_.setFollow(this);
}

SyncPlay::~SyncPlay() {
  transport_.setFollow(nullptr);
  release();
}

bool SyncPlay::release() {
  const bool followed = jack_ || clockIn_;
  timer_.stop();
  jack_.reset();  // silences what sounds
  transportEdges_ = 0;
  clockIn_.reset();
  clockInput_.reset();
  return followed;
}

bool SyncPlay::arm(std::shared_ptr<const Song> song, const PlayOptions& options) {
  release();
  if (choices_.followJackTransport) return armTransport(*song);
  if (!choices_.clockInPort.isEmpty()) return armClockIn(std::move(song), options);
  return false;
}

bool SyncPlay::armTransport(const Song& song) {
  const PlaysTo to = playsTo_ ? playsTo_() : PlaysTo{};
  const std::string port = to.port.toStdString();
  bool jackPort = false;
  if (jackServerRunning(kSyncClientName)) {
    for (const std::string& name : listJackMidiInputs(kSyncClientName)) jackPort |= name == port;
  }
  if (!jackPort) {
    // Nothing to follow through: the song plays by itself, as it did before the choice.
    emit transport_.statusChanged(kTransportNeedsJackMessage);
    return false;
  }
  int result = 0;
  jack_ = JackTransportPlayer::open(kSyncClientName, port,
                                    layOutForTransport(song.timeline, to.channel), &result);
  if (!jack_) {
    transport_.followedStop(
        QStringLiteral("Cannot follow the JACK transport (error %1).").arg(result));
    return true;
  }
  jack_->offerTimebase();
  // Play in the window plays the shared transport, as every client that follows it does.
  jack_->startRolling();
  timer_.start();
  return true;
}

bool SyncPlay::armClockIn(std::shared_ptr<const Song> song, const PlayOptions& options) {
  int result = 0;
  if (input_ != nullptr)
    clockInput_ = input_->openInput(choices_.clockInPort.toStdString(), &result);
  if (!clockInput_ || !clockInput_->takeClock(true)) {
    clockInput_.reset();
    transport_.followedStop(
        QStringLiteral("Cannot read MIDI clock from %1.").arg(choices_.clockInPort));
    return true;
  }
  clockIn_ = std::make_unique<ClockInDriver>(*clockInput_, transport_.session());
  clockIn_->arm(std::move(song), options);
  emit transport_.statusChanged("Waiting for the MIDI clock's Start or Continue.");
  timer_.start();
  return true;
}

void SyncPlay::stopPressed() {
  // The window's Stop stops the shared transport; the transport stays followed.
  if (jack_ && jack_->rolling()) jack_->stopRolling();
}

void SyncPlay::poll() {
  if (jack_) {
    if (jack_->serverGone()) {
      release();
      transport_.followedStop(kTransportGoneMessage);
      return;
    }
    if (!jack_->timebaseMaster()) jack_->offerTimebase();  // a master that went
    // By the counts, so that a roll shorter than a poll is not missed.
    const std::uint64_t edges = jack_->starts() + jack_->stops();
    if (edges != transportEdges_) {
      transportEdges_ = edges;
      if (jack_->rolling()) {
        if (transport_.state() != Transport::State::kPlaying) transport_.followedStart();
      } else {
        transport_.followedStop({});
      }
    }
    return;
  }
  if (!clockIn_) return;
  const ClockInDriver::News news = clockIn_->poll(std::chrono::steady_clock::now());
  if (news.gone) {
    release();
    transport_.followedStop(kClockInGoneMessage);
    return;
  }
  if (news.started) transport_.followedStart();
  if (news.stopped) transport_.followedStop({});
  if (news.stalled) emit transport_.statusChanged(kClockInStalledMessage);
  if (news.resumed) emit transport_.statusChanged({});
}

}  // namespace pulsewright
