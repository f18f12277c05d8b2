// pulsewright-cli record: plays one part in a loop with the metronome while an electronic
// kit plays along through a MIDI input, and writes what it played into that part's grid
// lines.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "cli/Command.h"
#include "cli/KitOptions.h"
#include "fileio/OutputFile.h"
#include "midi/MidiPort.h"
#include "padmap/PadMap.h"
#include "platform/FluidSynthOutput.h"
#include "platform/MidiRouter.h"
#include "platform/SdlSoundOutput.h"
#include "platform/SystemMidiPorts.h"
#include "playback/PlaybackSession.h"
#include "playback/Player.h"
#include "playback/SamplePlayer.h"
#include "playback/TakeRecorder.h"
#include "recording/Take.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

// No hits came: nothing is written.
constexpr int kExitNothingRecorded = 1;
constexpr auto kLookAhead = std::chrono::milliseconds(30);

class RecordStepOutput : public StepOutput {
 public:
  RecordStepOutput(MidiPort* port, SamplePlayer* samples) : port_(port), samples_(samples) {}
  void sendChannelMessage(int kind, int data1, int data2, DueTime due) override {
    if (port_ != nullptr) port_->sendChannelMessageAt(kind, data1, data2, due);
  }
  void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                  DueTime due) override {
    if (samples_ != nullptr) samples_->PlayB(file, volume, pan, due);
  }
  std::chrono::microseconds lookAhead() override {
    return port_ != nullptr && port_->placesByTime() ? kLookAhead : std::chrono::microseconds(0);
  }
  void silence(DueTime) override {
    if (port_ == nullptr) return;
    port_->sendChannelMessage(0xB0, 120, 0);  // all sound off
    port_->sendChannelMessage(0xB0, 123, 0);  // all notes off
  }

 private:
  MidiPort* port_;
  SamplePlayer* samples_;
};

struct RecordArguments {
  std::string file;
  std::string part;
  std::string input;
  std::string device = "mapper";
  int channel = 1;
  PadMapChoice padMap;
  bool countIn = false;
  int loops = 0;
  bool replace = false;
  double latencyMs = 0;
  std::string output;
  std::string hitsLog;
  std::string kit;
};

// "pass seconds key velocity hihat" per hit, as recorded, before the grid snaps them.
bool writeHitsLog(OutputFile& file, const std::vector<TakeHit>& hits, std::string* reason) {
  std::string text;
  char line[128];
  for (const TakeHit& hit : hits) {
    std::snprintf(line, sizeof line, "%d %.6f %d %d %d\n", hit.pass, hit.seconds, hit.key,
                  hit.velocity, hit.hiHatControl);
    text += line;
  }
  return file.write(text, reason) && file.commit(reason);
}

// The take in the document's own encoding: a Windows-1252 document stays Windows-1252 and
// a byte-order mark stays, so that the file differs from the old one only by the take.
// Text that Windows-1252 cannot hold (none a take adds) is written as UTF-8.
std::string encodedLike(const std::string& utf8, DocumentEncoding encoding, bool byteOrderMark) {
  if (encoding == DocumentEncoding::Windows1252) {
    if (std::optional<std::string> encoded = encodeWindows1252(utf8)) return *encoded;
    return utf8;
  }
  return byteOrderMark ? std::string(kUtf8ByteOrderMark) + utf8 : utf8;
}

int runRecord(const RecordArguments& o, CliContext& io) {
  std::ostream& err = io.err;
  PadMap padMap;
  std::string reason;
  if (!loadPadMap(o.padMap, io.in, &padMap, &reason)) {
    err << "pulsewright-cli: " << reason << "\n";
    return kExitError;
  }
  std::string bytes;
  if (!readInputBytes(o.file, io.in, &bytes, &reason)) {
    err << "pulsewright-cli: cannot read " << o.file << ": " << reason << "\n";
    return kExitError;
  }
  DocumentEncoding encoding = DocumentEncoding::Utf8;
  const std::string document = decodeDocumentBytes(bytes, &encoding);
  const bool byteOrderMark = encoding == DocumentEncoding::Utf8 &&
                             std::string_view(bytes).substr(0, 3) == kUtf8ByteOrderMark;
  // Ctrl+C ends the take, and so do SIGTERM, a closed terminal (SIGHUP) and SIGQUIT: what
  // was played is kept, and the temporary file the output is written into never stays
  // behind. From before that file is made.
  const StopSignals stopSignals({SIGINT, SIGTERM, SIGHUP, SIGQUIT});
  // The output is checked before anything is played, not after the take.
  OutputFile output;
  if (!output.open(o.output, {o.file, o.padMap.file}, &reason)) {
    err << "pulsewright-cli: cannot write " << o.output << ": " << reason << "\n";
    return kExitError;
  }
  // So is the hits log, which may be none of the inputs nor the output itself.
  OutputFile hitsLog;
  if (!o.hitsLog.empty()) {
    if (sameOutputFile(o.hitsLog, o.output)) {
      err << "pulsewright-cli: cannot write " << o.hitsLog << ": it is the output " << o.output
          << ": the hits log would replace the take\n";
      return kExitError;
    }
    if (!hitsLog.open(o.hitsLog, {o.file, o.padMap.file, o.output}, &reason)) {
      err << "pulsewright-cli: cannot write " << o.hitsLog << ": " << reason << "\n";
      return kExitError;
    }
  }

  // The part alone, looped: refused before any device opens when it cannot play.
  DocumentSession compiling;
  CompileMessages messages(err, o.file);
  const std::shared_ptr<const Timeline> compiled =
      compiling
          .compileNow(joinLinesWithCrLf(document), commandSessionOptions(padMap, &messages, false))
          ->document.song;
  const auto& parts = compiled->parts();
  const bool found = std::any_of(parts.begin(), parts.end(),
                                 [&](const TimelinePart& p) { return p.name == o.part; });
  std::shared_ptr<const Song> partSong =
      found ? makeSong(std::make_shared<Timeline>(compiled->withSongLine(o.part))) : nullptr;
  if (!partSong || !partSong->timeline.playable()) {
    err << "pulsewright-cli: " << o.file << ": "
        << (found ? "part " + o.part + " has no steps to play" : "no part named " + o.part) << "\n";
    return kExitError;
  }

  KitChoice kit;
  if (const int status = chooseKit(o.kit, document, padMap, kOutputSampleRate, err, &kit);
      status != kExitOk) {
    return status;
  }
  reportMissingVoices(kit, partSong->timeline, padMap, err);
  const bool silent = o.device == "none";
  std::unique_ptr<SdlSoundOutput> sound;
  std::unique_ptr<SamplePlayer> samples;
  if (!silent) {
    sound = std::make_unique<SdlSoundOutput>();
    samples = std::make_unique<SamplePlayer>(*sound);
    samples->listDevices();
    samples->setDocumentFolder(documentFolderOf(o.file));
  }
  // The output first: a JACK input opens on the JACK output's client, in one cycle.
  FluidSynthOutput synth(sound.get(), kit.soundFonts());
  kit.applyTo(synth);
  SystemMidiPorts ports;
  MidiRouter router(synth, ports);
  bool openFailed = false;
  MidiPort port(router, [&](const std::string& text) {
    err << "pulsewright-cli: " << text << "\n";
    openFailed = true;
  });
  if (!silent) {
    port.listDevices();
    if (lowerCase(o.device) != "mapper") {
      std::vector<std::string> names;
      const int count = router.deviceCount();
      names.reserve(static_cast<std::size_t>(count));
      for (int i = 0; i < count; ++i) names.push_back(router.deviceName(i));
      const int device = pickByName(names, o.device);
      if (device < 0) {
        err << "pulsewright-cli: "
            << (device == -2 ? "several MIDI devices match " : "no MIDI device matches ")
            << o.device << " (see pulsewright-cli devices)\n";
        return kExitError;
      }
      openFailed = false;
      port.openDevice(device);
    }
    if (openFailed) {
      const std::string missing = synth.missingSoundFontMessage();
      if (!missing.empty()) err << "pulsewright-cli: " << missing << "\n";
      return kExitError;
    }
    port.selectChannel(static_cast<std::int16_t>(o.channel - 1));
  }

  const std::vector<std::string> inputNames = ports.inputNames();
  const int inputIndex = pickByName(inputNames, o.input);
  if (inputIndex < 0) {
    err << "pulsewright-cli: "
        << (inputIndex == -2 ? "several MIDI inputs match " : "no MIDI input matches ") << o.input
        << " (see pulsewright-cli devices)\n";
    return kExitError;
  }
  const std::string& inputName = inputNames[static_cast<std::size_t>(inputIndex)];
  int rc = 0;
  std::unique_ptr<MidiInput> input = ports.openInput(inputName, &rc);
  if (!input) {
    err << "pulsewright-cli: cannot open the MIDI input " << inputName << " (rc = " << rc << ")\n";
    return kExitError;
  }

  TakeRecorder::Settings settings;
  settings.latencyOffset = std::chrono::microseconds(std::llround(o.latencyMs * 1000));
  settings.thruChannel = silent ? -1 : o.channel - 1;
  TakeRecorder recorder(
      *input, settings,
      [&port](const std::uint8_t* b, int length) {
        port.send(b[0] | (length > 1 ? b[1] << 8 : 0) | (length > 2 ? b[2] << 16 : 0));
      },
      nullptr);
  SteadyPlaybackClock clock;
  RecordStepOutput stepOutput(silent ? nullptr : &port, samples.get());

  int status = kExitOk;
  std::vector<RecordedHit> recorded;
  {
    PlaybackSession session(stepOutput, clock, samples.get(), &recorder);
    PlayOptions options;
    options.loops = o.loops;
    options.countIn = o.countIn;
    options.metronome = true;
    recorder.start();
    const bool started = session.play(partSong, options);
    if (!started) {
      err << "pulsewright-cli: part " << o.part << " cannot start\n";
      status = kExitError;
    } else {
      char latency[64];
      std::snprintf(latency, sizeof latency, ", %.2f ms latency taken off",
                    static_cast<double>(recorder.latency().count()) / 1000);
      err << "pulsewright-cli: recording part " << o.part << " from " << inputName << latency
          << (o.loops == 0 ? " (Ctrl+C ends)" : "") << "\n";
    }
    while (started) {
      if (stopSignals.caught() != 0) break;
      if (recorder.inputGone()) {
        err << "pulsewright-cli: the MIDI input " << inputName
            << " went away: recording stopped, what was played is kept\n";
        status = kExitError;
        break;
      }
      if (port.takeSendFailure()) {
        err << "pulsewright-cli: the MIDI device stopped answering: recording stopped, what "
               "was played is kept\n";
        status = kExitError;
        break;
      }
      const std::optional<DueTime> until = recorder.listenUntil();
      if (until && clock.now() >= *until) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    session.player().stop();
    recorder.stop();
    stepOutput.silence(clock.now());
    recorded = recorder.hits();
  }
  // The input stays open until the recorder is gone: it may keep the JACK client.
  port.close();
  if (status != kExitOk && recorded.empty()) return status;

  std::vector<TakeHit> hits;
  hits.reserve(recorded.size());
  for (const RecordedHit& r : recorded) {
    hits.push_back({r.pass, r.seconds, r.key, r.velocity, r.hiHatControl});
  }
  if (!o.hitsLog.empty() && !writeHitsLog(hitsLog, hits, &reason)) {
    err << "pulsewright-cli: cannot write " << o.hitsLog << ": " << reason << "\n";
    status = kExitError;
  }
  const TakeResult take =
      writeTake(document, o.part, hits, o.replace ? TakeMode::Replace : TakeMode::Overdub, padMap);
  for (const std::string& warning : take.warnings) err << "pulsewright-cli: " << warning << "\n";
  if (!take.ok()) {
    err << "pulsewright-cli: the take cannot be written: " << take.error << "\n";
    return kExitError;
  }
  if (!take.changed) {
    err << "pulsewright-cli: no hits were recorded; " << o.output << " is not written\n";
    return status != kExitOk ? status : kExitNothingRecorded;
  }
  if (!output.write(encodedLike(take.document, encoding, byteOrderMark), &reason) ||
      !output.commit(&reason)) {
    err << "pulsewright-cli: cannot write " << o.output << ": " << reason << "\n";
    return kExitError;
  }
  io.out << take.hitsWritten << " hits recorded into part " << o.part << "\n";
  return status;
}

}  // namespace

void addRecordCommand(CLI::App& app, CliContext& context) {
  auto o = std::make_shared<RecordArguments>();
  CLI::App* command = app.add_subcommand(
      "record",
      "play a part in a loop with the metronome and write what a MIDI kit plays along into "
      "its grid lines; Ctrl+C ends the take");
  command->add_option("FILE", o->file, "tablature document")->required()->type_name("");
  command->add_option("--part", o->part, "the part to record")->required()->option_text("NAME");
  command->add_option("--input", o->input, "MIDI input: a unique part of a name that devices lists")
      ->required()
      ->option_text("PORT");
  command
      ->add_option("--device", o->device,
                   "MIDI device the song and the kit sound through: a unique part of a name "
                   "that devices lists, mapper (the default) or none")
      ->option_text("NAME|mapper|none");
  command->add_option("--channel", o->channel, "MIDI channel (default 1)")
      ->check(CLI::Range(1, 16))
      ->option_text("1-16");
  addPadMapOptions(*command, o->padMap);
  addKitOption(*command, o->kit);
  command->add_flag("--count-in", o->countIn, "one bar of clicks first");
  command
      ->add_option("--loops", o->loops,
                   "play the part N times; 0 (the default) repeats it until Ctrl+C")
      ->check(CLI::Range(0, 1000000))
      ->option_text("N");
  command->add_flag("--replace", o->replace,
                    "clear the voices played first and keep the last pass (default: overdub, "
                    "every pass added to what is written)");
  command
      ->add_option("--latency", o->latencyMs,
                   "milliseconds from a note's time to its sound plus from a hit to its "
                   "arrival, for devices that do not report it (JACK does)")
      ->check(CLI::Range(0.0, 2000.0))
      ->option_text("MS");
  command->add_option("-o,--output", o->output, "the document with the take")
      ->required()
      ->option_text("OUT.tab");
  command
      ->add_option("--hits-log", o->hitsLog,
                   "write every hit as played (pass, seconds, key, velocity, hi-hat pedal)")
      ->option_text("FILE");
  command->callback([o, &context] { context.status = runRecord(*o, context); });
}

}  // namespace pulsewright
