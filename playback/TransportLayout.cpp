#include "playback/TransportLayout.h"

#include "platform/ShortMessage.h"
#include "playback/Sequencer.h"

namespace pulsewright {

namespace {

double quartersOf(const MusicalTime& t) {
  return 4.0 * static_cast<double>(t.num) / static_cast<double>(t.den);
}

// Collects one tick's MIDI messages at a position.
class Collector : public StepOutput {
 public:
  Collector(TransportSong& song, int channel) : song_(song), channel_(channel) {}
  void sendChannelMessage(int kind, int data1, int data2, DueTime) override {
    const auto word = static_cast<std::uint32_t>((kind | channel_) | data1 << 8 | data2 << 16);
    TransportSong::Message message;
    message.quarter = quarter;
    message.ms = ms;
    message.length = static_cast<std::uint8_t>(shortMessageBytes(word, message.bytes));
    if (message.length > 0) song_.messages.push_back(message);
  }
  void playSample(const std::string&, std::int16_t, std::int16_t, DueTime) override {}
  double quarter = 0;
  double ms = 0;

 private:
  TransportSong& song_;
  int channel_;
};

}  // namespace

std::shared_ptr<TransportSong> layOutForTransport(const Timeline& song, int channel,
                                                  const VoiceFilter* filter) {
  auto laid = std::make_shared<TransportSong>();
  laid->channel = channel & 0x0F;
  Collector collect(*laid, laid->channel);
  MusicalTime at;
  MusicalTime length{1, 16};
  double quarter = 0;
  std::int64_t firstMs = -1;
  Timeline::Cursor cursor = song.begin();
  TimelineTick tick;
  while (cursor.next(&tick)) {
    if (firstMs < 0) firstMs = tick.timeMs;
    const double ms = static_cast<double>(tick.timeMs - firstMs);
    const TimelinePart& part = song.parts()[static_cast<std::size_t>(tick.part)];
    if (tick.music != nullptr) {
      if (const std::optional<MusicalTime> own = exactLengthOf(*tick.music)) length = *own;
    }
    // A bar starts where the step stands first in its bar (the song's first step too).
    const std::optional<StepPosition> position =
        tick.data != nullptr ? part.positionOf(static_cast<std::size_t>(tick.step)) : std::nullopt;
    const bool barLine = laid->barStarts.empty() || (position && position->fromBar.num == 0);
    if (barLine && (laid->barStarts.empty() || quarter > laid->barStarts.back() + 1e-9)) {
      laid->barStarts.push_back(quarter);
    }
    const double quarters = quartersOf(length);
    TransportSong::Stretch stretch;
    stretch.ms = ms;
    stretch.quarter = quarter;
    stretch.quartersPerMs =
        tick.intervalMs > 0
            ? quarters / static_cast<double>(tick.intervalMs)
            : (laid->stretches.empty() ? 0.002 : laid->stretches.back().quartersPerMs);
    stretch.beatsPerBar = part.metre.beats;
    stretch.beatType = part.metre.beatUnit;
    laid->stretches.push_back(stretch);
    collect.quarter = quarter;
    collect.ms = ms;
    playTick(song, tick, collect, DueTime{}, filter);
    const std::optional<MusicalTime> next = at + length;
    if (!next) break;
    at = *next;
    quarter = quartersOf(at);
  }
  return laid;
}

}  // namespace pulsewright
