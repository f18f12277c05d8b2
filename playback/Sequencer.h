#pragma once
// The step sequencer: plays a compiled song one step per tick. It knows nothing of
// clocks or threads; the player calls tick() at each deadline and waits for the
// interval it returns.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tablature/PartTable.h"

namespace pulsewright {

// What a compilation hands to the sequencer. Built completely before it is handed
// over; never changed afterwards, so the playing thread may read it without a lock.
struct Song {
  PartTable partTable;
  std::string songLine;
};

// Where a step's messages and samples go.
class StepOutput {
 public:
  virtual ~StepOutput() = default;
  // Packs kind + the port's channel + data1 * 256 + data2 * 65536 and sends it.
  virtual void sendChannelMessage(int kind, int data1, int data2) = 0;
  virtual void playSample(const std::string& file, std::int16_t volume, std::int16_t pan) = 0;
};

// Every sample file the song's steps can play, each once, so that they can be loaded
// before Play and no tick has to read a file.
std::vector<std::string> sampleFiles(const PartTable& table);

// MIDI velocity of a grid level: floor((L + 1) / 10 * 127), kept within 0-127.
int velocityOfLevel(double level);

// The characters of a song line: one per code point, so a part named "é" can be named.
std::vector<std::string> songCharacters(std::string_view songLine);

class Sequencer {
 public:
  struct TickResult {
    std::string status;     // the text for the status line ("" once the song is over)
    bool songOver = false;  // Stop has been performed
  };

  // Play: position at the first part, its first step, the first song character, and
  // the interval from step 0 of part 1. Returns false, leaving the sequencer stopped,
  // when that gives no interval to wait for (no part 1, or a duration of 0): a song
  // that cannot start is over at once.
  bool play(std::shared_ptr<const Song> song);

  // One step; the next tick is due interval() milliseconds after this one.
  TickResult tick(StepOutput& output);

  // Stop: the interval drops to 0, the position goes back to part 1, step 0. The song
  // position is kept (Play resets it).
  void stop();

  bool running() const { return interval_ > 0; }
  int interval() const { return interval_; }
  int currentPart() const { return currentPart_; }
  int currentStep() const { return currentStep_; }
  int songPosition() const { return songPosition_; }

 private:
  void playStep(const PartRecord& part, StepOutput& output);

  std::shared_ptr<const Song> song_;
  // Positions are wider than 16 bits so that a very long song or part still ends.
  std::vector<std::string> songChars_;
  int currentPart_ = 1;
  int currentStep_ = 0;
  int songPosition_ = 1;
  int interval_ = 0;  // milliseconds; 0 while stopped
};

}  // namespace pulsewright
