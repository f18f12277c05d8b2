#pragma once
// The program's MIDI device list: the default output (kMidiMapperId, the built-in
// synthesiser) served by one service, the numbered devices by another.

#include <map>
#include <mutex>

#include "platform/MidiOutput.h"

namespace pulsewright {

class MidiRouter : public MidiOutputService {
 public:
  // Both services must outlive the router.
  MidiRouter(MidiOutputService& mapper, MidiOutputService& devices);

  int deviceCount() override;
  std::string deviceName(int device) override;
  int open(int deviceId, MidiHandle* handle) override;
  int sendShort(MidiHandle handle, std::uint32_t word) override;
  int sendShortAt(MidiHandle handle, std::uint32_t word, DueTime due) override;
  bool placesByTime(MidiHandle handle) override;
  int close(MidiHandle handle) override;

 private:
  struct Route {
    MidiOutputService* service;
    MidiHandle inner;
  };
  bool find(MidiHandle handle, Route* route);

  MidiOutputService& mapper_;
  MidiOutputService& devices_;
  std::mutex mutex_;
  std::map<MidiHandle, Route> routes_;
  MidiHandle nextHandle_ = 1;
};

}  // namespace pulsewright
