#pragma once
// The drum kits on this machine: Hydrogen kits (a folder with a drumkit.xml and its
// samples) and sound-font kits (an SF2 file's presets), found where their programs keep
// them, and a Hydrogen kit's description read from its drumkit.xml.

#include <optional>
#include <string>
#include <vector>

namespace pulsewright {

// Folders, separated by colons, searched for kits before every other.
inline constexpr char kKitsVariable[] = "PULSEWRIGHT_KITS";

struct KitLayerInfo {
  std::string file;  // as found on disk: the kit's folder joined to the written name
  float minVelocity = 0, maxVelocity = 1, gain = 1, pitch = 0;
};

struct KitInstrumentInfo {
  std::string name;
  float gain = 1, volume = 1, panLeft = 1, panRight = 1, pitch = 0;
  int muteGroup = -1;
  int midiNote = -1;  // -1: none given
  bool stopNote = false;
  bool muted = false;
  std::vector<KitLayerInfo> layers;
};

struct KitInfo {
  enum class Kind { kHydrogen, kSoundFont };
  Kind kind = Kind::kHydrogen;
  std::string name;
  std::string author;
  std::string licence;
  std::string folder;         // a Hydrogen kit's folder, or the folder of the sound font
  std::string file;           // its drumkit.xml, or the sound font
  int bank = 0, program = 0;  // of a sound-font kit
  std::vector<KitInstrumentInfo> instruments;
  int layerCount() const;
};

// Where Hydrogen kits are looked for, in order: PULSEWRIGHT_KITS, the user's two Hydrogen
// folders, then the system's.
std::vector<std::string> hydrogenKitFolders();
// Where sound-font kits are looked for: PULSEWRIGHT_KITS, then where sound fonts are
// installed.
std::vector<std::string> soundFontKitFolders();

// Reads `folder`/drumkit.xml. Nothing, with `problem` saying why, when the folder has
// none or it is no well-formed kit description.
std::optional<KitInfo> readHydrogenKit(const std::string& folder, std::string* problem);

struct KitSearch {
  std::vector<KitInfo> kits;          // the first of each name, in search order
  std::vector<std::string> problems;  // folders that look like kits but cannot be read
};
// Every kit in the folders above. The General MIDI fonts are no kits.
KitSearch findKits();

// The kit of that name (case and blanks at the ends do not count), or of that folder or
// file path; null when none matches.
const KitInfo* findKit(const std::vector<KitInfo>& kits, const std::string& name);

}  // namespace pulsewright
