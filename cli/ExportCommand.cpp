#include "cli/ExportCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <ostream>

#include "cli/VoiceOptions.h"
#include "fileio/OutputFile.h"
#include "midifile/MidiFileExport.h"
#include "notation/MusicXml.h"
#include "notation/PdfScore.h"
#include "notation/Score.h"
#include "padmap/PadMap.h"
#include "tabimport/GrooveScribe.h"
#include "tabimport/Hydrogen.h"
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
bool writeLinkFile(const ExportArguments& a, const CompiledDocument& compiled,
                   std::string_view text, const StopSignals& stop, std::ostream& err);
bool writeHydrogenFile(const ExportArguments& a, const CompiledDocument& compiled,
                       std::string_view text, const StopSignals& stop, std::ostream& err);

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
    {".url", writeLinkFile},     {".h2song", writeHydrogenFile},
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
  std::string to;    // "groovescribe": the link on standard output
  std::string part;  // the part a link is written for; "" for the song's first
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

// The link of the part asked for, or of the song's first part; none after saying why.
std::optional<std::string> linkOf(const ExportArguments& a, const CompiledDocument& compiled,
                                  std::ostream& err) {
  const Timeline& song = *compiled.song;
  int part = -1;
  if (a.part.empty()) {
    part = firstSongPart(song);
  } else {
    for (std::size_t p = song.parts().size(); p-- > 1;) {
      if (song.parts()[p].name == a.part) {
        part = static_cast<int>(p);
        break;
      }
    }
    if (part < 0) {
      err << "pulsewright-cli: " << a.input << ": no part named \"" << a.part << "\"\n";
      return std::nullopt;
    }
  }
  const GrooveScribeExport link = grooveScribeLinkOf(song, compiled.metadata, part);
  for (const std::string& w : link.warnings)
    err << "pulsewright-cli: " << a.input << ": " << w << "\n";
  if (!link.ok()) {
    err << "pulsewright-cli: " << a.input << ": " << link.error << "\n";
    return std::nullopt;
  }
  return link.link + "\n";
}

bool writeLinkFile(const ExportArguments& a, const CompiledDocument& compiled, std::string_view,
                   const StopSignals&, std::ostream& err) {
  const std::optional<std::string> link = linkOf(a, compiled, err);
  if (!link) return false;
  std::string reason;
  if (!writeOutputFile(a.output, *link, {a.input, a.padMap.file}, &reason)) {
    return reportCannotWrite(a, reason, err);
  }
  return true;
}

bool writeHydrogenFile(const ExportArguments& a, const CompiledDocument& compiled, std::string_view,
                       const StopSignals&, std::ostream& err) {
  const HydrogenExport song = hydrogenSongOf(*compiled.song, compiled.metadata);
  for (const std::string& w : song.warnings)
    err << "pulsewright-cli: " << a.input << ": " << w << "\n";
  if (!song.ok()) {
    err << "pulsewright-cli: " << a.input << ": " << song.error << "; " << a.output
        << " is not written\n";
    return false;
  }
  std::string reason;
  if (!writeOutputFile(a.output, song.xml, {a.input, a.padMap.file}, &reason)) {
    return reportCannotWrite(a, reason, err);
  }
  return true;
}

int runExport(const ExportArguments& a, CliContext& io) {
  std::ostream& err = io.err;
  if (a.to.empty() == a.output.empty()) {
    err << "pulsewright-cli: export needs either -o OUT or --to groovescribe\n";
    return kExitError;
  }
  const ExportFormat* format = a.to.empty() ? formatFor(a.output) : nullptr;
  if (!a.part.empty() && a.to.empty() && format != nullptr && format->write != writeLinkFile) {
    err << "pulsewright-cli: --part applies to GrooveScribe links (.url, --to groovescribe)\n";
    return kExitError;
  }
  if (format == nullptr && a.to.empty()) {
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
  if (!a.to.empty()) {
    const std::optional<std::string> link = linkOf(a, compiled, err);
    if (!link) return kExitError;
    io.out << *link;
    return kExitOk;
  }
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
  CLI::App* command = app.add_subcommand(
      "export",
      "write the song of FILE as a Standard MIDI File (.mid), as a MusicXML drum score "
      "(.musicxml, .xml), as an engraved score (.pdf), as a Hydrogen song (.h2song), or a part "
      "of it as a GrooveScribe link (.url)");
  command->add_option("FILE", a->input, "tablature document")->required()->type_name("");
  command->add_option("-o,--output", a->output, "the file to write; its ending chooses the format")
      ->option_text("OUT.mid|OUT.musicxml|OUT.pdf|OUT.h2song|OUT.url");
  command->add_option("--paper", a->paper, "the PDF's paper size (default a4)")
      ->check(CLI::IsMember({"a4", "letter"}))
      ->option_text("a4|letter");
  command->add_option("--to", a->to, "write a GrooveScribe link to standard output instead")
      ->check(CLI::IsMember({"groovescribe"}))
      ->option_text("groovescribe");
  command->add_option("--part", a->part, "links: the part to write (default: the song's first)")
      ->option_text("NAME");
  command->add_option("--channel", a->channel, "MIDI channel of the drums (default 10)")
      ->check(CLI::Range(1, 16))
      ->option_text("1-16");
  addMaxLengthOption(*command, a->maxSeconds);
  addPadMapOptions(*command, a->padMap);
  addVoiceOptions(*command, a->voices, true);
  command->callback([a, &context] { context.status = runExport(*a, context); });
}

}  // namespace pulsewright
