#pragma once
// Connects the step grid to the editor: the grid draws from the compilation the staff
// shows (the document session's), follows the text cursor, and its edits go into the
// editor as one undo step each. Tab in a grid line's grid (where a
// tab could only break the line) goes to the grid at that step, and Tab there comes back.

#include <QObject>
#include <functional>

#include "padmap/DrumVoice.h"

namespace pulsewright {

class StaffPanel;
class StepGridPanel;
class TablatureEditor;

class StepGridLink : public QObject {
  Q_OBJECT

 public:
  StepGridLink(StepGridPanel& grid, TablatureEditor& editor, StaffPanel& staff,
               std::function<void(DrumVoice)> audition, QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  StepGridPanel& grid_;
  TablatureEditor& editor_;
  bool applying_ = false;  // the grid's own edit is going into the editor
};

}  // namespace pulsewright
