#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "padmap/PadMap.h"

namespace pulsewright {
namespace {

PadMap mapOf(std::initializer_list<const char*> entries) {
  PadMap map;
  std::size_t i = 0;
  for (const char* e : entries) map[i++] = e;
  return map;
}

TEST(PadMap, TheTwoPresets) {
  // The chooser's fixed items, in order, and the maps they load.
  std::vector<std::pair<std::string_view, PadMap>> presets;
  presets.reserve(kDrumMachinePresets.size());
  for (const DrumMachinePreset& preset : kDrumMachinePresets) {
    presets.emplace_back(preset.name, presetPadMap(preset));
  }
  const std::vector<std::pair<std::string_view, PadMap>> expected = {
      {"Boss Dr.Rythm DR-670", mapOf({"36", "38", "42", "44", "46", "50", "48", "45", "41", "51",
                                      "53", "49", "57", "67", "68", "39", "56"})},
      {"Alesis SR-16", mapOf({"36", "38", "42", "0", "46", "48", "45", "41", "0", "51", "0", "49",
                              "0", "65", "67", "39", "0"})},
  };
  EXPECT_EQ(presets, expected);
  EXPECT_EQ(defaultPadMap(), expected[0].second);
}

TEST(PadMap, FileIsOneLineOfQuotedFieldsAndReadsBackExactly) {
  EXPECT_EQ(formatPadMapFile(defaultPadMap()),
            "\"36\",\"38\",\"42\",\"44\",\"46\",\"50\",\"48\",\"45\",\"41\",\"51\",\"53\",\"49\","
            "\"57\",\"67\",\"68\",\"39\",\"56\"\r\n");
  const PadMap odd = mapOf({"", "snare", " 7", "12 ", "a,b", "", "0", "127", "-1", "1.5", "x y", "",
                            "", "", "", "", "last"});
  EXPECT_EQ(parsePadMapFile(formatPadMapFile(odd)), odd);
  EXPECT_EQ(parsePadMapFile(formatPadMapFile(PadMap{})), PadMap{});
}

TEST(PadMap, ReadingFilesWrittenByHand) {
  const PadMap numbers = mapOf({"36", "38", "42", "44", "46", "50", "48", "45", "41", "51", "53",
                                "49", "57", "67", "68", "39", "56"});
  // Unquoted fields lose the blanks around them; line ends separate fields too.
  EXPECT_EQ(parsePadMapFile("36, 38 ,42\t,  44,46,50,48,45,41\r\n51,53,49,57\n67,68,39,56 \r\n"),
            numbers);
  // Anything after the seventeenth field is ignored.
  EXPECT_EQ(parsePadMapFile("36,38,42,44,46,50,48,45,41,51,53,49,57,67,68,39,56,99,100\r\n"),
            numbers);
  // A quoted field may hold a comma; blanks before it are skipped.
  const PadMap quoted = parsePadMapFile("  \"1,2\" ,\"3\"\r\n");
  EXPECT_EQ(quoted[0], "1,2");
  EXPECT_EQ(quoted[1], "3");
  // Fewer than seventeen fields: the missing ones are empty.
  EXPECT_EQ(parsePadMapFile("\"36\",\"38\"\r\n"), mapOf({"36", "38"}));
  EXPECT_EQ(parsePadMapFile(""), PadMap{});
}

}  // namespace
}  // namespace pulsewright
