#pragma once
// The drum-staff panel beside the editor: the part under the text cursor (or the whole
// song) engraved as a drum staff, again at every change of the text; the step that
// plays is marked, and a click on a note puts the text cursor on its grid character.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "padmap/PadMap.h"

class QCheckBox;
class QPlainTextEdit;
class QTimer;

namespace pulsewright {

class StaffView;
class TablatureCompiler;
class Timeline;
struct CompiledDocument;
struct SongMetadata;

class StaffPanel : public QWidget {
  Q_OBJECT

 public:
  // Where the panel's songs come from: its own compilations of the editor's text, or only
  // those showCompiled() gives it (the window's document session).
  enum class Source { kOwnCompiler, kShownCompilations };
  StaffPanel(QPlainTextEdit& editor, std::function<PadMap()> padMap, QWidget* parent = nullptr,
             Source source = Source::kOwnCompiler);
  ~StaffPanel() override;

  StaffView* view() const { return view_; }
  QCheckBox* wholeSong() const { return wholeSong_; }
  // The compiled song the panel engraves from; null while the text is compiled aside.
  std::shared_ptr<const Timeline> song() const;
  // The part shown (index into the compiled parts); -1 for the whole song.
  int shownPart() const { return shownPart_; }

  // Compiles the text and engraves it now.
  void refresh();
  // Engraves a compilation made elsewhere of the text as it is now (`text`: its lines
  // joined by CR LF), which the panel then shares instead of compiling the text again:
  // Play's, so that a large song is held once. A compilation of an older text still
  // running is dropped.
  void showCompiled(std::string text, const PadMap& padMap, std::shared_ptr<const Timeline> song,
                    const SongMetadata& metadata);
  // Texts at least this long (characters) are compiled on a thread of their own a moment
  // after the last change, so that typing never waits for them.
  static constexpr int kCompileAsideFrom = 1 << 20;
  // The tick that Play has reached: part, song position (from 1) and step. Unless the
  // whole song is shown, the staff shows the playing part, whatever the text cursor does,
  // until clearPlaying() (Stop) takes it back to the part at the cursor.
  void setPlayingStep(int part, int songPosition, int step);
  void clearPlaying();

 signals:
  // Each compilation the panel takes, its own or one shared with it: other views of the
  // same text can draw from it instead of compiling again.
  void songChanged(std::shared_ptr<const Timeline> song);

 private:
  struct Compiled;

  int partAtCursor() const;
  // The part to show now: the playing one while a song plays, else the one at the cursor;
  // -1 for the whole song.
  int partToShow() const;
  void showPart(int part);
  void refreshAside();
  void takeCompiled(std::shared_ptr<Compiled> result);
  void setCompiled(CompiledDocument compiled);

  QPlainTextEdit& editor_;
  std::function<PadMap()> padMap_;
  QCheckBox* wholeSong_ = nullptr;
  StaffView* view_ = nullptr;
  std::unique_ptr<TablatureCompiler> compiler_;
  // Null while the text is compiled aside.
  std::unique_ptr<CompiledDocument> compiled_;
  // Where each compiled part's section line stands, and whether it has steps: the part
  // under the cursor, found also while the text is compiled aside.
  struct PartPlace {
    int sectionLine = 0;
    bool hasSteps = false;
  };
  std::vector<PartPlace> parts_;
  std::string text_;
  PadMap padMapUsed_;
  int shownPart_ = -2;
  int playingPart_ = -1;  // while a song plays
  bool refreshQueued_ = false;
  bool shownCurrent_ = false;  // what showCompiled() gave is of the text as it is
  QTimer* quiet_ = nullptr;
  std::thread compiling_;
  bool compileAgain_ = false;    // the text changed while it was being compiled
  bool compilingStale_ = false;  // showCompiled() came while it was being compiled
  Source source_ = Source::kOwnCompiler;
};

}  // namespace pulsewright
