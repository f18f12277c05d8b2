#include "cli/EditCommand.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <memory>
#include <ostream>

#include "fileio/OutputFile.h"
#include "tablature/GrooveEdit.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct StepEditArgument {
  bool clear = false;
  std::string text;  // PART:VOICE:STEP=MARK, or PART:VOICE:STEP to clear
};

struct EditArguments {
  std::string input;
  std::string output;
  std::vector<StepEditArgument> edits;  // in the order given
};

// One --set or --clear read: the part by name, the voice, the step from 0 and the mark.
struct StepEdit {
  std::string part;
  std::string voice;
  std::uint32_t step = 0;
  char mark = '-';
};

bool parseStepEdit(const StepEditArgument& argument, StepEdit* edit, std::string* error) {
  std::string_view text = argument.text;
  const std::string usage = argument.clear ? "PART:VOICE:STEP" : "PART:VOICE:STEP=MARK";
  if (!argument.clear) {
    const std::size_t equals = text.rfind('=');
    if (equals == std::string_view::npos) {
      *error = "--set " + argument.text + ": expected " + usage;
      return false;
    }
    const std::string_view mark = text.substr(equals + 1);
    if (mark.size() != 1 || !isGridMark(mark[0])) {
      *error = "'" + std::string(mark) + "' is no grid mark (x X o O 0-9, - for a rest)";
      return false;
    }
    edit->mark = mark[0];
    text = text.substr(0, equals);
  }
  // Part names may hold ":"; voices and steps do not.
  const std::size_t stepColon = text.rfind(':');
  const std::size_t voiceColon = stepColon == std::string_view::npos || stepColon == 0
                                     ? std::string_view::npos
                                     : text.rfind(':', stepColon - 1);
  if (voiceColon == std::string_view::npos) {
    *error = (argument.clear ? "--clear " : "--set ") + argument.text + ": expected " + usage;
    return false;
  }
  edit->part = text.substr(0, voiceColon);
  edit->voice = text.substr(voiceColon + 1, stepColon - voiceColon - 1);
  const std::string_view step = text.substr(stepColon + 1);
  std::uint32_t number = 0;
  const auto [end, problem] = std::from_chars(step.data(), step.data() + step.size(), number);
  if (step.empty() || problem != std::errc() || end != step.data() + step.size() || number == 0) {
    *error = "step '" + std::string(step) + "' is no step number (1 is the part's first)";
    return false;
  }
  edit->step = number - 1;
  return true;
}

int runEdit(const EditArguments& a, CliContext& io) {
  auto fail = [&](const std::string& why) {
    io.err << "pulsewright-cli: " << a.input << ": " << why << "\n";
    return kExitError;
  };
  useHugeHeapPages();
  std::string bytes;
  std::string reason;
  if (!readInputBytes(a.input, io.in, &bytes, &reason)) {
    io.err << "pulsewright-cli: cannot read " << a.input << ": " << reason << "\n";
    return kExitError;
  }
  // The document is written back in its own encoding; one whose bytes do not come back
  // as they were is never written over.
  const bool byteOrderMark = std::string_view(bytes).starts_with(kByteOrderMark);
  const std::string_view body =
      std::string_view(bytes).substr(byteOrderMark ? kByteOrderMark.size() : 0);
  DocumentEncoding encoding = DocumentEncoding::Utf8;
  std::string text = decodeDocumentBytes(bytes, &encoding);
  const bool windows1252 = encoding == DocumentEncoding::Windows1252;
  if (windows1252 ? encodeWindows1252(text) != std::optional<std::string>(body) : text != body) {
    return fail("cannot be edited: its bytes do not read back as they are");
  }

  // Its song is left for the process's end to take apart.
  const auto kept = std::make_shared<GrooveDocument>(std::move(text));
  keepUntilExit(kept);
  GrooveDocument& document = *kept;
  // Each text the edits read, compiled from nothing as every command compiles.
  const auto session = std::make_shared<DocumentSession>();
  keepUntilExit(session);
  document.compileThrough([session](std::string_view crlf) {
    return session
        ->compileNow(std::string(crlf), commandSessionOptions(defaultPadMap(), nullptr, false))
        ->document.song;
  });
  // Where each changed step stands in the document as it is now.
  struct Changed {
    std::size_t offset;
    StepChange step;
  };
  std::vector<Changed> changed;
  for (const StepEditArgument& argument : a.edits) {
    StepEdit step;
    std::string error;
    if (!parseStepEdit(argument, &step, &error)) return fail(error);
    const int part = document.partNamed(step.part);
    if (part < 0) return fail("no part is named '" + step.part + "'");
    const GrooveEdit edit = document.setStep(part, step.voice, step.step, step.mark);
    if (!edit.ok()) return fail(edit.error);
    // Steps changed before move with the text this edit adds before them.
    for (Changed& before : changed) {
      std::size_t shift = 0;
      for (const TextChange& c : edit.changes) {
        if (c.offset + c.length <= before.offset) shift += c.text.size() - c.length;
      }
      before.offset += shift;
    }
    document.apply(edit);
    for (const StepChange& s : edit.steps) {
      changed.push_back({document.offsetOf(s.line, static_cast<std::size_t>(s.column) - 1), s});
    }
  }

  std::string out = document.text();
  if (windows1252) {
    std::optional<std::string> encoded = encodeWindows1252(out);
    if (!encoded) return fail("the edits hold a character Windows-1252 has no byte for");
    out = std::move(*encoded);
  }
  if (byteOrderMark) out.insert(0, kByteOrderMark);
  // Nothing is written that would not read back as the edited text.
  DocumentEncoding reread = DocumentEncoding::Utf8;
  if (decodeDocumentBytes(out, &reread) != document.text() || reread != encoding) {
    return fail("the edited document would not read back as it is written");
  }
  const bool toStandardOutput = a.output.empty() && a.input == "-";
  const std::string& path = a.output.empty() ? a.input : a.output;
  if (toStandardOutput) {
    io.out << out;
  } else if (out != bytes || path != a.input) {
    // The input is read whole: writing over it is safe, and atomic.
    if (!writeOutputFile(path, out, {}, &reason)) {
      io.err << "pulsewright-cli: cannot write " << path << ": " << reason << "\n";
      return kExitError;
    }
  }
  std::ostream& report = toStandardOutput ? io.err : io.out;
  for (const Changed& c : changed) {
    const auto [line, column] = document.positionOf(c.offset);
    report << a.input << ":" << line << ":" << column + 1 << ": set " << c.step.symbol << " from "
           << c.step.from << " to " << c.step.to << "\n";
  }
  return kExitOk;
}

}  // namespace

void addEditCommand(CLI::App& app, CliContext& context) {
  auto a = std::make_shared<EditArguments>();
  CLI::App* command = app.add_subcommand(
      "edit",
      "set and clear steps of a document's grid lines, changing no other byte, and print "
      "each step changed as FILE:LINE:COL: set s from - to X");
  command->add_option("FILE", a->input, "the document")->required()->type_name("");
  command
      ->add_option("-o,--output", a->output,
                   "where the edited document goes (default: FILE itself, replaced atomically)")
      ->option_text("OUT");
  auto add = [&](const char* name, bool clear, const char* help, const char* text) {
    command
        ->add_option_function<std::string>(
            name,
            [a, clear](const std::string& value) {
              a->edits.push_back({clear, value});
            },
            help)
        ->trigger_on_parse()
        ->option_text(text);
  };
  add("--set", false,
      "set step STEP (from 1, across bars) of VOICE (a grid symbol or a drum name) in part "
      "PART to MARK (x X o O 0-9, or - for a rest); a voice with no grid line in the part "
      "gets one. May be given again; the edits are made in the order given",
      "PART:VOICE:STEP=MARK");
  add("--clear", true, "make step STEP of VOICE in part PART a rest", "PART:VOICE:STEP");
  command->callback([a, &context] { context.status = runEdit(*a, context); });
}

}  // namespace pulsewright
