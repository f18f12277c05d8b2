#include "tabimport/Hydrogen.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <unordered_map>

#include "padmap/DrumVoice.h"
#include "padmap/PadMap.h"
#include "tabimport/XmlFields.h"
#include "tabimport/XmlPosition.h"
#include "tabimport/XmlWarnings.h"
#include "tablature/ImportWriter.h"

namespace pulsewright {

namespace {

using V = DrumVoice;

constexpr int kTicksPerWhole = 192;  // Hydrogen's 48 to the quarter
// The note sizes a part may be written in, fewest steps first; each divides 192 ticks.
constexpr int kGrids[] = {8, 12, 16, 24, 32, 48, 64, 96, 192};
constexpr long kMaxPatternTicks = kTicksPerWhole * 1000;
constexpr std::size_t kMaxColumns = 1'000'000;
constexpr std::size_t kMaxWarnings = 200;
constexpr int kDefaultTempo = 120;

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool has(const std::string& text, std::string_view word) {
  return text.find(word) != std::string::npos;
}

}  // namespace

// Kits name their drums plainly; their MIDI notes are often left as numbered.
std::optional<DrumVoice> hydrogenVoiceOf(std::string_view instrumentName, int midiNote,
                                         std::string* nearest) {
  const std::string name = lower(instrumentName);
  if (has(name, "kick") || has(name, "bass drum") || name == "bd") return V::BassDrum;
  if (has(name, "stick") || has(name, "rim")) {
    if (nearest) *nearest = "a cross-stick";
    return V::SnareDrum;
  }
  if (has(name, "snare")) return V::SnareDrum;
  if (has(name, "clap")) return V::Claps;
  if (has(name, "cowbell") || has(name, "cow bell")) return V::CowBell;
  if (has(name, "hh") || has(name, "hat")) {
    if (has(name, "open")) return V::OpenHat;
    if (has(name, "pedal") || has(name, "foot")) return V::PedalHat;
    return V::ClosedHat;
  }
  if (name == "bell" || (has(name, "ride") && has(name, "bell"))) return V::Bell;
  if (has(name, "ride")) return V::Ride;
  if (has(name, "crash") || has(name, "splash") || has(name, "china") || has(name, "cymbal")) {
    return has(name, "2") || has(name, "china") || has(name, "jazz") ? V::Crash2 : V::Crash1;
  }
  if (has(name, "tom")) {
    if (has(name, "floor") || has(name, "4")) return V::Tom4;
    if (has(name, "low") || has(name, "3")) return V::Tom3;
    if (has(name, "mid") || has(name, "2")) return V::Tom2;
    return V::Tom1;
  }
  if (midiNote >= 0 && midiNote <= 127) return drumVoiceOfKey(midiNote);
  return std::nullopt;
}

namespace {

struct Note {
  long tick;
  DrumVoice voice;
  std::uint8_t level;
};

struct Pattern {
  long size = kTicksPerWhole;
  int denominator = 4;
  std::vector<Note> notes;
  std::vector<std::string> virtuals;
};

// The instruments of a kit that pattern files leave out: Hydrogen's default kit, by id.
constexpr std::string_view kDefaultKitNames[] = {
    "Kick",       "Stick", "Snare",     "Hand Clap", "Snare Rimshot", "Floor Tom",
    "Hat Closed", "Tom 2", "Hat Pedal", "Tom 1",     "Hat Open",      "Cowbell",
    "Ride",       "Crash", "Ride 2",    "Splash",    "Hat Semi-Open", "Bell"};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  HydrogenImport run();

 private:
  void warn(const pugi::xml_node& node, std::string text) { warnings_.warn(node, std::move(text)); }
  void readInstruments(const pugi::xml_node& list);
  Pattern readPattern(const pugi::xml_node& node);
  bool playColumn(const std::vector<const Pattern*>& patterns, int tempo);
  void warnMerged(const pugi::xml_node& root);

  std::string_view bytes_;
  HydrogenImport result_;
  CappedXmlWarnings warnings_{bytes_, kMaxWarnings, &result_.warnings};
  std::unordered_map<std::string, DrumVoice> instruments_;  // by id
  bool defaultKit_ = false;
  ImportWriter writer_;
};

void Reader::readInstruments(const pugi::xml_node& list) {
  for (const pugi::xml_node& i : list.children("instrument")) {
    const std::string id = xmlChildText(i, "id");
    const std::string name = xmlChildText(i, "name");
    const std::optional<double> note = xmlChildNumber(i, "midiOutNote");
    std::string nearest;
    std::optional<DrumVoice> voice = hydrogenVoiceOf(
        name, note && *note >= 0 && *note <= 127 ? static_cast<int>(*note) : -1, &nearest);
    if (!nearest.empty()) {
      std::string text = "instrument \"" + name;
      text += "\" is " + nearest + ": played as ";
      text += kVoiceCaptions[index(*voice)];
      warn(i, std::move(text));
    }
    if (!voice) {
      voice = V::Perc1;
      warn(i, "instrument \"" + name + "\" is no drum this program knows: played as Perc 1");
    }
    instruments_[id] = *voice;
  }
}

Pattern Reader::readPattern(const pugi::xml_node& node) {
  Pattern p;
  if (const auto size = xmlChildNumber(node, "size")) {
    p.size = std::clamp(std::lround(*size), 1L, kMaxPatternTicks);
    if (std::lround(*size) != p.size) warn(node, "pattern size cut to " + std::to_string(p.size));
  }
  if (const auto d = xmlChildNumber(node, "denominator")) {
    const long den = std::lround(*d);
    if (den == 1 || den == 2 || den == 4 || den == 8 || den == 16 || den == 32)
      p.denominator = static_cast<int>(den);
  }
  std::size_t outside = 0;
  pugi::xml_node firstOutside;
  for (const pugi::xml_node& n : node.child("noteList").children("note")) {
    const auto position = xmlChildNumber(n, "position");
    if (!position || *position < 0) {
      warn(n, "note without a position left out");
      continue;
    }
    const long tick = std::lround(*position);
    if (tick >= p.size) {
      if (outside++ == 0) firstOutside = n;
      continue;
    }
    if (xmlChildText(n, "note_off") == "true") continue;
    const std::string id = xmlChildText(n, "instrument");
    auto it = instruments_.find(id);
    if (it == instruments_.end()) {
      // A pattern file names no instruments: its ids are those of the default kit.
      const std::optional<double> number = xmlChildNumber(n, "instrument");
      if (defaultKit_ && number && *number >= 0 &&
          *number < static_cast<double>(std::size(kDefaultKitNames))) {
        const auto k = static_cast<std::size_t>(*number);
        std::string nearest;
        const DrumVoice voice = *hydrogenVoiceOf(kDefaultKitNames[k], -1, &nearest);
        it = instruments_.emplace(id, voice).first;
        if (!nearest.empty()) {
          warn(n, "instrument \"" + std::string(kDefaultKitNames[k]) + "\" is " + nearest +
                      ": played as " + std::string(kVoiceCaptions[index(voice)]));
        }
      } else {
        warn(n, "note of instrument \"" + id + "\", which the song does not list, left out");
        continue;
      }
    }
    const double velocity = xmlChildNumber(n, "velocity").value_or(0.8);
    const int midi = static_cast<int>(std::lround(std::clamp(velocity, 0.0, 1.0) * 127));
    p.notes.push_back({tick, it->second, static_cast<std::uint8_t>(levelOfImportedVelocity(midi))});
  }
  if (outside > 0) {
    warn(firstOutside, std::to_string(outside) + " notes past the pattern's end left out");
  }
  return p;
}

bool Reader::playColumn(const std::vector<const Pattern*>& patterns, int tempo) {
  long size = 0;
  int denominator = 4;
  for (const Pattern* p : patterns) {
    if (p->size > size) {
      size = p->size;
      denominator = p->denominator;
    }
  }
  if (patterns.empty()) size = kTicksPerWhole;  // an empty column: a bar of silence
  int grid = kGrids[std::size(kGrids) - 1];
  for (const int g : kGrids) {
    const long step = kTicksPerWhole / g;
    bool fits = size % step == 0;
    for (const Pattern* p : patterns) {
      for (const Note& n : p->notes) fits = fits && n.tick % step == 0;
    }
    if (fits) {
      grid = g;
      break;
    }
  }
  const long step = kTicksPerWhole / grid;
  ImportedPart part;
  part.tempo = tempo;
  part.notes = grid;
  const auto steps = static_cast<std::uint32_t>(size / step);
  const auto perBar = static_cast<std::uint32_t>(grid);
  if (size > kTicksPerWhole && size % kTicksPerWhole == 0) {
    part.barSteps.assign(static_cast<std::size_t>(steps / perBar), perBar);
  } else {
    part.steps = steps;
    if ((size * denominator) % kTicksPerWhole == 0) {
      part.metre = Metre{static_cast<int>(size * denominator / kTicksPerWhole), denominator, true};
    }
  }
  for (const Pattern* p : patterns) {
    for (const Note& n : p->notes) {
      part.hits.push_back({static_cast<std::uint32_t>(n.tick / step), n.voice, n.level});
    }
  }
  return writer_.play(part);
}

void Reader::warnMerged(const pugi::xml_node& root) {
  if (const std::size_t merged = writer_.mergedHits(); merged > 0) {
    warn(root, std::to_string(merged) + (merged == 1 ? " note" : " notes") +
                   " fell on a step that holds the same drum already: each pair plays once, at "
                   "the louder level");
  }
}

HydrogenImport Reader::run() {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(bytes_.data(), bytes_.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    const auto [line, column] = lineAndColumnOf(
        bytes_, static_cast<std::size_t>(std::max<std::ptrdiff_t>(parsed.offset, 0)));
    result_.error = "not well-formed XML (line " + std::to_string(line) + ", column " +
                    std::to_string(column) + "): " + parsed.description();
    return result_;
  }
  const pugi::xml_node song = doc.child("song");
  const pugi::xml_node patternFile = doc.child("drumkit_pattern");
  if (!song && !patternFile) {
    result_.error =
        "no Hydrogen song or pattern: the root element is neither <song> nor "
        "<drumkit_pattern>";
    return result_;
  }
  const pugi::xml_node root = song ? song : patternFile;
  int tempo = kDefaultTempo;
  if (const auto bpm = xmlChildNumber(root, "bpm")) {
    tempo = static_cast<int>(std::clamp(std::lround(*bpm), static_cast<long>(kMinTabTempo),
                                        static_cast<long>(kMaxTabTempo)));
    if (std::abs(*bpm - tempo) > 0.5)
      warn(root.child("bpm"), "tempo written as " + std::to_string(tempo));
  }
  writer_.meta("title", xmlChildText(root, "name"));
  writer_.meta("author", xmlChildText(root, "author"));
  writer_.meta("description", xmlChildText(root, "notes"));
  readInstruments(root.child("instrumentList"));

  if (patternFile) {
    defaultKit_ = instruments_.empty();
    if (defaultKit_) {
      warn(patternFile, "a pattern file names its instruments by number: read as those of " +
                            std::string(kHydrogenKit));
    }
    const pugi::xml_node node = patternFile.child("pattern");
    if (!node) {
      result_.error = "the pattern file holds no <pattern>";
      return result_;
    }
    std::string name = xmlChildText(node, "name");
    if (name.empty()) name = xmlChildText(node, "pattern_name");
    if (xmlChildText(patternFile, "name").empty()) writer_.meta("title", name);
    const Pattern p = readPattern(node);
    playColumn({&p}, tempo);
    warnMerged(patternFile);
    result_.document = writer_.document();
    return result_;
  }

  std::map<std::string, Pattern> patterns;
  std::vector<std::string> order;
  for (const pugi::xml_node& node : song.child("patternList").children("pattern")) {
    const std::string name = xmlChildText(node, "name");
    if (patterns.count(name) > 0) {
      warn(node, "a second pattern named \"" + name + "\" left out");
      continue;
    }
    patterns[name] = readPattern(node);
    order.push_back(name);
  }
  for (const pugi::xml_node& node : song.child("virtualPatternList").children("pattern")) {
    const auto it = patterns.find(xmlChildText(node, "name"));
    if (it == patterns.end()) continue;
    for (const pugi::xml_node& v : node.children("virtual"))
      it->second.virtuals.push_back(trimmedXmlText(v.child_value()));
  }
  // Tempo changes by column (bar), from the tempo timeline.
  std::map<long, int> tempi;
  for (const pugi::xml_node& t : song.child("BPMTimeLine").children("newBPM")) {
    const auto bar = xmlChildNumber(t, "BAR");
    const auto bpm = xmlChildNumber(t, "BPM");
    if (!bar || !bpm || *bar < 0) continue;
    tempi[std::lround(*bar)] = static_cast<int>(std::clamp(
        std::lround(*bpm), static_cast<long>(kMinTabTempo), static_cast<long>(kMaxTabTempo)));
  }

  std::vector<std::vector<const Pattern*>> columns;
  for (const pugi::xml_node& group : song.child("patternSequence").children("group")) {
    if (columns.size() >= kMaxColumns) {
      warn(group, "the song is cut after " + std::to_string(kMaxColumns) + " columns");
      break;
    }
    std::vector<const Pattern*> column;
    std::set<std::string> seen;
    std::vector<std::string> names;
    for (const pugi::xml_node& id : group.children("patternID"))
      names.push_back(trimmedXmlText(id.child_value()));
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!seen.insert(names[i]).second) continue;
      const auto it = patterns.find(names[i]);
      if (it == patterns.end()) {
        warn(group, "pattern \"" + names[i] + "\", which the song does not hold, left out");
        continue;
      }
      column.push_back(&it->second);
      // A virtual pattern plays the patterns it stands for.
      if (names.size() < 1000) {
        for (const std::string& v : it->second.virtuals) names.push_back(v);
      }
    }
    columns.push_back(std::move(column));
  }
  if (columns.empty()) {
    if (!patterns.empty()) {
      warn(song, "the song has no pattern sequence: each pattern is played once, in order");
    }
    for (const std::string& name : order) columns.push_back({&patterns[name]});
  }
  if (columns.empty()) {
    result_.error = "the song holds no patterns";
    return result_;
  }
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const auto t = tempi.upper_bound(static_cast<long>(c));
    const int columnTempo = t == tempi.begin() ? tempo : std::prev(t)->second;
    if (!playColumn(columns[c], columnTempo)) {
      result_.error = "the song has too many different columns to name its parts";
      return result_;
    }
  }
  warnMerged(song);
  warnings_.finish();
  result_.document = writer_.document();
  return result_;
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t') out += c;
    }
  }
  return out;
}

std::string decimal(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", v);
  return text;
}

// Each voice's instrument in an exported song: its name, as the default kit names its
// drums where it has the voice, and the kit's samples it plays (one file, or five by
// velocity: NAME-Softest.wav to NAME-Hardest.wav).
struct KitInstrument {
  std::string_view name;
  std::string_view samples;
  bool layered;
};
constexpr std::array<KitInstrument, kVoiceCount> kKitInstruments = {{
    {"Kick", "Kick", true},
    {"Snare", "Snare", true},
    {"Hat Closed", "HatClosed", true},
    {"Hat Pedal", "HatPedal", true},
    {"Hat Open", "HatOpen", true},
    {"Tom 1", "Tom1", true},
    {"Tom 2", "Tom2", true},
    {"Tom 3", "Tom2", true},
    {"Floor Tom", "TomFloor", true},
    {"Ride", "Ride", true},
    {"Bell", "Bell", true},
    {"Crash", "Crash", true},
    {"Crash 2", "Splash", true},
    {"Perc 1", "SideStick", true},
    {"Perc 2", "SnareRimshot", true},
    {"Hand Clap", "HandClap", false},
    {"Cowbell", "Cowbell", true},
}};

std::string layersOf(const KitInstrument& instrument) {
  static constexpr std::string_view kStrengths[] = {"Softest", "Soft", "Med", "Hard", "Hardest"};
  auto layer = [](const std::string& file, double min, double max) {
    return "    <layer>\n     <filename>" + file + "</filename>\n     <min>" + decimal(min) +
           "</min>\n     <max>" + decimal(max) +
           "</max>\n     <gain>1</gain>\n     <pitch>0</pitch>\n    </layer>\n";
  };
  std::string out =
      "   <instrumentComponent>\n    <component_id>0</component_id>\n    <gain>1</gain>\n";
  if (!instrument.layered) {
    out += layer(std::string(instrument.samples) + ".wav", 0, 1);
  } else {
    for (std::size_t i = 0; i < std::size(kStrengths); ++i) {
      out += layer(std::string(instrument.samples) + "-" + std::string(kStrengths[i]) + ".wav",
                   static_cast<double>(i) / 5, static_cast<double>(i + 1) / 5);
    }
  }
  return out + "   </instrumentComponent>\n";
}

}  // namespace

bool looksLikeHydrogenFile(std::string_view bytes) {
  const std::string_view head = bytes.substr(0, 4096);
  return head.find("<song>") != std::string_view::npos ||
         head.find("<song ") != std::string_view::npos ||
         head.find("<drumkit_pattern") != std::string_view::npos;
}

HydrogenImport importHydrogenFile(std::string_view bytes) {
  return Reader(bytes).run();
}

HydrogenExport hydrogenSongOf(const Timeline& song, const SongMetadata& metadata) {
  HydrogenExport out;
  const auto& parts = song.parts();
  // The parts the song plays, by the song's characters; each becomes a pattern once.
  std::vector<int> sequence;
  for (int i = 0;
       i < song.songLength() && static_cast<std::size_t>(i) < song.songCharacters().size(); ++i) {
    const std::string& character = song.songCharacters()[static_cast<std::size_t>(i)];
    for (std::size_t p = parts.size(); p-- > 1;) {
      if (parts[p].name == character) {
        if (parts[p].hasSteps()) sequence.push_back(static_cast<int>(p));
        break;
      }
    }
  }
  if (sequence.empty()) {
    out.error = "the song plays no part with steps";
    return out;
  }
  const std::array<int, kVoiceCount>& notes = kDrumMachinePresets[0].notes;
  std::array<bool, kVoiceCount> used{};
  std::string patterns;
  std::set<int> written;
  std::size_t samples = 0;
  std::size_t otherTempi = 0;
  const double firstTempo =
      parts[static_cast<std::size_t>(sequence.front())]
          .musicOf(parts[static_cast<std::size_t>(sequence.front())].steps.front())
          .tempo;
  std::string timeline;
  double tempo = firstTempo;
  for (std::size_t c = 0; c < sequence.size(); ++c) {
    const TimelinePart& part = parts[static_cast<std::size_t>(sequence[c])];
    const double partTempo = part.musicOf(part.steps.front()).tempo;
    if (std::abs(partTempo - tempo) > 1e-9) {
      timeline += "  <newBPM>\n   <BAR>" + std::to_string(c) + "</BAR>\n   <BPM>" +
                  decimal(partTempo) + "</BPM>\n  </newBPM>\n";
      tempo = partTempo;
    }
    if (!written.insert(sequence[c]).second) continue;
    std::string noteList;
    long tick = 0;
    for (const TimelineStep& step : part.steps) {
      const StepMusic& m = part.musicOf(step);
      if (std::abs(m.tempo - partTempo) > 1e-9) ++otherTempi;
      const double length = kTicksPerWhole / (m.noteSize * m.tupletDivisor);
      if (!(length >= 1) || std::abs(length - std::round(length)) > 1e-9) {
        out.error = "part " + part.name + " has steps of a 1/" +
                    decimal(m.noteSize * m.tupletDivisor) +
                    " note, which Hydrogen's 192 ticks to the whole note cannot hold";
        return out;
      }
      for (const TimelineItem& item : part.itemsOf(step)) {
        if (item.isRest()) continue;
        if (item.voice.kind == ItemVoice::Kind::Sample) {
          ++samples;
          continue;
        }
        if (item.voice.kind != ItemVoice::Kind::Drum) continue;
        used[item.voice.drum] = true;
        noteList += "     <note>\n      <position>" + std::to_string(tick) +
                    "</position>\n      <leadlag>0</leadlag>\n      <velocity>" +
                    decimal(velocityOfLevel(item.level) / 127.0) +
                    "</velocity>\n      <pan_L>0.5</pan_L>\n      <pan_R>0.5</pan_R>\n"
                    "      <pitch>0</pitch>\n      <key>C0</key>\n      <length>-1</length>\n"
                    "      <instrument>" +
                    std::to_string(item.voice.drum) +
                    "</instrument>\n      <note_off>false</note_off>\n"
                    "      <probability>1</probability>\n     </note>\n";
      }
      tick += std::lround(length);
    }
    patterns += "  <pattern>\n   <name>" + escaped(part.name) +
                "</name>\n   <info></info>\n   <category>not_categorized</category>\n   <size>" +
                std::to_string(tick) + "</size>\n   <denominator>" +
                std::to_string(part.metre.beatUnit) + "</denominator>\n   <noteList>\n" + noteList +
                "   </noteList>\n  </pattern>\n";
  }
  if (samples > 0) {
    out.warnings.push_back(std::to_string(samples) +
                           " sample hits left out: the song names only the kit's drums");
  }
  if (otherTempi > 0) {
    out.warnings.push_back("tempo changes inside parts are written as each part's first tempo");
  }
  std::string& x = out.xml;
  x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<song>\n <version>1.2.0</version>\n <bpm>" +
      decimal(firstTempo) +
      "</bpm>\n <volume>0.5</volume>\n <metronomeVolume>0.5</metronomeVolume>\n <name>" +
      escaped(metadata.title.empty() ? "Untitled Song" : metadata.title) + "</name>\n <author>" +
      escaped(metadata.author) + "</author>\n <notes>" + escaped(metadata.description) +
      "</notes>\n <license></license>\n <loopEnabled>false</loopEnabled>\n <mode>song</mode>\n"
      " <humanize_time>0</humanize_time>\n <humanize_velocity>0</humanize_velocity>\n"
      " <swing_factor>0</swing_factor>\n <last_loaded_drumkit_name>" +
      std::string(kHydrogenKit) +
      "</last_loaded_drumkit_name>\n <componentList>\n  <drumkitComponent>\n   <id>0</id>\n"
      "   <name>Main</name>\n   <volume>1</volume>\n  </drumkitComponent>\n </componentList>\n"
      " <instrumentList>\n";
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    if (!used[v]) continue;
    x += "  <instrument>\n   <id>" + std::to_string(v) + "</id>\n   <name>" +
         std::string(kKitInstruments[v].name) + "</name>\n   <drumkit>" +
         std::string(kHydrogenKit) +
         "</drumkit>\n   <drumkitLookup>2</drumkitLookup>\n   <volume>1</volume>\n"
         "   <isMuted>false</isMuted>\n   <pan>0</pan>\n   <pan_L>1</pan_L>\n   <pan_R>1</pan_R>\n"
         "   <gain>1</gain>\n   <applyVelocity>true</applyVelocity>\n"
         "   <midiOutChannel>9</midiOutChannel>\n   <midiOutNote>" +
         std::to_string(notes[v]) + "</midiOutNote>\n" + layersOf(kKitInstruments[v]) +
         "  </instrument>\n";
  }
  x += " </instrumentList>\n <patternList>\n" + patterns +
       " </patternList>\n <virtualPatternList></virtualPatternList>\n <patternSequence>\n";
  for (const int p : sequence) {
    x += "  <group>\n   <patternID>" + escaped(parts[static_cast<std::size_t>(p)].name) +
         "</patternID>\n  </group>\n";
  }
  x += " </patternSequence>\n";
  if (!timeline.empty()) x += " <BPMTimeLine>\n" + timeline + " </BPMTimeLine>\n";
  x += "</song>\n";
  return out;
}

}  // namespace pulsewright
