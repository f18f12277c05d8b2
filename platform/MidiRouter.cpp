#include "platform/MidiRouter.h"

namespace pulsewright {

MidiRouter::MidiRouter(MidiOutputService& mapper, MidiOutputService& devices)
    : mapper_(mapper), devices_(devices) {}

int MidiRouter::deviceCount() {
  return devices_.deviceCount();
}

std::string MidiRouter::deviceName(int device) {
  return devices_.deviceName(device);
}

int MidiRouter::open(int deviceId, MidiHandle* handle) {
  *handle = 0;
  MidiOutputService& service = deviceId == kMidiMapperId ? mapper_ : devices_;
  MidiHandle inner = 0;
  const int rc = service.open(deviceId, &inner);
  if (rc != midi_result::kOk) return rc;
  std::lock_guard lock(mutex_);
  *handle = nextHandle_++;
  routes_[*handle] = Route{&service, inner};
  return rc;
}

bool MidiRouter::find(MidiHandle handle, Route* route) {
  std::lock_guard lock(mutex_);
  auto it = routes_.find(handle);
  if (it == routes_.end()) return false;
  *route = it->second;
  return true;
}

int MidiRouter::sendShort(MidiHandle handle, std::uint32_t word) {
  Route route{};
  if (!find(handle, &route)) return midi_result::kInvalidHandle;
  return route.service->sendShort(route.inner, word);
}

int MidiRouter::sendShortAt(MidiHandle handle, std::uint32_t word, DueTime due) {
  Route route{};
  if (!find(handle, &route)) return midi_result::kInvalidHandle;
  return route.service->sendShortAt(route.inner, word, due);
}

bool MidiRouter::placesByTime(MidiHandle handle) {
  Route route{};
  return find(handle, &route) && route.service->placesByTime(route.inner);
}

int MidiRouter::close(MidiHandle handle) {
  Route route{};
  {
    std::lock_guard lock(mutex_);
    auto it = routes_.find(handle);
    if (it == routes_.end()) return midi_result::kInvalidHandle;
    route = it->second;
    routes_.erase(it);
  }
  return route.service->close(route.inner);
}

}  // namespace pulsewright
