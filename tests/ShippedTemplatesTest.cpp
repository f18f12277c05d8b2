// Every template that comes with the program is a document that plays as it stands: it
// compiles without a message or a problem, has hits, a plausible tempo and a song line
// whose every part exists.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tablature/Diagnostics.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {
namespace {

struct CountingListener : CompileListener {
  int messages = 0;
  void message(int, std::string_view) override { ++messages; }
};

TEST(ShippedTemplates, EveryTemplateCompilesCleanlyAndPlays) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PW_SHIPPED_TEMPLATES_DIR)) {
    if (entry.path().extension() != ".tab") continue;
    ++count;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string text = bytes.str();
    text = joinLinesWithCrLf(text);

    for (const Diagnostic& d : diagnose(text)) ADD_FAILURE() << d.line << ": " << d.text;
    TablatureCompiler compiler;
    CountingListener listener;
    compiler.compile(text, defaultPadMap(), &listener);
    EXPECT_EQ(listener.messages, 0);
    const CompilerState& state = compiler.state();
    EXPECT_FALSE(state.metaTitle.empty());
    ASSERT_FALSE(state.songLine.empty());

    const Timeline& song = *compiler.song();
    ASSERT_TRUE(song.playable());
    int hits = 0;
    for (const TimelinePart& part : song.parts()) {
      for (const TimelineStep& step : part.steps) {
        std::string events;
        appendStepEvents(song, part, step, &events);
        // Every item but a rest ("0,0|") is a hit.
        for (std::size_t i = 0; i < events.size();) {
          const std::size_t end = events.find('|', i);
          if (events.compare(i, end - i, "0,0") != 0) ++hits;
          i = end + 1;
        }
      }
    }
    EXPECT_GT(hits, 8);
    // Each song character names a part; the tempo of the last part.
    for (const std::string& character : songCharacters(state.songLine)) {
      const auto& parts = song.parts();
      EXPECT_TRUE(std::any_of(parts.begin(), parts.end(), [&](const TimelinePart& p) {
        return p.name == character;
      })) << character;
    }
    const int tempo = std::stoi(state.partTempo);
    EXPECT_GE(tempo, 50);
    EXPECT_LE(tempo, 200);
  }
  EXPECT_GE(count, 12);
}

}  // namespace
}  // namespace pulsewright
