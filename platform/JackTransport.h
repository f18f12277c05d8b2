#pragma once
// Plays a song by the JACK transport: it starts, stops and locates with the transport, at
// the bar and beat the timebase master says and at the master's tempo; where there is no
// master it offers to be one, with the song's own bars and tempo. Everything is placed in
// the process callback of a client of its own, to the frame: a message at the musical
// position where a cycle starts goes at that cycle's first frame.

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pulsewright {

// A song laid out for the transport; positions in quarter notes since its start.
struct TransportSong {
  struct Message {
    double quarter = 0;  // musical position
    double ms = 0;       // on the song's own clock, since its first step
    std::uint8_t length = 0;
    std::uint8_t bytes[3]{};
  };
  // A stretch of the song at one tempo and metre, from `ms` (and `quarter`) on.
  struct Stretch {
    double ms = 0;
    double quarter = 0;
    double quartersPerMs = 0;
    int beatsPerBar = 4;
    int beatType = 4;
  };
  std::vector<Message> messages;   // in the order of their positions
  std::vector<double> barStarts;   // quarter of each bar's first beat; bar 1 at 0
  std::vector<Stretch> stretches;  // by time; at least one
  int channel = 0;                 // for the note-offs at Stop
};

class JackTransportPlayer {
 public:
  // Opens a client named `clientName` whose output port "out" goes to `target` (a JACK
  // MIDI input) and follows the transport with `song`. Null and a result code
  // (platform/MidiOutput.h) on failure.
  static std::unique_ptr<JackTransportPlayer> open(const std::string& clientName,
                                                   const std::string& target,
                                                   std::shared_ptr<const TransportSong> song,
                                                   int* resultCode);
  // Silences what sounds (when the transport rolls) and closes the client.
  ~JackTransportPlayer();
  JackTransportPlayer(const JackTransportPlayer&) = delete;
  JackTransportPlayer& operator=(const JackTransportPlayer&) = delete;

  // Becomes timebase master where no other client is; true while this client is.
  bool offerTimebase();
  bool timebaseMaster() const;
  // Whether the latest cycle saw bar and beat from another client.
  bool followsMaster() const;
  bool rolling() const;
  // How often the transport has started and stopped rolling under this client, so that a
  // poll misses no start or stop however short.
  std::uint64_t starts() const;
  std::uint64_t stops() const;
  // Starts and stops the transport for every client that follows it.
  void startRolling();
  void stopRolling();
  bool serverGone() const;
  // Messages written so far (for checks).
  std::uint64_t sent() const;
  pthread_t processThread() const;

  struct State;

 private:
  JackTransportPlayer() = default;
  std::shared_ptr<State> state_;
};

}  // namespace pulsewright
