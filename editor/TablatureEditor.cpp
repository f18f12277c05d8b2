#include "editor/TablatureEditor.h"

#include <QHelpEvent>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextDocumentLayout>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextOption>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "editor/EditorText.h"
#include "editor/LargeTextPreview.h"
#include "editor/TablatureHighlighter.h"
#include "editor/VoiceNameCompletion.h"
#include "platform/qt/LargeDocumentTurn.h"
#include "tablature/LinePatterns.h"
#include "text/DocumentText.h"

namespace pulsewright {

namespace {

QColor blend(const QColor& a, const QColor& b, double amount) {
  const QColor x = a.toRgb();
  const QColor y = b.toRgb();
  auto m = [amount](int p, int q) { return static_cast<int>(std::lround(p + (q - p) * amount)); };
  return QColor(m(x.red(), y.red()), m(x.green(), y.green()), m(x.blue(), y.blue()));
}

const DiagnosticsBlockData* diagnosticsOf(const QTextBlock& block) {
  return dynamic_cast<const DiagnosticsBlockData*>(block.userData());
}

QString joinedTexts(const std::vector<BlockDiagnostic>& items, int position) {
  QStringList texts;
  for (const BlockDiagnostic& d : items) {
    const bool covers = position < 0 || (position >= d.utf16Column &&
                                         position < d.utf16Column + std::max(d.utf16Length, 1));
    if (!covers) continue;
    texts << QStringLiteral("%1: %2").arg(
        d.severity == Severity::Error ? QStringLiteral("error") : QStringLiteral("warning"),
        d.text);
  }
  return texts.join(QLatin1Char('\n'));
}

// Texts at least this long are checked on a thread of their own that ends with the
// check.
constexpr std::size_t kLargeText = std::size_t{1} << 20;

// The check keeps a compiler for each thread it runs on, and with it everything the
// last text compiled to: for a large document as much as the window holds again when it
// plays. A large text is checked on a thread that ends right after, taking that with it;
// a short one reuses the thread's compiler, which is quicker to keep than to make.
std::vector<Diagnostic> diagnoseAndRelease(const std::string& text,
                                           const DiagnosticOptions& options) {
  if (text.size() < kLargeText) return diagnose(text, options);
  std::vector<Diagnostic> found;
  std::thread([&] { found = diagnose(text, options); }).join();
#ifdef __GLIBC__
  // The thread's heap is kept for reuse by the C library unless asked to give it back.
  malloc_trim(0);
#endif
  return found;
}

}  // namespace

class TablatureEditor::Gutter : public QWidget {
 public:
  explicit Gutter(TablatureEditor* editor) : QWidget(editor), editor_(editor) {}
  QSize sizeHint() const override { return {editor_->gutterWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { editor_->paintGutter(event); }
  bool event(QEvent* event) override {
    if (event->type() == QEvent::ToolTip) {
      auto* help = static_cast<QHelpEvent*>(event);
      const QTextBlock block = editor_->cursorForPosition(QPoint(0, help->pos().y())).block();
      const DiagnosticsBlockData* data = diagnosticsOf(block);
      if (data != nullptr) {
        QToolTip::showText(help->globalPos(), joinedTexts(data->items, -1), this);
      } else {
        QToolTip::hideText();
        event->ignore();
      }
      return true;
    }
    return QWidget::event(event);
  }

 private:
  TablatureEditor* editor_;
};

// Checks texts on a thread of its own; a newer text replaces one still waiting. Results
// go to the editor's thread as queued calls.
class TablatureEditor::Worker {
 public:
  explicit Worker(TablatureEditor* editor) : editor_(editor), thread_([this] { run(); }) {}
  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void submit(QString text, qint64 revision, DiagnosticOptions options) {
    {
      std::lock_guard lock(mutex_);
      job_ = Job{std::move(text), revision, std::move(options)};
    }
    wake_.notify_one();
  }

 private:
  struct Job {
    QString text;
    qint64 revision;
    DiagnosticOptions options;
  };

  void run() {
    while (true) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || job_.has_value(); });
      if (quit_) return;
      Job job = std::move(*job_);
      job_.reset();
      lock.unlock();
      // The text is let go of here: a large document is not held twice meanwhile.
      std::string text = joinLinesWithCrLf(std::exchange(job.text, QString()).toStdString());
      std::unique_lock<std::mutex> turn(largeDocumentTurn(), std::defer_lock);
      if (text.size() >= kLargeText) turn.lock();
      auto found = std::make_shared<std::vector<Diagnostic>>(diagnoseAndRelease(text, job.options));
      if (turn.owns_lock()) turn.unlock();
      text = std::string();
      QMetaObject::invokeMethod(
          editor_,
          [editor = editor_, revision = job.revision, found] {
            editor->applyDiagnostics(revision, std::move(*found));
          },
          Qt::QueuedConnection);
    }
  }

  TablatureEditor* editor_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> job_;
  bool quit_ = false;
  std::thread thread_;  // last: starts when everything it uses exists
};

// Lays a large text into a document of its own, on a thread, with a highlighter that has
// coloured nothing yet; both move to the editor's thread when the document is whole.
// Laying out the lines is what takes the time: Qt's own setPlainText on a 16 MB text
// holds the window for seconds.
class TablatureEditor::Load {
 public:
  struct Settings {
    QFont font;
    QTextOption option;
    qreal margin = 0;
    LineStyles styles;
  };

  // `text` makes the text on the loading thread, so that converting it holds up nothing.
  Load(TablatureEditor* editor, int serial, std::function<QString()> text, Settings settings,
       std::function<void()> startHook)
      : serial_(serial),
        thread_([this, editor, text = std::move(text), settings = std::move(settings),
                 startHook = std::move(startHook), target = editor->thread()]() mutable {
          if (startHook) startHook();
          QString whole = std::exchange(text, nullptr)();
          document_ = build(std::move(whole), settings);
          document_->moveToThread(target);
          QMetaObject::invokeMethod(
              editor, [editor, serial = serial_] { editor->takeLoadedDocument(serial); },
              Qt::QueuedConnection);
        }) {}
  ~Load() {
    if (thread_.joinable()) thread_.join();
  }

  int serial() const { return serial_; }
  // Waits for the document; the caller owns it then.
  std::unique_ptr<QTextDocument> take() {
    if (thread_.joinable()) thread_.join();
    return std::move(document_);
  }

 private:
  static std::unique_ptr<QTextDocument> build(QString text, const Settings& settings) {
    auto document = std::make_unique<QTextDocument>();
    document->setDefaultFont(settings.font);
    document->setDefaultTextOption(settings.option);
    document->setDocumentMargin(settings.margin);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document.get()));
    // On the document while it is empty, so it colours nothing until lines come into view.
    new TablatureHighlighter(document.get(), settings.styles);
    document->setUndoRedoEnabled(false);
    {
      const QSignalBlocker quiet(document.get());
      document->setPlainText(text);
    }
    text = QString();
    makeLineLayouts(*document);
    document->setUndoRedoEnabled(true);
    document->setModified(false);
    return document;
  }

  // The view makes a line layout for every block when it takes the document: made here,
  // the window's thread only clears them. (Made on several threads they came no sooner
  // on a busy two-core machine, and the threads' own heaps held some 60 MB more once the
  // song played.)
  static void makeLineLayouts(const QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
      block.layout();
    }
  }

  int serial_;
  std::unique_ptr<QTextDocument> document_;
  std::thread thread_;  // last: starts when everything it uses exists
};

TablatureEditor::TablatureEditor(QWidget* parent)
    : QPlainTextEdit(parent),
      highlighter_(new TablatureHighlighter(document())),
      voiceNames_(new VoiceNameCompleter(*this)),
      gutter_(new Gutter(this)),
      checkTimer_(new QTimer(this)),
      worker_(std::make_unique<Worker>(this)) {
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
  load_ = std::make_unique<Load>(
      this, ++loadSerial_, std::move(text),
      Load::Settings{document()->defaultFont(), document()->defaultTextOption(),
                     document()->documentMargin(), highlighter_->styles()},
      loadStartHook_);
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
  worker_->submit(editorText(*this), revision, options_);
}

void TablatureEditor::checkNow() {
  checkTimer_->stop();
  const QString text = editorText(*this);
  lastChecked_ = textStamp();
  checkedOnce_ = true;
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
  int digits = 1;
  for (int n = std::max(1, lines); n >= 10; n /= 10) ++digits;
  digits = std::max(digits, 3);
  const QFontMetrics metrics(font);
  const int marker = metrics.height();
  return 4 + marker + metrics.horizontalAdvance(QLatin1Char('9')) * digits + 6;
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
  return blend(palette.color(QPalette::Base), palette.color(QPalette::Text), 0.07);
}

QColor TablatureEditor::lineNumberColour(const QPalette& palette) {
  return blend(palette.color(QPalette::Text), palette.color(QPalette::Base), 0.45);
}

void TablatureEditor::paintGutter(QPaintEvent* event) {
  QPainter painter(gutter_);
  painter.fillRect(event->rect(), gutterBackground(palette()));
  painter.setFont(font());
  const QFontMetrics metrics(font());
  const int marker = metrics.height();
  const int width = gutter_->width();
  const auto& styles = highlighter_->styles();

  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  int bottom = top + qRound(blockBoundingRect(block).height());
  while (block.isValid() && top <= event->rect().bottom()) {
    if (block.isVisible() && bottom >= event->rect().top()) {
      painter.setPen(lineNumberColour(palette()));
      painter.drawText(0, top, width - 6, metrics.height(), Qt::AlignRight,
                       QString::number(block.blockNumber() + 1));
      if (const DiagnosticsBlockData* data = diagnosticsOf(block)) {
        const bool error = data->worst() == Severity::Error;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(error ? styles.error : styles.warning);
        const int size = marker * 3 / 5;
        const QRectF dot(4 + (marker - size) / 2.0, top + (metrics.height() - size) / 2.0, size,
                         size);
        if (error) {
          painter.drawEllipse(dot);
        } else {
          const QPointF tri[3] = {
              {dot.center().x(), dot.top()}, dot.bottomRight(), dot.bottomLeft()};
          painter.drawPolygon(tri, 3);
        }
      }
    }
    block = block.next();
    top = bottom;
    bottom = top + qRound(blockBoundingRect(block).height());
  }
}

QString TablatureEditor::diagnosticsTextAt(const QPoint& viewportPoint) const {
  const QTextCursor cursor = cursorForPosition(viewportPoint);
  const DiagnosticsBlockData* data = diagnosticsOf(cursor.block());
  if (data == nullptr) return {};
  return joinedTexts(data->items, cursor.positionInBlock());
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
