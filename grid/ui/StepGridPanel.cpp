#include "grid/ui/StepGridPanel.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

namespace pulsewright {

namespace {
// Pixels of a vertical drag per level.
constexpr int kPixelsPerLevel = 6;
}  // namespace

StepGridView::StepGridView(StepGridModel& model, StepGridPanel& panel, QWidget* parent)
    : QWidget(parent), model_(model), panel_(panel) {
  setObjectName("StepGridView");
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
}

QRect StepGridView::cellRect(int row, int step) const {
  return {kHeaderWidth + step * kCellWidth, kRulerHeight + row * kRowHeight, kCellWidth,
          kRowHeight};
}

QRect StepGridView::headerRect(int row) const {
  return {0, kRulerHeight + row * kRowHeight, kHeaderWidth, kRowHeight};
}

QSize StepGridView::sizeHint() const {
  return {kHeaderWidth + std::max(1, model_.columnCount()) * kCellWidth + 1,
          kRulerHeight +
              (static_cast<int>(model_.rows().size()) + (model_.sticking().empty() ? 1 : 2)) *
                  kRowHeight +
              1};
}

void StepGridView::modelChanged() {
  setFixedSize(sizeHint());
  update();
}

std::pair<int, int> StepGridView::cellAt(QPoint point) const {
  if (point.y() < kRulerHeight) return {-1, -1};
  const int row = (point.y() - kRulerHeight) / kRowHeight;
  if (row > static_cast<int>(model_.rows().size())) return {-1, -1};
  if (point.x() < kHeaderWidth) return {row, -1};
  const int step = (point.x() - kHeaderWidth) / kCellWidth;
  return {row, step < model_.columnCount() ? step : -1};
}

// The articulation mark a key puts (f d z c r b e h and !, shifted or not); '\0' for
// another key or one with Ctrl or Alt.
char StepGridView::articulationKey(const QKeyEvent& key) {
  if ((key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0)
    return '\0';
  const QString text = key.text();
  if (text.size() != 1 || text[0].unicode() > 0x7F) return '\0';
  const char c = static_cast<char>(text[0].unicode());
  return articulationOfMark(c) && c != '\0' ? c : '\0';
}

void StepGridView::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(event->rect(), pal.base());
  const int rowCount = static_cast<int>(model_.rows().size());
  const int columns = model_.columnCount();
  const QColor shade = pal.color(QPalette::AlternateBase).darker(104);
  const QColor line = pal.color(QPalette::Mid);
  const QColor text = pal.color(QPalette::Text);

  // Beat shading and the bar numbers.
  for (int s = 0; s < columns; ++s) {
    const StepGridColumn& column = model_.columns()[static_cast<std::size_t>(s)];
    const QRect strip(kHeaderWidth + s * kCellWidth, kRulerHeight, kCellWidth,
                      rowCount * kRowHeight);
    if (column.shaded) p.fillRect(strip, shade);
    if (column.barStart || s == 0) {
      p.setPen(text);
      p.drawText(QRect(strip.x() + 2, 0, 4 * kCellWidth, kRulerHeight),
                 Qt::AlignLeft | Qt::AlignVCenter, QString::number(column.bar + 1));
    }
  }

  // The cells.
  for (int r = 0; r < rowCount; ++r) {
    const StepGridRow& row = model_.rows()[static_cast<std::size_t>(r)];
    const QRect header = headerRect(r).adjusted(4, 0, -4, 0);
    p.setPen(row.barsDiffer ? QColor(180, 40, 40) : text);
    p.drawText(header, Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(row.voiceName) + (row.barsDiffer ? " *" : ""));
    QFont mono = p.font();
    mono.setFamily("monospace");
    p.save();
    p.setFont(mono);
    p.drawText(header, Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(row.symbol));
    p.restore();
    for (int s = 0; s < columns; ++s) {
      const QRect rect = cellRect(r, s);
      if (!rect.intersects(event->rect())) continue;
      const StepGridCell cell = model_.cell(r, s);
      const QRect inner = rect.adjusted(3, 3, -3, -3);
      if (cell.missing) {
        p.fillRect(inner, QBrush(QColor(200, 120, 120), Qt::BDiagPattern));
        continue;
      }
      if (!cell.hit) {
        p.fillRect(QRect(inner.center().x() - 1, inner.bottom() - 2, 3, 3), line);
        continue;
      }
      // Level as height and shade: level 9 fills the cell, darkest.
      const int height = std::max(3, inner.height() * (cell.level + 1) / 10);
      const QRect bar(inner.x(), inner.bottom() - height + 1, inner.width(), height);
      const QColor fill = QColor::fromHsv(215, 70 + cell.level * 20, 235 - cell.level * 15);
      if (cell.ghost) {
        p.setPen(QPen(fill.darker(130), 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(bar.adjusted(0, 0, -1, -1));
      } else {
        p.fillRect(bar, fill);
      }
      if (cell.articulation != Articulation::None) {
        // The mark's letter as the text has it, over the level bar.
        p.setPen(cell.articulation == Articulation::Choke ? QColor(180, 40, 40) : text);
        p.drawText(inner, Qt::AlignCenter, QString(QChar(cell.mark)));
      }
      if (cell.accent) {
        // A wedge over the step, as an accent is written.
        QPainterPath wedge;
        wedge.moveTo(rect.x() + 4, rect.y() + 1);
        wedge.lineTo(rect.right() - 3, rect.y() + 3);
        wedge.lineTo(rect.x() + 4, rect.y() + 5);
        p.setPen(QPen(QColor(200, 60, 0), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wedge);
      }
    }
  }

  // The "+" row.
  p.setPen(text);
  p.drawText(headerRect(rowCount).adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
             tr("+ Add voice"));

  // The sticking lane under it: a hand per step, as the sticking line writes it.
  const std::string& sticking = model_.sticking();
  if (!sticking.empty()) {
    p.drawText(headerRect(rowCount + 1).adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
               tr("Sticking"));
    for (int s = 0; s < columns && s < static_cast<int>(sticking.size()); ++s) {
      const char hand = sticking[static_cast<std::size_t>(s)];
      if (hand != '-') {
        p.drawText(cellRect(rowCount + 1, s), Qt::AlignCenter, QString(QChar(hand)));
      }
    }
  }

  // Grid lines: every step thin, every beat darker, every bar thick.
  const int bottom = kRulerHeight + rowCount * kRowHeight;
  for (int s = 0; s <= columns; ++s) {
    const int x = kHeaderWidth + s * kCellWidth;
    const bool barLine =
        s == columns || model_.columns()[static_cast<std::size_t>(s)].barStart || s == 0;
    const bool beat = s < columns && model_.columns()[static_cast<std::size_t>(s)].beatStart;
    p.setPen(QPen(barLine ? text : beat ? line : line.lighter(130), barLine ? 2 : 1));
    p.drawLine(x, kRulerHeight, x, bottom);
  }
  p.setPen(QPen(line.lighter(130), 1));
  for (int r = 0; r <= rowCount; ++r) {
    const int y = kRulerHeight + r * kRowHeight;
    p.drawLine(0, y, kHeaderWidth + columns * kCellWidth, y);
  }

  // The playhead.
  const int playing = model_.playingStep();
  if (playing >= 0 && playing < columns) {
    const QRect head(kHeaderWidth + playing * kCellWidth, kRulerHeight, kCellWidth,
                     rowCount * kRowHeight);
    p.fillRect(head, QColor(255, 140, 0, 70));
    p.setPen(QPen(QColor(230, 110, 0), 2));
    p.drawRect(head.adjusted(1, 1, -1, -1));
  }

  // The keyboard cursor.
  if (hasFocus()) {
    const QRect at = model_.cursorRow() >= rowCount
                         ? headerRect(rowCount)
                         : cellRect(model_.cursorRow(), model_.cursorStep());
    p.setPen(QPen(pal.color(QPalette::Highlight), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(at.adjusted(1, 1, -1, -1));
  }
}

void StepGridView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  const auto [row, step] = cellAt(event->position().toPoint());
  pressedCell_ = false;
  if (row < 0) return;
  const int rowCount = static_cast<int>(model_.rows().size());
  if (row == rowCount) {
    model_.setCursor(row, model_.cursorStep());
    offerVoices(event->position().toPoint());
    return;
  }
  if (step < 0) {
    const StepGridRow& r = model_.rows()[static_cast<std::size_t>(row)];
    if (event->button() == Qt::LeftButton && r.voice.kind == ItemVoice::Kind::Drum)
      emit panel_.auditionRequested(r.voice.drumVoice());
    return;
  }
  model_.setCursor(row, step);
  if (event->button() == Qt::RightButton) {
    update();
    offerMarks(row, step, event->position().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  if (event->modifiers() == Qt::ControlModifier) {
    // Ctrl+click: the next articulation the drum takes.
    panel_.emitEdit(model_.cycleArticulation(row, step));
    update();
    return;
  }
  pressedAt_ = event->position().toPoint();
  pressedCell_ = true;
  model_.beginPaint(row, step);
  update();
}

void StepGridView::mouseMoveEvent(QMouseEvent* event) {
  if (!pressedCell_ || !model_.dragging()) return;
  const QPoint at = event->position().toPoint();
  const auto [row, step] = cellAt(at);
  const QRect first = cellRect(model_.cursorRow(), model_.cursorStep());
  if (at.x() >= first.left() && at.x() <= first.right()) {
    // Up and down on the pressed step: its level.
    model_.dragLevel((pressedAt_.y() - at.y()) / kPixelsPerLevel);
  } else if (row >= 0 && step >= 0) {
    model_.paintOver(row, step);
  }
  update();
}

void StepGridView::mouseReleaseEvent(QMouseEvent* event) {
  if (!pressedCell_ || event->button() != Qt::LeftButton) return;
  pressedCell_ = false;
  panel_.emitEdit(model_.endDrag());
}

void StepGridView::wheelEvent(QWheelEvent* event) {
  const auto [row, step] = cellAt(event->position().toPoint());
  const int by = event->angleDelta().y() > 0 ? 1 : event->angleDelta().y() < 0 ? -1 : 0;
  if (row < 0 || step < 0 || row >= static_cast<int>(model_.rows().size()) || by == 0) {
    event->ignore();  // the scroll area scrolls
    return;
  }
  model_.setCursor(row, step);
  panel_.emitEdit(model_.changeLevel(row, step, by));
  event->accept();
}

bool StepGridView::event(QEvent* event) {
  // The grid's own keys come before the window's shortcuts (Ctrl+D, Delete) while it has
  // the focus.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool ctrlD = key->key() == Qt::Key_D && key->modifiers() == Qt::ControlModifier;
    const bool plain = key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier;
    if (ctrlD ||
        (plain && (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Insert ||
                   key->key() == Qt::Key_Space || key->key() == Qt::Key_Backspace ||
                   (key->key() >= Qt::Key_0 && key->key() <= Qt::Key_9))) ||
        articulationKey(*key) != '\0') {
      event->accept();
      return true;
    }
  }
  return QWidget::event(event);
}

bool StepGridView::focusNextPrevChild(bool) {
  return false;  // Tab is the grid's key
}

void StepGridView::keyPressEvent(QKeyEvent* event) {
  const int row = model_.cursorRow();
  const int step = model_.cursorStep();
  const bool onPlus = row >= static_cast<int>(model_.rows().size());
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  switch (event->key()) {
    case Qt::Key_Left: model_.moveCursor(0, -1); break;
    case Qt::Key_Right: model_.moveCursor(0, 1); break;
    case Qt::Key_Up: model_.moveCursor(-1, 0); break;
    case Qt::Key_Down: model_.moveCursor(1, 0); break;
    case Qt::Key_Home: model_.setCursor(row, 0); break;
    case Qt::Key_End: model_.setCursor(row, model_.columnCount() - 1); break;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (onPlus) {
        offerVoices(headerRect(row).center());
      } else {
        panel_.emitEdit(model_.toggle(row, step));
      }
      break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace: panel_.emitEdit(model_.setMark(row, step, '-')); break;
    case Qt::Key_Insert: panel_.emitEdit(model_.insertBar(step)); break;
    case Qt::Key_D:
      if (mods == Qt::ControlModifier) {
        panel_.emitEdit(model_.duplicateBar(step));
        break;
      }
      event->ignore();
      return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
      const auto [line, column] = model_.textPositionOfCursor();
      emit panel_.textPositionRequested(line, static_cast<int>(column));
      break;
    }
    default:
      if (event->key() >= Qt::Key_0 && event->key() <= Qt::Key_9 && mods == Qt::NoModifier) {
        panel_.emitEdit(model_.setLevel(row, step, event->key() - Qt::Key_0));
        break;
      }
      if (const char mark = articulationKey(*event); mark != '\0' && !onPlus) {
        panel_.emitEdit(model_.putArticulation(row, step, mark));
        break;
      }
      QWidget::keyPressEvent(event);
      return;
  }
  update();
}

void StepGridView::offerVoices(QPoint where) {
  QMenu menu(this);
  for (const DrumVoice voice : model_.voicesToAdd()) {
    QAction* add =
        menu.addAction(QString::fromUtf8(kVoiceCaptions[index(voice)].data(),
                                         static_cast<int>(kVoiceCaptions[index(voice)].size())));
    connect(add, &QAction::triggered, this,
            [this, voice] { panel_.emitEdit(model_.addVoice(voice)); });
  }
  menu.exec(mapToGlobal(where));
}

void StepGridView::offerMarks(int row, int step, QPoint where) {
  // The marks the language has: the letters and the levels.
  QMenu menu(this);
  const std::pair<char, const char*> marks[] = {
      {'x', "x  hit (5)"}, {'X', "X  accent (7)"}, {'o', "o  hit (5)"},   {'O', "O  accent (7)"},
      {'f', "f  flam"},    {'d', "d  drag"},       {'z', "z  buzz roll"}, {'c', "c  cross-stick"},
      {'r', "r  rimshot"}, {'b', "b  bell"},       {'e', "e  edge"},      {'h', "h  half-open"},
      {'!', "!  choke"},   {'-', "-  rest"}};
  for (const auto& [mark, caption] : marks) {
    connect(menu.addAction(QString::fromLatin1(caption)), &QAction::triggered, this,
            [this, row, step, mark = mark] { panel_.emitEdit(model_.setMark(row, step, mark)); });
  }
  QMenu* levels = menu.addMenu(tr("Level"));
  for (int level = 0; level <= 9; ++level) {
    connect(levels->addAction(QString::number(level)), &QAction::triggered, this,
            [this, row, step, level] {
              panel_.emitEdit(model_.setMark(row, step, static_cast<char>('0' + level)));
            });
  }
  menu.exec(mapToGlobal(where));
}

StepGridPanel::StepGridPanel(QWidget* parent)
    : QWidget(parent), model_(std::make_unique<StepGridModel>()) {
  setObjectName("StepGridPanel");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  title_ = new QLabel(this);
  title_->setObjectName("StepGridTitle");
  layout->addWidget(title_);
  note_ = new QLabel(this);
  note_->setObjectName("StepGridNote");
  note_->setWordWrap(true);
  note_->hide();
  layout->addWidget(note_);
  scroll_ = new QScrollArea(this);
  view_ = new StepGridView(*model_, *this, scroll_);
  scroll_->setWidget(view_);
  layout->addWidget(scroll_, 1);
  refresh();
}

StepGridPanel::~StepGridPanel() {
  // The view goes before the model it paints from.
  delete scroll_;
}

void StepGridPanel::refresh() {
  title_->setText(model_->part() < 0
                      ? tr("No part")
                      : tr("Part %1").arg(QString::fromStdString(model_->partName())));
  QString note = QString::fromStdString(model_->note());
  if (!model_->lastError().empty()) {
    if (!note.isEmpty()) note += "\n";
    note += QString::fromStdString(model_->lastError());
  }
  note_->setText(note);
  note_->setVisible(!note.isEmpty());
  view_->modelChanged();
}

void StepGridPanel::setCompiled(std::shared_ptr<const Timeline> song) {
  model_->setCompiled(std::move(song));
  refresh();
}

void StepGridPanel::showPartAtLine(int line) {
  const int before = model_->part();
  model_->showPartAtLine(line);
  if (model_->part() != before) refresh();
}

void StepGridPanel::setPlaying(int part, int step) {
  const int before = model_->part();
  const int beforeStep = model_->playingStep();
  model_->setPlaying(part, step);
  if (model_->part() != before) {
    refresh();
    return;
  }
  // Only the two columns of the playhead are painted again.
  for (const int s : {beforeStep, step}) {
    if (s >= 0)
      view_->update(view_->cellRect(0, s).united(
          view_->cellRect(static_cast<int>(model_->rows().size()), s)));
  }
  const QRect head = view_->cellRect(0, step);
  scroll_->ensureVisible(head.center().x(), head.center().y(), StepGridView::kCellWidth * 2, 0);
}

void StepGridPanel::stopped() {
  model_->stopped();
  refresh();
}

void StepGridPanel::textChangedElsewhere() {
  model_->textChangedElsewhere();
}

bool StepGridPanel::placeCursorAtText(int line, int byteColumn) {
  if (!model_->placeCursorAtText(line, static_cast<std::size_t>(byteColumn))) return false;
  view_->update();
  return true;
}

void StepGridPanel::emitEdit(const std::vector<TextChange>& changes) {
  if (!changes.empty()) emit editRequested(changes);
  refresh();
}

void applyToEditor(QPlainTextEdit& editor, const std::vector<EditorChange>& changes) {
  QTextDocument& document = *editor.document();
  auto positionOf = [&](int line, int column) {
    const QTextBlock block = document.findBlockByNumber(line - 1);
    if (!block.isValid()) return std::max(0, document.characterCount() - 1);
    return block.position() + std::min(column, block.length() - 1);
  };
  QTextCursor cursor(&document);
  cursor.beginEditBlock();
  // Last first, so that the places of the others hold.
  for (auto c = changes.rbegin(); c != changes.rend(); ++c) {
    cursor.setPosition(positionOf(c->line, c->column));
    cursor.setPosition(positionOf(c->endLine, c->endColumn), QTextCursor::KeepAnchor);
    cursor.insertText(QString::fromStdString(c->text));
  }
  cursor.endEditBlock();
}

}  // namespace pulsewright
