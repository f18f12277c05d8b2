#pragma once
// What Play does, in one place for the window, the command line and the tests: compile
// the text, build the song's timeline, load its samples and play it. The compiler lives
// as long as the session, so what carries over between two presses of Play carries over.

#include <memory>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"
#include "playback/Player.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

class SamplePlayer;

// Why a compilation made while a song plays cannot take over from it: its errors, its
// half-typed lines, or that it plays nothing. Empty when it can.
std::vector<Diagnostic> whyNotPlayable(const CompiledDocument& document);

class PlaybackSession {
 public:
  // `output`, `clock`, `samples` (may be null: nothing is loaded ahead) and `listener`
  // (may be null) must outlive the session.
  PlaybackSession(StepOutput& output, PlaybackClock& clock, SamplePlayer* samples,
                  Player::Listener* listener);

  // Compiles `text` (lines separated by CR LF) into a song; the listener (may be null)
  // hears the compiler's messages.
  std::shared_ptr<const Song> compile(std::string_view text, const PadMap& padMap,
                                      CompileListener* listener);
  // The same compilation with its metadata and, when asked, its diagnostics: what an
  // export writes is what Play plays.
  CompiledDocument compileDocument(std::string_view text, const CompileRequest& request);
  // Loads the song's sample files, then plays it. False when it cannot start. With
  // `loadAhead` the files load on the playback thread and the call returns at once.
  bool play(std::shared_ptr<const Song> song, PlayOptions options = {}, bool loadAhead = false);

  // Hands a new version of the playing song to the player, its samples loaded first: it
  // takes over at the next bar line (Player::replaceSong()). False when no song plays.
  bool replaceSong(std::shared_ptr<const Song> song);

  // The song of the latest play() or replaceSong(), null before the first.
  std::shared_ptr<const Song> song() const { return song_; }
  // The next compilation reads only the text's own metadata (TablatureCompiler).
  void forgetMetadata() { compiler_.forgetMetadata(); }
  Player& player() { return player_; }
  const TablatureCompiler& compiler() const { return compiler_; }

 private:
  TablatureCompiler compiler_;
  SamplePlayer* samples_;
  Player player_;
  std::shared_ptr<const Song> song_;
};

}  // namespace pulsewright
