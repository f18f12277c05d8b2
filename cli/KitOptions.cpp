#include "cli/KitOptions.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <set>
#include <thread>

#include "cli/Command.h"
#include "kits/KitLibrary.h"
#include "kits/KitLoader.h"
#include "kits/KitVoiceFile.h"
#include "playback/SamplePlayer.h"
#include "tablature/DocumentKit.h"
#include "tablature/Timeline.h"

namespace pulsewright {

namespace {

void printKit(const KitInfo& kit, std::ostream& out) {
  out << "  " << kit.name << ": ";
  if (kit.kind == KitInfo::Kind::kHydrogen) {
    out << "Hydrogen kit, " << kit.instruments.size() << " instruments, " << kit.layerCount()
        << " layers, licence " << (kit.licence.empty() ? "not given" : kit.licence) << ", in "
        << kit.folder << "\n";
  } else {
    out << "SF2 kit, bank " << kit.bank << " program " << kit.program << ", in " << kit.file
        << "\n";
  }
}

void printKits(const KitSearch& search, std::ostream& out) {
  for (const KitInfo& kit : search.kits) printKit(kit, out);
  if (search.kits.empty()) {
    out << "  (none: install hydrogen-drumkits or avldrums.lv2-soundfont, or name a folder in "
        << kKitsVariable << ")\n";
  }
}

}  // namespace

void addKitOption(CLI::App& command, std::string& kit) {
  command
      .add_option("--kit", kit,
                  "play on this drum kit (a Hydrogen or SF2 kit, as `kits` lists them); the "
                  "General MIDI synthesiser plays the voices it lacks")
      ->option_text("NAME");
}

int chooseKit(const std::string& option, const std::string& documentText, const PadMap& padMap,
              int sampleRate, std::ostream& err, KitChoice* choice) {
  *choice = KitChoice{};
  const std::string name = option.empty() ? documentKit(documentText) : option;
  if (name.empty()) return kExitOk;
  KitSearch search = findKits();
  const KitInfo* kit = findKit(search.kits, name);
  std::optional<KitInfo> direct;
  if (!kit && std::filesystem::is_regular_file(std::filesystem::path(name) / "drumkit.xml")) {
    std::string problem;
    direct = readHydrogenKit(name, &problem);
    if (!direct) {
      err << "pulsewright-cli: kit: " << problem << "\n";
      return kExitError;
    }
    kit = &*direct;
  }
  if (!kit) {
    err << "pulsewright-cli: " << (option.empty() ? "the document's kit line" : "--kit")
        << ": no kit is called \"" << name << "\"; the kits found:\n";
    printKits(search, err);
    return kExitError;
  }
  choice->name = kit->name;
  if (kit->kind == KitInfo::Kind::kSoundFont) {
    choice->soundFont = kit->file;
    choice->bank = kit->bank;
    choice->program = kit->program;
    return kExitOk;
  }
  KitLoadOptions options;
  options.sampleRate = sampleRate;
  options.memoryBudget = kDefaultSampleMemoryBytes;
  options.padMap = padMap;
  // The voice map chosen in the window's Settings > Kit.
  options.chosen = readKitVoiceChoices(defaultPadMapFolder(), *kit);
  KitLoader loader(*kit, options);
  // Decoding a large kit takes a while: a terminal sees how far it is.
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  bool shown = false;
  const auto started = std::chrono::steady_clock::now();
  while (!loader.done()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (terminal && std::chrono::steady_clock::now() - started > std::chrono::milliseconds(300)) {
      err << "\rloading " << kit->name << ": " << static_cast<int>(loader.progress() * 100) << "%"
          << std::flush;
      shown = true;
    }
  }
  if (shown) err << "\n";
  KitLoadResult result = loader.take();
  for (const std::string& problem : result.problems) err << "pulsewright-cli: " << problem << "\n";
  if (!result.sound) {
    err << "pulsewright-cli: " << kit->name
        << ": no sample of it could be loaded: the General MIDI synthesiser plays every voice\n";
    return kExitOk;
  }
  choice->sound = result.sound;
  return kExitOk;
}

void reportMissingVoices(const KitChoice& choice, const Timeline& song, const PadMap& padMap,
                         std::ostream& err) {
  const std::string message = missingVoicesMessage(choice, song, padMap);
  if (!message.empty()) err << "pulsewright-cli: " << message << "\n";
}

void addKitsCommand(CLI::App& app, CliContext& context) {
  auto voices = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand(
      "kits", "list the drum kits found: Hydrogen kits (" + std::string(kKitsVariable) +
                  ", ~/.hydrogen, ~/.local/share/hydrogen, /usr/share/hydrogen) and SF2 kits");
  command->add_flag("--voices", *voices, "show which instrument each drum voice plays");
  command->callback([&context, voices] {
    const KitSearch search = findKits();
    context.out << "Drum kits:\n";
    printKits(search, context.out);
    if (*voices) {
      for (const KitInfo& kit : search.kits) {
        if (kit.kind != KitInfo::Kind::kHydrogen) continue;
        context.out << kit.name << ":\n";
        const KitVoiceMap map = mapKitVoices(kit);
        for (std::size_t v = 0; v < kVoiceCount; ++v) {
          context.out << "  " << kVoiceCaptions[v] << ": "
                      << (map[v] >= 0 ? kit.instruments[static_cast<std::size_t>(map[v])].name
                                      : "(the General MIDI synthesiser)")
                      << "\n";
        }
      }
    }
    for (const std::string& problem : search.problems) {
      context.err << "pulsewright-cli: " << problem << "\n";
    }
    context.status = kExitOk;
  });
}

}  // namespace pulsewright
