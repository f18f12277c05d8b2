#pragma once
// A small writer of Standard MIDI Files for the tests, independent of the program's own:
// events at absolute ticks, written with or without running status, so that the import
// is tried on files laid out as other programs lay them out.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace pulsewright::test {

struct MidiEvent {
  std::int64_t tick = 0;
  std::vector<std::uint8_t> bytes;  // status and data, or FF type length data
};

inline std::string vlq(std::uint32_t v) {
  std::string out(1, static_cast<char>(v & 0x7F));
  while ((v >>= 7) != 0) out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7F)));
  return out;
}

inline std::string bigEndian(std::uint32_t v, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

class TrackBuilder {
 public:
  TrackBuilder& note(std::int64_t tick, int channel, int key, int velocity, int length = 60,
                     bool zeroVelocityOff = true) {
    const auto ch = static_cast<std::uint8_t>(channel - 1);
    events_.push_back({tick,
                       {static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(key),
                        static_cast<std::uint8_t>(velocity)}});
    if (zeroVelocityOff) {
      events_.push_back(
          {tick + length,
           {static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(key), 0}});
    } else {
      events_.push_back(
          {tick + length,
           {static_cast<std::uint8_t>(0x80 | ch), static_cast<std::uint8_t>(key), 64}});
    }
    return *this;
  }
  TrackBuilder& tempo(std::int64_t tick, double bpm) {
    const auto us = static_cast<std::uint32_t>(60'000'000.0 / bpm + 0.5);
    events_.push_back({tick,
                       {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(us >> 16),
                        static_cast<std::uint8_t>(us >> 8), static_cast<std::uint8_t>(us)}});
    return *this;
  }
  TrackBuilder& meter(std::int64_t tick, int numerator, int denominatorPower) {
    events_.push_back({tick,
                       {0xFF, 0x58, 0x04, static_cast<std::uint8_t>(numerator),
                        static_cast<std::uint8_t>(denominatorPower), 24, 8}});
    return *this;
  }
  TrackBuilder& text(std::int64_t tick, int type, const std::string& text) {
    MidiEvent e{tick, {0xFF, static_cast<std::uint8_t>(type)}};
    for (char c : vlq(static_cast<std::uint32_t>(text.size())))
      e.bytes.push_back(static_cast<std::uint8_t>(c));
    e.bytes.insert(e.bytes.end(), text.begin(), text.end());
    events_.push_back(e);
    return *this;
  }
  TrackBuilder& raw(std::int64_t tick, std::vector<std::uint8_t> bytes) {
    events_.push_back({tick, std::move(bytes)});
    return *this;
  }

  // The chunk, events in tick order (ties in the order given), closed by an end of track
  // unless `end` is false.
  std::string chunk(bool runningStatus, bool end = true) const {
    std::vector<MidiEvent> sorted = events_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const MidiEvent& a, const MidiEvent& b) { return a.tick < b.tick; });
    std::string data;
    std::int64_t last = 0;
    std::uint8_t running = 0;
    for (const MidiEvent& e : sorted) {
      data += vlq(static_cast<std::uint32_t>(e.tick - last));
      last = e.tick;
      std::size_t from = 0;
      if (e.bytes[0] < 0xF0 && runningStatus && e.bytes[0] == running) from = 1;
      running = e.bytes[0] < 0xF0 ? e.bytes[0] : 0;  // meta events end running status
      data.append(e.bytes.begin() + static_cast<std::ptrdiff_t>(from), e.bytes.end());
    }
    if (end) data += std::string("\x00\xFF\x2F\x00", 4);
    return "MTrk" + bigEndian(static_cast<std::uint32_t>(data.size()), 4) + data;
  }

 private:
  std::vector<MidiEvent> events_;
};

inline std::string midiFile(int format, int division, const std::vector<std::string>& chunks) {
  std::string out = "MThd" + bigEndian(6, 4) + bigEndian(static_cast<std::uint32_t>(format), 2) +
                    bigEndian(static_cast<std::uint32_t>(chunks.size()), 2) +
                    bigEndian(static_cast<std::uint32_t>(division), 2);
  for (const std::string& c : chunks) out += c;
  return out;
}

}  // namespace pulsewright::test
