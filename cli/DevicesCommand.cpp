#include "cli/DevicesCommand.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/Command.h"
#include "midi/MidiMenus.h"
#include "platform/SdlSoundOutput.h"
#include "platform/SystemMidiPorts.h"

namespace pulsewright {

void printDevices(MidiOutputService& midi, SoundOutput& sound, std::ostream& out) {
  out << "MIDI devices:\n  -1  " << kMidiMapperCaption << " (built-in synthesiser)\n";
  const int count = midi.deviceCount();
  for (int i = 0; i < count; ++i) {
    out << "  " << i << "  " << midi.deviceName(i);
    if (i + 1 >= kDeviceMenuItems) out << " (not in the menu: only ten devices fit)";
    out << "\n";
  }
  out << "Sound devices:\n";
  const std::vector<std::string> names = sound.deviceNames();
  for (std::size_t i = 0; i < names.size(); ++i) out << "  " << i + 1 << "  " << names[i] << "\n";
  if (names.empty()) out << "  (none: samples and the synthesiser stay silent)\n";
}

void printMidiInputs(const std::vector<std::string>& inputs, std::ostream& out) {
  out << "MIDI inputs:\n";
  for (const std::string& name : inputs) out << "  " << name << "\n";
  if (inputs.empty()) out << "  (none)\n";
}

void addDevicesCommand(CLI::App& app, CliContext& context) {
  app.add_subcommand("devices", "list the MIDI outputs, MIDI inputs and sound devices")
      ->callback([&context] {
        SystemMidiPorts midi;
        SdlSoundOutput sound;
        printDevices(midi, sound, context.out);
        printMidiInputs(midi.inputNames(), context.out);
        context.status = kExitOk;
      });
}

}  // namespace pulsewright
