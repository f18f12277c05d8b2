#include "kits/KitLoader.h"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

namespace pulsewright {

namespace {

using V = DrumVoice;

std::vector<std::string> words(const std::string& name) {
  std::vector<std::string> out;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) out.push_back(word);
    word.clear();
  };
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) {
      // "Tom1" is "tom 1": a digit after letters starts a word.
      if (std::isdigit(u) && !word.empty() &&
          !std::isdigit(static_cast<unsigned char>(word.back()))) {
        flush();
      }
      word += static_cast<char>(std::tolower(u));
    } else {
      flush();
    }
  }
  flush();
  // "hihat", "hi hat", "hi-hat" and "hh" are all one word.
  std::vector<std::string> joined;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == "hi" && i + 1 < out.size() && out[i + 1] == "hat") {
      joined.emplace_back("hihat");
      ++i;
    } else if (out[i] == "hh" || out[i] == "hat" || out[i] == "hats" || out[i] == "hihats") {
      joined.emplace_back("hihat");
    } else if (out[i] == "chh") {
      joined.emplace_back("hihat"), joined.emplace_back("closed");
    } else if (out[i] == "ohh") {
      joined.emplace_back("hihat"), joined.emplace_back("open");
    } else if (out[i] == "bass" && i + 1 < out.size() && out[i + 1] == "drum") {
      joined.emplace_back("kick");
      ++i;
    } else if (out[i] == "bassdrum" || out[i] == "bd") {
      joined.emplace_back("kick");
    } else if (out[i] == "cow" && i + 1 < out.size() && out[i + 1] == "bell") {
      joined.emplace_back("cowbell");
      ++i;
    } else {
      joined.push_back(out[i]);
    }
  }
  return joined;
}

bool has(const std::vector<std::string>& w, std::initializer_list<const char*> any) {
  for (const char* a : any) {
    if (std::find(w.begin(), w.end(), a) != w.end()) return true;
  }
  return false;
}

// How well an instrument's name fits a voice: 0 not at all; words that make it a variant
// (a rim shot, a choked cymbal) lower it.
int fit(V voice, const std::vector<std::string>& w) {
  const int variant =
      (has(w, {"choke", "choked", "swish", "flink", "roll", "ghost", "flam", "brush", "rim",
               "rimshot", "stick", "side", "semi", "half", "2", "mute"})
           ? 1
           : 0) +
      (has(w, {"edge", "tip", "crossstick", "cross"}) ? 1 : 0);
  auto score = [&](bool matches) { return matches ? 10 - 3 * variant : 0; };
  switch (voice) {
    case V::BassDrum: return score(has(w, {"kick"}));
    case V::SnareDrum: return score(has(w, {"snare"}));
    case V::ClosedHat:
      return has(w, {"hihat"}) && has(w, {"closed", "close", "closd", "tight"}) ? score(true)
             : has(w, {"hihat"}) &&
                     !has(w, {"open", "opened", "op", "pedal", "foot", "semi", "half"})
                 ? score(true) - 4
                 : 0;
    case V::PedalHat: return score(has(w, {"hihat"}) && has(w, {"pedal", "foot"}));
    case V::OpenHat: return score(has(w, {"hihat"}) && has(w, {"open", "opened", "op"}));
    case V::Ride: return score(has(w, {"ride"}) && !has(w, {"bell", "cup", "crash"}));
    case V::Bell:
      return (has(w, {"ride"}) && has(w, {"bell", "cup"})) ? score(true)
             : has(w, {"bell"}) && !has(w, {"cowbell"})    ? score(true) - 2
                                                           : 0;
    case V::Claps: return score(has(w, {"clap", "claps", "handclap", "handclaps"}));
    case V::CowBell: return score(has(w, {"cowbell"}));
    default: return 0;
  }
}

// Where a tom sits from high (0) to low (3), by its name; 1.5 when it does not say.
double tomHeight(const std::vector<std::string>& w) {
  if (has(w, {"floor", "4", "lowest"})) return 3;
  if (has(w, {"low", "lo", "3"})) return 2;
  if (has(w, {"mid", "middle", "med", "2"})) return 1;
  if (has(w, {"high", "hi", "1", "rack", "small"})) return 0;
  return 1.5;
}

bool isCrash(const std::vector<std::string>& w) {
  return has(w, {"crash"}) && !has(w, {"ride"});
}

bool isPerc(const std::vector<std::string>& w) {
  return has(
      w, {"perc", "percussion", "tambourine", "tamb", "shaker", "maraca", "maracas", "agogo",
          "conga", "bongo", "cabasa", "guiro", "clave", "claves", "block", "triangle", "cajon"});
}

int noteOfEntry(const std::string& entry) {
  const std::optional<double> n = padEntryNumber(entry);
  if (!n || *n < 0 || *n > 127) return -1;
  return static_cast<int>(std::lround(*n));
}

}  // namespace

bool kitGivesNotes(const KitInfo& kit) {
  std::set<int> notes;
  bool numbered = true;  // 36, 37, 38... as a new instrument gets them
  int given = 0;
  for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
    const int note = kit.instruments[i].midiNote;
    if (note < 0) continue;
    ++given;
    notes.insert(note);
    if (note != 36 + static_cast<int>(i)) numbered = false;
  }
  return given > 1 && notes.size() == static_cast<std::size_t>(given) && !numbered;
}

KitVoiceMap mapKitVoices(const KitInfo& kit, const PadMap& padMap) {
  KitVoiceMap map;
  map.fill(-1);
  std::vector<std::vector<std::string>> names;
  for (const KitInstrumentInfo& i : kit.instruments) names.push_back(words(i.name));
  const int count = static_cast<int>(kit.instruments.size());
  auto playable = [&](int i) {
    return !kit.instruments[static_cast<std::size_t>(i)].layers.empty();
  };

  // The kit's own notes first, where they are real ones.
  if (kitGivesNotes(kit)) {
    for (std::size_t v = 0; v < kVoiceCount; ++v) {
      const int note = noteOfEntry(padMap[v]);
      for (int i = 0; i < count && note >= 0; ++i) {
        if (kit.instruments[static_cast<std::size_t>(i)].midiNote == note && playable(i)) {
          map[v] = i;
          break;
        }
      }
    }
  }
  auto best = [&](V voice) {
    int chosen = -1, top = 0;
    for (int i = 0; i < count; ++i) {
      const int s = playable(i) ? fit(voice, names[static_cast<std::size_t>(i)]) : 0;
      if (s > top) top = s, chosen = i;
    }
    return chosen;
  };
  for (V voice : {V::BassDrum, V::SnareDrum, V::ClosedHat, V::PedalHat, V::OpenHat, V::Ride,
                  V::Bell, V::Claps, V::CowBell}) {
    if (map[index(voice)] < 0) map[index(voice)] = best(voice);
  }
  // Toms from high to low spread over Tom 1-4; cymbals and percussion in kit order.
  std::vector<int> toms, crashes, others, percs;
  for (int i = 0; i < count; ++i) {
    if (!playable(i)) continue;
    const auto& w = names[static_cast<std::size_t>(i)];
    if (has(w, {"tom", "toms"})) toms.push_back(i);
    if (isCrash(w)) crashes.push_back(i);
    if (has(w, {"splash", "china"})) others.push_back(i);
    if (isPerc(w)) percs.push_back(i);
  }
  std::stable_sort(toms.begin(), toms.end(), [&](int a, int b) {
    return tomHeight(names[static_cast<std::size_t>(a)]) <
           tomHeight(names[static_cast<std::size_t>(b)]);
  });
  const std::array<V, 4> tomVoices = {V::Tom1, V::Tom2, V::Tom3, V::Tom4};
  for (std::size_t k = 0; k < tomVoices.size() && !toms.empty(); ++k) {
    if (map[index(tomVoices[k])] >= 0) continue;
    const auto at = static_cast<std::size_t>(
        std::lround(static_cast<double>(k) * static_cast<double>(toms.size() - 1) / 3.0));
    map[index(tomVoices[k])] = toms[at];
  }
  // Plain crashes before their choked variants.
  std::stable_sort(crashes.begin(), crashes.end(), [&](int a, int b) {
    return has(names[static_cast<std::size_t>(a)], {"choke", "choked"}) <
           has(names[static_cast<std::size_t>(b)], {"choke", "choked"});
  });
  crashes.insert(crashes.end(), others.begin(), others.end());
  if (map[index(V::Crash1)] < 0 && !crashes.empty()) map[index(V::Crash1)] = crashes[0];
  if (map[index(V::Crash2)] < 0 && !crashes.empty()) {
    map[index(V::Crash2)] = crashes.size() > 1 ? crashes[1] : crashes[0];
  }
  if (map[index(V::Perc1)] < 0 && !percs.empty()) map[index(V::Perc1)] = percs[0];
  if (map[index(V::Perc2)] < 0 && percs.size() > 1) map[index(V::Perc2)] = percs[1];
  return map;
}

bool decodeKitSample(const std::string& file, int sampleRate, float pitch, std::size_t maxBytes,
                     KitSampleData* out, std::string* reason) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) {
    *reason = "the file is missing";
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    *reason = "it is no regular file";
    return false;
  }
  SF_INFO info{};
  SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
  if (!sound) {
    *reason = std::string("it cannot be decoded (") + sf_strerror(nullptr) + ")";
    return false;
  }
  struct Closer {
    SNDFILE* s;
    ~Closer() { sf_close(s); }
  } closer{sound};
  if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
    *reason = "it holds no sound";
    return false;
  }
  const int channels = std::min(info.channels, 2);
  const double ratio =
      static_cast<double>(sampleRate) / info.samplerate / std::pow(2.0, pitch / 12.0);
  const double outFrames = std::ceil(static_cast<double>(info.frames) * ratio) + 1;
  const double bytes =
      (static_cast<double>(info.frames) * info.channels + outFrames * channels) * sizeof(float);
  if (bytes > static_cast<double>(maxBytes)) {
    char size[32];
    std::snprintf(size, sizeof size, "%.1f", bytes / 1048576.0);
    *reason = std::string("it would take ") + size + " MB, more than the memory left for the kit";
    return false;
  }
  std::vector<float> raw(static_cast<std::size_t>(info.frames) * info.channels);
  const sf_count_t read = sf_readf_float(sound, raw.data(), info.frames);
  if (read <= 0) {
    *reason = "it cannot be decoded (no frame could be read)";
    return false;
  }
  // Two channels at most: the first two of a wider file.
  std::vector<float> in(static_cast<std::size_t>(read) * channels);
  for (sf_count_t f = 0; f < read; ++f) {
    for (int c = 0; c < channels; ++c) {
      in[static_cast<std::size_t>(f * channels + c)] =
          raw[static_cast<std::size_t>(f * info.channels + c)];
    }
  }
  raw = {};
  out->channels = channels;
  if (std::abs(ratio - 1.0) < 1e-9) {
    out->pcm = std::move(in);
    return true;
  }
  std::vector<float> resampled(static_cast<std::size_t>(std::ceil(read * ratio) + 1) * channels);
  SRC_DATA data{};
  data.data_in = in.data();
  data.input_frames = static_cast<long>(read);
  data.data_out = resampled.data();
  data.output_frames = static_cast<long>(resampled.size() / channels);
  data.src_ratio = ratio;
  const int error = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, channels);
  if (error != 0) {
    *reason = std::string("it cannot be resampled (") + src_strerror(error) + ")";
    return false;
  }
  resampled.resize(static_cast<std::size_t>(data.output_frames_gen) * channels);
  resampled.shrink_to_fit();
  out->pcm = std::move(resampled);
  return true;
}

KitLoadResult loadKit(const KitInfo& kit, const KitLoadOptions& options,
                      const std::function<void(double)>& progress) {
  KitLoadResult result;
  result.voices = mapKitVoices(kit, options.padMap);
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const int chosen = options.chosen[v];
    if (chosen >= 0 && chosen < static_cast<int>(kit.instruments.size())) result.voices[v] = chosen;
    if (chosen < -1) result.voices[v] = -1;  // sent to the synthesiser by hand
  }
  auto sound = std::make_shared<KitSound>();
  sound->name = kit.name;

  const std::size_t total =
      std::min<std::size_t>(kit.instruments.size(), KitSound::kMaxInstruments);
  if (kit.instruments.size() > total) {
    result.problems.push_back(kit.name + ": only its first " + std::to_string(total) +
                              " instruments are played");
  }
  int layersDone = 0;
  int overBudget = 0;
  const int layers = std::max(1, kit.layerCount());
  std::map<std::pair<std::string, float>, int> decoded;  // file and pitch -> sample
  for (std::size_t i = 0; i < total; ++i) {
    const KitInstrumentInfo& info = kit.instruments[i];
    KitInstrument instrument;
    instrument.name = info.name;
    const float gain = info.gain * info.volume;
    instrument.left = gain * info.panLeft;
    instrument.right = gain * info.panRight;
    instrument.muteGroup = info.muteGroup;
    instrument.stopNote = info.stopNote;
    for (const KitLayerInfo& layerInfo : info.layers) {
      ++layersDone;
      const float pitch = layerInfo.pitch + info.pitch;
      KitLayer layer;
      layer.minVelocity = layerInfo.minVelocity;
      layer.maxVelocity = layerInfo.maxVelocity;
      layer.gain = layerInfo.gain;
      const auto key = std::make_pair(layerInfo.file, pitch);
      if (const auto found = decoded.find(key); found != decoded.end()) {
        layer.sample = found->second;
      } else {
        KitSampleData data;
        std::string reason;
        const std::size_t left =
            options.memoryBudget > result.bytes ? options.memoryBudget - result.bytes : 0;
        bool ok = false;
        try {
          ok = decodeKitSample(layerInfo.file, options.sampleRate, pitch, left, &data, &reason);
        } catch (const std::bad_alloc&) {
          reason = "there is not enough memory to decode it";
        }
        if (ok) {
          layer.sample = static_cast<int>(sound->samples.size());
          result.bytes += data.pcm.capacity() * sizeof(float);
          sound->samples.push_back(std::move(data));
          ++result.samplesLoaded;
        } else {
          ++result.samplesLeftOut;
          if (reason.find("memory left") != std::string::npos) ++overBudget;
          result.problems.push_back(kit.name + ": " + info.name + ": " +
                                    std::filesystem::path(layerInfo.file).filename().string() +
                                    " left out: " + reason);
        }
        decoded[key] = layer.sample;
      }
      if (layer.sample >= 0) instrument.layers.push_back(layer);
      if (progress) progress(static_cast<double>(layersDone) / layers);
    }
    sound->instruments.push_back(std::move(instrument));
  }
  if (overBudget > 0) {
    char budget[32];
    std::snprintf(budget, sizeof budget, "%.1f",
                  static_cast<double>(options.memoryBudget) / 1048576.0);
    result.problems.push_back(kit.name + ": " + std::to_string(overBudget) +
                              " samples left out: the kit takes more than the " + budget +
                              " MB kept for samples");
  }
  // A voice whose instrument has no sample left plays on the synthesiser.
  for (int& instrument : result.voices) {
    if (instrument >= static_cast<int>(total) ||
        (instrument >= 0 &&
         sound->instruments[static_cast<std::size_t>(instrument)].layers.empty())) {
      instrument = -1;
    }
  }
  // The hats close each other, the way a real hi-hat closes, even where the kit puts them
  // in no mute group.
  const int hats[] = {result.voices[index(V::ClosedHat)], result.voices[index(V::PedalHat)],
                      result.voices[index(V::OpenHat)]};
  bool grouped = false;
  int nextGroup = 0;
  for (const KitInstrument& i : sound->instruments)
    nextGroup = std::max(nextGroup, i.muteGroup + 1);
  for (int h : hats)
    grouped = grouped || (h >= 0 && sound->instruments[static_cast<std::size_t>(h)].muteGroup >= 0);
  if (!grouped) {
    for (int h : hats) {
      if (h >= 0) sound->instruments[static_cast<std::size_t>(h)].muteGroup = nextGroup;
    }
  }
  // The notes: each voice's note of the pad map plays its instrument; where the kit gives
  // real notes, those play their instruments too.
  if (kitGivesNotes(kit)) {
    for (std::size_t i = 0; i < total; ++i) {
      const int note = kit.instruments[i].midiNote;
      if (note >= 0 && !sound->instruments[i].layers.empty()) {
        sound->instrumentOfNote[static_cast<std::size_t>(note)] = static_cast<std::int16_t>(i);
      }
    }
  }
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const int note = noteOfEntry(options.padMap[v]);
    if (note >= 0 && result.voices[v] >= 0) {
      sound->instrumentOfNote[static_cast<std::size_t>(note)] =
          static_cast<std::int16_t>(result.voices[v]);
    } else if (note >= 0 && options.chosen[v] < -1) {
      sound->instrumentOfNote[static_cast<std::size_t>(note)] = -1;
    }
  }
  if (progress) progress(1.0);
  if (result.samplesLoaded > 0) result.sound = std::move(sound);
  return result;
}

KitLoader::KitLoader(KitInfo kit, KitLoadOptions options)
    : thread_([this, kit = std::move(kit), options = std::move(options)] {
        result_ = loadKit(kit, options, [this](double f) { progress_.store(f); });
        done_.store(true);
      }) {}

KitLoader::~KitLoader() {
  if (thread_.joinable()) thread_.join();
}

KitLoadResult KitLoader::take() {
  if (thread_.joinable()) thread_.join();
  return std::move(result_);
}

}  // namespace pulsewright
