#include "playback/PlaybackSession.h"

#include "playback/SamplePlayer.h"

namespace pulsewright {

PlaybackSession::PlaybackSession(StepOutput& output, PlaybackClock& clock, SamplePlayer* samples,
                                 Player::Listener* listener)
    : samples_(samples), player_(output, clock, listener) {}

std::shared_ptr<const Song> PlaybackSession::compile(std::string_view text, const PadMap& padMap,
                                                     CompileListener* listener) {
  CompileRequest request;
  request.padMap = padMap;
  request.listener = listener;
  request.diagnose = false;
  return makeSong(compileDocument(text, request).song);
}

CompiledDocument PlaybackSession::compileDocument(std::string_view text,
                                                  const CompileRequest& request) {
  return pulsewright::compileDocument(compiler_, text, request);
}

bool PlaybackSession::play(std::shared_ptr<const Song> song, PlayOptions options, bool loadAhead) {
  song_ = song;
  if (samples_ != nullptr) {
    // Kept in memory while it is the song; skipped samples are reported once per Play.
    samples_->beginPlay();
    if (loadAhead && !song->timeline.sampleFiles().empty()) {
      options.prepare = [samples = samples_, files = song->timeline.sampleFiles()] {
        samples->preloadSong(files);
      };
    } else {
      samples_->preloadSong(song->timeline.sampleFiles());
    }
  }
  return player_.play(std::move(song), options);
}

}  // namespace pulsewright
