#include "app/Recording.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "app/AppServices.h"
#include "app/Transport.h"
#include "editor/EditorText.h"
#include "midi/MidiPort.h"
#include "midi/PortStepOutput.h"
#include "platform/MidiInput.h"
#include "playback/PlaybackSession.h"
#include "playback/TakeRecorder.h"
#include "recording/Take.h"
#include "settings/SettingsStore.h"
#include "tablature/LinePatterns.h"
#include "tablature/TablatureCompiler.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

constexpr char kSection[] = "Recording";
constexpr char kLatencyKey[] = "LatencyMs";
constexpr int kWatchIntervalMs = 50;

}  // namespace

std::string partAtTextCursor(const QPlainTextEdit& editor, const LineMatcher& matcher) {
  for (QTextBlock block = editor.textCursor().block(); block.isValid(); block = block.previous()) {
    const std::string line = block.text().toStdString();
    std::string_view name;
    if (isSectionLine(matcher.classify(line)) &&
        matcher.extract(LineField::SectionName, line, &name)) {
      return std::string(name);
    }
  }
  return {};
}

Recording::Recording(MidiPort& port, SamplePlayer* samples, const AppServices& services,
                     Transport& transport, QObject* parent)
    : QObject(parent),
      port_(port),
      samples_(samples),
      clock_(services.clock),
      settings_(services.settings),
      inputs_(services.midiInput),
      transport_(transport),
      watch_(new QTimer(this)) {
  watch_->setInterval(kWatchIntervalMs);
  connect(watch_, &QTimer::timeout, this, &Recording::watchDevices);
  if (parent != nullptr) parent->installEventFilter(this);
}

bool Recording::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent() && event->type() == QEvent::Close && active()) stop();
  return false;
}

Recording::~Recording() {
  session_.reset();  // the player's thread ends before what it reports to
}

int Recording::latencyMs() const {
  bool isNumber = false;
  const int ms = settings_.GetSetting(kSection, kLatencyKey, "0").toInt(&isNumber);
  return isNumber ? std::clamp(ms, 0, kMaxLatencyMs) : 0;
}

void Recording::setLatencyMs(int ms) {
  settings_.SaveSetting(kSection, kLatencyKey, QString::number(std::clamp(ms, 0, kMaxLatencyMs)));
}

bool Recording::start(QPlainTextEdit& editor, const std::string& part, const std::string& input,
                      const PadMap& padMap) {
  if (active()) return false;
  // One song at a time through the port.
  transport_.stop();
  const QString why = begin(editor, part, input, padMap, transport_.tempoScale());
  emit said(why.isEmpty()
                ? tr(transport_.countIn()
                         ? "Recording part %1 from %2 after a bar of count-in: Stop ends the take."
                         : "Recording part %1 from %2: Stop ends the take.")
                      .arg(QString::fromStdString(part_), QString::fromStdString(inputName_))
                : why);
  return why.isEmpty();
}

QString Recording::begin(QPlainTextEdit& editor, const std::string& part, const std::string& input,
                         const PadMap& padMap, double tempoScale) {
  if (part.empty()) return tr("Record needs the text cursor in a part.");
  const std::vector<std::string> names =
      inputs_ != nullptr ? inputs_->inputNames() : std::vector<std::string>{};
  std::string name = input;
  if (name.empty() && names.size() == 1) name = names.front();
  if (name.empty()) return tr("Choose the kit's MIDI input in the Midi Input menu first.");
  if (std::find(names.begin(), names.end(), name) == names.end()) {
    return tr("The MIDI input %1 is not there.").arg(QString::fromStdString(name));
  }

  // The part alone, looped.
  const std::string text = joinLinesWithCrLf(editorText(editor).toStdString());
  std::shared_ptr<const Timeline> compiled;
  if (compile_) {
    compiled = compile_(text);
  } else {
    TablatureCompiler compiler;
    compiler.compile(text, padMap, nullptr);
    compiled = compiler.song();
  }
  const auto& parts = compiled->parts();
  const bool found = std::any_of(parts.begin(), parts.end(),
                                 [&](const TimelinePart& p) { return p.name == part; });
  std::shared_ptr<const Song> song =
      found ? makeSong(std::make_shared<Timeline>(compiled->withSongLine(part))) : nullptr;
  if (!song || !song->timeline.playable()) {
    return tr("Part %1 has no steps to record into.").arg(QString::fromStdString(part));
  }

  int rc = 0;
  input_ = inputs_->openInput(name, &rc);
  if (!input_) {
    return tr("Cannot open the MIDI input %1 (rc = %2).").arg(QString::fromStdString(name)).arg(rc);
  }
  TakeRecorder::Settings settings;
  settings.tempoScale = tempoScale;
  settings.latencyOffset = std::chrono::milliseconds(latencyMs());
  settings.thruChannel = port_.channel();
  // The kit sounds through the output the song plays through.
  recorder_ = std::make_unique<TakeRecorder>(
      *input_, settings,
      [this](const std::uint8_t* b, int length) {
        port_.send(b[0] | (length > 1 ? b[1] << 8 : 0) | (length > 2 ? b[2] << 16 : 0));
      },
      nullptr);
  output_ = std::make_unique<PortStepOutput>(&port_, samples_);
  session_ = std::make_unique<PlaybackSession>(*output_, clock_, samples_, recorder_.get());
  session_->player().setTempoScale(tempoScale);
  PlayOptions options;
  options.loops = 0;
  // As Play counts in: the Play menu's Count-in, off unless chosen, as on the command line.
  // A drummer who starts at once is recorded from the first bar.
  options.countIn = transport_.countIn();
  options.metronome = true;
  recorder_->start();
  if (!session_->play(song, options)) {
    recorder_->stop();
    session_.reset();
    output_.reset();
    recorder_.reset();
    input_.reset();
    return tr("Part %1 cannot start.").arg(QString::fromStdString(part));
  }
  editor_ = &editor;
  before_ = editorText(editor);
  written_.clear();
  barsShown_ = 0;
  part_ = part;
  inputName_ = name;
  padMap_ = padMap;
  port_.takeSendFailure();  // a failure from before is not this take's
  watch_->start();
  return {};
}

void Recording::watchDevices() {
  if (!active()) return;
  if (recorder_->barsStarted() != barsShown_) {
    barsShown_ = recorder_->barsStarted();
    showTakeSoFar();
  }
  if (recorder_->inputGone()) {
    finish(tr("The MIDI input %1 went away: recording stopped, what was played is kept.")
               .arg(QString::fromStdString(inputName_)));
  } else if (port_.takeSendFailure()) {
    finish(tr("The MIDI device stopped answering: recording stopped, what was played is kept."));
  }
}

std::vector<TakeHit> Recording::takeHits() const {
  const std::vector<RecordedHit> recorded = recorder_->hits();
  std::vector<TakeHit> hits;
  hits.reserve(recorded.size());
  for (const RecordedHit& r : recorded) {
    hits.push_back({r.pass, r.seconds, r.key, r.velocity, r.hiHatControl});
  }
  return hits;
}

void Recording::showTakeSoFar() {
  if (!editor_) return;
  const QString now = editorText(*editor_);
  if (now != (written_.isEmpty() ? before_ : written_)) return;  // edited meanwhile
  const TakeResult take = writeTake(before_.toStdString(), part_, takeHits(),
                                    replace_ ? TakeMode::Replace : TakeMode::Overdub, padMap_);
  if (!take.ok() || !take.changed) return;
  const QString text = QString::fromStdString(take.document);
  replaceChangedText(*editor_, text, !written_.isEmpty());
  written_ = text;
}

void Recording::finish(const QString& why) {
  if (!active()) return;
  watch_->stop();
  session_->player().stop();
  recorder_->stop();
  output_->silence(clock_.now());
  const std::vector<TakeHit> hits = takeHits();
  const int countInHits = recorder_->countInHits();
  session_.reset();
  output_.reset();
  recorder_.reset();
  input_.reset();

  QStringList message;
  if (!why.isEmpty()) message << why;
  if (!editor_) {
    emit said(message.join(' '));
    transport_.stop();
    emit finished();
    return;
  }
  // Written over what the take so far left, as part of its undo step; into the text as it
  // stands when something else changed it meanwhile.
  const QString now = editorText(*editor_);
  const bool ours = now == (written_.isEmpty() ? before_ : written_);
  const TakeResult take = writeTake((ours ? before_ : now).toStdString(), part_, hits,
                                    replace_ ? TakeMode::Replace : TakeMode::Overdub, padMap_);
  const bool joinPrevious = ours && !written_.isEmpty();
  before_.clear();
  written_.clear();
  if (!take.ok()) {
    message << tr("The take cannot be written: %1").arg(QString::fromStdString(take.error));
  } else if (!take.changed) {
    message << tr("No hits were recorded: the text is unchanged.");
  } else {
    replaceChangedText(*editor_, QString::fromStdString(take.document), joinPrevious);
    message << tr("%n hit(s) recorded into part %1.", nullptr, take.hitsWritten)
                   .arg(QString::fromStdString(part_));
  }
  if (countInHits > 0) {
    message << tr("%n hit(s) played during the count-in were not recorded.", nullptr, countInHits);
  }
  for (const std::string& warning : take.warnings) message << QString::fromStdString(warning);
  emit said(message.join(' '));
  transport_.stop();  // the window shows the transport at rest
  emit finished();
}

bool Recording::replaceChangedText(QPlainTextEdit& editor, const QString& text, bool joinPrevious) {
  // Only the stretch that differs, through the editor's one way of applying changes.
  const std::vector<TextChange> changes = changesBetween(
      joinLinesWithCrLf(editorText(editor).toStdString()), joinLinesWithCrLf(text.toStdString()));
  return !changes.empty() && applyTextChanges(editor, changes, joinPrevious);
}

}  // namespace pulsewright
