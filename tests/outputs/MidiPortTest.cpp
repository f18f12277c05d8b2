#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "midi/MidiMenus.h"
#include "midi/MidiPort.h"
#include "platform/ShortMessage.h"
#include "tests/support/FakeMidiOutput.h"

namespace pulsewright {
namespace {

struct Port {
  explicit Port(std::vector<std::string> devices = {}) : output(std::move(devices)) {}
  FakeMidiOutput output;
  std::vector<std::string> messages;
  MidiPort port{output, [this](const std::string& text) { messages.push_back(text); }};
};

std::vector<int> checkedItems(const DeviceMenu& menu) {
  std::vector<int> checked;
  for (int i = 0; i < kDeviceMenuItems; ++i) {
    if (menu[i].checked) checked.push_back(i);
  }
  return checked;
}

TEST(ShortMessage, PacksKindChannelAndDataBytes) {
  EXPECT_EQ(packShortMessage(kNoteOn, 0, 36, 101), 0x00652490u);
  EXPECT_EQ(packShortMessage(kNoteOff, 0, 36, 0), 0x00002480u);
  EXPECT_EQ(packShortMessage(kProgramChange, 0, 25, 0), 0x000019C0u);
  EXPECT_EQ(packShortMessage(kNoteOn, 15, 42, 76), 0x004C2A9Fu);
  EXPECT_EQ(packShortMessage(kNoteOff, 15, 42, 0), 0x00002A8Fu);
  EXPECT_EQ(packShortMessage(kProgramChange, 15, 127, 0), 0x00007FCFu);

  std::uint8_t b[3];
  ASSERT_EQ(shortMessageBytes(0x004C2A9Fu, b), 3);
  EXPECT_EQ(b[0], 0x9F);
  EXPECT_EQ(b[1], 42);
  EXPECT_EQ(b[2], 76);
  EXPECT_EQ(shortMessageBytes(0x000019C0u, b), 2);
  EXPECT_EQ(shortMessageBytes(0x000000F8u, b), 1);
  // Words that no receiver can parse are refused rather than sent.
  EXPECT_EQ(shortMessageBytes(0x00000024u, b), 0);                            // no status byte
  EXPECT_EQ(shortMessageBytes(packShortMessage(kNoteOn, 0, 200, 1), b), 0);   // note 200
  EXPECT_EQ(shortMessageBytes(packShortMessage(kNoteOn, 0, -1, 1), b), 0);    // note -1
  EXPECT_EQ(shortMessageBytes(packShortMessage(kNoteOn, 0, 36, 256), b), 0);  // spills over
  EXPECT_EQ(shortMessageBytes(0x000000F0u, b), 0);                            // system exclusive
}

TEST(MidiPort, ListingWithoutDevicesShowsTheMapperAloneAndOpensIt) {
  Port p;
  const MidiMenus menus(p.port.listDevices());
  EXPECT_EQ(p.port.deviceId(), kMidiMapperId);
  EXPECT_EQ(p.port.lastResult(), 0);
  EXPECT_NE(p.port.handle(), 0u);
  EXPECT_EQ(p.port.channel(), 0);
  // Closing the handle that was never open is only stored, then the mapper opens.
  EXPECT_EQ(p.output.calls(), (std::vector<std::string>{"close 0 -> 5", "open -1 -> 0"}));
  EXPECT_TRUE(p.messages.empty());
  EXPECT_EQ(menus.devices()[0], (MenuItem{"MIDI Mapper", true, true, true}));
  for (int i = 1; i < kDeviceMenuItems; ++i) EXPECT_EQ(menus.devices()[i], MenuItem{}) << i;
  for (int i = 0; i < kChannelMenuItems; ++i) {
    EXPECT_EQ(menus.channels()[i], (MenuItem{std::to_string(i + 1), true, true, i == 0})) << i;
  }
}

TEST(MidiMenus, ListsTenDevicesWithWholeNamesAndSkipsTheRest) {
  std::vector<std::string> names;
  const std::string longName = "Midi Through:Midi Through Port-0 14:0 (a very long port name)";
  names.push_back(longName);
  names.push_back(std::string(31, 'x'));
  for (int i = 2; i < 12; ++i) names.push_back("device " + std::to_string(i));
  Port p(names);
  const std::vector<std::string> listed = p.port.listDevices();
  EXPECT_EQ(listed, names);
  const MidiMenus menus(listed);
  const DeviceMenu& menu = menus.devices();
  EXPECT_EQ(menu[1].caption, longName);
  EXPECT_EQ(menu[2].caption, std::string(31, 'x'));
  for (int i = 1; i < kDeviceMenuItems; ++i) {
    EXPECT_TRUE(menu[i].visible && menu[i].enabled && !menu[i].checked) << i;
    EXPECT_EQ(menu[i].caption, names[i - 1]);
  }
  EXPECT_EQ(checkedItems(menu), std::vector<int>{0});
}

TEST(MidiMenus, PicksMoveTheCheckMarks) {
  MidiMenus menus({"drum machine", "busy synth"});
  menus.pickDevice(1);
  menus.pickDevice(1);
  EXPECT_EQ(checkedItems(menus.devices()), std::vector<int>{1});
  menus.pickDevice(2);
  EXPECT_EQ(checkedItems(menus.devices()), std::vector<int>{2});
  menus.pickDevice(0);
  EXPECT_EQ(checkedItems(menus.devices()), std::vector<int>{0});

  // Items outside the menu change nothing.
  menus.pickChannel(15);
  menus.pickChannel(16);
  menus.pickChannel(-1);
  for (int i = 0; i < kChannelMenuItems; ++i) {
    EXPECT_EQ(menus.channels()[i].checked, i == 15) << i;
  }
}

TEST(MidiPort, DevicePicksCloseBeforeOpeningAndReportFailures) {
  Port p({"drum machine", "busy synth"});
  p.output.failOpen(1, 4);
  p.port.listDevices();
  const MidiHandle mapper = p.port.handle();

  p.port.openDevice(0);
  EXPECT_EQ(p.port.deviceId(), 0);
  const MidiHandle drum = p.port.handle();
  EXPECT_NE(drum, mapper);

  // Opening the open device again closes and reopens it.
  p.port.openDevice(0);
  EXPECT_NE(p.port.handle(), drum);
  EXPECT_EQ(p.output.openHandles(), 1);

  // A device that refuses: message with the code, the id on that device anyway, and the
  // previous device closed.
  p.port.openDevice(1);
  EXPECT_EQ(p.messages, std::vector<std::string>{"Couldn't open midi out, rc = 4"});
  EXPECT_EQ(p.port.lastResult(), 4);
  EXPECT_EQ(p.port.deviceId(), 1);
  EXPECT_EQ(p.output.openHandles(), 0);
  p.port.send(packShortMessage(kNoteOn, 0, 36, 100));  // dropped, silently
  EXPECT_EQ(p.output.sent().size(), 0u);
  EXPECT_EQ(p.port.lastMessage(), packShortMessage(kNoteOn, 0, 36, 100));

  // A mapper that cannot open (no sound font) reports its code the same way.
  p.output.failOpen(kMidiMapperId, 6);
  p.port.openDevice(kMidiMapperId);
  EXPECT_EQ(p.messages.back(), "Couldn't open midi out, rc = 6");
  EXPECT_EQ(openFailureMessage(-3), "Couldn't open midi out, rc = -3");

  p.output.failOpen(kMidiMapperId, 0);
  p.port.openDevice(kMidiMapperId);
  EXPECT_EQ(p.messages.size(), 2u);
  const std::vector<std::string> calls = p.output.calls();
  const std::vector<std::string> tail(calls.end() - 4, calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"close 0 -> 5", "open -1 -> 6", "close 0 -> 5",
                                            "open -1 -> 0"}));

  // Exit closes, unload closes again: the second result is stored, nothing shown.
  p.port.close();
  EXPECT_EQ(p.port.lastResult(), 0);
  p.port.close();
  EXPECT_EQ(p.port.lastResult(), 5);
  EXPECT_EQ(p.messages.size(), 2u);
  EXPECT_EQ(p.output.openHandles(), 0);
}

TEST(MidiPort, ChannelPicksMoveTheStatusNibble) {
  Port p;
  p.port.listDevices();
  p.port.selectChannel(15);
  EXPECT_EQ(p.port.channel(), 15);
  EXPECT_EQ(p.port.sendChannelMessage(kNoteOn, 38, 127), 0x007F269Fu);
  EXPECT_EQ(p.port.sendChannelMessage(kNoteOff, 38, 0), 0x0000268Fu);
  EXPECT_EQ(p.port.sendChannelMessage(kProgramChange, 16, 0), 0x000010CFu);
  // Channels outside 0-15 would corrupt every status byte: ignored.
  p.port.selectChannel(16);
  p.port.selectChannel(-1);
  EXPECT_EQ(p.port.channel(), 15);

  std::vector<std::uint32_t> words;
  for (const auto& s : p.output.sent()) words.push_back(s.word);
  EXPECT_EQ(words, (std::vector<std::uint32_t>{0x007F269F, 0x0000268F, 0x000010CF}));
}

TEST(MidiPort, SendsFromTwoThreadsAllArriveWhileDevicesChange) {
  Port p({"a", "b"});
  p.port.listDevices();
  constexpr int kEach = 2000;
  auto sender = [&](int note) {
    for (int i = 0; i < kEach; ++i) p.port.send(packShortMessage(kNoteOn, 0, note, i % 128));
  };
  std::thread sequencer(sender, 36);
  std::thread keyboard(sender, 38);
  for (int i = 0; i < 50; ++i) p.port.openDevice(i % 3 - 1);
  sequencer.join();
  keyboard.join();
  p.port.openDevice(0);
  for (int i = 0; i < 10; ++i) p.port.send(packShortMessage(kNoteOff, 0, 36, 0));
  // Every word is whole; sends that met a closed handle were dropped, none was torn.
  const auto sent = p.output.sent();
  int afterPicks = 0;
  for (const auto& s : sent) {
    const int note = (s.word >> 8) & 0xFF;
    EXPECT_TRUE(note == 36 || note == 38) << std::hex << s.word;
    if ((s.word & 0xF0) == kNoteOff) ++afterPicks;
  }
  EXPECT_EQ(afterPicks, 10);
  EXPECT_EQ(sent.size() + p.output.failedSends(), 2u * kEach + 10);
  for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_LE(sent[i - 1].time, sent[i].time);
  EXPECT_EQ(p.port.lastMessage(), packShortMessage(kNoteOff, 0, 36, 0));
}

}  // namespace
}  // namespace pulsewright
