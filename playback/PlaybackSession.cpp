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
    for (const std::string& file : song->timeline.sampleFiles()) samples_->preload(file);
  }
  return player_.play(std::move(song), options);
}

}  // namespace pulsewright
