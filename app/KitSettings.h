#pragma once
// Settings > Kit without its window: the kits found, the one chosen (remembered in the
// settings; a document's kit line wins over it), loaded on a loader thread and handed to
// the sampled kit's player at a block boundary, the voice map kept beside the pad maps,
// the audition of one instrument and the document's mixer applied to what plays.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kits/KitLibrary.h"
#include "kits/KitLoader.h"
#include "padmap/PadMap.h"
#include "playback/KitChoice.h"
#include "tablature/DocumentMix.h"

namespace pulsewright {

class SettingsStore;
class Timeline;
struct CompiledDocument;

// The first row of the kit list: the synthesiser, played when no kit is chosen.
inline constexpr char kGeneralMidiKitName[] = "General MIDI";

class KitSettingsModel {
 public:
  // `voices` (may be null: nothing sounds) is the sampled kit's player of the window's
  // sound; it must outlive the model.
  KitSettingsModel(SettingsStore& settings, std::string padMapFolder, KitVoices* voices);
  // Puts the window's synthesiser on a sound-font kit's font and preset ("": the General
  // MIDI fonts); false when the kit's font does not load. Called as a kit is prepared.
  using SoundFontSwitch = std::function<bool(const std::string& font, int bank, int program)>;
  void setSoundFontSwitch(SoundFontSwitch change) { switchSoundFont_ = std::move(change); }
  ~KitSettingsModel();
  KitSettingsModel(const KitSettingsModel&) = delete;
  KitSettingsModel& operator=(const KitSettingsModel&) = delete;

  // Looks for kits again (the list the CLI's `kits` shows).
  void refresh();
  const std::vector<KitInfo>& kits() const { return search_.kits; }
  const std::vector<std::string>& searchProblems() const { return search_.problems; }
  // "Name: 22 instruments, 110 layers, licence GPL, in /usr/share/...", as `kits` says it.
  static std::string describe(const KitInfo& kit);

  // The kit chosen in the window, "" for General MIDI.
  std::string chosenName() const;
  // Remembers `name` ("" or kGeneralMidiKitName: the synthesiser); the next prepare()
  // loads it, unless the document names its own kit.
  void choose(const std::string& name);
  // The kit a document plays on: its kit line, else the chosen one.
  std::string kitFor(std::string_view documentText) const;

  // The kit `documentText` plays on, loaded for `padMap` unless it is already loaded or
  // loading. Returns at once.
  void prepare(std::string_view documentText, const PadMap& padMap);
  // Hands a finished load to the player; true when one was handed over. Called by a timer.
  bool poll();
  bool loading() const { return loader_ != nullptr; }
  double progress() const;

  // The kit prepared last (loaded or loading); null for General MIDI or a name that
  // matches none.
  const KitInfo* current() const;
  // What each voice plays in it (-1: the synthesiser), once loaded; else as found.
  KitVoiceMap voiceMap() const;
  // The voice map chosen by hand (-1: as found, kKitVoiceSynthesiser: the synthesiser).
  const KitVoiceMap& voiceChoices() const { return choices_; }
  // Plays `instrument` of the current kit for `voice` from now on, kept beside the pad
  // maps; the kit loads again with it. False with `problem` set when it cannot be kept.
  bool setVoiceChoice(std::size_t voice, int instrument, std::string* problem);

  // Plays one instrument of the current kit once (when it is loaded).
  void audition(int instrument);

  // What the problems list says about the kit: what it left out, and the voices of the
  // song played last (withMix) that it leaves to the synthesiser.
  QStringList warnings() const;

  // The document's mixer on what plays: gains on the kit's notes, and `document`'s song
  // without the voices it mutes (the document itself when it mutes none).
  void applyMix(const DocumentMix& mix, const PadMap& padMap);
  // What a render of `documentText` plays on, as Play plays it: the prepared kit (a
  // Hydrogen kit once loaded, an SF2 kit's font and preset) and the document's mixer.
  // Null while the document's kit is still loading.
  std::optional<KitChoice> renderChoice(std::string_view documentText, const PadMap& padMap) const;
  CompiledDocument withMix(const CompiledDocument& document, std::string_view documentText,
                           const PadMap& padMap);

 private:
  void load(const std::string& name, const PadMap& padMap);
  void reap();

  SettingsStore& settings_;
  std::string padMapFolder_;
  KitVoices* voices_;
  KitSearch search_;
  std::optional<KitInfo> current_;
  PadMap padMap_{};
  KitVoiceMap choices_{};
  std::unique_ptr<KitLoader> loader_;
  std::vector<std::unique_ptr<KitLoader>> abandoned_;  // superseded loads, ended by reap()
  std::optional<KitLoadResult> loaded_;
  KitChoice playing_;  // for the missing-voices message
  std::string preparedName_;
  std::shared_ptr<const Timeline> song_;  // played last
  SoundFontSwitch switchSoundFont_;
  std::string synthFont_;  // what the synthesiser was last put on, and its preset
  int synthBank_ = 0, synthProgram_ = 0;
  std::string fontProblem_;  // the SF2 kit's font did not load
};

}  // namespace pulsewright
