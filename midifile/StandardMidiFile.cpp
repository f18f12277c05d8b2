#include "midifile/StandardMidiFile.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace pulsewright {

namespace {

constexpr long double kTicksPerWhole = 4.0L * kMidiFileTicksPerQuarter;
constexpr std::int64_t kSixteenth = kMidiFileTicksPerQuarter / 4;

// One track's bytes, with the running tick of its last event. The bytes are kept, only
// counted, or handed to a sink in pieces as they grow.
class TrackWriter {
 public:
  enum class Mode { kKeep, kCount, kStream };
  explicit TrackWriter(Mode mode, const MidiFileSink* sink = nullptr) : mode_(mode), sink_(sink) {}

  void event(std::int64_t tick, std::initializer_list<std::uint8_t> bytes) {
    delta(tick);
    data_.append(bytes.begin(), bytes.end());
    pass();
  }
  void meta(std::int64_t tick, std::uint8_t type, std::string_view text) {
    delta(tick);
    data_ += '\xFF';
    data_ += static_cast<char>(type);
    quantity(text.size());
    data_ += text;
    pass();
  }
  std::int64_t lastTick() const { return last_; }
  // Closes the track with an end-of-track event at `endTick` (or its last event) and
  // hands over what is left; false when the sink refused a piece.
  bool close(std::int64_t endTick) {
    meta(std::max(endTick, last_), 0x2F, {});
    return flush();
  }
  std::uint64_t size() const { return passed_ + data_.size(); }
  const std::string& bytes() const { return data_; }
  static void appendBigEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }

 private:
  static constexpr std::size_t kPiece = 1 << 16;
  static constexpr std::uint64_t kMaxQuantity = 0x0FFFFFFF;  // the format's largest

  void pass() {
    if (mode_ != Mode::kKeep && data_.size() >= kPiece) flush();
  }
  bool flush() {
    if (mode_ == Mode::kKeep || data_.empty()) return ok_;
    if (mode_ == Mode::kStream && ok_) ok_ = (*sink_)(data_);
    passed_ += data_.size();
    data_.clear();
    return ok_;
  }
  void delta(std::int64_t tick) {
    auto gap = static_cast<std::uint64_t>(std::max<std::int64_t>(tick - last_, 0));
    // A gap longer than one delta time holds is bridged by empty text events, each as
    // far as a delta reaches, so that the next event keeps its tick.
    static constexpr char kEmptyText[] = {'\xFF', '\x01', '\x00'};
    while (gap > kMaxQuantity) {
      quantity(kMaxQuantity);
      data_.append(kEmptyText, sizeof kEmptyText);
      gap -= kMaxQuantity;
      pass();
    }
    quantity(gap);
    last_ = std::max(tick, last_);
  }
  // A variable-length quantity: seven bits a byte, most significant first.
  void quantity(std::uint64_t value) {
    value = std::min<std::uint64_t>(value, kMaxQuantity);
    char bytes[4];
    int n = 0;
    do {
      bytes[n++] = static_cast<char>(value & 0x7F);
      value >>= 7;
    } while (value != 0);
    while (n > 1) data_ += static_cast<char>(bytes[--n] | 0x80);
    data_ += bytes[0];
  }

  Mode mode_;
  const MidiFileSink* sink_;
  std::string data_;
  std::uint64_t passed_ = 0;
  bool ok_ = true;
  std::int64_t last_ = 0;
};

// Microseconds per quarter note, or 0 when the tempo cannot be written.
std::uint32_t microsecondsPerQuarter(double tempo) {
  if (!(tempo > 0) || !std::isfinite(tempo)) return 0;
  const double us = std::round(60'000'000.0 / tempo);
  return static_cast<std::uint32_t>(std::clamp(us, 1.0, 16'777'215.0));
}

// Both tracks of the song, each closed; returns false when a sink refused a piece.
bool writeTracks(const MidiFileSong& song, const MidiFileStepWalk& walk, int channel,
                 TrackWriter& tempoTrack, TrackWriter& drums, MidiFileSummary* summary) {
  MidiFileSummary counts;
  const auto ch = static_cast<std::uint8_t>(std::clamp(channel, 0, 15));

  if (!song.title.empty()) tempoTrack.meta(0, 0x03, song.title);
  const std::pair<std::string_view, const std::string*> texts[] = {
      {"Author: ", &song.author},
      {"Artist: ", &song.artist},
      {"Genre: ", &song.genre},
      {"Description: ", &song.description}};
  for (const auto& [label, value] : texts) {
    if (!value->empty()) tempoTrack.meta(0, 0x01, std::string(label) + *value);
  }
  int lastBeats = 0;
  int lastUnit = 0;
  auto timeSignature = [&](std::int64_t tick, int beats, int unit) {
    if (beats < 1 || beats > 255 || unit < 1 || (unit & (unit - 1)) != 0 || unit > 128) return;
    if (beats == lastBeats && unit == lastUnit) return;
    std::uint8_t power = 0;
    while ((1 << power) < unit) ++power;
    // A metronome click a beat long; in 6/8, 9/8 and 12/8 a dotted quarter.
    const bool compound = unit >= 8 && beats % 3 == 0 && beats > 3;
    const int clocks = compound ? 3 * 96 / unit : 96 / unit;
    tempoTrack.event(tick, {0xFF, 0x58, 0x04, static_cast<std::uint8_t>(beats), power,
                            static_cast<std::uint8_t>(std::clamp(clocks, 1, 255)), 8});
    lastBeats = beats;
    lastUnit = unit;
  };
  drums.meta(0, 0x03, "Drums");

  long double exactEnd = 0;
  // The song's exact position while every step has an exact length; none after.
  std::optional<MusicalTime> position = MusicalTime{};
  std::int64_t start = 0;
  std::uint32_t lastTempo = 0;
  int lastProgram = -1;
  std::vector<int> sounding;  // notes waiting for their note off
  std::int64_t offTick = 0;
  auto releaseNotes = [&](std::int64_t notAfter) {
    const std::int64_t tick = std::min(offTick, notAfter);
    for (int note : sounding)
      drums.event(tick, {static_cast<std::uint8_t>(0x80 | ch), static_cast<std::uint8_t>(note), 0});
    sounding.clear();
  };
  // Timed messages not yet written, in tick order: each goes out once the track reaches
  // its tick. Songs without expression have none.
  struct LaterMessage {
    std::int64_t tick;
    std::uint8_t bytes[3];
  };
  std::vector<LaterMessage> later;
  auto writeLater = [&](std::int64_t until) {
    std::size_t n = 0;
    for (; n < later.size() && later[n].tick <= until; ++n) {
      const LaterMessage& m = later[n];
      drums.event(m.tick, {m.bytes[0], m.bytes[1], m.bytes[2]});
    }
    later.erase(later.begin(), later.begin() + static_cast<std::ptrdiff_t>(n));
  };
  auto addLater = [&](std::int64_t tick, std::uint8_t status, std::uint8_t data1,
                      std::uint8_t data2) {
    const auto at =
        std::upper_bound(later.begin(), later.end(), tick,
                         [](std::int64_t t, const LaterMessage& m) { return t < m.tick; });
    later.insert(at, LaterMessage{tick, {static_cast<std::uint8_t>(status | ch), data1, data2}});
  };
  bool first = true;
  walk([&](const MidiFileStep& step) {
    if (first && step.metreBeats == 0) timeSignature(0, 4, 4);
    first = false;
    const long double whole = static_cast<long double>(step.noteSize) * step.divisor;
    if (whole > 0) exactEnd += kTicksPerWhole / whole;
    // A step with no length of either kind lasts no time.
    if (position && step.length) {
      position = *position + *step.length;
    } else if (whole > 0) {
      position.reset();
    }
    const std::optional<std::int64_t> exactTick =
        position ? roundedUnits(*position, 4 * kMidiFileTicksPerQuarter) : std::nullopt;
    const std::int64_t end =
        exactTick ? *exactTick : static_cast<std::int64_t>(std::llround(exactEnd));
    const std::int64_t length = end - start;

    const std::uint32_t tempo = microsecondsPerQuarter(step.tempo);
    if (tempo != 0 && tempo != lastTempo) {
      tempoTrack.event(start,
                       {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(tempo >> 16),
                        static_cast<std::uint8_t>(tempo >> 8), static_cast<std::uint8_t>(tempo)});
      lastTempo = tempo;
    }
    if (!later.empty()) writeLater(std::min(offTick, start));
    releaseNotes(start);
    timeSignature(start, step.metreBeats, step.metreUnit);
    if (step.program >= 0 && step.program <= 127 && step.program != lastProgram) {
      drums.event(start,
                  {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(step.program)});
      lastProgram = step.program;
    }
    if (!step.timed.empty()) {
      // Milliseconds at the step's tempo; nothing before the song's start.
      const double ticksPerMs =
          step.tempo > 0 ? step.tempo * kMidiFileTicksPerQuarter / 60000.0 : 0;
      const auto timedOff = std::clamp<std::int64_t>(
          std::llround(10 * ticksPerMs), 1, std::clamp<std::int64_t>(length / 2, 1, kSixteenth));
      for (const MidiFileTimedEvent& e : step.timed) {
        const std::int64_t tick =
            std::max<std::int64_t>(start + std::llround(e.offsetMs * ticksPerMs), 0);
        if ((e.status & 0xF0) == 0x90) {
          if (e.data1 > 127 || e.data2 == 0) continue;
          addLater(tick, 0x90, e.data1, std::min<std::uint8_t>(e.data2, 127));
          addLater(tick + timedOff, 0x80, e.data1, 0);
          ++counts.notes;
        } else if ((e.status & 0xF0) == 0xA0 && e.data1 <= 127) {
          addLater(tick, 0xA0, e.data1, std::min<std::uint8_t>(e.data2, 127));
        }
      }
      writeLater(start);
    }
    for (const MidiFileNote& n : step.notes) {
      if (n.note < 0 || n.note > 127 || n.velocity <= 0) continue;
      const auto velocity = static_cast<std::uint8_t>(std::min(n.velocity, 127));
      drums.event(start, {static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(n.note),
                          velocity});
      sounding.push_back(n.note);
      ++counts.notes;
    }
    offTick = start + std::clamp<std::int64_t>(length / 2, 1, kSixteenth);
    counts.samplesLeftOut += static_cast<std::size_t>(std::max(step.samples, 0));
    start = std::max(end, start);
  });
  if (first) timeSignature(0, 4, 4);
  if (!later.empty()) writeLater(offTick);
  releaseNotes(offTick);
  if (!later.empty()) {
    start = std::max(start, later.back().tick);
    writeLater(later.back().tick);
  }
  counts.lengthTicks = start;
  if (summary != nullptr) *summary = counts;
  const bool tempoClosed = tempoTrack.close(start);
  return drums.close(start) && tempoClosed;
}

std::string chunkHead(std::uint64_t size) {
  std::string head = "MTrk";
  TrackWriter::appendBigEndian(head, static_cast<std::uint32_t>(size), 4);
  return head;
}

}  // namespace

bool streamStandardMidiFile(const MidiFileSong& text, const MidiFileStepWalk& walk, int channel,
                            const MidiFileSink& sink, MidiFileSummary* summary) {
  // The first walk keeps the tempo track, which changes only with the music, and counts
  // the drum track; the second hands the drums over as they are made.
  TrackWriter tempoTrack(TrackWriter::Mode::kKeep);
  TrackWriter drumCount(TrackWriter::Mode::kCount);
  writeTracks(text, walk, channel, tempoTrack, drumCount, summary);
  std::string head = "MThd";
  TrackWriter::appendBigEndian(head, 6, 4);
  TrackWriter::appendBigEndian(head, 1, 2);  // type 1
  TrackWriter::appendBigEndian(head, 2, 2);  // two tracks
  TrackWriter::appendBigEndian(head, kMidiFileTicksPerQuarter, 2);
  head += chunkHead(tempoTrack.size());
  head += tempoTrack.bytes();
  head += chunkHead(drumCount.size());
  if (!sink(head)) return false;
  TrackWriter tempoAgain(TrackWriter::Mode::kCount);
  TrackWriter drums(TrackWriter::Mode::kStream, &sink);
  return writeTracks(text, walk, channel, tempoAgain, drums, nullptr) &&
         drums.size() == drumCount.size();
}

std::string writeStandardMidiFile(const MidiFileSong& song, int channel, MidiFileSummary* summary) {
  std::string file;
  streamStandardMidiFile(
      song,
      [&song](const std::function<void(const MidiFileStep&)>& step) {
        for (const MidiFileStep& s : song.steps) step(s);
      },
      channel,
      [&file](std::string_view bytes) {
        file += bytes;
        return true;
      },
      summary);
  return file;
}

}  // namespace pulsewright
