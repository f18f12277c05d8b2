#pragma once
// Play as Settings > Sync says: following the JACK transport (through a client of its own
// wired to the JACK MIDI port the window plays to) or a MIDI clock in (through the
// window's player). The logic is the command line's (platform/JackTransport.h,
// playback/ClockInDriver.h); this only polls it and tells the transport what came.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/Transport.h"
#include "settings/SyncSettings.h"

namespace pulsewright {

class ClockInDriver;
class JackTransportPlayer;
class MidiInput;
class MidiInputService;

// What the status line says when a source Play followed went away mid-song.
inline constexpr char kTransportGoneMessage[] =
    "The JACK transport went away: the song was stopped.";
inline constexpr char kClockInGoneMessage[] =
    "The MIDI clock source went away: the song was stopped.";
inline constexpr char kTransportNeedsJackMessage[] =
    "Follow JACK Transport plays to a JACK MIDI device (MIDI Device menu): the song plays by "
    "itself.";
inline constexpr char kClockInStalledMessage[] =
    "The MIDI clock stopped coming: the song waits for it.";

class SyncPlay : public QObject, public Transport::Follow {
  Q_OBJECT
 public:
  // Where the window's notes go: a port name as the MIDI devices list it, and a channel.
  struct PlaysTo {
    QString port;
    int channel = 0;
  };

  // `choices`, `transport` and `input` (may be null) must outlive this.
  SyncPlay(const SyncSettings& choices, Transport& transport, MidiInputService* input,
           QObject* parent);
  ~SyncPlay() override;
  void setPlaysTo(std::function<PlaysTo()> playsTo) { playsTo_ = std::move(playsTo); }

  bool arm(std::shared_ptr<const Song> song, const PlayOptions& options) override;
  void stopPressed() override;
  // Lets the source go (its choice changed): the next Play takes the choice anew. True
  // when Play followed one.
  bool release();

 private:
  bool armTransport(const Song& song);
  bool armClockIn(std::shared_ptr<const Song> song, const PlayOptions& options);
  void poll();

  const SyncSettings& choices_;
  Transport& transport_;
  MidiInputService* input_;
  std::function<PlaysTo()> playsTo_;
  QTimer timer_;
  std::unique_ptr<JackTransportPlayer> jack_;
  std::uint64_t transportEdges_ = 0;  // the player's starts and stops seen
  std::unique_ptr<MidiInput> clockInput_;
  std::unique_ptr<ClockInDriver> clockIn_;
};

}  // namespace pulsewright
