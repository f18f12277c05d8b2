#include "midifile/StandardMidiFileReader.h"

#include <algorithm>
#include <stdexcept>

namespace pulsewright {

namespace {

class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string at(std::size_t offset) {
  return "byte " + std::to_string(offset);
}

std::string hexByte(std::uint8_t b) {
  static const char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[b >> 4] + kHex[b & 0xF];
}

std::uint32_t bigEndian(std::string_view bytes, std::size_t offset, int count) {
  std::uint32_t v = 0;
  for (int i = 0; i < count; ++i) {
    v = (v << 8) | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
  }
  return v;
}

// The events of one track chunk. `base` is the offset of `bytes` in the whole file, for
// the messages.
class TrackReader {
 public:
  TrackReader(std::string_view bytes, std::size_t base, int track, MidiFileContents& out)
      : bytes_(bytes), base_(base), track_(track), out_(out) {}

  void read() {
    std::uint8_t running = 0;
    while (p_ < bytes_.size()) {
      eventStart_ = p_;
      tick_ += quantity("delta time");
      std::uint8_t status = byte();
      if (status < 0x80) {
        if (running == 0) {
          throw ReadError(trackName() + ": a data byte at " + at(base_ + eventStart_) +
                          " with no status byte before it");
        }
        status = running;
        --p_;  // the byte read was the first data byte
      }
      if (status < 0xF0) {
        running = status;
        channelEvent(status);
      } else if (status == 0xFF) {
        if (metaEvent()) {
          out_.endTick = std::max(out_.endTick, tick_);
          return;  // whatever follows the end of track is no part of it
        }
      } else if (status == 0xF0 || status == 0xF7) {
        skip(quantity("length"));  // system exclusive
      } else {
        throw ReadError(trackName() + ": status byte " + hexByte(status) + " at " +
                        at(base_ + p_ - 1) + " has no place in a MIDI file");
      }
    }
    throw ReadError(trackName() + " (the chunk at " + at(base_ - 8) +
                    ") has no end-of-track event");
  }

 private:
  std::string trackName() const { return "track " + std::to_string(track_ + 1); }

  void need(std::size_t n) const {
    if (n > bytes_.size() - p_) {
      throw ReadError(trackName() + ": the event at " + at(base_ + eventStart_) +
                      " runs past the end of its chunk (" + at(base_ + bytes_.size()) + ")");
    }
  }
  std::uint8_t byte() {
    need(1);
    return static_cast<std::uint8_t>(bytes_[p_++]);
  }
  void skip(std::size_t n) {
    need(n);
    p_ += n;
  }
  // A variable-length quantity (`what` names it): at most four bytes of seven bits.
  std::uint32_t quantity(const char* what) {
    const std::size_t start = p_;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint8_t b = byte();
      v = (v << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return v;
    }
    throw ReadError(trackName() + ": the " + what + " at " + at(base_ + start) +
                    " overflows: it is longer than four bytes");
  }

  void channelEvent(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    const auto channel = static_cast<std::uint8_t>(status & 0x0F);
    const std::uint8_t data1 = byte() & 0x7F;
    if (kind == 0xC0) {
      out_.programs.push_back({tick_, channel, data1});
      return;
    }
    if (kind == 0xD0) return;
    const std::uint8_t data2 = byte() & 0x7F;
    if (kind == 0x90 && data2 > 0) {
      out_.notes.push_back({tick_, static_cast<std::uint16_t>(track_), channel, data1, data2});
    } else if (kind == 0xA0) {
      out_.keyPressures.push_back({tick_, channel, data1, data2});
    }
  }

  // True at the end of the track.
  bool metaEvent() {
    const std::uint8_t type = byte();
    const std::uint32_t length = quantity("length");
    need(length);
    const std::string_view data = bytes_.substr(p_, length);
    p_ += length;
    const auto u = [&](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
    switch (type) {
      case 0x2F: return true;
      case 0x51:
        if (length >= 3) {
          const std::uint32_t us = (u(0) << 16) | (u(1) << 8) | u(2);
          if (us > 0) out_.tempi.push_back({tick_, us});
        }
        break;
      case 0x58:
        // A bar of 1-255 beats of a whole note to a 1/64 note; anything else is ignored.
        if (length >= 2 && u(0) > 0 && u(1) <= 6) {
          out_.signatures.push_back({tick_, u(0), 1 << u(1)});
        }
        break;
      case 0x59:
        if (length >= 2) out_.keys.push_back({tick_, static_cast<std::int8_t>(u(0)), u(1) == 1});
        break;
      default:
        if (type >= 0x01 && type <= 0x07) {
          out_.texts.push_back(
              {tick_, static_cast<std::uint16_t>(track_), type, std::string(data)});
        }
        break;
    }
    return false;
  }

  std::string_view bytes_;
  std::size_t base_;
  int track_;
  MidiFileContents& out_;
  std::size_t p_ = 0;
  std::size_t eventStart_ = 0;
  std::int64_t tick_ = 0;
};

// The Standard MIDI File inside a RIFF "RMID" file, with its offset; the bytes themselves
// when they are no such file.
std::pair<std::string_view, std::size_t> unwrapRiff(std::string_view bytes) {
  if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "RMID") {
    return {bytes, 0};
  }
  std::size_t p = 12;
  while (bytes.size() - p >= 8) {
    const std::string_view id = bytes.substr(p, 4);
    // RIFF sizes are little-endian.
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) {
      size = (size << 8) | static_cast<std::uint8_t>(bytes[p + 4 + static_cast<std::size_t>(i)]);
    }
    p += 8;
    if (id == "data") return {bytes.substr(p, std::min<std::size_t>(size, bytes.size() - p)), p};
    if (size > bytes.size() - p) break;
    // An odd-sized chunk is padded to an even length; a last chunk whose pad byte is
    // missing ends the file all the same.
    p += std::min<std::size_t>(size + (size & 1), bytes.size() - p);
  }
  return {std::string_view(), bytes.size()};
}

void readFile(std::string_view whole, MidiFileContents& out) {
  const auto [bytes, base] = unwrapRiff(whole);
  if (bytes.size() < 4 || bytes.substr(0, 4) != "MThd") {
    throw ReadError("not a Standard MIDI File: no MThd header at " + at(base));
  }
  if (bytes.size() < 8) throw ReadError("the file ends inside its header, at " + at(whole.size()));
  const std::uint32_t headerLength = bigEndian(bytes, 4, 4);
  if (headerLength < 6) {
    throw ReadError("the header chunk at " + at(base) + " is " + std::to_string(headerLength) +
                    " bytes long, less than the 6 it needs");
  }
  if (headerLength > bytes.size() - 8) {
    throw ReadError("the header chunk at " + at(base) + " claims " + std::to_string(headerLength) +
                    " bytes, but the file ends after " + std::to_string(bytes.size() - 8));
  }
  out.format = static_cast<int>(bigEndian(bytes, 8, 2));
  const std::uint32_t announced = bigEndian(bytes, 10, 2);
  const std::uint32_t division = bigEndian(bytes, 12, 2);
  if (out.format == 2) {
    throw ReadError(
        "format 2 (a set of independent patterns) is not supported: only formats 0 and 1");
  }
  if (out.format > 2) throw ReadError("unknown format " + std::to_string(out.format));
  if ((division & 0x8000) != 0) {
    throw ReadError(
        "the time division is SMPTE frames, which is not supported: only ticks per quarter note");
  }
  if (division == 0) throw ReadError("the time division is 0 ticks per quarter note");
  if (announced == 0) throw ReadError("the header announces no tracks");
  out.division = static_cast<int>(division);

  std::size_t p = 8 + headerLength;
  while (out.tracks < static_cast<int>(announced)) {
    if (bytes.size() - p < 8) {
      throw ReadError("truncated: the header announces " + std::to_string(announced) +
                      (announced == 1 ? " track" : " tracks") + ", but the file ends after " +
                      std::to_string(out.tracks) + " (at " + at(base + bytes.size()) + ")");
    }
    const std::string_view id = bytes.substr(p, 4);
    const std::uint32_t length = bigEndian(bytes, p + 4, 4);
    if (length > bytes.size() - p - 8) {
      throw ReadError("the chunk at " + at(base + p) + " claims " + std::to_string(length) +
                      " bytes, but the file ends after " + std::to_string(bytes.size() - p - 8));
    }
    if (id == "MTrk") {
      TrackReader(bytes.substr(p + 8, length), base + p + 8, out.tracks, out).read();
      ++out.tracks;
    }  // a chunk of another kind is skipped, as the format asks
    p += 8 + length;
  }
}

}  // namespace

bool looksLikeMidiFile(std::string_view bytes) {
  return bytes.substr(0, 4) == "MThd" ||
         (bytes.size() >= 12 && bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "RMID");
}

bool hasMidiFileName(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return false;
  std::string ending(path.substr(dot + 1));
  for (char& c : ending) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ending == "mid" || ending == "midi" || ending == "kar" || ending == "rmi" ||
         ending == "smf";
}

bool readStandardMidiFile(std::string_view bytes, MidiFileContents* contents, std::string* error) {
  MidiFileContents out;
  try {
    readFile(bytes, out);
  } catch (const std::exception& e) {
    // A ReadError says where; anything else is still a refusal of this file, never a
    // failure of the whole command.
    if (error != nullptr) *error = e.what();
    return false;
  }
  *contents = std::move(out);
  return true;
}

}  // namespace pulsewright
