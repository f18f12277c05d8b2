#pragma once
// The File menu's exports of the document: MIDI, MusicXML, drum staves (printed or as
// PDF) and audio. MIDI and audio are compiled as Play compiles, as the window's document
// session has it, and written by the same services as the command line's export and render.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string_view>

#include "notation/ui/NotationFiles.h"
#include "padmap/PadMap.h"
#include "playback/KitChoice.h"
#include "tablature/TablatureCompiler.h"

class QWidget;

namespace pulsewright {

class AudioExport;
class EditorCommands;
class Transport;
class UserDialogs;

// The compiler's messages, each in a modal box; the compilation goes on after it.
class MessageBoxListener : public CompileListener {
 public:
  MessageBoxListener(UserDialogs& dialogs, QWidget* parent) : dialogs_(dialogs), parent_(parent) {}
  void message(int, std::string_view text) override;

 private:
  UserDialogs& dialogs_;
  QWidget* parent_;
};

// The open document's folder; empty for a new document.
QString documentFolder(const EditorCommands& editor);

class DocumentExports : public QObject {
  Q_OBJECT
 public:
  // `window` is where the questions show; `compileAsPlay` compiles a text (lines joined
  // by CR LF) as Play does, with what carries over from the compilation before, so that
  // what is written is what Play plays.
  DocumentExports(QWidget* window, UserDialogs& dialogs, EditorCommands& editor,
                  DocumentCompiler compileAsPlay);

  // The kit and mixer Export Audio renders a text on, as Play plays it (the General MIDI
  // synthesiser until this is set); null while the kit is still loading.
  using RenderKit = std::function<std::optional<KitChoice>(std::string_view text)>;
  void setRenderKit(RenderKit renderKit) { renderKit_ = std::move(renderKit); }

  // File > Export MIDI...: the song as a Standard MIDI File on a chosen channel.
  void exportMidi();
  // File > Export Audio: renders the text as it stands into `path`. With no path, asks
  // for the file and the level; a path given (by tests) skips both.
  void exportAudio(QString path = {}, double gainDb = 0, bool normalize = false);
  void exportMusicXml();
  // File > Copy GrooveScribe Link: the link of the song's first part, on the clipboard.
  void copyGrooveScribeLink();
  void printStaves();
  void exportStavesPdf();

  // The audio export under way or the latest one; null before the first.
  AudioExport* audioExport() const { return audioExport_; }

 signals:
  // The line for the status: where the audio went, or why there is none.
  void audioExported(const QString& summary);
  // A MIDI, MusicXML or staves PDF export wrote this file.
  void fileExported(const QString& path);

 private:
  QWidget* window_;
  UserDialogs& dialogs_;
  EditorCommands& editor_;
  DocumentCompiler compileAsPlay_;
  RenderKit renderKit_;
  AudioExport* audioExport_ = nullptr;
};

}  // namespace pulsewright
