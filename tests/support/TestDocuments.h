#pragma once
// Documents for tests: lines joined as the editor hands them over, and the songs they
// compile to.

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "padmap/PadMap.h"
#include "playback/Sequencer.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

// Lines joined with CR LF, the separator the compiler splits at.
inline std::string doc(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

// The song `compiler` makes of `text`, starting from the state it already holds.
inline std::shared_ptr<const Song> compileSong(TablatureCompiler& compiler, const std::string& text,
                                               const PadMap& padMap = defaultPadMap()) {
  compiler.compile(text, padMap, nullptr);
  const CompilerState& s = compiler.state();
  return makeSong(s.partTable, s.songLine, s.sourceMap);
}

// The song a fresh compiler makes of `text`.
inline std::shared_ptr<const Song> compileSong(const std::string& text) {
  TablatureCompiler compiler;
  return compileSong(compiler, text);
}

}  // namespace pulsewright
