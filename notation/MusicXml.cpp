#include "notation/MusicXml.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>

namespace pulsewright {

namespace {

// The length of the UTF-8 sequence at `text[at]` and its code point; 0 for bytes that are
// no well-formed sequence (a lone continuation byte, an overlong form, a surrogate).
std::size_t utf8Sequence(std::string_view text, std::size_t at, char32_t* code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

// Whether XML 1.0 lets a document hold the character (line ends are dropped as well:
// every text written is one line).
bool xmlCharacter(char32_t c) {
  return c == '\t' || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// Text as XML character data: markup escaped, and what an XML document cannot hold
// dropped (control characters, U+FFFE and U+FFFF, bytes that are not UTF-8), so that the
// score stays well-formed whatever a title or a part name holds.
std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::size_t length = utf8Sequence(text, at, &code);
    if (length == 0) {
      ++at;
      continue;
    }
    switch (code) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (xmlCharacter(code)) out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

std::string decimal(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4f", value);
  std::string s = buffer;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string_view headName(Notehead head) {
  switch (head) {
    case Notehead::Normal: return "normal";
    case Notehead::X: return "x";
    case Notehead::CircleX: return "circle-x";
    case Notehead::Diamond: return "diamond";
    case Notehead::Triangle: return "triangle";
    case Notehead::Slashed: return "slashed";
  }
  return "normal";
}

// The <notations> content of an articulation its head does not already show: a buzz
// roll's unmeasured tremolo, a half-open hat's half-muted sign, a choke's stopped sign and
// a cymbal edge named as a technical mark.
std::string_view markOf(Articulation articulation) {
  switch (articulation) {
    case Articulation::Buzz:
      return "<ornaments><tremolo type=\"unmeasured\">3</tremolo></ornaments>";
    case Articulation::HalfOpen: return "<technical><half-muted/></technical>";
    case Articulation::Choke: return "<technical><stopped/></technical>";
    case Articulation::Edge:
      return "<technical><other-technical>edge</other-technical></technical>";
    default: return "";
  }
}

struct InstrumentKey {
  int voice;  // -1 for a drum not known
  int key;
  bool operator<(const InstrumentKey& o) const {
    return voice != o.voice ? voice < o.voice : key < o.key;
  }
};

InstrumentKey instrumentOf(const ScoreHit& hit) {
  return {hit.voice ? static_cast<int>(index(*hit.voice)) : -1, hit.key};
}

class Writer {
 public:
  using Sink = std::function<bool(std::string_view)>;
  // The text goes to `sink` in pieces when one is given, or stays in the writer.
  Writer(const Score& head, int channel, const Sink* sink = nullptr)
      : head_(head), channel_(channel), sink_(sink) {}

  void addInstruments(const ScoreMeasure& m) {
    for (const ScoreStep& s : m.steps) {
      for (const ScoreHit& h : s.hands) instruments_.emplace(instrumentOf(h), 0);
      for (const ScoreHit& h : s.feet) instruments_.emplace(instrumentOf(h), 0);
    }
  }

  void begin() {
    int n = 1;
    for (auto& [key, id] : instruments_) id = n++;
    out_ +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
        "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
        "<score-partwise version=\"4.0\">\n";
    if (!head_.title.empty()) {
      out_ += "  <work>\n    <work-title>" + escaped(head_.title) + "</work-title>\n  </work>\n";
      out_ += "  <movement-title>" + escaped(head_.title) + "</movement-title>\n";
    }
    out_ += "  <identification>\n";
    if (!head_.author.empty()) {
      out_ += "    <creator type=\"composer\">" + escaped(head_.author) + "</creator>\n";
    }
    out_ += "    <encoding>\n      <software>Pulsewright</software>\n    </encoding>\n";
    out_ += "  </identification>\n";
    partList();
    out_ += "  <part id=\"P1\">\n";
  }

  // Measure `number` (from 1) of `count`.
  void measure(const ScoreMeasure& m, std::size_t number, std::size_t count) {
    out_ += "    <measure number=\"" + std::to_string(number) + "\">\n";
    const bool metreChanged =
        number == 1 || before_.beats != m.beats || before_.beatType != m.beatType;
    // Simile bars start a measure repeat; the first bar after them stops it.
    const bool simileChanged = m.simile != before_.simile;
    if (metreChanged || simileChanged) {
      out_ += "      <attributes>\n";
    }
    if (metreChanged) {
      if (number == 1) {
        out_ += "        <divisions>" + std::to_string(head_.divisions) + "</divisions>\n";
      }
      out_ += "        <time><beats>" + std::to_string(m.beats) + "</beats><beat-type>" +
              std::to_string(m.beatType) + "</beat-type></time>\n";
      if (number == 1) {
        out_ += "        <clef><sign>percussion</sign></clef>\n";
        out_ += "        <staff-details><staff-lines>5</staff-lines></staff-details>\n";
      }
    }
    if (simileChanged) {
      out_ += m.simile ? "        <measure-style><measure-repeat type=\"start\">1</measure-repeat>"
                         "</measure-style>\n"
                       : "        <measure-style><measure-repeat type=\"stop\"/></measure-style>\n";
    }
    if (metreChanged || simileChanged) {
      out_ += "      </attributes>\n";
    }
    if (m.repeatStart) {
      out_ +=
          "      <barline location=\"left\"><bar-style>heavy-light</bar-style>"
          "<repeat direction=\"forward\"/></barline>\n";
    }
    if (!m.partName.empty()) {
      out_ += "      <direction placement=\"above\">\n        <direction-type><rehearsal>" +
              escaped(m.partName) + "</rehearsal></direction-type>\n      </direction>\n";
    }
    if (m.tempo > 0 && (number == 1 || before_.tempo != m.tempo)) {
      const std::string tempo = decimal(m.tempo);
      out_ += "      <direction placement=\"above\">\n        <direction-type>\n";
      out_ += "          <metronome><beat-unit>quarter</beat-unit><per-minute>" + tempo +
              "</per-minute></metronome>\n";
      out_ += "        </direction-type>\n        <sound tempo=\"" + tempo + "\"/>\n";
      out_ += "      </direction>\n";
    }
    if (number == 1 ? m.swingPercent != 50 : before_.swingPercent != m.swingPercent) swing(m);
    voice(m, 1);
    if (!m.voice(2).empty()) {
      out_ += "      <backup><duration>" + std::to_string(m.duration()) + "</duration></backup>\n";
      voice(m, 2);
    }
    if (m.repeatTimes > 1) {
      const std::string times = std::to_string(m.repeatTimes);
      out_ += "      <direction placement=\"above\">\n        <direction-type><words>\xC3\x97" +
              times + "</words></direction-type>\n      </direction>\n";
      out_ +=
          "      <barline location=\"right\"><bar-style>light-heavy</bar-style>"
          "<repeat direction=\"backward\" times=\"" +
          times + "\"/></barline>\n";
    } else if (number == count) {
      out_ += "      <barline location=\"right\"><bar-style>light-heavy</bar-style></barline>\n";
    }
    out_ += "    </measure>\n";
    before_ = {m.beats, m.beatType, m.tempo, m.simile, m.swingPercent};
    pass();
  }

  // "Swing 62:38" over the staff and the ratio for players; <straight/> where it ends.
  void swing(const ScoreMeasure& m) {
    const int first = m.swingPercent;
    const int second = 100 - first;
    out_ += "      <direction placement=\"above\">\n        <direction-type><words>";
    out_ += first == 50 ? std::string("Straight")
                        : "Swing " + std::to_string(first) + ":" + std::to_string(second);
    out_ += "</words></direction-type>\n        <sound><swing>";
    if (first == 50 || first <= 0 || first >= 100) {
      out_ += "<straight/>";
    } else {
      const int common = std::gcd(first, second);
      out_ += "<first>" + std::to_string(first / common) + "</first><second>" +
              std::to_string(second / common) + "</second>";
      // MusicXML swings eighths or sixteenths only; other values keep its default.
      if (m.swingTypeLog2 == -1 || m.swingTypeLog2 == -2) {
        out_ += "<swing-type>";
        out_ += noteTypeName(m.swingTypeLog2);
        out_ += "</swing-type>";
      }
    }
    out_ += "</swing></sound>\n      </direction>\n";
  }

  void emptyMeasure() {
    out_ += "    <measure number=\"1\">\n      <attributes>\n        <divisions>1</divisions>\n";
    out_ += "        <time><beats>4</beats><beat-type>4</beat-type></time>\n";
    out_ += "        <clef><sign>percussion</sign></clef>\n";
    out_ += "        <staff-details><staff-lines>5</staff-lines></staff-details>\n";
    out_ += "      </attributes>\n";
    out_ += "      <note><rest measure=\"yes\"/><duration>4</duration><voice>1</voice></note>\n";
    out_ += "    </measure>\n";
  }

  // Closes the document; false when the sink refused a piece.
  bool end() {
    out_ += "  </part>\n</score-partwise>\n";
    if (sink_ != nullptr && ok_) ok_ = (*sink_)(out_);
    if (sink_ != nullptr) out_.clear();
    return ok_;
  }
  std::string take() { return std::move(out_); }
  // False once the sink refused a piece: nothing more is worth making.
  bool ok() const { return ok_; }

 private:
  void pass() {
    if (sink_ == nullptr || out_.size() < (1 << 16)) return;
    if (ok_) ok_ = (*sink_)(out_);
    out_.clear();
  }

  void partList() {
    out_ += "  <part-list>\n    <score-part id=\"P1\">\n      <part-name>Drum Set</part-name>\n";
    std::map<int, int> keysPerVoice;
    for (const auto& [key, id] : instruments_) ++keysPerVoice[key.voice];
    for (const auto& [key, id] : instruments_) {
      const DrumPlacement p =
          placementOf(key.voice >= 0 ? std::optional<DrumVoice>(static_cast<DrumVoice>(key.voice))
                                     : std::nullopt);
      std::string name(p.name);
      if (key.voice < 0 || keysPerVoice[key.voice] > 1) name += " " + std::to_string(key.key);
      out_ += "      <score-instrument id=\"P1-I" + std::to_string(id) + "\">\n";
      out_ += "        <instrument-name>" + escaped(name) + "</instrument-name>\n";
      out_ += "      </score-instrument>\n";
    }
    for (const auto& [key, id] : instruments_) {
      out_ += "      <midi-instrument id=\"P1-I" + std::to_string(id) + "\">\n";
      out_ += "        <midi-channel>" + std::to_string(channel_) + "</midi-channel>\n";
      out_ += "        <midi-unpitched>" + std::to_string(key.key + 1) + "</midi-unpitched>\n";
      out_ += "      </midi-instrument>\n";
    }
    out_ += "    </score-part>\n  </part-list>\n";
  }

  void voice(const ScoreMeasure& m, int number) {
    static constexpr std::string_view kBeamNames[] = {"",    "begin",        "continue",
                                                      "end", "forward hook", "backward hook"};
    const std::string voiceTag = "<voice>" + std::to_string(number) + "</voice>";
    const char* stem = number == 1 ? "up" : "down";
    for (const ScoreNote& n : m.voice(number)) {
      const std::string duration = "<duration>" + std::to_string(n.duration) + "</duration>";
      if (n.hidden) {
        out_ += "      <forward>";
        out_ += duration;
        out_ += voiceTag;
        out_ += "</forward>\n";
        continue;
      }
      if (n.rest()) {
        out_ += n.measureRest ? "      <note>\n        <rest measure=\"yes\"/>\n        "
                              : "      <note>\n        <rest/>\n        ";
        out_ += duration;
        out_ += "\n        ";
        out_ += voiceTag;
        out_ += "\n";
        if (!n.measureRest) value(n);
        notations(n, nullptr, true);
        if (number == 1) sticking(m, n);
        out_ += "      </note>\n";
        continue;
      }
      // The chord from the lowest head up; most notes are one hit.
      order_.clear();
      for (const ScoreHit& hit : n.hits) order_.push_back(&hit);
      if (order_.size() > 1) {
        std::stable_sort(order_.begin(), order_.end(), [](const ScoreHit* a, const ScoreHit* b) {
          return staffPosition(placementOf(a->voice)) < staffPosition(placementOf(b->voice));
        });
      }
      graceNotes(voiceTag, stem);
      for (std::size_t h = 0; h < order_.size(); ++h) {
        const ScoreHit& hit = *order_[h];
        const DrumPlacement p = placementOf(hit.voice);
        out_ += "      <note>\n        ";
        if (h > 0) out_ += "<chord/>";
        out_ += "<unpitched><display-step>";
        out_ += p.step;
        out_ += "</display-step><display-octave>";
        appendNumber(p.octave);
        out_ += "</display-octave></unpitched>\n        ";
        out_ += duration;
        out_ += "\n        <instrument id=\"P1-I";
        appendNumber(instruments_.at(instrumentOf(hit)));
        out_ += "\"/>\n        ";
        out_ += voiceTag;
        out_ += "\n";
        value(n);
        out_ += "        <stem>";
        out_ += stem;
        out_ += "</stem>\n";
        const bool ghost = hit.level <= 3;
        const Notehead head = noteheadOf(hit);
        if (head != Notehead::Normal || ghost) {
          out_ += "        <notehead";
          if (ghost) out_ += " parentheses=\"yes\"";
          out_ += ">";
          out_ += headName(head);
          out_ += "</notehead>\n";
        }
        for (int level = 1; h == 0 && level <= kBeamLevels; ++level) {
          const Beam beam = n.beams[level - 1];
          if (beam == Beam::None) continue;
          out_ += "        <beam number=\"";
          appendNumber(level);
          out_ += "\">";
          out_ += kBeamNames[static_cast<int>(beam)];
          out_ += "</beam>\n";
        }
        notations(n, &hit, h == 0);
        if (h == 0 && number == 1) sticking(m, n);
        out_ += "      </note>\n";
      }
    }
  }

  // A flam's grace note (slashed) or a drag's two (beamed) before the chord, each a chord
  // of the hits that have them.
  void graceNotes(const std::string& voiceTag, const char* stem) {
    int graces = 0;
    for (const ScoreHit* hit : order_) graces = std::max(graces, graceNotesOf(hit->articulation));
    for (int g = 0; g < graces; ++g) {
      bool first = true;
      for (const ScoreHit* hit : order_) {
        if (graceNotesOf(hit->articulation) <= g) continue;
        const DrumPlacement p = placementOf(hit->voice);
        out_ += graces == 1 ? "      <note>\n        <grace slash=\"yes\"/>"
                            : "      <note>\n        <grace/>";
        if (!first) out_ += "<chord/>";
        out_ += "<unpitched><display-step>";
        out_ += p.step;
        out_ += "</display-step><display-octave>";
        appendNumber(p.octave);
        out_ += "</display-octave></unpitched>\n        <instrument id=\"P1-I";
        appendNumber(instruments_.at(instrumentOf(*hit)));
        out_ += "\"/>\n        ";
        out_ += voiceTag;
        out_ += graces == 1 ? "\n        <type>eighth</type>\n" : "\n        <type>16th</type>\n";
        out_ += "        <stem>";
        out_ += stem;
        out_ += "</stem>\n";
        if (p.head != Notehead::Normal) {
          out_ += "        <notehead>";
          out_ += headName(p.head);
          out_ += "</notehead>\n";
        }
        if (graces > 1 && first) {
          out_ += g == 0
                      ? "        <beam number=\"1\">begin</beam><beam number=\"2\">begin</beam>\n"
                      : "        <beam number=\"1\">end</beam><beam number=\"2\">end</beam>\n";
        }
        out_ += "      </note>\n";
        first = false;
      }
    }
  }

  // The sticking line's hand under the staff, as a lyric of the note at its step.
  void sticking(const ScoreMeasure& m, const ScoreNote& n) {
    if (n.step >= m.steps.size()) return;
    const char hand = m.steps[n.step].sticking;
    if (hand == '-' || hand == ' ') return;
    out_ += "        <lyric placement=\"below\"><syllabic>single</syllabic><text>";
    out_ += escaped(std::string_view(&hand, 1));
    out_ += "</text></lyric>\n";
  }

  void appendNumber(long long value) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%lld", value);
    out_.append(digits, static_cast<std::size_t>(length));
  }

  void value(const ScoreNote& n) {
    out_ += "        <type>";
    out_ += noteTypeName(n.typeLog2);
    out_ += "</type>\n";
    if (n.dotted) out_ += "        <dot/>\n";
    if (n.actualNotes != n.normalNotes) {
      out_ += "        <time-modification><actual-notes>" + std::to_string(n.actualNotes) +
              "</actual-notes><normal-notes>" + std::to_string(n.normalNotes) +
              "</normal-notes></time-modification>\n";
    }
  }

  // The tuplet's marks go on the first note of a chord (`withTuplet`) only.
  void notations(const ScoreNote& n, const ScoreHit* hit, bool withTuplet) {
    const bool accent = hit != nullptr && hit->level >= 7;
    const bool start = withTuplet && n.tupletStart;
    const bool stop = withTuplet && n.tupletStop;
    const std::string_view marks = hit != nullptr ? markOf(hit->articulation) : "";
    if (!start && !stop && !accent && marks.empty()) return;
    out_ += "        <notations>";
    if (start) out_ += "<tuplet type=\"start\" bracket=\"yes\"/>";
    if (stop) out_ += "<tuplet type=\"stop\"/>";
    out_ += marks;
    if (accent) out_ += "<articulations><accent/></articulations>";
    out_ += "</notations>\n";
  }

  struct MeasureHead {
    int beats = 0;
    int beatType = 0;
    double tempo = 0;
    bool simile = false;
    int swingPercent = 50;
  };

  const Score& head_;
  int channel_;
  const Sink* sink_;
  bool ok_ = true;
  MeasureHead before_;
  std::map<InstrumentKey, int> instruments_;
  std::vector<const ScoreHit*> order_;  // a chord's hits as written
  std::string out_;
};

}  // namespace

std::string writeMusicXml(const Score& score, int midiChannel) {
  Writer writer(score, midiChannel);
  for (const ScoreMeasure& m : score.measures) writer.addInstruments(m);
  writer.begin();
  if (score.measures.empty()) writer.emptyMeasure();
  for (std::size_t m = 0; m < score.measures.size(); ++m) {
    writer.measure(score.measures[m], m + 1, score.measures.size());
  }
  writer.end();
  return writer.take();
}

bool streamMusicXml(const ScoreSource& source, int midiChannel,
                    const std::function<bool(std::string_view)>& sink, Score* info,
                    const std::function<bool()>& keepGoing) {
  Score head;
  Writer writer(head, midiChannel, &sink);
  std::size_t count = 0;
  bool stopped = false;
  const auto goOn = [&] { return !(stopped = stopped || (keepGoing && !keepGoing())); };
  head = buildScore(source, [&](const ScoreMeasure& m) {
    writer.addInstruments(m);
    ++count;
    return goOn();
  });
  if (info != nullptr) *info = head;
  if (stopped || !head.unwritable.empty()) return false;
  writer.begin();
  if (count == 0) writer.emptyMeasure();
  std::size_t number = 0;
  buildScore(source, [&](const ScoreMeasure& m) {
    writer.measure(m, ++number, count);
    return writer.ok() && goOn();
  });
  return !stopped && writer.end() && number == count;
}

}  // namespace pulsewright
