#include "playback/PlaybackSession.h"

#include "playback/SamplePlayer.h"

namespace pulsewright {

PlaybackSession::PlaybackSession(StepOutput& output, PlaybackClock& clock, SamplePlayer* samples,
                                 Player::Listener* listener)
    : samples_(samples), player_(output, clock, listener) {}

std::shared_ptr<const Song> PlaybackSession::compile(std::string_view text, const PadMap& padMap,
                                                     CompileListener* listener) {
  compiler_.compile(text, padMap, listener);
  const CompilerState& state = compiler_.state();
  return makeSong(state.partTable, state.songLine, state.sourceMap);
}

bool PlaybackSession::play(std::shared_ptr<const Song> song, const PlayOptions& options) {
  song_ = song;
  if (samples_ != nullptr) {
    // Kept in memory while it is the song; skipped samples are reported once per Play.
    samples_->beginPlay();
    samples_->preloadSong(song->timeline.sampleFiles());
  }
  return player_.play(std::move(song), options);
}

}  // namespace pulsewright
