#include "editor/TablatureEditor.h"

#include <QHelpEvent>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "editor/DiagnosticsWorker.h"
#include "editor/DocumentLoader.h"
#include "editor/EditorText.h"
#include "editor/LargeTextPreview.h"
#include "editor/TablatureHighlighter.h"
#include "editor/VoiceNameCompletion.h"
#include "tablature/LinePatterns.h"
#include "text/DocumentText.h"

namespace pulsewright {

TablatureEditor::TablatureEditor(QWidget* parent)
    : QPlainTextEdit(parent),
      highlighter_(new TablatureHighlighter(document())),
      voiceNames_(new VoiceNameCompleter(*this)),
      gutter_(new LineNumberGutter(*this, this)),
      checkTimer_(new QTimer(this)),
      worker_(std::make_unique<DiagnosticsWorker>(
          this, [this](qint64 revision, std::vector<Diagnostic> found) {
            applyDiagnostics(revision, std::move(found));
          })) {
  checkTimer_->setSingleShot(true);
  checkTimer_->setInterval(kCheckDelayMs);
  connect(checkTimer_, &QTimer::timeout, this, &TablatureEditor::startCheck);
  // The editor's own signal, which follows it to a document it loads. Recolouring sends
  // none (recolour()), so each is an edit.
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    ++edits_;
    checkTimer_->start();
  });
  connect(this, &QPlainTextEdit::blockCountChanged, this, &TablatureEditor::updateGutterWidth);
  connect(this, &QPlainTextEdit::updateRequest, this, &TablatureEditor::updateGutter);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TablatureEditor::userScrolled);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
          &TablatureEditor::shadeVisibleLines);
  filterHighlighter();
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &TablatureEditor::userScrolled);
  updateGutterWidth();
  refreshColors();
}

QWidget* TablatureEditor::gutter() const {
  return gutter_;
}

TablatureEditor::~TablatureEditor() {
  load_.reset();
  worker_.reset();  // no result is posted to this editor once it goes
}

void TablatureEditor::filterHighlighter() {
  highlighter_->setDetailFilter([this](const QTextBlock& block) {
    const auto [first, last] = linesNearView();
    const int line = block.blockNumber();
    return line >= first && line <= last;
  });
}

void TablatureEditor::loadText(const QString& text) {
  if (text.size() < kLoadAsideFrom) {
    setTextNow(text);
    return;
  }
  loadAside([text] { return text; }, std::make_shared<const std::string>(text.toStdString()));
}

void TablatureEditor::loadUtf8(std::string utf8) {
  if (utf8.size() < static_cast<std::size_t>(kLoadAsideFrom)) {
    setTextNow(QString::fromStdString(utf8));
    return;
  }
  // The preview shows the UTF-8 as it is; the loading thread converts it, and lets go of
  // it then.
  auto shared = std::make_shared<const std::string>(std::move(utf8));
  loadAside([shared] { return QString::fromStdString(*shared); }, shared);
}

void TablatureEditor::setTextNow(const QString& text) {
  const bool wasLoading = isLoading();
  if (wasLoading) {
    load_.reset();  // what it made is dropped
    endLoadingLook();
  }
  setPlainText(text);
  document()->setModified(false);
  if (wasLoading) emit loadingChanged(false);
}

void TablatureEditor::loadAside(std::function<QString()> text,
                                std::shared_ptr<const std::string> utf8) {
  const bool wasLoading = isLoading();
  if (wasLoading) {
    load_.reset();  // what it made is dropped
    setReadOnly(readOnlyBeforeLoad_);
  }
  // The whole text is laid out aside, started first as it is what the user waits for.
  load_ = std::make_unique<DocumentLoader>(
      this, ++loadSerial_, std::move(text),
      DocumentLoader::Settings{document()->defaultFont(), document()->defaultTextOption(),
                               document()->documentMargin(), highlighter_->styles()},
      loadStartHook_, [this](int serial) { takeLoadedDocument(serial); });
  // Meanwhile the document waits empty under a preview of the whole text, which takes the
  // focus the editor has, or will have when the window is active.
  const QWidget* focus = window()->focusWidget();
  const bool focused = focus == this || (focus != nullptr && focus == preview_);
  delete std::exchange(preview_, nullptr);
  if (!wasLoading) {
    readOnlyBeforeLoad_ = isReadOnly();
    scrollBarShownForLoad_ = verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded;
    if (scrollBarShownForLoad_) setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  }
  setPlainText(QString());
  document()->setModified(false);
  setReadOnly(true);
  preview_ = new LargeTextPreview(
      std::move(utf8),
      {document()->defaultTextOption(), document()->documentMargin(), highlighter_->styles()},
      this);
  preview_->setFrameStyle(frameStyle());
  preview_->setHorizontalScrollBarPolicy(horizontalScrollBarPolicy());
  preview_->setVerticalScrollBarPolicy(scrollBarShownForLoad_ ? Qt::ScrollBarAsNeeded
                                                              : verticalScrollBarPolicy());
  preview_->setGeometry(rect());
  connect(preview_, &LargeTextPreview::editRefused, this, &TablatureEditor::refuseEdit);
  preview_->show();
  if (focused) preview_->setFocus();
  if (!wasLoading) emit loadingChanged(true);
}

void TablatureEditor::endLoadingLook() {
  setReadOnly(readOnlyBeforeLoad_);
  if (scrollBarShownForLoad_) setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scrollBarShownForLoad_ = false;
  if (preview_ == nullptr) return;
  const bool focused = window()->focusWidget() == preview_;
  delete std::exchange(preview_, nullptr);
  if (focused) setFocus();
}

const std::string* TablatureEditor::textBeingLoaded() const {
  // An edit that reached the waiting document all the same is no part of it.
  if (preview_ == nullptr || !preview_->isExact() || !document()->isEmpty()) return nullptr;
  return &preview_->utf8();
}

void TablatureEditor::refuseEdit() {
  const QString message = tr("Loading the document: editing starts in a moment");
  if (preview_ != nullptr) preview_->showNotice(message);
  emit editRefused(message);
}

void TablatureEditor::takeLoadedDocument(int serial) {
  if (load_ != nullptr && load_->serial() == serial) finishLoading();
}

void TablatureEditor::finishLoading() {
  if (!load_) return;
  std::unique_ptr<QTextDocument> loaded = load_->take();
  load_.reset();
  // An edit that reached the waiting document all the same (a template put in) is kept,
  // at the caret.
  QString carried = document()->toRawText();
  carried.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  // Text restored unsaved was marked changed while it loaded: it still is.
  const bool modified = document()->isModified();
  const int top = preview_ != nullptr ? preview_->topLine() : 0;
  const int left = preview_ != nullptr ? preview_->horizontalOffset() : 0;
  auto* highlighter = loaded->findChild<TablatureHighlighter*>();
  // Qt deletes the document it made itself when another is set; one loaded here before
  // is deleted here.
  const QPointer<QTextDocument> previous = document();
  // The highlighter of the lines shown meanwhile goes with them.
  delete highlighter_;
  highlighter_ = highlighter;
  filterHighlighter();
  loaded->setParent(this);
  // The gutter takes its width for the whole text first: a change of the viewport's width
  // afterwards would lay out every line again.
  setViewportMargins(gutterWidthFor(loaded->blockCount()), 0, 0, 0);
  setDocument(loaded.release());
  if (previous != nullptr && previous->parent() == this) delete previous.data();
  ++documentSerial_;
  updateGutterWidth();
  // At the line the preview showed, the caret at its start, so that nothing moves.
  verticalScrollBar()->setValue(document()->findBlockByNumber(top).firstLineNumber());
  horizontalScrollBar()->setValue(left);
  setTextCursor(QTextCursor(firstVisibleBlock()));
  endLoadingLook();
  if (modified) document()->setModified(true);
  if (!carried.isEmpty()) textCursor().insertText(carried);
  shadeVisibleLines();
  gutter_->update();
  checkTimer_->start();
  emit loadingChanged(false);
}

void TablatureEditor::setDiagnosticOptions(const DiagnosticOptions& options) {
  options_ = options;
  checkedOnce_ = false;
  checkTimer_->start();
}

qint64 TablatureEditor::textStamp() const {
  return (static_cast<qint64>(documentSerial_) << 32) | static_cast<quint32>(edits_);
}

void TablatureEditor::startCheck() {
  if (isLoading()) return;  // checked once the whole text is in
  const qint64 revision = textStamp();
  if (checkedOnce_ && revision == lastChecked_) return;
  lastChecked_ = revision;
  checkedOnce_ = true;
  if (sink_) {
    sink_(editorText(*this), revision, false);
  } else {
    worker_->submit(editorText(*this), revision, options_);
  }
}

void TablatureEditor::checkThrough(CheckSink sink) {
  sink_ = std::move(sink);
  worker_.reset();
  checkedOnce_ = false;
  checkTimer_->start();
}

bool TablatureEditor::applyTextChanges(const std::vector<TextChange>& changes) {
  if (refusedWhileLoading(*this)) return false;
  return pulsewright::applyTextChanges(*this, changes);
}

void TablatureEditor::checkNow() {
  checkTimer_->stop();
  const QString text = editorText(*this);
  lastChecked_ = textStamp();
  checkedOnce_ = true;
  if (sink_) {
    sink_(text, lastChecked_, true);
    return;
  }
  applyDiagnostics(lastChecked_,
                   diagnoseAndRelease(joinLinesWithCrLf(text.toStdString()), options_));
}

void TablatureEditor::applyDiagnostics(qint64 revision, std::vector<Diagnostic> found) {
  // A result for a text that has changed since is stale; the newer text is checked
  // when typing stops. The revision tells without copying a large document again.
  if (textStamp() != revision) return;
  std::map<int, std::vector<BlockDiagnostic>> byLine;
  for (const Diagnostic& d : found) {
    byLine[d.line].push_back(
        {d.utf16Column, d.utf16Length, d.severity, QString::fromStdString(d.text)});
  }
  diagnostics_ = std::move(found);
  // Only blocks whose problems changed are coloured again.
  auto next = byLine.begin();
  // Lines counted as the blocks go by: asking each block its number walks Qt's block
  // tree, a fifth of a second on a large text.
  int line = 0;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    ++line;
    while (next != byLine.end() && next->first < line) ++next;
    const std::vector<BlockDiagnostic>* wanted =
        next != byLine.end() && next->first == line ? &next->second : nullptr;
    const DiagnosticsBlockData* had = diagnosticsOf(block);
    if (had == nullptr && wanted == nullptr) continue;
    if (had != nullptr && wanted != nullptr && had->items == *wanted) continue;
    if (wanted != nullptr) {
      auto* data = new DiagnosticsBlockData;
      data->items = *wanted;
      block.setUserData(data);
    } else {
      block.setUserData(nullptr);
    }
    recolour([&] { highlighter_->rehighlightBlock(block); });
  }
  gutter_->update();
  emit diagnosticsChanged();
}

void TablatureEditor::goToDiagnostic(const Diagnostic& diagnostic) {
  const QTextBlock block = document()->findBlockByNumber(diagnostic.line - 1);
  if (!block.isValid()) return;
  const int length = static_cast<int>(block.length()) - 1;
  const int from = std::clamp(diagnostic.utf16Column, 0, length);
  const int to = std::clamp(diagnostic.utf16Column + diagnostic.utf16Length, from, length);
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + from);
  cursor.setPosition(block.position() + to, QTextCursor::KeepAnchor);
  setTextCursor(cursor);
  centerCursor();
  setFocus();
}

int TablatureEditor::gutterWidth() const {
  return gutterWidthFor(blockCount());
}

int TablatureEditor::gutterWidthFor(int lines) const {
  return gutterWidthFor(font(), lines);
}

int TablatureEditor::gutterWidthFor(const QFont& font, int lines) {
  return LineNumberGutter::widthFor(font, lines);
}

void TablatureEditor::updateGutterWidth() {
  const int width = gutterWidth();
  setViewportMargins(width, 0, 0, 0);
  // The gutter itself is no child the scroll area lays out: it widens with the margin.
  const QRect area = contentsRect();
  gutter_->setGeometry(QRect(area.left(), area.top(), width, area.height()));
}

void TablatureEditor::updateGutter(const QRect& rect, int dy) {
  if (dy != 0) {
    gutter_->scroll(0, dy);
  } else {
    gutter_->update(0, rect.y(), gutter_->width(), rect.height());
  }
  if (rect.contains(viewport()->rect())) updateGutterWidth();
}

std::pair<int, int> TablatureEditor::linesNearView() const {
  constexpr int kMargin = 100;
  const int lineHeight = std::max(1, QFontMetrics(font()).lineSpacing());
  const int first = verticalScrollBar()->value();
  const int shown = std::max(viewport()->height(), 2000) / lineHeight;
  return {first - kMargin, first + shown + kMargin};
}

void TablatureEditor::recolour(const std::function<void()>& change) {
  // Qt reports a change of colours as a change of the text, and counts it as a revision:
  // the document keeps quiet, so that only edits reach those listening for them. The
  // view is repainted all the same.
  const QSignalBlocker quiet(document());
  change();
}

void TablatureEditor::shadeVisibleLines() {
  if (shading_) return;
  shading_ = true;
  const auto [first, last] = linesNearView();
  for (QTextBlock block = document()->findBlockByNumber(std::max(0, first));
       block.isValid() && block.blockNumber() <= last; block = block.next()) {
    if (TablatureHighlighter::isShadedLater(block)) {
      recolour([&] { highlighter_->rehighlightBlock(block); });
    }
  }
  shading_ = false;
}

void TablatureEditor::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  shadeVisibleLines();
  const QRect area = contentsRect();
  gutter_->setGeometry(QRect(area.left(), area.top(), gutterWidth(), area.height()));
  if (preview_ != nullptr) preview_->setGeometry(rect());
}

QColor TablatureEditor::gutterBackground(const QPalette& palette) {
  return LineNumberGutter::background(palette);
}

QColor TablatureEditor::lineNumberColour(const QPalette& palette) {
  return LineNumberGutter::numberColour(palette);
}

void TablatureEditor::forEachLineInView(int bottom, const Visit& visit) const {
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  int blockBottom = top + qRound(blockBoundingRect(block).height());
  while (block.isValid() && top <= bottom) {
    if (block.isVisible()) visit(block, top, blockBottom);
    block = block.next();
    top = blockBottom;
    blockBottom = top + qRound(blockBoundingRect(block).height());
  }
}

QTextBlock TablatureEditor::blockAtHeight(int y) const {
  return cursorForPosition(QPoint(0, y)).block();
}

const LineStyles& TablatureEditor::lineStyles() const {
  return highlighter_->styles();
}

QString TablatureEditor::diagnosticsTextAt(const QPoint& viewportPoint) const {
  const QTextCursor cursor = cursorForPosition(viewportPoint);
  return diagnosticsText(cursor.block(), cursor.positionInBlock());
}

bool TablatureEditor::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = diagnosticsTextAt(help->pos());
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, viewport());
    }
    return true;
  }
  return QPlainTextEdit::viewportEvent(event);
}

void TablatureEditor::keyPressEvent(QKeyEvent* event) {
  // Enter, Tab and Escape choose from the names offered, or close the offer.
  if (voiceNames_->popupTakes(*event)) {
    event->ignore();
    return;
  }
  // Whatever the key did, the names offered follow it.
  struct AfterKey {
    VoiceNameCompleter& names;
    const QKeyEvent& key;
    ~AfterKey() { names.keyHandled(key); }
  } afterKey{*voiceNames_, *event};
  // Made editable meanwhile (a song stopped): what is typed goes into the whole text.
  if (isLoading() && !isReadOnly()) finishLoading();
  if (isLoading() && !readOnlyBeforeLoad_ && LargeTextPreview::isEditingKey(*event)) {
    refuseEdit();
    event->accept();
    return;
  }
  const Qt::KeyboardModifiers mods =
      event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
    setOverwriteMode(!overwriteMode());
    setCursorWidth(overwriteMode() ? QFontMetrics(font()).horizontalAdvance(QLatin1Char('x')) : 1);
    emit overwriteModeToggled(overwriteMode());
    event->accept();
    return;
  }
  QTextCursor cursor = textCursor();
  if (overwriteMode() && !cursor.hasSelection() && mods == Qt::NoModifier) {
    const QString line = cursor.block().text();
    const int at = cursor.positionInBlock();
    const QByteArray bytes = line.toUtf8();
    const bool inGrid = LineMatcher::isGridLine(std::string_view(bytes.data(), bytes.size())) &&
                        line.left(at).contains(QLatin1Char('|'));
    if (inGrid && event->key() == Qt::Key_Backspace && at > 0) {
      // Back over a grid: the step becomes a rest and the bar lines stay where they are.
      cursor.movePosition(QTextCursor::Left);
      if (line[at - 1] != QLatin1Char('|') && line[at - 1] != QLatin1Char('[') &&
          line[at - 1] != QLatin1Char(']')) {
        cursor.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor);
        cursor.insertText(QStringLiteral("-"));
        cursor.movePosition(QTextCursor::Left);
      }
      setTextCursor(cursor);
      event->accept();
      return;
    }
    const QString typed = event->text();
    if (inGrid && typed.size() == 1 && typed[0].isPrint() && typed[0] != QLatin1Char('|')) {
      // Typing over a bar line would shift the bars after it: step over it instead.
      int skip = at;
      while (skip < line.size() && line[skip] == QLatin1Char('|')) ++skip;
      if (skip > at && skip < line.size()) {
        cursor.setPosition(cursor.block().position() + skip);
        setTextCursor(cursor);
      }
    }
  }
  QPlainTextEdit::keyPressEvent(event);
}

void TablatureEditor::inputMethodEvent(QInputMethodEvent* event) {
  if (isLoading() && !isReadOnly()) finishLoading();
  if (isLoading() && !readOnlyBeforeLoad_ && !event->commitString().isEmpty()) refuseEdit();
  QPlainTextEdit::inputMethodEvent(event);
}

void TablatureEditor::insertFromMimeData(const QMimeData* source) {
  if (isLoading()) finishLoading();
  QPlainTextEdit::insertFromMimeData(source);
}

void TablatureEditor::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) refreshColors();
  if (event->type() == QEvent::FontChange) {
    updateGutterWidth();
    if (overwriteMode()) setCursorWidth(QFontMetrics(font()).horizontalAdvance(QLatin1Char('x')));
  }
}

void TablatureEditor::refreshColors() {
  recolour([this] {
    highlighter_->setColors(palette().color(QPalette::Text), palette().color(QPalette::Base));
  });
  if (preview_ != nullptr) preview_->setStyles(highlighter_->styles());
  refreshExtraSelections();
  gutter_->update();
}

void TablatureEditor::setPlayingCharacters(const std::vector<SourcePosition>& positions) {
  playing_.clear();
  QTextCharFormat format;
  format.setBackground(palette().color(QPalette::Highlight));
  format.setForeground(palette().color(QPalette::HighlightedText));
  QTextBlock block = document()->begin();
  for (const SourcePosition& p : positions) {
    // Positions come in line order, so the search for the block usually walks a little.
    if (!block.isValid() || block.blockNumber() != p.line - 1) {
      block = document()->findBlockByNumber(p.line - 1);
    }
    if (!block.isValid() || p.utf16 < 0 || p.utf16 >= block.length() - 1) continue;
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + p.utf16);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    playing_.append({cursor, format});
  }
  refreshExtraSelections();
  if (following_) followPlaying();
}

void TablatureEditor::clearPlayingCharacters() {
  playing_.clear();
  following_ = true;
  refreshExtraSelections();
}

void TablatureEditor::refreshExtraSelections() {
  // The playing characters take the highlight colours, which may have just changed.
  for (QTextEdit::ExtraSelection& s : playing_) {
    s.format.setBackground(palette().color(QPalette::Highlight));
    s.format.setForeground(palette().color(QPalette::HighlightedText));
  }
  setExtraSelections(playing_);
}

bool TablatureEditor::playingVisible() const {
  if (playing_.isEmpty()) return true;
  const QRect view = viewport()->rect();
  return view.intersects(cursorRect(playing_.front().cursor)) &&
         view.intersects(cursorRect(playing_.back().cursor));
}

void TablatureEditor::followPlaying() {
  if (playing_.isEmpty() || playingVisible()) return;
  scrollingForPlay_ = true;
  const int firstLine = playing_.front().cursor.block().blockNumber();
  const int lastLine = playing_.back().cursor.block().blockNumber();
  const int lineHeight = std::max(1, QFontMetrics(font()).lineSpacing());
  const int visibleLines = std::max(1, viewport()->height() / lineHeight);
  QScrollBar* vertical = verticalScrollBar();
  if (firstLine < vertical->value() || lastLine >= vertical->value() + visibleLines) {
    // A line of the text above the part stays in sight when the part fits.
    const int span = lastLine - firstLine + 1;
    vertical->setValue(span + 1 < visibleLines ? std::max(0, firstLine - 1) : firstLine);
  }
  const QRect rect = cursorRect(playing_.front().cursor);
  if (rect.left() < 0 || rect.right() > viewport()->width()) {
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setValue(horizontal->value() + rect.left() - viewport()->width() / 3);
  }
  scrollingForPlay_ = false;
}

void TablatureEditor::userScrolled() {
  if (scrollingForPlay_ || playing_.isEmpty()) return;
  // Scrolled away from the song: stop following; scrolled back to it: follow again.
  following_ = playingVisible();
}

}  // namespace pulsewright
