#include "app/StatusLabel.h"

#include <QPainter>
#include <QStyle>

namespace pulsewright {

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
}

void StatusLabel::setText(const QString& text) {
  QLabel::setText(text);
  setToolTip(text);
}

void StatusLabel::clear() {
  QLabel::clear();
  setToolTip({});
}

QString StatusLabel::shownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void StatusLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(),
                        isEnabled(), shownText(), foregroundRole());
}

QSize StatusLabel::minimumSizeHint() const {
  return {0, QLabel::minimumSizeHint().height()};
}

}  // namespace pulsewright
