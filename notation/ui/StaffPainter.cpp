#include "notation/ui/StaffPainter.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace pulsewright {

namespace {

// A half-open hat's circle with a slash, a choke's apostrophe, an edge's dash.
void drawMark(QPainter& p, const EngravedHead& h, QPointF c, double s, const QColor& ink) {
  p.setPen(QPen(ink, 0.12 * s, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  switch (h.articulation) {
    case Articulation::HalfOpen:
      p.drawEllipse(c, 0.4 * s, 0.4 * s);
      p.drawLine(c + QPointF(-0.45 * s, 0.45 * s), c + QPointF(0.45 * s, -0.45 * s));
      break;
    case Articulation::Choke:
      p.drawLine(c + QPointF(0.1 * s, -0.4 * s), c + QPointF(-0.15 * s, 0.35 * s));
      break;
    case Articulation::Edge: p.drawLine(c + QPointF(-0.45 * s, 0), c + QPointF(0.45 * s, 0)); break;
    default: break;
  }
}

void drawHead(QPainter& p, const EngravedHead& h, QPointF c, double size, const QColor& ink) {
  const double s = h.grace ? size * 0.6 : size;  // grace heads are small
  const double half = 0.6 * s;
  const double tall = 0.45 * s;
  QPen pen(ink, 0.16 * s, Qt::SolidLine, Qt::RoundCap);
  p.setPen(pen);
  switch (h.head) {
    case Notehead::Normal:
    case Notehead::Slashed:
      p.setBrush(h.hollow ? Qt::NoBrush : QBrush(ink));
      p.drawEllipse(c, half, tall);
      if (h.head == Notehead::Slashed) {
        p.drawLine(c + QPointF(-0.8 * s, 0.6 * s), c + QPointF(0.8 * s, -0.6 * s));
      }
      break;
    case Notehead::X:
    case Notehead::CircleX:
      p.drawLine(c + QPointF(-0.45 * s, -0.45 * s), c + QPointF(0.45 * s, 0.45 * s));
      p.drawLine(c + QPointF(-0.45 * s, 0.45 * s), c + QPointF(0.45 * s, -0.45 * s));
      if (h.head == Notehead::CircleX) {
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, 0.62 * s, 0.62 * s);
      }
      break;
    case Notehead::Diamond: {
      const QPointF pts[] = {c + QPointF(-half, 0), c + QPointF(0, -0.5 * s), c + QPointF(half, 0),
                             c + QPointF(0, 0.5 * s)};
      p.setBrush(h.hollow ? Qt::NoBrush : QBrush(ink));
      p.drawPolygon(pts, 4);
      break;
    }
    case Notehead::Triangle: {
      const QPointF pts[] = {c + QPointF(-half, 0.45 * s), c + QPointF(0, -0.5 * s),
                             c + QPointF(half, 0.45 * s)};
      p.setBrush(h.hollow ? Qt::NoBrush : QBrush(ink));
      p.drawPolygon(pts, 3);
      break;
    }
  }
  p.setBrush(Qt::NoBrush);
  if (h.parentheses) {
    pen.setWidthF(0.12 * s);
    p.setPen(pen);
    const QRectF left(c.x() - 1.3 * s, c.y() - 0.7 * s, 0.8 * s, 1.4 * s);
    const QRectF right(c.x() + 0.5 * s, c.y() - 0.7 * s, 0.8 * s, 1.4 * s);
    p.drawArc(left, 100 * 16, 160 * 16);
    p.drawArc(right, -80 * 16, 160 * 16);
  }
}

void drawRest(QPainter& p, const EngravedRest& r, QPointF c, double s, const QColor& ink) {
  p.setPen(QPen(ink, 0.18 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(ink);
  if (r.typeLog2 >= 2) {  // whole: a block under the second line
    p.drawRect(QRectF(c.x() - 0.55 * s, c.y() - 1.0 * s, 1.1 * s, 0.5 * s));
  } else if (r.typeLog2 == 1) {  // half: a block on the middle line
    p.drawRect(QRectF(c.x() - 0.55 * s, c.y() - 0.5 * s, 1.1 * s, 0.5 * s));
  } else if (r.typeLog2 == 0) {  // quarter: a zigzag
    QPainterPath path(c + QPointF(-0.3 * s, -1.4 * s));
    path.lineTo(c + QPointF(0.3 * s, -0.6 * s));
    path.lineTo(c + QPointF(-0.3 * s, 0.1 * s));
    path.lineTo(c + QPointF(0.3 * s, 0.7 * s));
    path.quadTo(c + QPointF(-0.5 * s, 0.6 * s), c + QPointF(0.0, 1.4 * s));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
  } else {  // eighth and shorter: a slanted stem with one hook per flag
    const int hooks = std::min(4, -r.typeLog2);
    const QPointF top = c + QPointF(0.4 * s, -0.8 * s);
    const QPointF bottom = c + QPointF(-0.1 * s, (0.6 + 0.6 * (hooks - 1)) * s);
    p.drawLine(top, bottom);
    for (int k = 0; k < hooks; ++k) {
      const QPointF end = top + QPointF(-0.1 * s * k, 0.6 * s * k);
      p.drawEllipse(end + QPointF(-0.55 * s, 0.05 * s), 0.18 * s, 0.18 * s);
      p.drawLine(end + QPointF(-0.55 * s, 0.1 * s), end);
    }
  }
  if (r.dotted) p.drawEllipse(c + QPointF(0.8 * s, -0.3 * s), 0.12 * s, 0.12 * s);
  p.setBrush(Qt::NoBrush);
}

}  // namespace

void paintEngraving(QPainter& p, const Engraving& e, QPointF origin, double s, const QColor& ink,
                    int highlightColumn, const QColor& highlight) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  auto at = [&](double x, double y) { return origin + QPointF(x * s, y * s); };
  // Only what the clip shows is drawn: a long song is drawn a screenful at a time.
  double low = -1e300, high = 1e300;
  if (p.hasClipping()) {
    const QRectF clip = p.clipBoundingRect();
    low = (clip.top() - origin.y()) / s - 3.0;
    high = (clip.bottom() - origin.y()) / s + 3.0;
  }
  auto shown = [&](double y1, double y2) {
    return std::max(y1, y2) >= low && std::min(y1, y2) <= high;
  };
  if (highlightColumn >= 0 && static_cast<std::size_t>(highlightColumn) < e.columns.size()) {
    const EngravedColumn& c = e.columns[static_cast<std::size_t>(highlightColumn)];
    p.fillRect(QRectF(at(c.x0, c.top), at(c.x1, c.bottom)), highlight);
  }
  for (const EngravedStroke& st : e.strokes) {
    if (!shown(st.y1, st.y2)) continue;
    const Qt::PenCapStyle cap = st.kind == StrokeKind::Flag || st.kind == StrokeKind::RepeatDot
                                    ? Qt::RoundCap
                                    : Qt::FlatCap;
    p.setPen(QPen(ink, st.width * s, Qt::SolidLine, cap));
    p.drawLine(at(st.x1, st.y1), at(st.x2, st.y2));
  }
  for (const EngravedHead& h : e.heads) {
    if (!shown(h.y, h.accentY)) continue;
    drawHead(p, h, at(h.x, h.y), s, ink);
    if (h.articulation != Articulation::None) drawMark(p, h, at(h.x, h.markY), s, ink);
    if (h.dotted) {
      p.setPen(Qt::NoPen);
      p.setBrush(ink);
      p.drawEllipse(at(h.x + 1.1, h.dotY), 0.14 * s, 0.14 * s);
      p.setBrush(Qt::NoBrush);
    }
    if (h.accent) {
      p.setPen(QPen(ink, 0.15 * s, Qt::SolidLine, Qt::RoundCap));
      const QPointF a = at(h.x, h.accentY);
      p.drawLine(a + QPointF(-0.6 * s, -0.35 * s), a + QPointF(0.6 * s, 0));
      p.drawLine(a + QPointF(0.6 * s, 0), a + QPointF(-0.6 * s, 0.35 * s));
    }
  }
  for (const EngravedRest& r : e.rests) {
    if (shown(r.y, r.y)) drawRest(p, r, at(r.x, r.y), s, ink);
  }
  p.setPen(ink);
  const QFont base = p.font();
  QFont font = base;
  for (const EngravedText& t : e.texts) {
    if (!shown(t.y, t.y)) continue;
    const int pixels = std::max(1, static_cast<int>(std::lround(t.size * s)));
    const bool bold = t.kind == TextKind::TimeSignature || t.kind == TextKind::PartName ||
                      t.kind == TextKind::Title || t.kind == TextKind::RepeatCount;
    const bool italic = t.kind == TextKind::TupletNumber || t.kind == TextKind::MeasureNumber;
    if (font.pixelSize() != pixels || font.bold() != bold || font.italic() != italic) {
      font = base;
      font.setPixelSize(pixels);
      font.setBold(bold);
      font.setItalic(italic);
      p.setFont(font);
    }
    const QString text = QString::fromStdString(t.text);
    if (t.kind == TextKind::TimeSignature || t.kind == TextKind::TupletNumber) {
      const QRectF box(at(t.x - 2.0, t.y - t.size / 2), at(t.x + 2.0, t.y + t.size / 2));
      p.drawText(box, Qt::AlignCenter, text);
    } else if (t.kind == TextKind::Title || t.kind == TextKind::PageNumber ||
               t.kind == TextKind::Composer) {
      const Box b = textBox(t);
      const double w = std::max(b.right - b.left, 1.0) * 2;
      const QRectF box(at(t.x - w, t.y - t.size), at(t.x + w, t.y + t.size * 0.4));
      p.drawText(box, Qt::AlignHCenter | Qt::AlignBottom, text);
    } else {
      p.drawText(at(t.x, t.y), text);
    }
  }
  p.restore();
}

}  // namespace pulsewright
