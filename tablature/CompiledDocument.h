#pragma once
// The one way a document is compiled, for Play, every export, the problems list and
// every command: the song as it will play, its metadata and what the compiler noticed,
// all from the same compilation.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "padmap/PadMap.h"
#include "tablature/Diagnostics.h"
#include "tablature/Timeline.h"

namespace pulsewright {

class CompileListener;
class TablatureCompiler;

struct SongMetadata {
  std::string title;
  std::string author;
  std::string artist;
  std::string genre;
  std::string description;
};

struct CompiledDocument {
  std::shared_ptr<const Timeline> song;  // never null
  SongMetadata metadata;
  // In line and column order; includes what the document takes from an earlier
  // compilation (a kept song line, voice symbol or section).
  std::vector<Diagnostic> diagnostics;
  // The compiler's own messages, in the words of its message box, in order.
  std::vector<std::string> messages;
};

struct CompileRequest {
  PadMap padMap = defaultPadMap();
  // Null skips checking sample files.
  std::function<std::string(const std::string& path)> sampleProblem = sampleFileProblem;
  bool diagnose = true;  // false leaves `diagnostics` empty
  // Hears the compiler's messages and line kinds as it reads; may be null.
  CompileListener* listener = nullptr;
};

// Compiles `text` (lines separated by CR LF) with `compiler`, whose kept state carries
// over from its previous compilation.
CompiledDocument compileDocument(TablatureCompiler& compiler, std::string_view text,
                                 const CompileRequest& request = {});

}  // namespace pulsewright
