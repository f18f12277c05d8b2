#pragma once
// What Settings > Sync remembers: whether Play follows the JACK transport, and the MIDI
// ports MIDI clock goes out to and comes in from (empty: none).

#include <QString>

#include "settings/SettingsStore.h"

namespace pulsewright {

inline constexpr char kSyncSection[] = "Sync";

struct SyncSettings {
  bool followJackTransport = false;
  QString clockOutPort;
  QString clockInPort;

  static SyncSettings load(const SettingsStore& store) {
    SyncSettings s;
    s.followJackTransport = store.GetSetting(kSyncSection, "JackTransport", "0") == "1";
    s.clockOutPort = store.GetSetting(kSyncSection, "ClockOut", "");
    s.clockInPort = store.GetSetting(kSyncSection, "ClockIn", "");
    return s;
  }
  bool save(SettingsStore& store) const {
    const bool transport =
        store.SaveSetting(kSyncSection, "JackTransport", followJackTransport ? "1" : "0");
    const bool out = store.SaveSetting(kSyncSection, "ClockOut", clockOutPort);
    const bool in = store.SaveSetting(kSyncSection, "ClockIn", clockInPort);
    return transport && out && in;
  }
};

}  // namespace pulsewright
