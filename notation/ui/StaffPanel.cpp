#include "notation/ui/StaffPanel.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "notation/Score.h"
#include "notation/ui/StaffView.h"
#include "platform/qt/LargeDocumentTurn.h"
#include "tablature/CompiledDocument.h"
#include "tablature/TablatureCompiler.h"
#include "tablature/Timeline.h"
#include "text/DocumentText.h"

namespace pulsewright {

struct StaffPanel::Compiled {
  std::string text;
  PadMap padMap;
  CompiledDocument document;
};

StaffPanel::StaffPanel(QPlainTextEdit& editor, std::function<PadMap()> padMap, QWidget* parent,
                       Source source)
    : QWidget(parent),
      editor_(editor),
      padMap_(std::move(padMap)),
      compiled_(std::make_unique<CompiledDocument>()),
      source_(source) {
  if (source_ == Source::kOwnCompiler) compiler_ = std::make_unique<TablatureCompiler>();
  compiled_->song = std::make_shared<Timeline>();
  setObjectName("StaffPanel");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  wholeSong_ = new QCheckBox(tr("Whole song"), this);
  wholeSong_->setObjectName("WholeSong");
  layout->addWidget(wholeSong_);
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_ = new StaffView(scroll);
  view_->setObjectName("StaffView");
  scroll->setWidget(view_);
  layout->addWidget(scroll, 1);

  // Several changes in one turn of the event loop (a paste, an undo) engrave once.
  quiet_ = new QTimer(this);
  quiet_->setSingleShot(true);
  quiet_->setInterval(300);
  connect(quiet_, &QTimer::timeout, this, &StaffPanel::refreshAside);
  connect(&editor_, &QPlainTextEdit::textChanged, this, [this] {
    shownCurrent_ = false;
    if (refreshQueued_ || source_ == Source::kShownCompilations) return;
    refreshQueued_ = true;
    QTimer::singleShot(0, this, [this] {
      refreshQueued_ = false;
      if (shownCurrent_) return;  // showCompiled() came first
      // The text's length when the change is taken: the editor may have taken a whole
      // large document meanwhile.
      if (editor_.document()->characterCount() >= kCompileAsideFrom) {
        quiet_->start();
      } else {
        refresh();
      }
    });
  });
  connect(&editor_, &QPlainTextEdit::cursorPositionChanged, this, [this] {
    if (partToShow() != shownPart_) showPart(partToShow());
  });
  connect(wholeSong_, &QCheckBox::toggled, this, [this](bool) { showPart(partToShow()); });
  connect(view_, &StaffView::noteClicked, this, [this](SourcePosition source) {
    const QTextBlock block = editor_.document()->findBlockByNumber(source.line - 1);
    if (!block.isValid()) return;
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + std::min(source.utf16, block.length() - 1));
    editor_.setTextCursor(cursor);
    editor_.setFocus();
  });
  if (source_ == Source::kOwnCompiler) refresh();
}

StaffPanel::~StaffPanel() {
  if (compiling_.joinable()) compiling_.join();
}

void StaffPanel::refreshAside() {
  if (compiling_.joinable()) {
    compileAgain_ = true;
    return;
  }
  // The song of the text before is let go of meanwhile, so that a large document's is not
  // held twice; the staff drawn from it stays in view.
  compiled_.reset();
  text_ = std::string();
  // The thread has a compiler of its own, which goes with everything it kept when the
  // thread ends; the window's thread only takes a copy of the text.
  compiling_ = std::thread([this, raw = editor_.document()->toRawText(),
                            padMap = padMap_ ? padMap_() : defaultPadMap()]() mutable {
    auto result = std::make_shared<Compiled>();
    for (QChar& c : raw) {
      if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = QLatin1Char('\n');
      if (c == QChar::Nbsp) c = QLatin1Char(' ');  // as toPlainText() gives it
    }
    result->text = joinLinesWithCrLf(std::exchange(raw, QString()).toStdString());
    result->padMap = std::move(padMap);
    CompileRequest request;
    request.padMap = result->padMap;
    request.sampleProblem = nullptr;
    request.diagnose = false;
    {
      const std::lock_guard turn(largeDocumentTurn());
      TablatureCompiler compiler;
      result->document = compileDocument(compiler, result->text, request);
    }
    QMetaObject::invokeMethod(
        this, [this, result] { takeCompiled(result); }, Qt::QueuedConnection);
  });
}

void StaffPanel::takeCompiled(std::shared_ptr<Compiled> result) {
  compiling_.join();
#ifdef __GLIBC__
  // The thread's heap is kept for reuse by the C library unless asked to give it back.
  malloc_trim(0);
#endif
  if (compileAgain_) {
    // Already stale: the newer text is compiled instead.
    compileAgain_ = false;
    compilingStale_ = false;
    refreshAside();
    return;
  }
  if (std::exchange(compilingStale_, false)) return;  // a newer one was shown meanwhile
  text_ = std::move(result->text);
  padMapUsed_ = std::move(result->padMap);
  setCompiled(std::move(result->document));
  result.reset();
  showPart(partToShow());
}

void StaffPanel::refresh() {
  if (!compiler_) return;  // engraves only what it is shown
  text_ = joinLinesWithCrLf(editor_.toPlainText().toStdString());
  padMapUsed_ = padMap_ ? padMap_() : defaultPadMap();
  // Each engraving reads the text as it stands, with nothing kept from the last one.
  compiler_->reset();
  CompileRequest request;
  request.padMap = padMapUsed_;
  request.sampleProblem = nullptr;
  request.diagnose = false;
  setCompiled(compileDocument(*compiler_, text_, request));
  showPart(partToShow());
}

void StaffPanel::showCompiled(std::string text, const PadMap& padMap,
                              std::shared_ptr<const Timeline> song, const SongMetadata& metadata) {
  quiet_->stop();
  shownCurrent_ = true;
  if (compiling_.joinable()) {
    compileAgain_ = false;
    compilingStale_ = true;
  }
  text_ = std::move(text);
  padMapUsed_ = padMap;
  CompiledDocument shared;
  shared.song = std::move(song);
  shared.metadata = metadata;
  setCompiled(std::move(shared));
  showPart(partToShow());
}

void StaffPanel::setCompiled(CompiledDocument compiled) {
  compiled_ = std::make_unique<CompiledDocument>(std::move(compiled));
  parts_.clear();
  for (const TimelinePart& part : compiled_->song->parts()) {
    parts_.push_back({part.sectionLine, !part.steps.empty()});
  }
  emit songChanged(compiled_->song);
}

std::shared_ptr<const Timeline> StaffPanel::song() const {
  return compiled_ ? compiled_->song : nullptr;
}

int StaffPanel::partAtCursor() const {
  // The part whose section line stands nearest above the cursor; the first part with
  // steps when the cursor is above them all.
  const int line = editor_.textCursor().blockNumber() + 1;
  const auto& parts = parts_;
  int found = -1;
  for (std::size_t p = 1; p < parts.size(); ++p) {
    if (parts[p].sectionLine <= line &&
        (found < 0 || parts[p].sectionLine >= parts[static_cast<std::size_t>(found)].sectionLine)) {
      found = static_cast<int>(p);
    }
  }
  if (found < 0) {
    for (std::size_t p = 1; p < parts.size() && found < 0; ++p) {
      if (parts[p].hasSteps) found = static_cast<int>(p);
    }
  }
  return found < 0 ? 0 : found;
}

int StaffPanel::partToShow() const {
  if (wholeSong_->isChecked()) return -1;
  if (playingPart_ > 0 && static_cast<std::size_t>(playingPart_) < parts_.size()) {
    return playingPart_;
  }
  return partAtCursor();
}

void StaffPanel::showPart(int part) {
  shownPart_ = part;
  if (!compiled_) return;  // drawn when the compilation on its way comes
  const ScoreSource source{*compiled_->song, compiled_->metadata, text_};
  view_->setScore(part < 0 ? buildScore(source) : buildPartScore(source, part));
}

void StaffPanel::setPlayingStep(int part, int songPosition, int step) {
  playingPart_ = part;
  if (partToShow() != shownPart_) showPart(partToShow());
  if (shownPart_ < 0) {
    view_->setPlayingStep(songPosition, step);
  } else if (part == shownPart_) {
    view_->setPlayingStep(1, step);
  } else {
    view_->setPlayingStep(-1, -1);
  }
}

void StaffPanel::clearPlaying() {
  playingPart_ = -1;
  view_->setPlayingStep(-1, -1);
  if (partToShow() != shownPart_) showPart(partToShow());
}

}  // namespace pulsewright
