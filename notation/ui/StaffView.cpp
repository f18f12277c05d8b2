#include "notation/ui/StaffView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <cmath>

#include "notation/ui/StaffPainter.h"

namespace pulsewright {

StaffView::StaffView(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

double StaffView::space() const {
  // Follows the text size, so the staff stays readable beside the editor.
  return std::max(5.0, fontMetrics().height() * 0.6);
}

void StaffView::setScore(Score score) {
  score_ = std::move(score);
  playing_ = -1;
  relayout();
}

void StaffView::relayout() {
  engraving_ = engrave(score_, width() / space());
  setMinimumHeight(static_cast<int>(std::ceil(engraving_.height * space())));
  updateGeometry();
  update();
}

void StaffView::setPlayingStep(int songPosition, int partStep) {
  int found = -1;
  for (std::size_t c = 0; c < engraving_.columns.size(); ++c) {
    const EngravedColumn& column = engraving_.columns[c];
    const bool position = songPosition >= column.songPosition &&
                          songPosition < column.songPosition + column.songPositions;
    if (!position || column.partStep > partStep) continue;
    if (found < 0 ||
        column.partStep >= engraving_.columns[static_cast<std::size_t>(found)].partStep) {
      found = static_cast<int>(c);
    }
    if (column.partStep == partStep) break;
  }
  if (found == playing_) return;
  playing_ = found;
  update();
  if (found < 0) return;
  // The playhead stays in sight: the scroll area holding the view follows it.
  const EngravedColumn& c = engraving_.columns[static_cast<std::size_t>(found)];
  for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (auto* area = qobject_cast<QScrollArea*>(w)) {
      const double s = space();
      area->ensureVisible(static_cast<int>(c.x0 * s), static_cast<int>((c.top + c.bottom) / 2 * s),
                          50, static_cast<int>((c.bottom - c.top) * s));
      break;
    }
  }
}

QSize StaffView::sizeHint() const {
  return {400, static_cast<int>(std::ceil(engraving_.height * space()))};
}

void StaffView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setClipRect(event->rect());
  QColor mark = palette().color(QPalette::Highlight);
  mark.setAlpha(90);
  paintEngraving(painter, engraving_, QPointF(0, 0), space(), palette().color(QPalette::Text),
                 playing_, mark);
  if (playing_ >= 0 && static_cast<std::size_t>(playing_) < engraving_.columns.size()) {
    // The playhead: a line at the start of the playing column.
    const EngravedColumn& c = engraving_.columns[static_cast<std::size_t>(playing_)];
    const double s = space();
    painter.setPen(QPen(palette().color(QPalette::Highlight), std::max(1.5, 0.2 * s)));
    painter.drawLine(QPointF(c.x0 * s, c.top * s), QPointF(c.x0 * s, c.bottom * s));
  }
}

void StaffView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  relayout();
}

void StaffView::mousePressEvent(QMouseEvent* event) {
  const double s = space();
  const QPointF at = event->position() / s;
  const EngravedHead* nearest = nullptr;
  double best = 1.2;  // within a little more than a space of the head
  for (const EngravedHead& h : engraving_.heads) {
    const double d = std::hypot(h.x - at.x(), h.y - at.y());
    if (d < best && h.source.line > 0) {
      best = d;
      nearest = &h;
    }
  }
  if (nearest != nullptr) emit noteClicked(nearest->source);
}

}  // namespace pulsewright
