#include "playback/PlaybackSession.h"

#include "playback/SamplePlayer.h"

namespace pulsewright {

std::vector<Diagnostic> whyNotPlayable(const CompiledDocument& document) {
  std::vector<Diagnostic> reasons;
  for (const Diagnostic& d : document.diagnostics) {
    if (d.severity == Severity::Error || d.unfinished) reasons.push_back(d);
  }
  if (reasons.empty() && !document.song->playable()) {
    Diagnostic nothing;
    nothing.severity = Severity::Error;
    nothing.text = "nothing plays: the song needs a first part with steps";
    reasons.push_back(nothing);
  }
  return reasons;
}

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

bool PlaybackSession::replaceSong(std::shared_ptr<const Song> song) {
  if (!song || !player_.playing()) return false;
  if (samples_ != nullptr) samples_->preloadSong(song->timeline.sampleFiles());
  if (!player_.replaceSong(song)) return false;
  song_ = std::move(song);
  return true;
}

}  // namespace pulsewright
