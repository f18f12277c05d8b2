#include "app/StepGridLink.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextBlock>

#include "editor/TablatureEditor.h"
#include "grid/ui/StepGridPanel.h"
#include "notation/ui/StaffPanel.h"

namespace pulsewright {

StepGridLink::StepGridLink(StepGridPanel& grid, TablatureEditor& editor, StaffPanel& staff,
                           std::function<void(DrumVoice)> audition, QObject* parent)
    : QObject(parent), grid_(grid), editor_(editor) {
  connect(&staff, &StaffPanel::songChanged, &grid_, &StepGridPanel::setCompiled);
  grid_.showPartAtLine(editor_.textCursor().blockNumber() + 1);
  grid_.setCompiled(staff.song());
  connect(&editor_, &QPlainTextEdit::cursorPositionChanged, &grid_,
          [this] { grid_.showPartAtLine(editor_.textCursor().blockNumber() + 1); });
  connect(editor_.document(), &QTextDocument::contentsChange, &grid_, [this](int, int, int) {
    if (!applying_) grid_.textChangedElsewhere();
  });
  connect(&grid_, &StepGridPanel::editRequested, this,
          [this](const std::vector<TextChange>& changes) {
            applying_ = true;
            editor_.applyTextChanges(changes);
            applying_ = false;
          });
  connect(&grid_, &StepGridPanel::auditionRequested, this, std::move(audition));
  connect(&grid_, &StepGridPanel::textPositionRequested, this, [this](int line, int byteColumn) {
    const QTextBlock block = editor_.document()->findBlockByNumber(line - 1);
    if (!block.isValid()) return;
    const QString prefix = QString::fromUtf8(block.text().toUtf8().left(byteColumn));
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + static_cast<int>(prefix.size()));
    editor_.setTextCursor(cursor);
    editor_.setFocus(Qt::TabFocusReason);
  });
  editor_.installEventFilter(this);
}

bool StepGridLink::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &editor_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier && grid_.isVisible()) {
    const QTextCursor cursor = editor_.textCursor();
    const QTextBlock block = cursor.block();
    const int column = cursor.positionInBlock();
    const int bytes = static_cast<int>(block.text().left(column).toUtf8().size());
    // Only inside a grid line's grid, after its first "|".
    const int bar = static_cast<int>(block.text().indexOf('|'));
    if (bar >= 0 && column > bar && grid_.placeCursorAtText(block.blockNumber() + 1, bytes)) {
      grid_.view()->setFocus(Qt::TabFocusReason);
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace pulsewright
