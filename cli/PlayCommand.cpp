// pulsewright-cli play: compiles a document and plays it in real time through a MIDI
// device, the built-in synthesiser or nowhere, optionally logging every event with the
// time it was sent. With --watch, each save of the document takes over at the next bar
// line; a save that does not play is reported and the last good song plays on.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include "cli/Command.h"
#include "cli/FileWatcher.h"
#include "cli/KitOptions.h"
#include "cli/VoiceOptions.h"
#include "fileio/OutputFile.h"
#include "midi/MidiPort.h"
#include "midi/PortClockOutput.h"
#include "midi/PortStepOutput.h"
#include "padmap/PadMap.h"
#include "platform/FluidSynthOutput.h"
#include "platform/JackMidiPort.h"
#include "platform/JackTransport.h"
#include "platform/MidiRouter.h"
#include "platform/SdlSoundOutput.h"
#include "platform/SystemMidiPorts.h"
#include "playback/ClockInDriver.h"
#include "playback/DevicePlaybackClock.h"
#include "playback/PlaybackSession.h"
#include "playback/Player.h"
#include "playback/Practice.h"
#include "playback/SamplePlayer.h"
#include "playback/TransportLayout.h"
#include "tablature/CompiledDocument.h"
#include "tablature/DocumentKit.h"
#include "tablature/DocumentMix.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

// The signal that stopped the play (SIGINT or SIGTERM), 0 while none has.
std::atomic<int> gInterrupted{0};
extern "C" void onInterrupt(int signal) {
  gInterrupted.store(signal);
}

// Writes one line per event: "<ms> midi <status> <data1> <data2>", "<ms> sample
// <volume> <pan> <file>", "<ms> change <ms>" (a saved version took over at that bar
// line; the first tick not yet sent when it was handed over was due at the second time)
// and "<ms> end", with the time the event is due since Play. Each
// line is flushed as it is written, so a log of a killed play still shows what was sent;
// the first write that fails is remembered and ends the play.
class EventLog {
 public:
  EventLog(std::FILE* file, PlaybackClock& clock) : file_(file), clock_(clock) {}
  // Before Play: the playback thread only reads the start afterwards.
  void start(PlaybackClock::TimePoint at) { start_ = at; }
  void midi(std::uint32_t word, DueTime due) {
    write("%.3f midi %02x %u %u\n", sinceStart(due), word & 0xFF, (word >> 8) & 0xFF,
          (word >> 16) & 0xFF);
  }
  void sample(std::int16_t volume, std::int16_t pan, const std::string& file, DueTime due) {
    write("%.3f sample %d %d %s\n", sinceStart(due), volume, pan, file.c_str());
  }
  void change(DueTime due, DueTime handedOver) {
    write("%.3f change %.3f\n", sinceStart(due), sinceStart(handedOver));
  }
  void end() { write("%.3f end\n", sinceStart(clock_.now())); }
  void lost(std::uint64_t count) {
    write("%.3f lost %llu\n", sinceStart(clock_.now()), static_cast<unsigned long long>(count));
  }
  // The reason the log could not be written, "" while it could.
  std::string failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
  }

 private:
  template <typename... Args>
  void write(const char* format, Args... args) {
    if (file_ == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_.empty()) return;
    if (std::fprintf(file_, format, args...) < 0 || std::fflush(file_) != 0) {
      failure_ = std::strerror(errno);
      if (failure_.empty()) failure_ = "write error";
    }
  }
  double sinceStart(PlaybackClock::TimePoint at) const {
    return std::chrono::duration<double, std::milli>(at - start_).count();
  }
  std::FILE* file_;
  PlaybackClock& clock_;
  PlaybackClock::TimePoint start_{};
  mutable std::mutex mutex_;
  std::string failure_;
};

// The step output of the command line: the window's, every event logged.
class LoggingStepOutput : public PortStepOutput {
 public:
  LoggingStepOutput(MidiPort* port, int channel, SamplePlayer* samples, EventLog& log)
      : PortStepOutput(port, samples, channel), log_(log) {}
  void sendChannelMessage(int kind, int data1, int data2, DueTime due) override {
    log_.midi(send(kind, data1, data2, due), due);
  }
  void playSample(const std::string& file, std::int16_t volume, std::int16_t pan,
                  DueTime due) override {
    PortStepOutput::playSample(file, volume, pan, due);
    log_.sample(volume, pan, file, due);
  }

 private:
  EventLog& log_;
};

class EndWaiter : public Player::Listener {
 public:
  EndWaiter(EventLog& log, StepOutput& output) : log_(log), output_(output) {}
  void statusChanged(std::uint64_t, const std::string&) override {}
  void stepStarted(std::uint64_t, const Timeline&, const TimelineTick&, DueTime) override {
    if (output_.takeDeviceFailure()) deviceGone_.store(true);
    if (clock_ != nullptr && clock_->takeFailure()) clockGone_.store(true);
  }
  // The MIDI clock source went away: the play ends.
  void sourceGone() { sourceGone_.store(true); }
  // The MIDI clock port, whose failures end the play too.
  void watchClock(PortClockOutput* clock) { clock_ = clock; }
  bool clockGone() const { return clockGone_.load(); }
  bool deviceGone() const { return deviceGone_.load(); }
  void songReplaced(std::uint64_t, const Timeline&, const SongChange& change) override {
    log_.change(change.due, change.handedOver);
  }
  void songEnded(std::uint64_t) override {
    log_.end();
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    cv_.notify_all();
  }
  // True when the song ended, false when interrupted or the log failed first. `idle`,
  // when given, is called between the checks instead of sleeping; it waits a little.
  bool wait(const std::function<void()>& idle = {}) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ended_) {
      if (gInterrupted.load() != 0 || !log_.failure().empty() || deviceGone_.load() ||
          clockGone_.load() || sourceGone_.load()) {
        return false;
      }
      if (idle) {
        lock.unlock();
        idle();
        lock.lock();
      } else {
        cv_.wait_for(lock, std::chrono::milliseconds(50));
      }
    }
    return true;
  }

 private:
  EventLog& log_;
  StepOutput& output_;
  std::atomic<bool> deviceGone_{false};
  PortClockOutput* clock_ = nullptr;
  std::atomic<bool> clockGone_{false};
  std::atomic<bool> sourceGone_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ended_ = false;
};

struct PlayArguments {
  std::string file;
  std::string device = "mapper";
  int channel = 1;
  PadMapChoice padMap;
  std::optional<std::string> soundDevice;
  std::string logPath;
  int loops = 1;
  bool countIn = false;
  double tempoScale = 1.0;
  bool watch = false;
  VoiceChoice voices;
  TempoRamp tempoRamp;
  std::string kit;
  std::string clockOut;   // MIDI port for MIDI clock; "" for none
  std::string transport;  // "jack": follow the JACK transport; "" plays from Play
  std::string clockIn;    // MIDI port whose MIDI clock the song follows; "" for none
};

// The MIDI clock port of --clock-out, opened on a client of its own. Null, with the
// reason (and the ports there are) written to `err`, when it does not open.
std::unique_ptr<PortClockOutput> openClockOutput(const std::string& wanted, SystemMidiPorts& ports,
                                                 MidiHandle* handle, std::ostream& err) {
  std::vector<std::string> names;
  const int count = ports.deviceCount();
  names.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) names.push_back(ports.deviceName(i));
  const int device = pickByName(names, wanted);
  if (device < 0) {
    err << "pulsewright-cli: "
        << (device == -2 ? "several MIDI ports match " : "no MIDI port matches ") << wanted
        << " for --clock-out; the MIDI ports are:\n";
    for (const std::string& name : names) err << "  " << name << "\n";
    if (names.empty()) err << "  (none)\n";
    return nullptr;
  }
  if (const int rc = ports.open(device, handle); rc != midi_result::kOk) {
    err << "pulsewright-cli: cannot open " << names[device] << " for --clock-out (error " << rc
        << ")\n";
    return nullptr;
  }
  return std::make_unique<PortClockOutput>(ports, *handle);
}

// The document read again after each save, while the song plays. A save that gives no
// playable song is reported with its reasons; an unreadable or deleted file once, until
// it can be read again.
class SaveWatcher {
 public:
  // How long a save must stay unchanged before it is read, and the longest a file that
  // keeps changing is waited for.
  static constexpr std::chrono::milliseconds kSettle{150};
  static constexpr std::chrono::milliseconds kLongestSettle{2000};

  SaveWatcher(const PlayArguments& arguments, const PadMap& padMap, std::string text,
              std::ostream& err, std::mutex& errMutex, FluidSynthOutput* synth, std::string kitLine)
      : arguments_(arguments),
        padMap_(padMap),
        text_(std::move(text)),
        err_(err),
        errMutex_(errMutex),
        synth_(synth),
        kitLine_(std::move(kitLine)),
        watcher_(arguments.file) {}
  const std::string& error() const { return watcher_.error(); }

  // Waits a little for a save; hands what `document` compiles of it to `session`.
  void poll(PlaybackSession& session, DocumentSession& document) {
    // The first look reads the file whatever the watch says: a save between the first
    // read and the start of the watch would otherwise wait for the next one.
    if (!firstLook_ && !watcher_.wait(std::chrono::milliseconds(50))) return;
    if (!firstLook_) settle();
    firstLook_ = false;
    std::string bytes;
    std::string reason;
    std::istringstream noInput;
    bool read = readInputBytes(arguments_.file, noInput, &bytes, &reason);
    // An editor that renames the old file away before it writes the new one leaves a
    // moment with no file: the write follows at once.
    if (!read && watcher_.wait(std::chrono::milliseconds(200))) {
      settle();
      read = readInputBytes(arguments_.file, noInput, &bytes, &reason);
    }
    if (!read) {
      if (!unreadableReported_) {
        say(arguments_.file + ": cannot read it: " + reason + "; the last good song plays on");
      }
      unreadableReported_ = true;
      return;
    }
    unreadableReported_ = false;
    std::string text = joinLinesWithCrLf(decodeDocumentBytes(bytes));
    if (text == text_) return;
    text_ = std::move(text);
    SessionOptions options = commandSessionOptions(padMap_, nullptr, true);
    options.documentFolder = documentFolderOf(arguments_.file);
    // A missing sample is skipped as it plays: it does not hold the save back.
    options.sampleProblem = nullptr;
    const std::shared_ptr<const SessionResult> result = document.compileNow(text_, options);
    // Played or not, the next save is read from what this one left, as Play reads it.
    document.keepStateOf(result, false);
    const CompiledDocument& compiled = result->document;
    const std::vector<Diagnostic> reasons = whyNotPlayable(compiled);
    if (!reasons.empty()) {
      std::string report;
      for (const Diagnostic& d : reasons) {
        report += formatDiagnostic(arguments_.file, d) + "\n";
      }
      report += "pulsewright-cli: " + arguments_.file +
                ": this save does not play; the last good song plays on";
      sayRaw(report);
      return;
    }
    changeKit(*compiled.song);
    session.replaceSong(makeSong(compiled.song));
  }

 private:
  // A save that names another kit on its kit line plays on it from then on (unless
  // --kit chose one): loaded here, while the old kit plays on, then swapped in between
  // two blocks.
  void changeKit(const Timeline& song) {
    const std::string line = documentKit(text_);
    if (!arguments_.kit.empty() || !synth_ || line == kitLine_) return;
    kitLine_ = line;
    std::ostringstream report;
    KitChoice kit;
    if (chooseKit("", text_, padMap_, kOutputSampleRate, report, &kit) != kExitOk) {
      sayRaw(report.str() + "pulsewright-cli: the kit played before plays on");
      return;
    }
    if (!kit.soundFont.empty()) {
      say(kit.name +
          " is an SF2 kit: it is chosen when a play starts; the kit played before plays on");
      return;
    }
    reportMissingVoices(kit, song, padMap_, report);
    std::string said = report.str();
    if (!said.empty() && said.back() == '\n') said.pop_back();
    if (!said.empty()) sayRaw(said);
    synth_->setKit(kit.sound);
    say("now playing on " + (kit.name.empty() ? std::string("the General MIDI kits") : kit.name));
  }

  // An editor may write a save in pieces: it is judged once the file has been still for
  // a moment, by what it holds then.
  void settle() {
    const auto settleUntil = std::chrono::steady_clock::now() + kLongestSettle;
    while (watcher_.wait(kSettle) && std::chrono::steady_clock::now() < settleUntil) {
    }
  }
  void say(const std::string& text) { sayRaw("pulsewright-cli: " + text); }
  void sayRaw(const std::string& text) {
    std::lock_guard<std::mutex> lock(errMutex_);
    err_ << text << "\n" << std::flush;
  }

  const PlayArguments& arguments_;
  const PadMap& padMap_;
  std::string text_;
  std::ostream& err_;
  std::mutex& errMutex_;
  FluidSynthOutput* synth_;
  std::string kitLine_;  // the kit line the kit played was chosen by
  FileWatcher watcher_;
  bool firstLook_ = true;
  bool unreadableReported_ = false;
};

// play --transport jack: the song follows the JACK transport through a client of its own
// wired to the JACK MIDI port named by --device, until Ctrl+C or the server goes.
int runTransportPlay(const PlayArguments& o, CliContext& io, const PadMap& padMap,
                     const std::string& text) {
  std::ostream& err = io.err;
  const std::string clientName = "Pulsewright";
  if (!jackServerRunning(clientName)) {
    err << "pulsewright-cli: --transport jack: no JACK server runs\n";
    return kExitError;
  }
  const std::vector<std::string> names = listJackMidiInputs(clientName);
  const int device = pickByName(names, o.device);
  if (device < 0) {
    err << "pulsewright-cli: "
        << (device == -2 ? "several JACK MIDI ports match " : "no JACK MIDI port matches ")
        << o.device << " for --transport jack; the JACK MIDI ports are:\n";
    for (const std::string& name : names) err << "  " << name << "\n";
    if (names.empty()) err << "  (none)\n";
    return kExitError;
  }
  TablatureCompiler compiler;
  CompileMessages messages(err, o.file);
  CompileRequest request;
  request.padMap = padMap;
  request.listener = &messages;
  request.diagnose = false;
  const CompiledDocument compiled = compileDocument(compiler, text, request);
  if (!compiled.song || !compiled.song->playable()) {
    err << "pulsewright-cli: " << o.file << ": nothing to play\n";
    return kExitNothingToPlay;
  }
  const std::optional<VoiceMask> mask = voiceMaskOf(o.voices, o.file, *compiled.song, err);
  if (!mask) return kExitError;
  const VoiceFilter filter(*mask, *compiled.song);
  int result = 0;
  std::unique_ptr<JackTransportPlayer> player = JackTransportPlayer::open(
      clientName, names[device], layOutForTransport(*compiled.song, o.channel - 1, &filter),
      &result);
  if (!player) {
    err << "pulsewright-cli: cannot open " << names[device] << " (error " << result << ")\n";
    return kExitError;
  }
  err << "pulsewright-cli: following the JACK transport"
      << (player->offerTimebase() ? " as its timebase master" : "") << "; Ctrl+C stops\n"
      << std::flush;
  gInterrupted.store(0);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  struct sigaction previousInt {};
  struct sigaction previousTerm {};
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);
  int status = 0;
  bool wasMaster = player->timebaseMaster();
  while (gInterrupted.load() == 0) {
    if (player->serverGone()) {
      err << "pulsewright-cli: the JACK server went away; the song stopped\n";
      status = kExitError;
      break;
    }
    // A master that went leaves bar and beat to this client.
    if (!wasMaster && player->offerTimebase()) {
      err << "pulsewright-cli: no other timebase master: bar, beat and tempo now come from the "
             "song\n"
          << std::flush;
    }
    wasMaster = player->timebaseMaster();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (const int signal = gInterrupted.load(); signal != 0) status = 128 + signal;
  player.reset();  // silences what sounds
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  return status;
}

int runPlay(const PlayArguments& o, CliContext& io) {
  std::ostream& err = io.err;
  PadMap padMap;
  std::string text;
  if (o.watch && o.file == "-") {
    err << "pulsewright-cli: --watch needs a file, not standard input\n";
    return kExitError;
  }
  if (!loadDocument(o.file, o.padMap, io, &padMap, &text)) return kExitError;
  if (o.transport == "jack") return runTransportPlay(o, io, padMap, text);
  // The log closes on every way out. It is written where it is, line by line, so that
  // it can be read as the song plays.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> ownedLog(nullptr, std::fclose);
  std::FILE* logFile = nullptr;
  if (!o.logPath.empty()) {
    if (o.logPath == "-") {
      logFile = stdout;
    } else {
      OutputFile output;
      std::string reason;
      if (!output.open(o.logPath, {o.file, o.padMap.file}, &reason,
                       OutputFile::Replace::kInPlace)) {
        err << "pulsewright-cli: cannot write " << o.logPath << ": " << reason << "\n";
        return kExitError;
      }
      ownedLog.reset(::fdopen(::dup(output.descriptor()), "w"));
      logFile = ownedLog.get();
      if (logFile == nullptr) {
        err << "pulsewright-cli: cannot write " << o.logPath << ": " << std::strerror(errno)
            << "\n";
        return kExitError;
      }
    }
  }

  const bool silent = o.device == "none";
  KitChoice kit;
  if (const int status = chooseKit(o.kit, text, padMap, kOutputSampleRate, err, &kit);
      status != kExitOk) {
    return status;
  }
  kit.setMix(documentMix(text), padMap);
  // Sound: samples (and the built-in synthesiser) share one SDL device.
  std::unique_ptr<SdlSoundOutput> sound;
  std::unique_ptr<SamplePlayer> samples;
  // "--device none" is silent unless a sound device is named for the samples.
  const bool soundOff = o.soundDevice ? *o.soundDevice == "none" : silent;
  if (!soundOff) {
    sound = std::make_unique<SdlSoundOutput>();
    samples = std::make_unique<SamplePlayer>(*sound);
    samples->listDevices();
    samples->setDocumentFolder(documentFolderOf(o.file));
    if (o.soundDevice) {
      const int entry = pickByName(samples->SoundDeviceList(), *o.soundDevice);
      if (entry < 0) {
        err << "pulsewright-cli: "
            << (entry == -2 ? "several sound devices match " : "no sound device matches ")
            << *o.soundDevice << " (see pulsewright-cli devices)\n";
        return kExitError;
      }
      samples->selectAudioDevice(entry);
    }
  }

  // MIDI: the built-in synthesiser as the mapper, the system's ports as devices.
  std::unique_ptr<FluidSynthOutput> synth;
  std::unique_ptr<SystemMidiPorts> ports;
  std::unique_ptr<MidiRouter> router;
  std::unique_ptr<MidiPort> port;
  if (!silent) {
    synth = std::make_unique<FluidSynthOutput>(sound.get(), kit.soundFonts());
    kit.applyTo(*synth);
    ports = std::make_unique<SystemMidiPorts>();
    router = std::make_unique<MidiRouter>(*synth, *ports);
    bool openFailed = false;
    port = std::make_unique<MidiPort>(*router, [&](const std::string& text) {
      err << "pulsewright-cli: " << text << "\n";
      openFailed = true;
    });
    if (lowerCase(o.device) == "mapper") {
      port->listDevices();
    } else {
      std::vector<std::string> names;
      const int count = router->deviceCount();
      names.reserve(count);
      for (int i = 0; i < count; ++i) names.push_back(router->deviceName(i));
      const int device = pickByName(names, o.device);
      if (device < 0) {
        err << "pulsewright-cli: "
            << (device == -2 ? "several MIDI devices match " : "no MIDI device matches ")
            << o.device << " (see pulsewright-cli devices)\n";
        return kExitError;
      }
      // The listing opens the mapper first, as at start-up; then the pick.
      port->listDevices();
      openFailed = false;
      port->openDevice(device);
    }
    if (openFailed) {
      const std::string missing = synth->missingSoundFontMessage();
      if (!missing.empty()) err << "pulsewright-cli: " << missing << "\n";
      return kExitError;
    }
    port->selectChannel(static_cast<std::int16_t>(o.channel - 1));
  }
  std::unique_ptr<SystemMidiPorts> clockPorts;
  MidiHandle clockHandle = 0;
  std::unique_ptr<PortClockOutput> clockOutput;
  if (!o.clockOut.empty()) {
    clockPorts = std::make_unique<SystemMidiPorts>();
    clockOutput = openClockOutput(o.clockOut, *clockPorts, &clockHandle, err);
    if (!clockOutput) return kExitError;
  }
  // --clock-in: the MIDI input the song follows, on a client of its own.
  std::unique_ptr<SystemMidiPorts> clockInPorts;
  std::unique_ptr<MidiInput> clockInput;
  if (!o.clockIn.empty()) {
    clockInPorts = std::make_unique<SystemMidiPorts>();
    const std::vector<std::string> names = clockInPorts->inputNames();
    const int source = pickByName(names, o.clockIn);
    if (source < 0) {
      err << "pulsewright-cli: "
          << (source == -2 ? "several MIDI ports match " : "no MIDI port matches ") << o.clockIn
          << " for --clock-in; the MIDI ports that may be read are:\n";
      for (const std::string& name : names) err << "  " << name << "\n";
      if (names.empty()) err << "  (none)\n";
      return kExitError;
    }
    int rc = 0;
    clockInput = clockInPorts->openInput(names[source], &rc);
    if (!clockInput || !clockInput->takeClock(true)) {
      err << "pulsewright-cli: cannot read MIDI clock from " << names[source] << " (error " << rc
          << ")\n";
      return kExitError;
    }
  }
  // Sounds the user would miss are named once per play.
  std::mutex noticeMutex;
  auto notice = [&err, &noticeMutex](const std::string& text) {
    std::lock_guard<std::mutex> lock(noticeMutex);
    err << "pulsewright-cli: " << text << "\n";
  };
  if (samples) samples->setNotice(notice);
  if (synth) synth->setNotice(notice);
  if (synth && port && port->deviceId() == kMidiMapperId && !synth->sounds()) {
    err << "pulsewright-cli: no sound device: the built-in synthesiser cannot be heard\n";
  }
  // A song heard only through the sound device keeps the device's time, so that its hits
  // keep their spacing in what it plays; one that also goes to a MIDI port keeps the
  // steady clock that port is timed by.
  SteadyPlaybackClock steadyClock;
  std::optional<DevicePlaybackClock> deviceClock;
  if (sound && sound->isOpen() && (!port || port->deviceId() == kMidiMapperId) && !clockOutput) {
    deviceClock.emplace(sound->engine());
  }
  PlaybackClock& clock = deviceClock ? static_cast<PlaybackClock&>(*deviceClock) : steadyClock;
  EventLog log(logFile, clock);
  LoggingStepOutput output(port.get(), o.channel - 1, samples.get(), log);
  EndWaiter waiter(log, output);
  waiter.watchClock(clockOutput.get());
  gInterrupted.store(0);
  // SIGTERM stops the play as Ctrl+C does: notes off and the log's end line.
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  struct sigaction previousInt {};
  struct sigaction previousTerm {};
  std::unique_ptr<SaveWatcher> saves;
  if (o.watch) {
    saves = std::make_unique<SaveWatcher>(o, padMap, text, err, noticeMutex, synth.get(),
                                          documentKit(text));
    if (!saves->error().empty()) {
      err << "pulsewright-cli: cannot watch " << o.file << ": " << saves->error() << "\n";
      return kExitError;
    }
  }
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);

  int status = 0;
  {
    PlaybackSession session(output, clock, samples.get(), &waiter);
    DocumentSession document;
    CompileMessages messages(err, o.file);
    const std::shared_ptr<const SessionResult> compiled =
        document.compileNow(text, commandSessionOptions(padMap, &messages, false));
    document.keepStateOf(compiled, false);
    std::shared_ptr<const Timeline> timeline = compiled->document.song;
    if (const DocumentMix mix = documentMix(text); !mix.plain()) {
      timeline = std::make_shared<const Timeline>(withoutMixSilencedVoices(*timeline, mix));
    }
    std::shared_ptr<const Song> song = makeSong(std::move(timeline));
    reportMissingVoices(kit, song->timeline, padMap, err);
    PlayOptions options;
    options.loops = o.loops;
    options.countIn = o.countIn;
    options.tempoRamp = o.tempoRamp;
    const std::optional<VoiceMask> mask = voiceMaskOf(o.voices, o.file, song->timeline, err);
    const bool masked = mask.has_value();
    if (mask) session.player().setVoiceMask(*mask);
    options.startedAt = clock.now();
    log.start(options.startedAt);
    session.player().setTempoScale(o.tempoScale);
    session.player().setClockOutput(clockOutput.get());
    std::optional<ClockInDriver> clockIn;
    if (clockInput) {
      clockIn.emplace(*clockInput, session);
      clockIn->arm(song, options);
    }
    // Following a MIDI clock, the song waits for the source's Start or Continue.
    const bool started = masked && (clockInput || session.play(song, options));
    if (started && clockInput) {
      std::lock_guard<std::mutex> lock(noticeMutex);
      err << "pulsewright-cli: waiting for the MIDI clock's Start or Continue\n" << std::flush;
    }
    auto followClock = [&] {
      const ClockInDriver::News news = clockIn->poll(std::chrono::steady_clock::now());
      if (news.gone) {
        err << "pulsewright-cli: the MIDI clock source went away; the song stopped\n";
        waiter.sourceGone();
        return;
      }
      if (news.stalled) {
        std::lock_guard<std::mutex> lock(noticeMutex);
        err << "pulsewright-cli: the MIDI clock stopped coming; the song waits for it\n";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::function<void()> idle;
    if (saves && clockInput) {
      idle = [&] {
        followClock();
        saves->poll(session, document);
      };
    } else if (saves) {
      idle = [&] { saves->poll(session, document); };
    } else if (clockInput) {
      idle = followClock;
    }
    if (!masked) {
      status = kExitError;
    } else if (!started) {
      log.end();
    } else if (!waiter.wait(idle)) {
      session.player().stop();
      log.end();
      const int signal = gInterrupted.load();
      status = signal != 0 ? 128 + signal : kExitError;
      if (waiter.deviceGone()) err << "pulsewright-cli: the MIDI device stopped answering\n";
      if (waiter.clockGone()) err << "pulsewright-cli: the MIDI clock port stopped answering\n";
    }
  }
  if (const std::string failure = log.failure(); !failure.empty()) {
    err << "pulsewright-cli: cannot write " << (o.logPath == "-" ? "standard output" : o.logPath)
        << ": " << failure << "\n";
    status = kExitError;
  }
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  // Let the last hits ring out before the synthesiser and the device close.
  if (sound && sound->isOpen() && status == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
  }
  if (port) port->close();
  // The clock's last messages (Stop) go out before its client closes.
  if (clockPorts) clockPorts->close(clockHandle);
  // What a stalled or stopped server never took was logged as sent: say so.
  if (const std::uint64_t lost = ports ? ports->lostMessages() : 0; lost > 0) {
    err << "pulsewright-cli: the MIDI device never took " << lost
        << " of the messages sent to it (it stalled or stopped)\n";
    log.lost(lost);
    if (status == 0) status = kExitError;
  }
  if (ownedLog && std::fclose(ownedLog.release()) != 0 && status == 0) {
    err << "pulsewright-cli: cannot write " << o.logPath << ": " << std::strerror(errno) << "\n";
    status = kExitError;
  }
  return status;
}

}  // namespace

void addPlayCommand(CLI::App& app, CliContext& context) {
  auto o = std::make_shared<PlayArguments>();
  CLI::App* command =
      app.add_subcommand("play", "play FILE in real time; ends with the song, Ctrl+C stops it");
  command->add_option("FILE", o->file, "tablature document")->required()->type_name("");
  command
      ->add_option("--device", o->device,
                   "MIDI device: a unique part of a name that devices lists, mapper (the "
                   "built-in synthesiser, the default) or none")
      ->option_text("NAME|mapper|none");
  command->add_option("--channel", o->channel, "MIDI channel (default 1)")
      ->check(CLI::Range(1, 16))
      ->option_text("1-16");
  addPadMapOptions(*command, o->padMap);
  command
      ->add_option_function<std::string>(
          "--sound-device", [o](const std::string& name) { o->soundDevice = name; },
          "sound device for samples and the synthesiser, or none")
      ->option_text("NAME|none");
  command
      ->add_option("--log", o->logPath,
                   "log every event with its time in ms (- for standard output)")
      ->option_text("FILE");
  command->add_option("--loop", o->loops, "play the song N times; 0 repeats it until Ctrl+C")
      ->check(CLI::Range(0, 1000000))
      ->option_text("N");
  command->add_flag("--count-in", o->countIn, "one bar of clicks at the first part's tempo first");
  command->add_flag("--watch", o->watch,
                    "play each save of FILE from the next bar line on; a save that does not "
                    "play is reported and the last good song plays on");
  command
      ->add_option("--tempo-scale", o->tempoScale,
                   "play at this share of the written tempo, from 0.25 to 2 (default 1)")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            // The range alone would let "nan" through: it is neither below nor above.
            const double value = std::strtod(text.c_str(), nullptr);
            if (std::isfinite(value) && value >= kMinTempoScale && value <= kMaxTempoScale) {
              return {};
            }
            return "a number from 0.25 to 2 expected, not " + text;
          },
          "", "finite"))
      ->option_text("F");
  command
      ->add_option("--clock-out", o->clockOut,
                   "send MIDI clock (24 a quarter, Start, Stop, Continue, Song Position) to "
                   "this MIDI port: a unique part of a name that devices lists")
      ->option_text("PORT");
  command
      ->add_option("--clock-in", o->clockIn,
                   "play at the tempo of the MIDI clock from this MIDI port and start, stop and "
                   "locate with its Start, Stop, Continue and Song Position: a unique part of a "
                   "name")
      ->excludes("--count-in")
      ->option_text("PORT");
  command
      ->add_option("--transport", o->transport,
                   "follow the JACK transport (start, stop, locate, the timebase master's "
                   "tempo) through the JACK MIDI port of --device")
      ->check(CLI::IsMember({"jack"}))
      ->excludes("--watch")
      ->excludes("--clock-out")
      ->excludes("--clock-in")
      ->option_text("jack");
  addVoiceOptions(*command, o->voices, false);
  addKitOption(*command, o->kit);
  command
      ->add_option_function<std::string>(
          "--tempo-ramp",
          [o](const std::string& text) { o->tempoRamp = *parseTempoRamp(text, nullptr); },
          "speed trainer: the first pass at START % of the tempo, each further pass STEP % "
          "faster, up to END %")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            std::string error;
            return parseTempoRamp(text, &error) ? std::string() : error;
          },
          "", "ramp"))
      ->excludes("--tempo-scale")
      ->option_text("START:STEP:END");
  command->callback([o, &context] { context.status = runPlay(*o, context); });
}

}  // namespace pulsewright
