#include "cli/CliApp.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>

#include "cli/Command.h"
#include "cli/EditCommand.h"
#include "cli/ExportCommand.h"
#include "cli/ImportCommand.h"
#include "cli/KitOptions.h"
#include "cli/RenderCommand.h"

namespace pulsewright {

int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err) {
  CLI::App app("Compiles, checks and plays drum tablature.", "pulsewright-cli");
  app.set_version_flag("--version", std::string("pulsewright-cli ") + PULSEWRIGHT_VERSION);
  app.require_subcommand(1);
  app.failure_message([](const CLI::App* command, const CLI::Error& e) {
    return "pulsewright-cli: " + CLI::FailureMessage::simple(command, e);
  });

  CliContext context{in, out, err};
  addCompileCommands(app, context);
  addPlayCommand(app, context);
  addRenderCommand(app, context);
  addDevicesCommand(app, context);
  addKitsCommand(app, context);
  addRecordCommand(app, context);
  addImportCommand(app, context);
  addExportCommand(app, context);
  addEditCommand(app, context);
  // Set after the commands are added, which would otherwise repeat it.
  app.footer(
      "FILE may be - for standard input. The exit status is 2 when an argument is\n"
      "unusable, an input cannot be read or an output cannot be written; an output is\n"
      "never one of the inputs.");

  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 reads from the back
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    out.flush();
    return status == 0 ? kExitOk : kExitError;
  }
  out.flush();
  return context.status;
}

}  // namespace pulsewright
