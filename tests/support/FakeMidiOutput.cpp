#include "tests/support/FakeMidiOutput.h"

#include "platform/ShortMessage.h"

namespace pulsewright {

FakeMidiOutput::FakeMidiOutput(std::vector<std::string> devices) : system_(std::move(devices)) {}

void FakeMidiOutput::setDevices(std::vector<std::string> devices) {
  std::lock_guard lock(mutex_);
  system_ = std::move(devices);
}

void FakeMidiOutput::failOpen(int deviceId, int code) {
  std::lock_guard lock(mutex_);
  if (code == 0) {
    openFailures_.erase(deviceId);
  } else {
    openFailures_[deviceId] = code;
  }
}

int FakeMidiOutput::deviceCount() {
  std::lock_guard lock(mutex_);
  listed_ = system_;
  return static_cast<int>(listed_.size());
}

std::string FakeMidiOutput::deviceName(int device) {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= static_cast<int>(listed_.size())) return {};
  return listed_[device];
}

int FakeMidiOutput::open(int deviceId, MidiHandle* handle) {
  std::lock_guard lock(mutex_);
  int rc = midi_result::kOk;
  if (deviceId != kMidiMapperId && (deviceId < 0 || deviceId >= static_cast<int>(listed_.size()))) {
    rc = midi_result::kBadDeviceId;
  } else if (auto it = openFailures_.find(deviceId); it != openFailures_.end()) {
    rc = it->second;
  }
  *handle = 0;
  if (rc == midi_result::kOk) {
    *handle = nextHandle_++;
    open_[*handle] = deviceId;
  }
  calls_.push_back("open " + std::to_string(deviceId) + " -> " + std::to_string(rc));
  return rc;
}

void FakeMidiOutput::failSends(int code) {
  std::lock_guard lock(mutex_);
  sendFailure_ = code;
}

int FakeMidiOutput::sendShort(MidiHandle handle, std::uint32_t word) {
  const auto now = std::chrono::steady_clock::now();
  std::uint8_t bytes[3];
  std::lock_guard lock(mutex_);
  auto it = open_.find(handle);
  if (it == open_.end()) {
    ++failedSends_;
    return midi_result::kInvalidHandle;
  }
  if (shortMessageBytes(word, bytes) == 0) {
    ++failedSends_;
    return midi_result::kInvalidParam;
  }
  if (sendFailure_ != 0) {
    ++failedSends_;
    return sendFailure_;
  }
  sent_.push_back({now, it->second, handle, word});
  return midi_result::kOk;
}

int FakeMidiOutput::close(MidiHandle handle) {
  std::lock_guard lock(mutex_);
  const int rc = open_.erase(handle) ? midi_result::kOk : midi_result::kInvalidHandle;
  calls_.push_back("close " + std::to_string(handle) + " -> " + std::to_string(rc));
  return rc;
}

std::vector<FakeMidiOutput::Sent> FakeMidiOutput::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::vector<std::string> FakeMidiOutput::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

int FakeMidiOutput::openHandles() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(open_.size());
}

int FakeMidiOutput::failedSends() const {
  std::lock_guard lock(mutex_);
  return failedSends_;
}

}  // namespace pulsewright
