#include "kits/KitVoiceFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace pulsewright {

namespace {

// A voice file is a few hundred bytes; a much larger one is none.
constexpr std::uintmax_t kMaxVoiceFileBytes = std::uintmax_t{1} << 16;

std::string trimmedField(const std::string& s) {
  const std::size_t from = s.find_first_not_of(" \t\r");
  if (from == std::string::npos) return {};
  const std::size_t to = s.find_last_not_of(" \t\r");
  return s.substr(from, to - from + 1);
}

}  // namespace

std::string defaultPadMapFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data && *data == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/share";
  } else {
    return {};
  }
  return base + "/Pulsewright/padmaps";
}

std::string kitVoiceFile(const std::string& padMapFolder, const std::string& kitName) {
  // Any kit name makes one file name in the folder: nothing in it reaches elsewhere.
  std::string name;
  for (char c : kitName) name += (c == '/' || c == '\0') ? '_' : c;
  if (name.empty() || name.front() == '.') name.insert(0, "_");
  return padMapFolder + "/kits/" + name + ".voices";
}

KitVoiceMap readKitVoiceChoices(const std::string& padMapFolder, const KitInfo& kit) {
  KitVoiceMap chosen;
  chosen.fill(-1);
  if (padMapFolder.empty()) return chosen;
  const std::string path = kitVoiceFile(padMapFolder, kit.name);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kMaxVoiceFileBytes) return chosen;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string voice = trimmedField(line.substr(0, equals));
    const std::string instrument = trimmedField(line.substr(equals + 1));
    for (std::size_t v = 0; v < kVoiceCount; ++v) {
      if (voice != kVoiceCaptions[v]) continue;
      if (instrument == kKitVoiceSynthesiserName) chosen[v] = kKitVoiceSynthesiser;
      for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        if (kit.instruments[i].name == instrument) {
          chosen[v] = static_cast<int>(i);
          break;
        }
      }
    }
  }
  return chosen;
}

bool writeKitVoiceChoices(const std::string& padMapFolder, const KitInfo& kit,
                          const KitVoiceMap& chosen, std::string* problem) {
  const std::string path = kitVoiceFile(padMapFolder, kit.name);
  std::ostringstream text;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const int i = chosen[v];
    if (i == kKitVoiceSynthesiser) {
      text << kVoiceCaptions[v] << " = " << kKitVoiceSynthesiserName << "\n";
    } else if (i >= 0 && static_cast<std::size_t>(i) < kit.instruments.size()) {
      text << kVoiceCaptions[v] << " = " << kit.instruments[static_cast<std::size_t>(i)].name
           << "\n";
    }
  }
  std::error_code error;
  if (text.str().empty()) {
    std::filesystem::remove(path, error);
    return true;
  }
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  // Written beside it and renamed over it, so a reader never sees half a file.
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text.str();
    out.close();
    if (!out) {
      *problem = "cannot write " + partial;
      return false;
    }
  }
  std::filesystem::rename(partial, path, error);
  if (error) {
    *problem = "cannot write " + path + ": " + error.message();
    std::filesystem::remove(partial, error);
    return false;
  }
  return true;
}

}  // namespace pulsewright
