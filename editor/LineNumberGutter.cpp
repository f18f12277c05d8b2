#include "editor/LineNumberGutter.h"

#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStringList>
#include <QTextBlock>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "editor/TablatureHighlighter.h"

namespace pulsewright {

namespace {

QColor blend(const QColor& a, const QColor& b, double amount) {
  const QColor x = a.toRgb();
  const QColor y = b.toRgb();
  auto m = [amount](int p, int q) { return static_cast<int>(std::lround(p + (q - p) * amount)); };
  return QColor(m(x.red(), y.red()), m(x.green(), y.green()), m(x.blue(), y.blue()));
}

}  // namespace

const DiagnosticsBlockData* diagnosticsOf(const QTextBlock& block) {
  return dynamic_cast<const DiagnosticsBlockData*>(block.userData());
}

QString diagnosticsText(const QTextBlock& block, int position) {
  const DiagnosticsBlockData* data = diagnosticsOf(block);
  if (data == nullptr) return {};
  QStringList texts;
  for (const BlockDiagnostic& d : data->items) {
    const bool covers = position < 0 || (position >= d.utf16Column &&
                                         position < d.utf16Column + std::max(d.utf16Length, 1));
    if (!covers) continue;
    texts << QStringLiteral("%1: %2").arg(
        d.severity == Severity::Error ? QStringLiteral("error") : QStringLiteral("warning"),
        d.text);
  }
  return texts.join(QLatin1Char('\n'));
}

LineNumberGutter::LineNumberGutter(const Lines& lines, QWidget* parent)
    : QWidget(parent), lines_(lines) {}

QSize LineNumberGutter::sizeHint() const {
  return {widthFor(parentWidget()->font(), lines_.numberedLines()), 0};
}

int LineNumberGutter::widthFor(const QFont& font, int lines) {
  int digits = 1;
  for (int n = std::max(1, lines); n >= 10; n /= 10) ++digits;
  digits = std::max(digits, 3);
  const QFontMetrics metrics(font);
  const int marker = metrics.height();
  return 4 + marker + metrics.horizontalAdvance(QLatin1Char('9')) * digits + 6;
}

QColor LineNumberGutter::background(const QPalette& palette) {
  return blend(palette.color(QPalette::Base), palette.color(QPalette::Text), 0.07);
}

QColor LineNumberGutter::numberColour(const QPalette& palette) {
  return blend(palette.color(QPalette::Text), palette.color(QPalette::Base), 0.45);
}

bool LineNumberGutter::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QTextBlock block = lines_.blockAtHeight(help->pos().y());
    if (diagnosticsOf(block) != nullptr) {
      QToolTip::showText(help->globalPos(), diagnosticsText(block, -1), this);
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QWidget::event(event);
}

void LineNumberGutter::paintEvent(QPaintEvent* event) {
  // The editor's font and colours, as its text has them.
  const QWidget& editor = *parentWidget();
  QPainter painter(this);
  painter.fillRect(event->rect(), background(editor.palette()));
  painter.setFont(editor.font());
  const QFontMetrics metrics(editor.font());
  const int marker = metrics.height();
  const int gutterWidth = width();
  const LineStyles& styles = lines_.lineStyles();
  lines_.forEachLineInView(event->rect().bottom(), [&](const QTextBlock& block, int top,
                                                       int bottom) {
    if (bottom < event->rect().top()) return;
    painter.setPen(numberColour(editor.palette()));
    painter.drawText(0, top, gutterWidth - 6, metrics.height(), Qt::AlignRight,
                     QString::number(block.blockNumber() + 1));
    const DiagnosticsBlockData* data = diagnosticsOf(block);
    if (data == nullptr) return;
    const bool error = data->worst() == Severity::Error;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(error ? styles.error : styles.warning);
    const int size = marker * 3 / 5;
    const QRectF dot(4 + (marker - size) / 2.0, top + (metrics.height() - size) / 2.0, size, size);
    if (error) {
      painter.drawEllipse(dot);
    } else {
      const QPointF tri[3] = {{dot.center().x(), dot.top()}, dot.bottomRight(), dot.bottomLeft()};
      painter.drawPolygon(tri, 3);
    }
  });
}

}  // namespace pulsewright
