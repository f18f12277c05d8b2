#include "app/DocumentExports.h"

#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>
#include <optional>

#include "app/AudioExport.h"
#include "editor/DocumentCommands.h"
#include "editor/EditorCommands.h"
#include "midifile/MidiFileExport.h"
#include "notation/ui/NotationFiles.h"
#include "platform/qt/UserDialogs.h"
#include "playback/Sequencer.h"
#include "playback/SongRenderer.h"
#include "tabimport/GrooveScribe.h"
#include "tablature/CompiledDocument.h"
#include "tablature/DocumentMix.h"
#include "text/DocumentText.h"

namespace pulsewright {

void MessageBoxListener::message(int, std::string_view text) {
  dialogs_.message(parent_, QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

QString documentFolder(const EditorCommands& editor) {
  const QString file = editor.documents().currentFileName();
  return file.isEmpty() ? QString() : QFileInfo(file).absolutePath();
}

DocumentExports::DocumentExports(QWidget* window, UserDialogs& dialogs, EditorCommands& editor,
                                 DocumentCompiler compileAsPlay)
    : QObject(window),
      window_(window),
      dialogs_(dialogs),
      editor_(editor),
      compileAsPlay_(std::move(compileAsPlay)) {}

void DocumentExports::exportMidi() {
  QString path = dialogs_.exportFileName(window_, tr("Export MIDI"), tr("MIDI files (*.mid)"),
                                         editor_.documents().exportNameWith(".mid"));
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".mid");
  const std::optional<int> channel = dialogs_.chooseNumber(
      window_, tr("MIDI channel of the drums (10 is the General MIDI drum channel):"), 10, 1, 16);
  if (!channel) return;
  const CompiledDocument compiled =
      compileAsPlay_(joinLinesWithCrLf(editor_.documentText().toStdString()));
  const MidiExportResult result =
      exportMidiFile(compiled, QFile::encodeName(path).toStdString(), *channel - 1,
                     {QFile::encodeName(editor_.documents().currentFileName()).toStdString()});
  if (result.status == MidiExportResult::Status::kNothingToPlay) {
    dialogs_.message(window_, tr("There is nothing to play: no MIDI file was written."));
    return;
  }
  if (result.status == MidiExportResult::Status::kCannotWrite) {
    dialogs_.message(
        window_, tr("Cannot save \"%1\": %2.").arg(path, QString::fromLocal8Bit(result.message)));
    return;
  }
  if (result.samplesLeftOut > 0) {
    dialogs_.message(window_, tr("%n sample hit(s) left out: a MIDI file cannot hold samples.",
                                 nullptr, static_cast<int>(result.samplesLeftOut)));
  }
  emit fileExported(path);
}

void DocumentExports::exportAudio(QString path, double gainDb, bool normalize) {
  if (audioExport_ && audioExport_->running()) return;
  if (path.isEmpty()) {
    path = dialogs_.exportFileName(window_, tr("Export Audio"),
                                   "WAVE (*.wav);;FLAC (*.flac);;Ogg Vorbis (*.ogg)",
                                   editor_.documents().exportNameWith(".wav"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".wav");
    const std::optional<int> level =
        dialogs_.chooseItem(window_, tr("Level of the exported audio:"),
                            {tr("As played"), tr("Normalised: the loudest peak at -1 dBFS"),
                             tr("Louder or softer by a gain in decibels...")},
                            1);
    if (!level) return;
    normalize = *level == 1;
    if (*level == 2) {
      const std::optional<int> gain =
          dialogs_.chooseNumber(window_, tr("Gain in decibels (dB):"), 0, -60, 40);
      if (!gain) return;
      gainDb = *gain;
    }
  }
  RenderSettings settings;
  settings.gainDb = gainDb;
  settings.normalize = normalize;
  settings.documentFolder = documentFolder(editor_).toStdString();
  const QString document = editor_.documents().currentFileName();
  if (!document.isEmpty()) settings.inputs.push_back(QFile::encodeName(document).toStdString());
  const std::string text = joinLinesWithCrLf(editor_.documentText().toStdString());
  // On the kit and with the mixer Play uses.
  if (renderKit_) {
    std::optional<KitChoice> kit = renderKit_(text);
    if (!kit) {
      dialogs_.message(window_, tr("The kit is still loading: export the audio again once it "
                                   "has loaded."));
      return;
    }
    settings.kit = std::move(*kit);
  }
  // The compiler's messages, as Play shows them.
  const CompiledDocument compiled = compileAsPlay_(text);
  MessageBoxListener listener(dialogs_, window_);
  for (const std::string& message : compiled.messages) listener.message(0, message);
  std::shared_ptr<const Timeline> song = compiled.song;
  if (const DocumentMix mix = documentMix(text); !mix.plain() && song) {
    song = std::make_shared<const Timeline>(withoutMixSilencedVoices(*song, mix));
  }
  delete audioExport_;
  audioExport_ = new AudioExport(window_, makeSong(std::move(song)), path, std::move(settings));
  connect(audioExport_, &AudioExport::finished, this,
          [this] { emit audioExported(audioExport_->summary().replace('\n', "; ")); });
}

void DocumentExports::exportMusicXml() {
  QString written;
  if (pulsewright::exportMusicXml(window_, dialogs_,
                                  editor_.documents().exportNameWith(".musicxml"),
                                  editor_.documentText(), compileAsPlay_, &written)) {
    emit fileExported(written);
  }
}

void DocumentExports::copyGrooveScribeLink() {
  const std::string text = joinLinesWithCrLf(editor_.documentText().toStdString());
  const CompiledDocument compiled = compileAsPlay_(text);
  const GrooveScribeExport link =
      grooveScribeLinkOf(*compiled.song, compiled.metadata, firstSongPart(*compiled.song));
  if (!link.ok()) {
    dialogs_.message(
        window_, tr("No GrooveScribe link was made: %1.").arg(QString::fromStdString(link.error)));
    return;
  }
  QGuiApplication::clipboard()->setText(QString::fromStdString(link.link));
  if (link.warnings.empty()) return;
  QString message = tr("The link is on the clipboard, with these left out:");
  for (const std::string& w : link.warnings) message += '\n' + QString::fromStdString(w);
  dialogs_.message(window_, message);
}

void DocumentExports::printStaves() {
  printStavesWithDialog(window_, dialogs_, editor_.documentText(), compileAsPlay_);
}

void DocumentExports::exportStavesPdf() {
  QString written;
  if (pulsewright::exportStavesPdf(window_, dialogs_, editor_.documents().exportNameWith(".pdf"),
                                   editor_.documentText(), compileAsPlay_, &written)) {
    emit fileExported(written);
  }
}

}  // namespace pulsewright
