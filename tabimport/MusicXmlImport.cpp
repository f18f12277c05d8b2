#include "tabimport/MusicXmlImport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <optional>
#include <pugixml.hpp>
#include <set>

#include "padmap/DrumVoice.h"
#include "tabimport/Hydrogen.h"
#include "tabimport/XmlFields.h"
#include "tabimport/XmlPosition.h"
#include "tabimport/XmlWarnings.h"
#include "tabimport/ZipArchive.h"
#include "tablature/ImportWriter.h"

namespace pulsewright {

namespace {

using V = DrumVoice;

// The note sizes a measure may be written in, fewest steps first.
constexpr int kGrids[] = {8, 12, 16, 24, 32, 48, 64, 96};
constexpr std::size_t kMaxScoreBytes = 256u << 20;
constexpr std::size_t kMaxWarnings = 200;
constexpr std::size_t kMaxPlayedMeasures = 1'000'000;
constexpr long kMaxDivisions = 1'000'000;
// Longer notes and measures (in whole notes) are cut to this.
constexpr double kMaxMeasureLength = 64;

// A staff place: its voice on the usual five-line drum staff, by step and octave (a
// head of crosses telling cymbals from drums where they share a place).
std::optional<DrumVoice> voiceOfPlace(char step, int octave, bool cross) {
  const int place = octave * 7 + std::string_view("CDEFGAB").find(step);
  switch (place - 4 * 7) {
    case 1: return cross ? V::PedalHat : V::BassDrum;  // D4
    case 2:                                            // E4
    case 3: return V::BassDrum;                        // F4
    case 4: return V::Tom4;                            // G4
    case 5: return V::Tom3;                            // A4
    case 6: return V::Tom2;                            // B4
    case 7: return V::SnareDrum;                       // C5
    case 8: return V::Tom2;                            // D5
    case 9: return V::Tom1;                            // E5
    case 10: return cross ? V::Ride : V::Tom1;         // F5
    case 11: return cross ? V::ClosedHat : V::Tom1;    // G5
    case 12: return V::Crash1;                         // A5
    case 13: return V::Crash2;                         // B5
    default: return std::nullopt;
  }
}

struct Hit {
  double at;  // in whole notes from the measure's start
  DrumVoice voice;
  std::uint8_t level;
};

struct Measure {
  double length = 1;  // whole notes
  int beats = 4;
  int beatUnit = 4;
  int tempo = 120;
  std::vector<std::pair<double, int>> tempoChanges;  // inside the measure: at, tempo
  std::vector<Hit> hits;
  bool forward = false;
  bool backward = false;
  int times = 2;
  std::vector<int> endings;  // the passes this measure is played on; empty for all
  bool endingEnds = false;
  pugi::xml_node node;
};

struct Instrument {
  std::string name;
  int key = -1;
};

class Reader {
 public:
  explicit Reader(std::string_view xml) : xml_(xml) {}
  MusicXmlImport run();

 private:
  void warn(const pugi::xml_node& node, std::string text) { warnings_.warn(node, std::move(text)); }
  void readPart(const pugi::xml_node& part, const std::map<std::string, Instrument>& instruments,
                std::vector<Measure>* measures);
  std::optional<DrumVoice> voiceOf(const pugi::xml_node& note,
                                   const std::map<std::string, Instrument>& instruments);
  std::vector<std::size_t> playOrder(const std::vector<Measure>& measures);
  bool writeMeasure(const Measure& m);

  std::string_view xml_;
  MusicXmlImport result_;
  CappedXmlWarnings warnings_{xml_, kMaxWarnings, &result_.warnings};
  std::set<std::string> warnedInstruments_;
  ImportWriter writer_;
  std::size_t movedHits_ = 0;
  pugi::xml_node firstMoved_;
};

std::optional<DrumVoice> Reader::voiceOf(const pugi::xml_node& note,
                                         const std::map<std::string, Instrument>& instruments) {
  const std::string id = note.child("instrument").attribute("id").value();
  const auto it = instruments.find(id);
  if (it == instruments.end() && instruments.size() == 1 && id.empty()) {
    // A part of one instrument need not name it at each note; its place tells more.
  } else if (it != instruments.end()) {
    const Instrument& i = it->second;
    std::string nearest;
    std::optional<DrumVoice> voice;
    if (i.key == 37) {
      nearest = "a cross-stick";
      voice = V::SnareDrum;
    } else if (i.key >= 0) {
      voice = drumVoiceOfKey(i.key);
    }
    if (!voice) voice = hydrogenVoiceOf(i.name, -1, &nearest);
    if (voice) {
      if (!nearest.empty() && warnedInstruments_.insert(id).second) {
        warn(note, "instrument \"" + i.name + "\" is " + nearest + ": played as " +
                       std::string(kVoiceCaptions[index(*voice)]));
      }
      return voice;
    }
  }
  const pugi::xml_node u = note.child("unpitched");
  const std::string step = trimmedXmlText(u.child_value("display-step"));
  const auto octave = xmlChildNumber(u, "display-octave");
  const std::string head = trimmedXmlText(note.child_value("notehead"));
  if (step.size() == 1 && octave &&
      std::string_view("CDEFGAB").find(step[0]) != std::string_view::npos) {
    const bool cross = head == "x" || head == "cross" || head == "circle-x";
    if (auto voice = voiceOfPlace(step[0], static_cast<int>(*octave), cross)) return voice;
  }
  return std::nullopt;
}

void Reader::readPart(const pugi::xml_node& part,
                      const std::map<std::string, Instrument>& instruments,
                      std::vector<Measure>* measures) {
  long divisions = 1;
  int beats = 4;
  int beatUnit = 4;
  int tempo = 120;
  // A measure repeat (simile marks): its measures, where they hold no notes of their own,
  // play the `simileSpan` measures before them again.
  std::size_t simileSpan = 0;
  std::vector<std::vector<Hit>> partHits;  // this part's hits, by measure
  std::size_t m = 0;
  for (const pugi::xml_node& measure : part.children("measure")) {
    // A second drum part adds its notes to the first one's measures.
    const bool fresh = m >= measures->size();
    if (fresh) measures->emplace_back();
    Measure& out = (*measures)[m];
    if (fresh) out.tempo = tempo;
    out.node = measure;
    double cursor = 0;  // whole notes
    double longest = 0;
    double lastStart = 0;
    const std::size_t hitsBefore = out.hits.size();
    for (const pugi::xml_node& e : measure.children()) {
      const std::string_view name = e.name();
      if (name == "attributes") {
        if (const auto d = xmlChildNumber(e, "divisions"); d && *d >= 1 && *d <= kMaxDivisions) {
          divisions = std::lround(*d);
        }
        const pugi::xml_node time = e.child("time");
        const auto b = xmlChildNumber(time, "beats");
        const auto t = xmlChildNumber(time, "beat-type");
        if (b && t && *b >= 1 && *b <= 64 && *t >= 1 && *t <= 64) {
          beats = static_cast<int>(*b);
          beatUnit = static_cast<int>(*t);
        }
        const pugi::xml_node simile = e.child("measure-style").child("measure-repeat");
        if (std::string_view(simile.attribute("type").value()) == "start") {
          const double span = xmlNumberIn(trimmedXmlText(simile.child_value())).value_or(1);
          simileSpan = static_cast<std::size_t>(std::clamp(std::lround(span), 1L, 16L));
        } else if (std::string_view(simile.attribute("type").value()) == "stop") {
          simileSpan = 0;
        }
      } else if (name == "sound" || name == "direction") {
        const pugi::xml_node sound = name == "sound" ? e : e.child("sound");
        if (const auto t = xmlNumberIn(sound.attribute("tempo").value()); t && *t > 0) {
          tempo = static_cast<int>(std::clamp(std::lround(*t), static_cast<long>(kMinTabTempo),
                                              static_cast<long>(kMaxTabTempo)));
          if (cursor < 1e-9 && fresh) {
            out.tempo = tempo;
          } else if (fresh) {
            out.tempoChanges.emplace_back(cursor, tempo);
          }
        }
      } else if (name == "backup" || name == "forward") {
        const double d = std::clamp(xmlChildNumber(e, "duration").value_or(0) / divisions / 4, 0.0,
                                    kMaxMeasureLength);
        cursor = std::clamp(name == "backup" ? cursor - d : cursor + d, 0.0, kMaxMeasureLength);
        longest = std::max(longest, cursor);
      } else if (name == "barline") {
        const pugi::xml_node repeat = e.child("repeat");
        const std::string direction = repeat.attribute("direction").value();
        if (direction == "forward") out.forward = true;
        if (direction == "backward") {
          out.backward = true;
          if (const auto t = xmlNumberIn(repeat.attribute("times").value());
              t && *t >= 1 && *t <= 99) {
            out.times = static_cast<int>(*t);
          }
        }
        const pugi::xml_node ending = e.child("ending");
        if (ending) {
          const std::string type = ending.attribute("type").value();
          if (type == "start") {
            out.endings.clear();
            std::string numbers = ending.attribute("number").value();
            for (char& c : numbers) {
              if (c < '0' || c > '9') c = ' ';
            }
            std::size_t at = 0;
            while ((at = numbers.find_first_not_of(' ', at)) != std::string::npos) {
              const std::size_t end = std::min(numbers.find(' ', at), numbers.size());
              if (end - at <= 2) out.endings.push_back(std::stoi(numbers.substr(at, end - at)));
              at = end;
            }
          } else {
            out.endingEnds = true;
          }
        }
      } else if (name == "note") {
        const bool chord = static_cast<bool>(e.child("chord"));
        const bool grace = static_cast<bool>(e.child("grace"));
        const double duration = std::clamp(
            xmlChildNumber(e, "duration").value_or(0) / divisions / 4, 0.0, kMaxMeasureLength);
        const double start = chord ? lastStart : cursor;
        if (!chord) {
          lastStart = cursor;
          if (!grace) cursor = std::min(cursor + duration, kMaxMeasureLength);
          longest = std::max(longest, cursor);
        }
        if (e.child("rest")) continue;
        if (!e.child("unpitched")) {
          if (e.child("pitch")) warn(e, "a pitched note in a drum part left out");
          continue;
        }
        if (grace) {
          warn(e, "a grace note (a flam or a drag) left out: the main note plays alone");
          continue;
        }
        bool tiedOn = false;
        for (const pugi::xml_node& tie : e.children("tie")) {
          if (std::string_view(tie.attribute("type").value()) == "stop") tiedOn = true;
        }
        if (tiedOn) continue;  // the note goes on sounding: no new hit
        const std::optional<DrumVoice> voice = voiceOf(e, instruments);
        if (!voice) {
          warn(e, "an unpitched note of no drum this program knows left out");
          continue;
        }
        std::uint8_t level = 5;
        const pugi::xml_node notations = e.child("notations");
        const pugi::xml_node articulations = notations.child("articulations");
        if (articulations.child("strong-accent")) {
          level = 8;
        } else if (articulations.child("accent")) {
          level = 7;
        } else if (std::string_view(e.child("notehead").attribute("parentheses").value()) ==
                   "yes") {
          level = 3;
        } else if (const auto d = xmlNumberIn(e.attribute("dynamics").value()); d && *d >= 0) {
          // A percentage of forte, which plays at velocity 90.
          level = static_cast<std::uint8_t>(
              levelOfImportedVelocity(static_cast<int>(std::lround(*d * 0.9))));
        }
        const pugi::xml_node tremolo = notations.child("ornaments").child("tremolo");
        const std::string tremoloType = tremolo.attribute("type").value();
        const auto slashes = xmlNumberIn(trimmedXmlText(tremolo.child_value()));
        if (tremolo && (tremoloType.empty() || tremoloType == "single") && slashes &&
            *slashes >= 1 && *slashes <= 5 && duration > 0) {
          // A roll: strokes of an eighth for one slash, a sixteenth for two, and so on.
          const double stroke = 1.0 / (4 * std::pow(2.0, *slashes));
          const auto strokes =
              static_cast<int>(std::max(1.0, std::floor(duration / stroke + 1e-9)));
          for (int s = 0; s < strokes && s < 256; ++s)
            out.hits.push_back({start + s * stroke, *voice, level});
          continue;
        }
        if (tremolo) warn(e, "a tremolo between two notes left out: each note plays once");
        out.hits.push_back({start, *voice, level});
      }
    }
    if (simileSpan > 0 && out.hits.size() == hitsBefore && m >= simileSpan) {
      const std::vector<Hit>& repeated = partHits[m - simileSpan];
      out.hits.insert(out.hits.end(), repeated.begin(), repeated.end());
    }
    partHits.emplace_back(out.hits.begin() + static_cast<std::ptrdiff_t>(hitsBefore),
                          out.hits.end());
    out.beats = beats;
    out.beatUnit = beatUnit;
    const double written = static_cast<double>(beats) / beatUnit;
    // A pickup measure lasts as long as its notes.
    const bool implicit = std::string_view(measure.attribute("implicit").value()) == "yes";
    const double length = implicit && longest > 0 ? longest : std::max(written, longest);
    out.length = fresh ? length : std::max(out.length, length);
    ++m;
    if (m > kMaxPlayedMeasures) break;
  }
}

std::vector<std::size_t> Reader::playOrder(const std::vector<Measure>& measures) {
  std::vector<std::size_t> order;
  std::size_t start = 0;
  int pass = 1;
  bool jumped = false;
  std::size_t i = 0;
  while (i < measures.size() && order.size() < kMaxPlayedMeasures) {
    const Measure& m = measures[i];
    if (m.forward && !jumped) {
      start = i;
      pass = 1;
    }
    jumped = false;
    if (!m.endings.empty() &&
        std::find(m.endings.begin(), m.endings.end(), pass) == m.endings.end()) {
      ++i;
      continue;
    }
    order.push_back(i);
    if (m.backward) {
      if (pass < m.times) {
        ++pass;
        i = start;
        jumped = true;
        continue;
      }
      pass = 1;
      start = i + 1;
    } else if (m.endingEnds && !m.endings.empty()) {
      // The last ending is over: what follows starts afresh.
      pass = 1;
      start = i + 1;
    }
    ++i;
  }
  return order;
}

bool Reader::writeMeasure(const Measure& m) {
  // A change of tempo inside the measure cuts it into pieces, each a part of its tempo.
  std::vector<std::pair<double, int>> pieces = {{0.0, m.tempo}};
  for (const auto& [at, tempo] : m.tempoChanges) {
    if (at <= pieces.back().first + 1e-9 || at >= m.length - 1e-9) continue;
    if (tempo != pieces.back().second) pieces.emplace_back(at, tempo);
  }
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const double from = pieces[p].first;
    const double to = p + 1 < pieces.size() ? pieces[p + 1].first : m.length;
    std::vector<Hit> hits;
    for (const Hit& h : m.hits) {
      // A hit a hair before a cut belongs to the piece after it.
      const bool last = p + 1 == pieces.size();
      if (h.at >= from - 1e-9 && (last || h.at < to - 1e-9))
        hits.push_back({h.at - from, h.voice, h.level});
    }
    const double length = to - from;
    int grid = 0;
    for (const int g : kGrids) {
      auto fits = [&](double at) { return std::abs(at * g - std::round(at * g)) < 1e-6; };
      bool all = fits(length);
      for (const Hit& h : hits) all = all && fits(h.at);
      if (all) {
        grid = g;
        break;
      }
    }
    if (grid == 0) {
      grid = kGrids[std::size(kGrids) - 1];
      if (movedHits_++ == 0) firstMoved_ = m.node;
    }
    ImportedPart part;
    part.tempo = pieces[p].second;
    part.notes = grid;
    part.steps = static_cast<std::uint32_t>(std::max(1L, std::lround(length * grid)));
    if (pieces.size() == 1) part.metre = Metre{m.beats, m.beatUnit, true};
    for (const Hit& h : hits) {
      const long step = std::lround(h.at * grid);
      if (step < 0 || step >= static_cast<long>(part.steps)) continue;
      part.hits.push_back({static_cast<std::uint32_t>(step), h.voice, h.level});
    }
    if (!writer_.play(part)) return false;
  }
  return true;
}

MusicXmlImport Reader::run() {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(xml_.data(), xml_.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed) {
    const auto [line, column] =
        lineAndColumnOf(xml_, static_cast<std::size_t>(std::max<std::ptrdiff_t>(parsed.offset, 0)));
    result_.error = "not well-formed XML (line " + std::to_string(line) + ", column " +
                    std::to_string(column) + "): " + parsed.description();
    return result_;
  }
  if (doc.child("score-timewise")) {
    result_.error = "a timewise score: only partwise MusicXML (as notation programs write) is read";
    return result_;
  }
  const pugi::xml_node score = doc.child("score-partwise");
  if (!score) {
    result_.error = "no MusicXML score: the root element is not <score-partwise>";
    return result_;
  }
  std::string title = trimmedXmlText(score.child("work").child_value("work-title"));
  if (title.empty()) title = trimmedXmlText(score.child_value("movement-title"));
  writer_.meta("title", title);
  for (const pugi::xml_node& c : score.child("identification").children("creator")) {
    if (std::string_view(c.attribute("type").value()) == "composer") {
      writer_.meta("author", trimmedXmlText(c.child_value()));
      break;
    }
  }

  std::map<std::string, std::map<std::string, Instrument>> instruments;  // by part id
  std::map<std::string, std::string> partNames;
  for (const pugi::xml_node& sp : score.child("part-list").children("score-part")) {
    const std::string id = sp.attribute("id").value();
    partNames[id] = trimmedXmlText(sp.child_value("part-name"));
    auto& list = instruments[id];
    for (const pugi::xml_node& si : sp.children("score-instrument")) {
      list[si.attribute("id").value()].name = trimmedXmlText(si.child_value("instrument-name"));
    }
    for (const pugi::xml_node& mi : sp.children("midi-instrument")) {
      const auto key = xmlChildNumber(mi, "midi-unpitched");
      if (key && *key >= 1 && *key <= 128) {
        list[mi.attribute("id").value()].key = static_cast<int>(*key) - 1;
      }
    }
  }
  std::vector<Measure> measures;
  bool drums = false;
  for (const pugi::xml_node& part : score.children("part")) {
    const std::string id = part.attribute("id").value();
    if (!part.find_node(
            [](const pugi::xml_node& n) { return std::string_view(n.name()) == "unpitched"; })) {
      warn(part, "part \"" + (partNames[id].empty() ? id : partNames[id]) +
                     "\" has no unpitched notes: left out");
      continue;
    }
    drums = true;
    readPart(part, instruments[id], &measures);
  }
  if (!drums) {
    result_.error = "no drum part: the score has pitched parts only";
    return result_;
  }
  if (measures.empty()) {
    result_.error = "the drum part has no measures";
    return result_;
  }
  for (const std::size_t i : playOrder(measures)) {
    if (!writeMeasure(measures[i])) {
      result_.error = "the score has too many different measures to name its parts";
      return result_;
    }
  }
  if (movedHits_ > 0) {
    warn(firstMoved_, std::to_string(movedHits_) +
                          " measures hold notes off every grid: moved to the nearest 1/96");
  }
  if (const std::size_t merged = writer_.mergedHits(); merged > 0) {
    warn(score, std::to_string(merged) + (merged == 1 ? " note" : " notes") +
                    " fell on a step that holds the same drum already: each pair plays once, at "
                    "the louder level");
  }
  warnings_.finish();
  result_.document = writer_.document();
  return result_;
}

// The score file of a compressed score: the container's first root file, else the
// first MusicXML file outside META-INF.
std::optional<std::string> scoreOfArchive(std::string_view archive, std::string* error) {
  const auto names = zipEntryNames(archive, error);
  if (!names) return std::nullopt;
  std::string path;
  if (const auto container = readZipEntry(archive, "META-INF/container.xml", 1u << 20, error)) {
    pugi::xml_document doc;
    if (doc.load_buffer(container->data(), container->size())) {
      path = doc.child("container")
                 .child("rootfiles")
                 .child("rootfile")
                 .attribute("full-path")
                 .value();
    }
  }
  if (path.empty()) {
    for (const std::string& n : *names) {
      if (n.rfind("META-INF/", 0) != 0 &&
          (n.size() > 4 && (n.compare(n.size() - 4, 4, ".xml") == 0 ||
                            (n.size() > 9 && n.compare(n.size() - 9, 9, ".musicxml") == 0)))) {
        path = n;
        break;
      }
    }
  }
  if (path.empty()) {
    *error = "the compressed score holds no MusicXML file";
    return std::nullopt;
  }
  return readZipEntry(archive, path, kMaxScoreBytes, error);
}

}  // namespace

bool looksLikeMusicXml(std::string_view bytes) {
  if (looksLikeZipArchive(bytes)) return true;
  const std::string_view head = bytes.substr(0, 4096);
  return head.find("<score-partwise") != std::string_view::npos ||
         head.find("<score-timewise") != std::string_view::npos;
}

MusicXmlImport importMusicXml(std::string_view bytes) {
  if (looksLikeZipArchive(bytes)) {
    std::string error;
    const std::optional<std::string> xml = scoreOfArchive(bytes, &error);
    if (!xml) {
      MusicXmlImport failed;
      failed.error = error;
      return failed;
    }
    return Reader(*xml).run();
  }
  return Reader(bytes).run();
}

}  // namespace pulsewright
