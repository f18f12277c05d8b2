#include "kits/KitLibrary.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <set>

#include "fileio/InputFile.h"
#include "platform/FluidSynthOutput.h"

namespace pulsewright {

namespace fs = std::filesystem;

namespace {

// A drumkit.xml larger than this is no kit description.
constexpr std::size_t kMaxDescriptionBytes = std::size_t{16} << 20;
// A sound font with this many presets or more is a General MIDI set, not a kit.
constexpr int kMaxKitPresets = 32;

std::vector<std::string> variableFolders() {
  std::vector<std::string> folders;
  const char* value = std::getenv(kKitsVariable);
  if (value == nullptr) return folders;
  std::string text = value;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(':', start), text.size());
    if (end > start) folders.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

std::string home() {
  const char* value = std::getenv("HOME");
  return value != nullptr ? value : "";
}

std::string trimmed(std::string text) {
  auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && blank(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

float number(const pugi::xml_node& node, const char* name, float otherwise) {
  const pugi::xml_node child = node.child(name);
  if (!child) return otherwise;
  const std::string text = trimmed(child.text().as_string());
  char* end = nullptr;
  const float value = std::strtof(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) return otherwise;
  return value;
}

bool flag(const pugi::xml_node& node, const char* name) {
  return lowered(trimmed(node.child(name).text().as_string())) == "true";
}

void readLayers(const pugi::xml_node& parent, const fs::path& folder, float componentGain,
                std::vector<KitLayerInfo>* layers) {
  for (const pugi::xml_node& layer : parent.children("layer")) {
    KitLayerInfo info;
    const std::string written = trimmed(layer.child("filename").text().as_string());
    if (written.empty()) continue;
    info.file = (folder / written).string();
    info.minVelocity = std::clamp(number(layer, "min", 0), 0.0f, 1.0f);
    info.maxVelocity = std::clamp(number(layer, "max", 1), 0.0f, 1.0f);
    info.gain = std::max(0.0f, number(layer, "gain", 1)) * componentGain;
    info.pitch = std::clamp(number(layer, "pitch", 0), -24.0f, 24.0f);
    layers->push_back(info);
  }
}

bool isDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// A folder's entries in name order, so that kits list the same way on every machine;
// none where it is no folder or cannot be read.
std::vector<fs::path> sortedEntries(const std::string& folder) {
  std::vector<fs::path> entries;
  if (!isDirectory(folder)) return entries;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

int KitInfo::layerCount() const {
  int count = 0;
  for (const KitInstrumentInfo& i : instruments) count += static_cast<int>(i.layers.size());
  return count;
}

std::vector<std::string> hydrogenKitFolders() {
  std::vector<std::string> folders = variableFolders();
  if (const std::string h = home(); !h.empty()) {
    folders.push_back(h + "/.hydrogen/data/drumkits");
    folders.push_back(h + "/.local/share/hydrogen/data/drumkits");
  }
  folders.emplace_back("/usr/share/hydrogen/data/drumkits");
  folders.emplace_back("/usr/local/share/hydrogen/data/drumkits");
  return folders;
}

std::vector<std::string> soundFontKitFolders() {
  std::vector<std::string> folders = variableFolders();
  if (const std::string h = home(); !h.empty()) folders.push_back(h + "/.local/share/soundfonts");
  for (const char* f :
       {"/usr/share/sounds/sf2", "/usr/share/sounds/sf3", "/usr/share/soundfonts"}) {
    folders.emplace_back(f);
  }
  return folders;
}

std::optional<KitInfo> readHydrogenKit(const std::string& folder, std::string* problem) {
  const fs::path file = fs::path(folder) / "drumkit.xml";
  std::string bytes, reason;
  if (!readRegularFile(file.string(), kMaxDescriptionBytes, &bytes, &reason)) {
    if (problem) *problem = file.string() + ": " + reason;
    return std::nullopt;
  }
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(bytes.data(), bytes.size());
  if (!parsed) {
    if (problem) {
      *problem = file.string() + ": not well-formed XML (" + parsed.description() + " at byte " +
                 std::to_string(parsed.offset) + ")";
    }
    return std::nullopt;
  }
  const pugi::xml_node root = document.child("drumkit_info");
  if (!root) {
    if (problem) *problem = file.string() + ": no drumkit_info element";
    return std::nullopt;
  }
  KitInfo kit;
  kit.kind = KitInfo::Kind::kHydrogen;
  kit.folder = folder;
  kit.file = file.string();
  kit.name = trimmed(root.child("name").text().as_string());
  if (kit.name.empty()) kit.name = fs::path(folder).filename().string();
  kit.author = trimmed(root.child("author").text().as_string());
  kit.licence = trimmed(root.child("license").text().as_string());
  for (const pugi::xml_node& node : root.child("instrumentList").children("instrument")) {
    KitInstrumentInfo instrument;
    instrument.name = trimmed(node.child("name").text().as_string());
    instrument.gain = std::max(0.0f, number(node, "gain", 1));
    instrument.volume = std::max(0.0f, number(node, "volume", 1));
    instrument.muted = flag(node, "isMuted");
    // Older kits give a gain per channel, newer ones one pan from -1 (left) to 1.
    if (node.child("pan")) {
      const float pan = std::clamp(number(node, "pan", 0), -1.0f, 1.0f);
      instrument.panLeft = pan > 0 ? 1 - pan : 1;
      instrument.panRight = pan < 0 ? 1 + pan : 1;
    } else {
      instrument.panLeft = std::clamp(number(node, "pan_L", 1), 0.0f, 1.0f);
      instrument.panRight = std::clamp(number(node, "pan_R", 1), 0.0f, 1.0f);
    }
    instrument.pitch = std::clamp(number(node, "pitchOffset", 0), -24.0f, 24.0f);
    instrument.muteGroup = static_cast<int>(number(node, "muteGroup", -1));
    if (instrument.muteGroup < 0) instrument.muteGroup = -1;
    const float note = number(node, "midiOutNote", -1);
    instrument.midiNote = note >= 0 && note <= 127 ? static_cast<int>(note) : -1;
    instrument.stopNote = flag(node, "isStopNote");
    readLayers(node, folder, 1, &instrument.layers);
    for (const pugi::xml_node& component : node.children("instrumentComponent")) {
      readLayers(component, folder, std::max(0.0f, number(component, "gain", 1)),
                 &instrument.layers);
    }
    // The oldest kits name one sample for the whole instrument.
    if (instrument.layers.empty() && node.child("filename")) {
      KitLayerInfo layer;
      layer.file = (fs::path(folder) / trimmed(node.child("filename").text().as_string())).string();
      instrument.layers.push_back(layer);
    }
    if (instrument.name.empty() && instrument.layers.empty()) continue;
    kit.instruments.push_back(std::move(instrument));
  }
  return kit;
}

KitSearch findKits() {
  KitSearch search;
  std::set<std::string> names;
  auto add = [&](KitInfo kit) {
    if (names.insert(lowered(kit.name)).second) search.kits.push_back(std::move(kit));
  };
  for (const std::string& folder : hydrogenKitFolders()) {
    for (const fs::path& entry : sortedEntries(folder)) {
      if (!isDirectory(entry)) continue;
      std::string problem;
      if (std::optional<KitInfo> kit = readHydrogenKit(entry.string(), &problem)) {
        add(std::move(*kit));
      } else {
        search.problems.push_back(problem);
      }
    }
  }
  // The General MIDI fonts are no kits, under whichever name they are installed.
  std::set<std::string> generalMidi;
  for (const std::string& font : defaultSoundFonts()) {
    std::error_code ec;
    const fs::path real = fs::canonical(font, ec);
    if (!ec) generalMidi.insert(real.string());
  }
  for (const std::string& folder : soundFontKitFolders()) {
    std::error_code ec;
    for (const fs::path& entry : sortedEntries(folder)) {
      const std::string extension = lowered(entry.extension().string());
      if (extension != ".sf2" && extension != ".sf3") continue;
      const fs::path real = fs::canonical(entry, ec);
      if (ec || generalMidi.count(real.string()) != 0) continue;
      const std::vector<SoundFontPreset> presets = soundFontPresets(entry.string());
      if (presets.empty() || static_cast<int>(presets.size()) >= kMaxKitPresets) continue;
      for (const SoundFontPreset& preset : presets) {
        KitInfo kit;
        kit.kind = KitInfo::Kind::kSoundFont;
        kit.name = trimmed(preset.name);
        if (kit.name.empty()) kit.name = entry.stem().string();
        kit.folder = folder;
        kit.file = entry.string();
        kit.bank = preset.bank;
        kit.program = preset.program;
        add(std::move(kit));
      }
    }
  }
  return search;
}

const KitInfo* findKit(const std::vector<KitInfo>& kits, const std::string& name) {
  const std::string wanted = lowered(trimmed(name));
  if (wanted.empty()) return nullptr;
  for (const KitInfo& kit : kits) {
    if (lowered(kit.name) == wanted) return &kit;
  }
  for (const KitInfo& kit : kits) {
    if (kit.kind == KitInfo::Kind::kHydrogen &&
        (kit.folder == name || lowered(fs::path(kit.folder).filename().string()) == wanted)) {
      return &kit;
    }
  }
  return nullptr;
}

}  // namespace pulsewright
