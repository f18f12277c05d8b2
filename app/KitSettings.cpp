#include "app/KitSettings.h"

#include <algorithm>

#include "kits/KitVoiceFile.h"
#include "platform/SoundOutput.h"
#include "settings/SettingsStore.h"
#include "tablature/CompiledDocument.h"
#include "tablature/DocumentKit.h"
#include "tablature/Timeline.h"

namespace pulsewright {

namespace {

const QString kKitSection = QStringLiteral("Kit");
const QString kKitNameKey = QStringLiteral("Name");

KitVoiceMap noKitVoiceChoices() {
  KitVoiceMap map;
  map.fill(-1);
  return map;
}

bool isGeneralMidi(const std::string& name) {
  return name.empty() || name == kGeneralMidiKitName;
}

}  // namespace

KitSettingsModel::KitSettingsModel(SettingsStore& settings, std::string padMapFolder,
                                   KitVoices* voices)
    : settings_(settings),
      padMapFolder_(std::move(padMapFolder)),
      voices_(voices),
      choices_(noKitVoiceChoices()) {}

KitSettingsModel::~KitSettingsModel() = default;  // the loaders' threads end with them

void KitSettingsModel::refresh() {
  search_ = findKits();
}

std::string KitSettingsModel::describe(const KitInfo& kit) {
  if (kit.kind == KitInfo::Kind::kSoundFont) {
    return kit.name + ": SF2 kit, bank " + std::to_string(kit.bank) + " program " +
           std::to_string(kit.program) + ", in " + kit.file;
  }
  return kit.name + ": Hydrogen kit, " + std::to_string(kit.instruments.size()) + " instruments, " +
         std::to_string(kit.layerCount()) + " layers, licence " +
         (kit.licence.empty() ? std::string("not given") : kit.licence) + ", in " + kit.folder;
}

std::string KitSettingsModel::chosenName() const {
  return settings_.GetSetting(kKitSection, kKitNameKey, QString()).toStdString();
}

void KitSettingsModel::choose(const std::string& name) {
  const std::string kept = isGeneralMidi(name) ? std::string() : name;
  settings_.SaveSetting(kKitSection, kKitNameKey, QString::fromStdString(kept));
}

std::string KitSettingsModel::kitFor(std::string_view documentText) const {
  const std::string line = documentKit(documentText);
  return line.empty() ? chosenName() : line;
}

void KitSettingsModel::prepare(std::string_view documentText, const PadMap& padMap) {
  const std::string name = kitFor(documentText);
  if (name == preparedName_ && padMap == padMap_) return;
  load(name, padMap);
}

void KitSettingsModel::load(const std::string& name, const PadMap& padMap) {
  if (!isGeneralMidi(name) && search_.kits.empty() && search_.problems.empty()) refresh();
  preparedName_ = name;
  padMap_ = padMap;
  if (loader_) abandoned_.push_back(std::move(loader_));
  reap();
  loaded_.reset();
  playing_ = KitChoice{};
  const KitInfo* kit = isGeneralMidi(name) ? nullptr : findKit(search_.kits, name);
  current_ = kit ? std::optional<KitInfo>(*kit) : std::nullopt;
  choices_ = kit ? readKitVoiceChoices(padMapFolder_, *kit) : noKitVoiceChoices();
  fontProblem_.clear();
  // A sound-font kit plays on the synthesiser, which plays every voice no sample kit has.
  const bool soundFont = kit && kit->kind == KitInfo::Kind::kSoundFont;
  const std::string font = soundFont ? kit->file : std::string();
  const int bank = soundFont ? kit->bank : 0, program = soundFont ? kit->program : 0;
  if (switchSoundFont_ && (font != synthFont_ || bank != synthBank_ || program != synthProgram_)) {
    synthFont_ = font;
    synthBank_ = bank;
    synthProgram_ = program;
    if (!switchSoundFont_(font, bank, program) && soundFont) {
      fontProblem_ = kit->name + ": its sound font " + font +
                     " could not be loaded: the General MIDI synthesiser plays every voice";
    }
  }
  if (!kit || kit->kind != KitInfo::Kind::kHydrogen) {
    if (voices_) voices_->setKit(nullptr);
    return;
  }
  KitLoadOptions options;
  options.sampleRate = kOutputSampleRate;
  options.padMap = padMap;
  options.chosen = choices_;
  loader_ = std::make_unique<KitLoader>(*kit, options);
}

void KitSettingsModel::reap() {
  std::erase_if(abandoned_, [](const std::unique_ptr<KitLoader>& l) { return l->done(); });
}

bool KitSettingsModel::poll() {
  reap();
  if (!loader_ || !loader_->done()) return false;
  loaded_ = loader_->take();
  loader_.reset();
  playing_.name = current_ ? current_->name : std::string();
  playing_.sound = loaded_->sound;
  if (voices_) {
    voices_->setKit(loaded_->sound);
    voices_->collect();
  }
  return true;
}

double KitSettingsModel::progress() const {
  return loader_ ? loader_->progress() : 1.0;
}

const KitInfo* KitSettingsModel::current() const {
  return current_ ? &*current_ : nullptr;
}

KitVoiceMap KitSettingsModel::voiceMap() const {
  if (loaded_) return loaded_->voices;
  if (!current_) return noKitVoiceChoices();
  KitVoiceMap map = mapKitVoices(*current_, padMap_);
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (choices_[v] >= 0) map[v] = choices_[v];
    if (choices_[v] == kKitVoiceSynthesiser) map[v] = -1;
  }
  return map;
}

bool KitSettingsModel::setVoiceChoice(std::size_t voice, int instrument, std::string* problem) {
  if (!current_ || voice >= kVoiceCount) return false;
  KitVoiceMap choices = choices_;
  choices[voice] = instrument;
  if (!writeKitVoiceChoices(padMapFolder_, *current_, choices, problem)) return false;
  load(preparedName_, padMap_);
  return true;
}

void KitSettingsModel::audition(int instrument) {
  if (voices_ && loaded_ && loaded_->sound) voices_->audition(instrument);
}

QStringList KitSettingsModel::warnings() const {
  QStringList out;
  if (!preparedName_.empty() && !current_) {
    out << QString::fromStdString("no kit is called \"" + preparedName_ +
                                  "\": the General MIDI synthesiser plays every voice");
  }
  if (!fontProblem_.empty()) out << QString::fromStdString(fontProblem_);
  if (!loaded_) return out;
  for (const std::string& problem : loaded_->problems) out << QString::fromStdString(problem);
  if (current_ && !loaded_->sound) {
    out << QString::fromStdString(current_->name +
                                  ": no sample of it could be loaded: the General MIDI "
                                  "synthesiser plays every voice");
  }
  if (song_) {
    const std::string missing = missingVoicesMessage(playing_, *song_, padMap_);
    if (!missing.empty()) out << QString::fromStdString(missing);
  }
  return out;
}

void KitSettingsModel::applyMix(const DocumentMix& mix, const PadMap& padMap) {
  if (!voices_) return;
  KitChoice gains;
  gains.setMix(mix, padMap);
  gains.applyMixTo(*voices_);
}

std::optional<KitChoice> KitSettingsModel::renderChoice(std::string_view documentText,
                                                        const PadMap& padMap) const {
  KitChoice choice;
  if (current_ && kitFor(documentText) == preparedName_) {
    choice.name = current_->name;
    if (current_->kind == KitInfo::Kind::kSoundFont) {
      if (fontProblem_.empty()) {
        choice.soundFont = current_->file;
        choice.bank = current_->bank;
        choice.program = current_->program;
      }
    } else if (loader_) {
      return std::nullopt;
    } else if (loaded_) {
      choice.sound = loaded_->sound;
    }
  }
  choice.setMix(documentMix(documentText), padMap);
  return choice;
}

CompiledDocument KitSettingsModel::withMix(const CompiledDocument& document,
                                           std::string_view documentText, const PadMap& padMap) {
  const DocumentMix mix = documentMix(documentText);
  applyMix(mix, padMap);
  CompiledDocument mixed = document;
  if (!mix.plain() && document.song) {
    mixed.song = std::make_shared<const Timeline>(withoutMixSilencedVoices(*document.song, mix));
  }
  song_ = document.song;  // the voices it asks for, muted or not
  return mixed;
}

}  // namespace pulsewright
