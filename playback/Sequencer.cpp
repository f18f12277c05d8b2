#include "playback/Sequencer.h"

#include <algorithm>
#include <cmath>

#include "tablature/NumericValue.h"

namespace pulsewright {

namespace {

constexpr int kNoteOn = 0x90;
constexpr int kNoteOff = 0x80;
constexpr int kProgramChange = 0xC0;

bool endsInWav(std::string_view sound) {
  if (sound.size() < 4) return false;
  const std::string_view end = sound.substr(sound.size() - 4);
  return end[0] == '.' && (end[1] == 'w' || end[1] == 'W') && (end[2] == 'a' || end[2] == 'A') &&
         (end[3] == 'v' || end[3] == 'V');
}

// Round half to even, as a whole MIDI value; nullopt-like -1 when outside 0-127 so the
// word is never malformed.
int midiDataByte(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= 0.0 && rounded <= 127.0)) return -1;
  return static_cast<int>(rounded);
}

std::int16_t toInt16OrZero(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -32768.0 && rounded <= 32767.0)) return 0;
  return static_cast<std::int16_t>(rounded);
}

}  // namespace

int velocityOfLevel(double level) {
  const double v = std::floor((level + 1.0) / 10.0 * 127.0);
  if (!(v >= 0.0)) return 0;
  if (v > 127.0) return 127;
  return static_cast<int>(v);
}

std::vector<std::string> songCharacters(std::string_view s) {
  std::vector<std::string> chars;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (i + len > s.size()) len = 1;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    }
    chars.emplace_back(s.substr(i, len));
    i += len;
  }
  return chars;
}

std::vector<std::string> sampleFiles(const PartTable& table) {
  std::vector<std::string> files;
  for (const PartRecord& part : table) {
    for (const std::string& events : part.stepEvents) {
      std::size_t start = 0;
      while (start < events.size()) {
        std::size_t bar = events.find('|', start);
        if (bar == std::string::npos) bar = events.size();
        const std::string_view item = std::string_view(events).substr(start, bar - start);
        start = bar + 1;
        const std::string_view sound = item.substr(0, item.find(','));
        const std::size_t hash = sound.find('#');
        if (!endsInWav(sound) || hash == std::string_view::npos) continue;
        std::string file(sound.substr(hash + 1));
        if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(std::move(file));
      }
    }
  }
  return files;
}

bool Sequencer::play(std::shared_ptr<const Song> song) {
  song_ = std::move(song);
  songChars_ = songCharacters(song_->songLine);
  currentPart_ = 1;
  currentStep_ = 0;
  songPosition_ = 1;
  const PartTable& table = song_->partTable;
  // Step 0 of part 1 (the first part of the document, whatever the song begins with).
  // A negative duration keeps the interval running before; 0 or no part 1 cannot start.
  if (table.size() > 1 && table[1].hasSteps()) {
    const int first = table[1].stepTimes[0];
    if (first >= 0) interval_ = first;
  } else {
    interval_ = 0;
  }
  if (interval_ <= 0) {
    stop();
    return false;
  }
  return true;
}

void Sequencer::stop() {
  interval_ = 0;
  currentPart_ = 1;
  currentStep_ = 0;
}

Sequencer::TickResult Sequencer::tick(StepOutput& output) {
  TickResult result;
  if (!song_) {
    stop();
    result.songOver = true;
    return result;
  }
  const PartTable& table = song_->partTable;

  // The song character at the position; past the end it is empty, which names the
  // placeholder (the only record without a name).
  const std::size_t position = static_cast<std::size_t>(songPosition_);
  const std::string character =
      position >= 1 && position <= songChars_.size() ? songChars_[position - 1] : std::string();
  // The last record of that name wins; a character that names none keeps the part.
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].name == character) currentPart_ = static_cast<int>(i);
  }
  const bool partExists = currentPart_ >= 0 && static_cast<std::size_t>(currentPart_) < table.size();
  static const PartRecord kNoPart;
  const PartRecord& part = partExists ? table[static_cast<std::size_t>(currentPart_)] : kNoPart;

  // A program change on every step of a part that has a program MIDI can carry.
  if (partExists && part.program >= 0 && part.program <= 127) {
    output.sendChannelMessage(kProgramChange, part.program, 0);
  }

  result.status = "Song Part:" + std::to_string(songPosition_) + "  Part: " + character +
                  "  Beat: " + std::to_string(currentStep_) +
                  "  Program: " + std::to_string(partExists ? part.program : 0);

  playStep(part, output);

  // The next interval; a step that was never timed (0) ends the song below, a negative
  // one keeps the interval before.
  const std::size_t step = static_cast<std::size_t>(currentStep_);
  if (step < part.stepTimes.size()) {
    const int duration = part.stepTimes[step];
    if (duration >= 0) interval_ = duration;
  }

  // The last two steps of a table are tail steps and are never played. A part without
  // step tables plays nothing and the song moves on.
  const long lastIndex = static_cast<long>(part.stepTimes.size()) - 1;
  if (currentStep_ + 3 <= lastIndex) {
    ++currentStep_;
  } else {
    currentStep_ = 0;
    ++songPosition_;
  }

  if (static_cast<std::size_t>(songPosition_) > songChars_.size() || interval_ <= 0) {
    stop();
    result.songOver = true;
    result.status.clear();
  }
  return result;
}

void Sequencer::playStep(const PartRecord& part, StepOutput& output) {
  const std::size_t step = static_cast<std::size_t>(currentStep_);
  if (step >= part.stepEvents.size()) return;
  const std::string_view events = part.stepEvents[step];
  std::size_t start = 0;
  while (start < events.size()) {
    std::size_t bar = events.find('|', start);
    if (bar == std::string_view::npos) bar = events.size();
    const std::string_view item = events.substr(start, bar - start);
    start = bar + 1;
    if (item.empty()) continue;
    // "sound,level": the sound is the text before the first comma, the level the text
    // up to the next one.
    const std::size_t comma = item.find(',');
    const std::string_view sound = item.substr(0, comma);
    std::string_view level;
    if (comma != std::string_view::npos) {
      level = item.substr(comma + 1);
      level = level.substr(0, level.find(','));
    }
    if (endsInWav(sound)) {
      // "pan#file": everything after the first "#" is the file, so a path that holds a
      // "#" still plays.
      const std::size_t hash = sound.find('#');
      const std::string file =
          hash == std::string_view::npos ? std::string() : std::string(sound.substr(hash + 1));
      const std::int16_t pan = toInt16OrZero(numericValue(sound.substr(0, hash)));
      const std::int16_t volume = toInt16OrZero(std::floor(numericValue(level) + 1.0));
      output.playSample(file, volume, pan);
    } else {
      // A note lasts no time: the instrument plays its sound on the note on. A note
      // number outside 0-127 cannot be sent and is skipped.
      const int note = midiDataByte(numericValue(sound));
      if (note < 0) continue;
      output.sendChannelMessage(kNoteOn, note, velocityOfLevel(numericValue(level)));
      output.sendChannelMessage(kNoteOff, note, 0);
    }
  }
}

}  // namespace pulsewright
