#pragma once
// Connects the step grid to the editor until one document session feeds every view:
// the grid draws from the staff panel's compilation, follows the text cursor, and its
// edits go into the editor as one undo step each. Tab in a grid line's grid (where a
// tab could only break the line) goes to the grid at that step, and Tab there comes back.

#include <QObject>
#include <functional>

#include "padmap/DrumVoice.h"

class QPlainTextEdit;

namespace pulsewright {

class StaffPanel;
class StepGridPanel;

class StepGridLink : public QObject {
  Q_OBJECT

 public:
  StepGridLink(StepGridPanel& grid, QPlainTextEdit& editor, StaffPanel& staff,
               std::function<void(DrumVoice)> audition, QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  StepGridPanel& grid_;
  QPlainTextEdit& editor_;
  bool applying_ = false;  // the grid's own edit is going into the editor
};

}  // namespace pulsewright
