// The voice names the reference and the window's lists offer are the ones the compiler
// reads, and the reference's table of voices says what the pad map and the names hold.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "padmap/DrumVoice.h"
#include "padmap/PadMap.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {
namespace {

std::vector<std::string> namesOf(std::string_view list) {
  std::vector<std::string> names;
  std::size_t from = 0;
  while (from <= list.size()) {
    const std::size_t comma = std::min(list.find(", ", from), list.size());
    names.emplace_back(list.substr(from, comma - from));
    from = comma + 2;
  }
  return names;
}

TEST(VoiceNames, EveryNameBindsItsVoiceInBothForms) {
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    for (const std::string& name : namesOf(kVoiceNames[v])) {
      for (const std::string& line : {"zz = " + name, name + " = zz"}) {
        TablatureCompiler compiler;
        compiler.compile(line, defaultPadMap(), nullptr);
        EXPECT_EQ(compiler.state().voiceSymbols[v], "zz") << line;
      }
    }
  }
}

TEST(VoiceNames, TheReferenceTableAgreesWithThePadMap) {
  std::ifstream in(PW_LANGUAGE_REFERENCE);
  ASSERT_TRUE(in) << PW_LANGUAGE_REFERENCE;
  std::stringstream text;
  text << in.rdbuf();
  const PadMap notes = defaultPadMap();
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::string row = "| " + std::string(kVoiceCaptions[v]) + " | " +
                            std::string(kVoiceNames[v]) + " | " + std::string(kVoiceSymbols[v]) +
                            " | " + notes[v] + " |\n";
    EXPECT_NE(text.str().find(row), std::string::npos) << row;
  }
}

}  // namespace
}  // namespace pulsewright
