#include "editor/LargeTextPreview.h"

#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "editor/LineNumberGutter.h"

namespace pulsewright {

namespace {

// Longer lines (bytes) are drawn only around the view, and plain, as the editor leaves them.
constexpr std::size_t kLongLine = TablatureHighlighter::kLongestColouredLine;

// Besides LF and CR, a QTextDocument makes a block at these.
constexpr std::string_view kParagraph = "\u2029";
constexpr std::string_view kFrameStart = "\uFDD0";
constexpr std::string_view kFrameEnd = "\uFDD1";

}  // namespace

class LargeTextPreview::Gutter : public QWidget {
 public:
  explicit Gutter(LargeTextPreview* preview) : QWidget(preview), preview_(preview) {}

 protected:
  void paintEvent(QPaintEvent* event) override { preview_->paintGutter(event); }

 private:
  LargeTextPreview* preview_;
};

LargeTextPreview::LargeTextPreview(std::shared_ptr<const std::string> utf8, Look look,
                                   QWidget* parent)
    : QAbstractScrollArea(parent),
      text_(std::move(utf8)),
      look_(std::move(look)),
      gutter_(new Gutter(this)) {
  const std::string& text = *text_;
  exact_ = text.find('\r') == std::string::npos && text.find(kParagraph) == std::string::npos &&
           text.find(kFrameStart) == std::string::npos && text.find(kFrameEnd) == std::string::npos;
  starts_.reserve(text.size() / 32 + 1);
  starts_.push_back(0);
  if (exact_) {
    // Only LF breaks lines: memchr finds them quickest.
    for (const char *at = text.data(), *end = at + text.size();
         (at = static_cast<const char*>(
              std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) != nullptr;) {
      const auto next = static_cast<std::size_t>(++at - text.data());
      longest_ = std::max(longest_, next - 1 - starts_.back());
      starts_.push_back(next);
    }
    longest_ = std::max(longest_, text.size() - starts_.back());
  } else {
    // The breaks a QTextDocument makes blocks at, CR LF as one.
    const std::string_view view(text);
    for (std::size_t i = 0; i < view.size(); ++i) {
      std::size_t length = 0;
      if (view[i] == '\n') {
        length = 1;
      } else if (view[i] == '\r') {
        length = i + 1 < view.size() && view[i + 1] == '\n' ? 2 : 1;
      } else if (static_cast<unsigned char>(view[i]) >= 0xE2 &&
                 (view.substr(i, 3) == kParagraph || view.substr(i, 3) == kFrameStart ||
                  view.substr(i, 3) == kFrameEnd)) {
        length = 3;
      }
      if (length == 0) continue;
      i += length - 1;
      starts_.push_back(i + 1);
    }
    for (int line = 0; line < lineCount(); ++line) {
      longest_ = std::max(longest_, lineEnd(line) - starts_[static_cast<std::size_t>(line)]);
    }
  }
  look_.option.setWrapMode(QTextOption::NoWrap);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAcceptDrops(true);
  viewport()->setCursor(Qt::IBeamCursor);
  updateGeometries();
}

LargeTextPreview::~LargeTextPreview() = default;

std::size_t LargeTextPreview::lineEnd(int line) const {
  const auto at = static_cast<std::size_t>(line);
  if (at + 1 == starts_.size()) return text_->size();
  const std::string_view text(text_->data(), starts_[at + 1]);
  if (text.ends_with("\r\n")) return text.size() - 2;
  if (text.ends_with('\n') || text.ends_with('\r')) return text.size() - 1;
  return text.size() - 3;
}

QString LargeTextPreview::line(int line) const {
  const std::size_t from = starts_[static_cast<std::size_t>(line)];
  return QString::fromUtf8(text_->data() + from, static_cast<qsizetype>(lineEnd(line) - from));
}

int LargeTextPreview::topLine() const {
  return verticalScrollBar()->value();
}

int LargeTextPreview::horizontalOffset() const {
  return horizontalScrollBar()->value();
}

qreal LargeTextPreview::lineTop(int line) const {
  const int top = topLine();
  return (line - top) * lineHeight_ + (top == 0 ? look_.margin : 0);
}

std::pair<int, int> LargeTextPreview::visibleLines() const {
  const int first = topLine();
  int last = first;
  while (last + 1 < lineCount() && lineTop(last + 1) < viewport()->height()) ++last;
  return {first, last};
}

void LargeTextPreview::setStyles(const LineStyles& styles) {
  look_.styles = styles;
  viewport()->update();
}

void LargeTextPreview::showNotice(const QString& text) {
  if (notice_ == nullptr) {
    notice_ = new QLabel(viewport());
    notice_->setAutoFillBackground(true);
    notice_->setBackgroundRole(QPalette::ToolTipBase);
    notice_->setForegroundRole(QPalette::ToolTipText);
    notice_->setMargin(4);
  }
  notice_->setText(text);
  notice_->adjustSize();
  notice_->move(viewport()->width() - notice_->width() - 4, 4);
  notice_->show();
}

void LargeTextPreview::updateGeometries() {
  QTextLayout probe(QStringLiteral("x"), font());
  probe.beginLayout();
  QTextLine first = probe.createLine();
  first.setLeadingIncluded(true);
  probe.endLayout();
  lineHeight_ = std::max<qreal>(1, first.height());
  const int gutterWidth = LineNumberGutter::widthFor(font(), lineCount());
  setViewportMargins(gutterWidth, 0, 0, 0);
  const QRect area = contentsRect();
  gutter_->setGeometry(QRect(area.left(), area.top(), gutterWidth, area.height()));
  // As the editor does: the last line can come up to the bottom, no further.
  const int page =
      std::max(1, static_cast<int>((viewport()->height() - look_.margin - 1) / lineHeight_));
  verticalScrollBar()->setRange(0, std::max(0, lineCount() - page));
  verticalScrollBar()->setPageStep(page);
  verticalScrollBar()->setSingleStep(1);
  const qreal charWidth = QFontMetricsF(font()).horizontalAdvance(QLatin1Char('x'));
  const int width =
      static_cast<int>(std::ceil(static_cast<qreal>(longest_) * charWidth + 2 * look_.margin));
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setSingleStep(std::max(1, static_cast<int>(charWidth * 2)));
}

void LargeTextPreview::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::Text));
  const auto [first, last] = visibleLines();
  for (int line = first; line <= last; ++line) {
    const qreal top = lineTop(line);
    if (top + lineHeight_ < event->rect().top() || top > event->rect().bottom()) continue;
    drawLine(painter, line, top);
  }
}

void LargeTextPreview::drawLine(QPainter& painter, int line, qreal top) const {
  std::size_t from = starts_[static_cast<std::size_t>(line)];
  const std::size_t end = lineEnd(line);
  if (end <= from) return;
  qreal x = look_.margin - horizontalOffset();
  QString shown;
  QList<QTextLayout::FormatRange> formats;
  if (end - from > kLongLine) {
    // Only the stretch in view, placed as if the line were all characters of one width.
    const qreal charWidth = QFontMetricsF(font()).horizontalAdvance(QLatin1Char('x'));
    const auto skipped =
        static_cast<std::size_t>(std::max(0.0, horizontalOffset() / charWidth - 64));
    std::size_t skip = std::min(skipped, end - from);
    // From the start of a character.
    while (skip > 0 && (static_cast<unsigned char>((*text_)[from + skip]) & 0xC0) == 0x80) --skip;
    from += skip;
    x += static_cast<qreal>(skip) * charWidth;
    const auto count =
        std::min(end - from, static_cast<std::size_t>(viewport()->width() / charWidth) + 128);
    shown = QString::fromUtf8(text_->data() + from, static_cast<qsizetype>(count));
  } else {
    shown = this->line(line);
    formats = lineFormats(shown, matcher_, look_.styles);
  }
  QTextLayout layout(shown, font());
  layout.setTextOption(look_.option);
  layout.setFormats(formats);
  layout.beginLayout();
  QTextLine textLine = layout.createLine();
  if (textLine.isValid()) {
    textLine.setLeadingIncluded(true);
    textLine.setLineWidth(1e7);
  }
  layout.endLayout();
  layout.draw(&painter, QPointF(x, top));
}

void LargeTextPreview::paintGutter(QPaintEvent* event) {
  QPainter painter(gutter_);
  painter.fillRect(event->rect(), LineNumberGutter::background(palette()));
  painter.setFont(font());
  painter.setPen(LineNumberGutter::numberColour(palette()));
  const QFontMetrics metrics(font());
  const auto [first, last] = visibleLines();
  for (int line = first; line <= last; ++line) {
    painter.drawText(0, qRound(lineTop(line)), gutter_->width() - 6, metrics.height(),
                     Qt::AlignRight, QString::number(line + 1));
  }
}

void LargeTextPreview::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  updateGeometries();
  if (notice_ != nullptr) notice_->move(viewport()->width() - notice_->width() - 4, 4);
}

void LargeTextPreview::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) updateGeometries();
}

void LargeTextPreview::scrollContentsBy(int /*dx*/, int /*dy*/) {
  viewport()->update();
  gutter_->update();
}

bool LargeTextPreview::isEditingKey(const QKeyEvent& event) {
  static const QKeySequence::StandardKey kEdits[] = {QKeySequence::Paste,
                                                     QKeySequence::Cut,
                                                     QKeySequence::Undo,
                                                     QKeySequence::Redo,
                                                     QKeySequence::Delete,
                                                     QKeySequence::DeleteStartOfWord,
                                                     QKeySequence::DeleteEndOfWord,
                                                     QKeySequence::DeleteEndOfLine,
                                                     QKeySequence::DeleteCompleteLine};
  for (const QKeySequence::StandardKey key : kEdits) {
    if (event.matches(key)) return true;
  }
  switch (event.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab: return true;
    default: break;
  }
  const bool command = (event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) != 0;
  return !command && !event.text().isEmpty() && event.text().front().isPrint();
}

void LargeTextPreview::keyPressEvent(QKeyEvent* event) {
  QScrollBar* vertical = verticalScrollBar();
  QScrollBar* horizontal = horizontalScrollBar();
  const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
  switch (event->key()) {
    case Qt::Key_PageUp: vertical->triggerAction(QScrollBar::SliderPageStepSub); break;
    case Qt::Key_PageDown: vertical->triggerAction(QScrollBar::SliderPageStepAdd); break;
    case Qt::Key_Up: vertical->triggerAction(QScrollBar::SliderSingleStepSub); break;
    case Qt::Key_Down: vertical->triggerAction(QScrollBar::SliderSingleStepAdd); break;
    case Qt::Key_Left: horizontal->triggerAction(QScrollBar::SliderSingleStepSub); break;
    case Qt::Key_Right: horizontal->triggerAction(QScrollBar::SliderSingleStepAdd); break;
    case Qt::Key_Home:
      if (control) vertical->setValue(0);
      horizontal->setValue(0);
      break;
    case Qt::Key_End:
      if (control) vertical->setValue(vertical->maximum());
      break;
    default:
      if (isEditingKey(*event)) {
        emit editRefused();
        break;
      }
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
}

void LargeTextPreview::dragEnterEvent(QDragEnterEvent* event) {
  // Files dropped go on to the window, which opens them; text would be an edit.
  if (event->mimeData()->hasText() && !event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void LargeTextPreview::dropEvent(QDropEvent* event) {
  event->ignore();
  emit editRefused();
}

}  // namespace pulsewright
