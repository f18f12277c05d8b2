#pragma once
// Draws an engraving with QPainter: the view and the printed pages use the same strokes.

#include <QColor>
#include <QPointF>

#include "notation/Engraving.h"

class QPainter;

namespace pulsewright {

// Draws `engraving` with its top left at `origin`, one staff space `space` units tall, in
// `ink`; `highlight` (when valid) fills the column marked as playing.
void paintEngraving(QPainter& painter, const Engraving& engraving, QPointF origin, double space,
                    const QColor& ink, int highlightColumn = -1,
                    const QColor& highlight = QColor());

}  // namespace pulsewright
