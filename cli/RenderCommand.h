#pragma once
// pulsewright-cli render: compiles a document and renders it to an audio file through the
// built-in synthesiser and the samples, as fast as the CPU allows. Exit status 0 when
// written, 1 when the document has nothing to play (no file is made), 2 for unusable
// arguments, an unreadable document, a song longer than --max-length or an output that
// cannot be written, 128 + the signal when SIGINT, SIGTERM or SIGHUP stopped it (no
// partial file is left in either case).

namespace CLI {
class App;
}

namespace pulsewright {

struct CliContext;
void addRenderCommand(CLI::App& app, CliContext& context);

}  // namespace pulsewright
