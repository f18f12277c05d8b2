#pragma once
// A MIDI output for tests: devices with chosen names, opens that fail on request, and a
// record of every word sent on an open handle, with the time it arrived.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MidiOutput.h"

namespace pulsewright {

class FakeMidiOutput : public MidiOutputService {
 public:
  struct Sent {
    std::chrono::steady_clock::time_point time;
    int deviceId;
    MidiHandle handle;
    std::uint32_t word;
  };

  explicit FakeMidiOutput(std::vector<std::string> devices = {});

  // Test controls; safe while other threads send.
  void setDevices(std::vector<std::string> devices);
  void failOpen(int deviceId, int code);  // code 0 makes it open again
  void failSends(int code);               // every send fails with `code`; 0 ends it

  int deviceCount() override;
  std::string deviceName(int device) override;
  int open(int deviceId, MidiHandle* handle) override;
  int sendShort(MidiHandle handle, std::uint32_t word) override;
  int close(MidiHandle handle) override;

  std::vector<Sent> sent() const;
  std::vector<std::string> calls() const;
  int openHandles() const;
  int failedSends() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> system_;  // what the system would list now
  std::vector<std::string> listed_;  // the latest listing
  std::map<int, int> openFailures_;
  std::map<MidiHandle, int> open_;  // handle -> device identifier
  MidiHandle nextHandle_ = 1;
  std::vector<Sent> sent_;
  std::vector<std::string> calls_;
  int failedSends_ = 0;
  int sendFailure_ = 0;
};

}  // namespace pulsewright
