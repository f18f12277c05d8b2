#include "tablature/CompiledDocument.h"

#include <utility>

#include "tablature/DiagnosticSink.h"
#include "tablature/TablatureCompiler.h"

namespace pulsewright {

namespace {

// Keeps the compiler's messages and passes them, and the line kinds, on to the caller's
// listener.
class MessageKeeper : public CompileListener {
 public:
  explicit MessageKeeper(CompileListener* next) : next_(next) {}
  void message(int lineNumber, std::string_view text) override {
    messages.emplace_back(text);
    if (next_ != nullptr) next_->message(lineNumber, text);
  }
  void lineClassified(int lineNumber, const LineTests& tests) override {
    if (next_ != nullptr) next_->lineClassified(lineNumber, tests);
  }
  std::vector<std::string> messages;

 private:
  CompileListener* next_;
};

}  // namespace

CompiledDocument compileDocument(TablatureCompiler& compiler, std::string_view text,
                                 const CompileRequest& request) {
  MessageKeeper keeper(request.listener);
  DiagnosticSink sink;
  sink.sampleProblem = request.sampleProblem;
  sink.documentFolder = request.documentFolder;
  compiler.compile(text, request.padMap, &keeper, request.diagnose ? &sink : nullptr);
  CompiledDocument compiled;
  compiled.diagnostics = sink.take();
  compiled.messages = std::move(keeper.messages);
  compiled.song = compiler.song();
  const CompilerState& s = compiler.state();
  compiled.metadata = {s.metaTitle, s.metaAuthor, s.metaArtist, s.metaGenre, s.metaDescription};
  return compiled;
}

}  // namespace pulsewright
