#include "playback/ClockInDriver.h"

namespace pulsewright {

ClockInDriver::ClockInDriver(MidiInput& input, PlaybackSession& session)
    : input_(input), session_(session) {
  session_.player().setExternalTime(&follower_);
}

ClockInDriver::~ClockInDriver() {
  session_.player().stop();
  session_.player().setExternalTime(nullptr);
}

void ClockInDriver::arm(std::shared_ptr<const Song> song, const PlayOptions& options) {
  song_ = std::move(song);
  options_ = options;
  // The song's times count from each Start, not from when it was armed.
  options_.startedAt = {};
  options_.from = {};
}

ClockInDriver::News ClockInDriver::poll(std::chrono::steady_clock::time_point now) {
  News news;
  if (gone_) return news;
  MidiInputEvent event;
  bool moved = false;
  while (input_.read(&event)) {
    moved = true;
    const MidiClockFollower::Command command =
        follower_.take(event.bytes, event.length, event.time);
    if (!song_) continue;
    PlayOptions from = options_;
    switch (command) {
      case MidiClockFollower::Command::kStart:
        news.started = session_.play(song_, from) || news.started;
        break;
      case MidiClockFollower::Command::kContinue: {
        const auto at = MusicalTime::of(static_cast<std::int64_t>(follower_.positionClocks()),
                                        4 * kClocksPerQuarter);
        if (at && tickAtOrAfter(song_->timeline, *at, &from.from.songPosition, &from.from.step)) {
          news.started = session_.play(song_, from) || news.started;
        }
        break;
      }
      case MidiClockFollower::Command::kStop:
        session_.player().pause();  // what sounds is silenced
        news.stopped = true;
        break;
      case MidiClockFollower::Command::kNone: break;
    }
  }
  if (moved) session_.player().externalTimeMoved();
  if (input_.gone()) {
    session_.player().pause();  // what sounds is silenced
    gone_ = true;
    news.gone = true;
    return news;
  }
  const bool stalled = follower_.silentFor(kStallAfter, now);
  news.stalled = stalled && !stalled_;
  news.resumed = !stalled && stalled_;
  stalled_ = stalled;
  return news;
}

}  // namespace pulsewright
