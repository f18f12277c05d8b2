#include "cli/ExportCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "cli/VoiceOptions.h"
#include "fileio/OutputFile.h"
#include "midifile/MidiFileExport.h"
#include "notation/MusicXml.h"
#include "notation/PdfScore.h"
#include "notation/Score.h"
#include "padmap/PadMap.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr int kDrumChannel = 10;

struct ExportArguments;
// Writes the output; `text` is the document as compiled. False when it could not, or
// when `stop` caught a signal (then nothing is said and nothing is left).
using FileWriter = bool (*)(const ExportArguments&, const CompiledDocument&, std::string_view text,
                            const StopSignals& stop, std::ostream& err);

bool writeMidiFile(const ExportArguments& a, const CompiledDocument& compiled,
                   std::string_view text, const StopSignals& stop, std::ostream& err);
bool writeMusicXmlFile(const ExportArguments& a, const CompiledDocument& compiled,
                       std::string_view text, const StopSignals& stop, std::ostream& err);
bool writePdfFile(const ExportArguments& a, const CompiledDocument& compiled, std::string_view text,
                  const StopSignals& stop, std::ostream& err);

// The file kinds export writes, by the output's ending (lower case). A name with no
// ending is a MIDI file.
struct ExportFormat {
  std::string_view ending;
  FileWriter write;
};
constexpr ExportFormat kExportFormats[] = {
    {"", writeMidiFile},         {".mid", writeMidiFile},
    {".midi", writeMidiFile},    {".musicxml", writeMusicXmlFile},
    {".xml", writeMusicXmlFile}, {".pdf", writePdfFile},
};

const ExportFormat* formatFor(const std::string& path) {
  const std::string ending = fileEnding(path);
  for (const ExportFormat& format : kExportFormats) {
    if (format.ending == ending) return &format;
  }
  return nullptr;
}

// ".mid or .midi"
std::string writtenEndings() {
  std::vector<std::string_view> endings;
  for (const ExportFormat& format : kExportFormats) {
    if (!format.ending.empty()) endings.push_back(format.ending);
  }
  std::string list;
  for (std::size_t i = 0; i < endings.size(); ++i) {
    if (i > 0) list += i + 1 == endings.size() ? " or " : ", ";
    list += endings[i];
  }
  return list;
}

struct ExportArguments {
  std::string input;
  std::string output;
  int channel = kDrumChannel;
  std::string paper = "a4";
  double maxSeconds = kDefaultMaxSongSeconds;
  PadMapChoice padMap;
  VoiceChoice voices;
};

bool reportCannotWrite(const ExportArguments& a, const std::string& reason, std::ostream& err) {
  err << "pulsewright-cli: cannot write " << a.output << ": " << reason << "\n";
  return false;
}

// The window's Export MIDI writes the same file.
bool writeMidiFile(const ExportArguments& a, const CompiledDocument& compiled, std::string_view,
                   const StopSignals& stop, std::ostream& err) {
  const MidiExportResult result =
      exportMidiFile(compiled, a.output, a.channel - 1, {a.input, a.padMap.file},
                     [&stop] { return stop.caught() == 0; });
  if (result.samplesLeftOut > 0) {
    err << "pulsewright-cli: " << result.samplesLeftOut
        << " sample hits left out: a MIDI file cannot hold samples\n";
  }
  if (stop.caught() != 0) return false;
  if (result.status != MidiExportResult::Status::kDone) {
    return reportCannotWrite(a, result.message, err);
  }
  return true;
}

// A drum score: the song order written out, samples left out and counted.
bool writeMusicXmlFile(const ExportArguments& a, const CompiledDocument& compiled,
                       std::string_view text, const StopSignals& stop, std::ostream& err) {
  // Written measure by measure: a short document's song can fill gigabytes of score.
  OutputFile file;
  std::string reason;
  Score score;
  const bool written = file.open(a.output, {a.input, a.padMap.file}, &reason) &&
                       streamMusicXml(
                           {*compiled.song, compiled.metadata, text}, a.channel,
                           [&](std::string_view bytes) { return file.write(bytes, &reason); },
                           &score, [&stop] { return stop.caught() == 0; }) &&
                       stop.caught() == 0 && file.commit(&reason);
  for (const std::string& warning : score.warnings) {
    err << "pulsewright-cli: " << a.input << ": " << warning << "\n";
  }
  if (score.samplesLeftOut > 0) {
    err << "pulsewright-cli: " << score.samplesLeftOut
        << " sample hits left out: a drum score cannot hold samples\n";
  }
  if (!written) {
    file.abort();
    if (stop.caught() != 0) return false;
    if (!score.unwritable.empty()) {
      err << "pulsewright-cli: " << a.input << ": " << score.unwritable << "; " << a.output
          << " is not written\n";
      return false;
    }
    return reportCannotWrite(a, reason, err);
  }
  return true;
}

// The engraved score as the window prints it: staves on A4 or Letter pages.
bool writePdfFile(const ExportArguments& a, const CompiledDocument& compiled, std::string_view text,
                  const StopSignals& stop, std::ostream& err) {
  const Score score = buildScore({*compiled.song, compiled.metadata, text});
  for (const std::string& warning : score.warnings) {
    err << "pulsewright-cli: " << a.input << ": " << warning << "\n";
  }
  if (score.samplesLeftOut > 0) {
    err << "pulsewright-cli: " << score.samplesLeftOut
        << " sample hits left out: a drum score cannot hold samples\n";
  }
  const PdfScore pdf = pdfOfScore(score, a.paper == "letter" ? Paper::Letter : Paper::A4);
  if (stop.caught() != 0) return false;
  OutputFile file;
  std::string reason;
  if (!file.open(a.output, {a.input, a.padMap.file}, &reason) || !file.write(pdf.bytes, &reason) ||
      !file.commit(&reason)) {
    file.abort();
    return reportCannotWrite(a, reason, err);
  }
  return true;
}

int runExport(const ExportArguments& a, CliContext& io) {
  std::ostream& err = io.err;
  const ExportFormat* format = formatFor(a.output);
  if (format == nullptr) {
    err << "pulsewright-cli: cannot write " << a.output << ": \"" << fileEnding(a.output)
        << "\" is no format written here: name the file " << writtenEndings() << "\n";
    return kExitError;
  }
  PadMap padMap;
  std::string text;
  if (!loadDocument(a.input, a.padMap, io, &padMap, &text)) return kExitError;
  DocumentSession session;
  CompileMessages messages(err, a.input);
  const std::shared_ptr<const SessionResult> result =
      session.compileNow(std::move(text), commandSessionOptions(padMap, &messages, false));
  CompiledDocument compiled = result->document;
  if (!compiled.song->playable()) {
    err << "pulsewright-cli: " << a.input << ": nothing to play\n";
    return kExitNothingToPlay;
  }
  const std::optional<VoiceMask> mask = voiceMaskOf(a.voices, a.input, *compiled.song, err);
  if (!mask) return kExitError;
  // Only an asked-for mask touches the song, so a plain export stays as it was.
  if (!mask->empty()) {
    compiled.song = std::make_shared<const Timeline>(withoutSilencedVoices(*compiled.song, *mask));
  }
  if (!withinMaxLength(*compiled.song, a.maxSeconds, a.input, "export", err)) return kExitError;
  // A signal stops the export between two pieces; the unfinished file is removed.
  const StopSignals stop;
  if (format->write(a, compiled, result->text(), stop, err)) return kExitOk;
  if (stop.caught() != 0) {
    err << "pulsewright-cli: stopped: " << a.output << " was not written\n";
    return 128 + stop.caught();
  }
  return kExitError;
}

}  // namespace

void addExportCommand(CLI::App& app, CliContext& context) {
  auto a = std::make_shared<ExportArguments>();
  CLI::App* command =
      app.add_subcommand("export",
                         "write the song of FILE as a Standard MIDI File (.mid), as a "
                         "MusicXML drum score (.musicxml, .xml) or as an engraved score (.pdf)");
  command->add_option("FILE", a->input, "tablature document")->required()->type_name("");
  command->add_option("-o,--output", a->output, "the file to write; its ending chooses the format")
      ->required()
      ->option_text("OUT.mid|OUT.musicxml|OUT.pdf");
  command->add_option("--paper", a->paper, "the PDF's paper size (default a4)")
      ->check(CLI::IsMember({"a4", "letter"}))
      ->option_text("a4|letter");
  command->add_option("--channel", a->channel, "MIDI channel of the drums (default 10)")
      ->check(CLI::Range(1, 16))
      ->option_text("1-16");
  addMaxLengthOption(*command, a->maxSeconds);
  addPadMapOptions(*command, a->padMap);
  addVoiceOptions(*command, a->voices, true);
  command->callback([a, &context] { context.status = runExport(*a, context); });
}

}  // namespace pulsewright
