#pragma once
// A small reader of Standard MIDI Files for the tests: every channel event and meta event
// with its tick, and its time in milliseconds through the file's tempo map.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pulsewright::test {

struct ReadEvent {
  int track = 0;
  std::int64_t tick = 0;
  double ms = 0;
  std::uint8_t status = 0;  // 0xFF for meta events
  int data1 = 0;            // the meta type for meta events
  int data2 = 0;
  std::string text;  // a meta event's data
};

struct ReadFile {
  int format = 0;
  int tracks = 0;
  int division = 0;
  std::vector<ReadEvent> events;  // track by track, in file order
};

inline ReadFile readMidiFile(std::string_view bytes) {
  std::size_t p = 0;
  auto need = [&](std::size_t n) {
    if (p + n > bytes.size()) throw std::runtime_error("truncated at byte " + std::to_string(p));
  };
  auto u = [&](int n) {
    need(static_cast<std::size_t>(n));
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<std::uint8_t>(bytes[p++]);
    return v;
  };
  auto vlq = [&] {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint32_t b = u(1);
      v = (v << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return v;
    }
    throw std::runtime_error("variable-length quantity longer than four bytes");
  };
  ReadFile file;
  need(14);
  if (bytes.substr(0, 4) != "MThd") throw std::runtime_error("no MThd");
  p = 4;
  if (u(4) != 6) throw std::runtime_error("header length");
  file.format = static_cast<int>(u(2));
  file.tracks = static_cast<int>(u(2));
  file.division = static_cast<int>(u(2));
  for (int t = 0; t < file.tracks; ++t) {
    need(8);
    if (bytes.substr(p, 4) != "MTrk") throw std::runtime_error("no MTrk");
    p += 4;
    const std::size_t end = p + u(4);
    if (end > bytes.size()) throw std::runtime_error("track longer than the file");
    std::int64_t tick = 0;
    bool ended = false;
    while (p < end) {
      if (ended) throw std::runtime_error("events after the end of track");
      ReadEvent e;
      e.track = t;
      tick += vlq();
      e.tick = tick;
      e.status = static_cast<std::uint8_t>(u(1));
      if (e.status == 0xFF) {
        e.data1 = static_cast<int>(u(1));
        const std::uint32_t n = vlq();
        need(n);
        e.text = std::string(bytes.substr(p, n));
        p += n;
        ended = e.data1 == 0x2F;
      } else if (e.status >= 0x80 && e.status < 0xF0) {
        e.data1 = static_cast<int>(u(1));
        if ((e.status & 0xF0) != 0xC0 && (e.status & 0xF0) != 0xD0)
          e.data2 = static_cast<int>(u(1));
      } else {
        throw std::runtime_error("unexpected status byte");
      }
      file.events.push_back(e);
    }
    if (!ended || p != end) throw std::runtime_error("track without its end");
  }
  // Times through the tempo map of track 0 (500,000 us a quarter until the first).
  std::vector<std::pair<std::int64_t, std::uint32_t>> tempi;
  for (const ReadEvent& e : file.events) {
    if (e.track == 0 && e.status == 0xFF && e.data1 == 0x51 && e.text.size() == 3) {
      const auto* b = reinterpret_cast<const std::uint8_t*>(e.text.data());
      tempi.emplace_back(e.tick, (b[0] << 16) | (b[1] << 8) | b[2]);
    }
  }
  for (ReadEvent& e : file.events) {
    double ms = 0;
    std::int64_t at = 0;
    std::uint32_t tempo = 500000;
    for (const auto& [tick, us] : tempi) {
      if (tick > e.tick) break;
      ms += static_cast<double>(tick - at) * tempo / 1000.0 / file.division;
      at = tick;
      tempo = us;
    }
    e.ms = ms + static_cast<double>(e.tick - at) * tempo / 1000.0 / file.division;
  }
  return file;
}

}  // namespace pulsewright::test
