#pragma once
// The main editor: a plain-text editor that knows the tablature. It colours the lines,
// numbers them in a gutter, checks the text a moment after typing stops (on a thread of
// its own, so typing never waits) and shows the problems as wavy underlines, gutter
// markers and tooltips; Insert toggles overwrite mode, in which typing over a grid
// steps over its bar lines. While a song plays it highlights the characters of the step
// now sounding.

#include <QPlainTextEdit>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "editor/LineNumberGutter.h"
#include "tablature/Diagnostics.h"
#include "tablature/GrooveEdit.h"
#include "tablature/PartTable.h"

namespace pulsewright {

class DiagnosticsWorker;
class DocumentLoader;
class LargeTextPreview;
class TablatureHighlighter;
class VoiceNameCompleter;

// The gutter, the checking thread and the loading thread are classes of their own
// (LineNumberGutter, DiagnosticsWorker, DocumentLoader); this one ties them to the text.
class TablatureEditor : public QPlainTextEdit, private LineNumberGutter::Lines {
  Q_OBJECT

 public:
  explicit TablatureEditor(QWidget* parent = nullptr);
  ~TablatureEditor() override;

  TablatureHighlighter& highlighter() const { return *highlighter_; }
  // Offers the drum names while a voice line is typed.
  VoiceNameCompleter& voiceNames() const { return *voiceNames_; }

  // Replaces the whole text, which then counts as unchanged, with no undo. A large text
  // is laid into a document of its own on another thread while the whole of it shows in
  // a read-only preview; the editor takes the document when it is ready, at the line the
  // preview was scrolled to. Until then the text cannot be typed into (a key that would
  // edit is refused with editRefused()), and editorText() and every edit through
  // EditorText wait for it (finishLoading()).
  void loadText(const QString& text);
  // The same from UTF-8, converted on the loading thread when the text is large.
  void loadUtf8(std::string utf8);
  bool isLoading() const { return load_ != nullptr; }
  // Waits for a text being loaded and puts it in the editor now.
  void finishLoading();
  // The text being loaded, to read without waiting for it: null when none is loading or
  // when the editor will not hold exactly this text.
  const std::string* textBeingLoaded() const;
  // The whole text shown while it loads, or null.
  LargeTextPreview* preview() const { return preview_; }
  // Tells the user that no edit is taken while the text loads.
  void refuseEdit();
  // Called on the loading thread before it starts (tests hold it there).
  void setLoadStartHook(std::function<void()> hook) { loadStartHook_ = std::move(hook); }
  // Texts at least this long (UTF-16 units; bytes for UTF-8) are loaded on another thread.
  static constexpr qsizetype kLoadAsideFrom = qsizetype{1} << 20;
  QWidget* gutter() const;

  // The problems found in the text as it was when last checked, in line order.
  const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }
  void setDiagnosticOptions(const DiagnosticOptions& options);
  // Checks the text now, on this thread (tests, benchmarks, start-up).
  void checkNow();
  // Where the text goes to be checked instead of the editor's own worker: the window's
  // document session, which compiles it once for every view. `now` asks for the result
  // before the call returns. Results come back through showDiagnostics().
  using CheckSink = std::function<void(QString text, qint64 revision, bool now)>;
  void checkThrough(CheckSink sink);
  // The problems of the text as it was at `revision`; dropped when it has changed since.
  void showDiagnostics(qint64 revision, std::vector<Diagnostic> found) {
    applyDiagnostics(revision, std::move(found));
  }
  // Applies a groove edit's changes (byte offsets into the text with lines joined by
  // CR LF) as one undo step; false, and nothing changed, when they do not fit the text.
  bool applyTextChanges(const std::vector<TextChange>& changes);
  // Quiet time after the last edit before the text is checked.
  static constexpr int kCheckDelayMs = 300;

  // Selects the problem's range and shows it.
  void goToDiagnostic(const Diagnostic& diagnostic);

  // Called from the user-interface thread while a song plays: highlights exactly these
  // characters and keeps them in view, unless the user has scrolled away from them.
  void setPlayingCharacters(const std::vector<SourcePosition>& positions);
  void clearPlayingCharacters();
  bool followsPlaying() const { return following_; }

  int gutterWidth() const;
  // The gutter's width for a text of this many lines.
  int gutterWidthFor(int lines) const;
  static int gutterWidthFor(const QFont& font, int lines);
  static QColor gutterBackground(const QPalette& palette);
  static QColor lineNumberColour(const QPalette& palette);
  // The diagnostics of the line under this point of the viewport, as tooltip text.
  QString diagnosticsTextAt(const QPoint& viewportPoint) const;

 signals:
  void diagnosticsChanged();
  // A large text began to load (true) or is now in the editor whole (false).
  void loadingChanged(bool loading);
  void overwriteModeToggled(bool overwrite);
  // An edit was refused while the text loads; `message` says so.
  void editRefused(const QString& message);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void changeEvent(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // LineNumberGutter::Lines
  void forEachLineInView(int bottom, const Visit& visit) const override;
  QTextBlock blockAtHeight(int y) const override;
  const LineStyles& lineStyles() const override;
  int numberedLines() const override { return blockCount(); }

  void updateGutterWidth();
  void updateGutter(const QRect& rect, int dy);
  void startCheck();
  void setTextNow(const QString& text);
  // Shows `utf8` whole in a preview while `text` makes the document's text on the loading
  // thread.
  void loadAside(std::function<QString()> text, std::shared_ptr<const std::string> utf8);
  // The preview goes, and the editor is as it was before the text began to load.
  void endLoadingLook();
  // Puts the document the loading thread made in the editor.
  void takeLoadedDocument(int serial);
  // `revision`: textStamp() when the text was taken.
  void applyDiagnostics(qint64 revision, std::vector<Diagnostic> found);
  // Tells one text from another: the edits made to it, and which document.
  qint64 textStamp() const;
  void filterHighlighter();
  void refreshColors();
  void refreshExtraSelections();
  void followPlaying();
  void userScrolled();
  // Runs a change of the highlighter's colours, which is no edit.
  void recolour(const std::function<void()>& change);
  // Colours the lines now in view that were left in one colour.
  void shadeVisibleLines();
  // The lines in view, from 0, with a margin either side.
  std::pair<int, int> linesNearView() const;
  bool playingVisible() const;

  TablatureHighlighter* highlighter_;
  VoiceNameCompleter* voiceNames_;
  LineNumberGutter* gutter_;
  QTimer* checkTimer_;
  std::unique_ptr<DiagnosticsWorker> worker_;  // while no sink is given
  CheckSink sink_;
  std::unique_ptr<DocumentLoader> load_;
  LargeTextPreview* preview_ = nullptr;
  std::function<void()> loadStartHook_;
  bool readOnlyBeforeLoad_ = false;
  // The vertical scroll bar shown while the empty document waits, as a large text needs it:
  // a narrower viewport after would wrap every line again.
  bool scrollBarShownForLoad_ = false;
  DiagnosticOptions options_;
  std::vector<Diagnostic> diagnostics_;
  qint64 lastChecked_ = -1;  // the textStamp() last checked
  qint64 edits_ = 0;         // edits of the text, colouring aside
  int documentSerial_ = 0;
  int loadSerial_ = 0;
  bool checkedOnce_ = false;
  QList<QTextEdit::ExtraSelection> playing_;
  bool following_ = true;
  bool scrollingForPlay_ = false;
  bool shading_ = false;
};

}  // namespace pulsewright
