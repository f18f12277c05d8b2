#pragma once
// The step grid panel beside the text: a view over StepGridModel. It paints the shown
// part's cells (level as shade and height, accents, ghost notes, missing steps), the
// playhead and the keyboard cursor, and hands every edit it makes to the window as text
// changes; the window applies them to the editor as one undo step each.

#include <QDataStream>
#include <QWidget>
#include <memory>
#include <vector>

#include "grid/StepGridModel.h"
#include "padmap/DrumVoice.h"
#include "tablature/GrooveEdit.h"

class QLabel;
class QPlainTextEdit;
class QScrollArea;

namespace pulsewright {

class StepGridPanel;

// A voice in a signal: Qt's meta types stream every argument type, and DrumVoice's
// underlying type is none that QDataStream has.
inline QDataStream& operator<<(QDataStream& out, DrumVoice voice) {
  return out << static_cast<quint8>(voice);
}
inline QDataStream& operator>>(QDataStream& in, DrumVoice& voice) {
  quint8 v = 0;
  in >> v;
  voice = static_cast<DrumVoice>(v);
  return in;
}

// The cells, painted and clicked.
class StepGridView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeaderWidth = 150;
  static constexpr int kCellWidth = 20;
  static constexpr int kRowHeight = 22;
  static constexpr int kRulerHeight = 16;

  StepGridView(StepGridModel& model, StepGridPanel& panel, QWidget* parent = nullptr);
  // Where a cell, a row's header and the "+" row stand; row rows().size() is the "+" row.
  QRect cellRect(int row, int step) const;
  QRect headerRect(int row) const;
  QSize sizeHint() const override;
  // Sizes itself to the model's rows and columns.
  void modelChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  // Row and step under a point; step -1 on the header, row -1 above the rows.
  std::pair<int, int> cellAt(QPoint point) const;
  void offerVoices(QPoint where);
  void offerMarks(int row, int step, QPoint where);
  static char articulationKey(const QKeyEvent& key);

  StepGridModel& model_;
  StepGridPanel& panel_;
  QPoint pressedAt_;
  bool pressedCell_ = false;
};

class StepGridPanel : public QWidget {
  Q_OBJECT

 public:
  explicit StepGridPanel(QWidget* parent = nullptr);
  ~StepGridPanel() override;

  StepGridModel& model() { return *model_; }
  StepGridView* view() const { return view_; }
  QLabel* title() const { return title_; }
  QLabel* noteLabel() const { return note_; }

  void setCompiled(std::shared_ptr<const Timeline> song);
  void showPartAtLine(int line);
  void setPlaying(int part, int step);
  void stopped();
  // The text changed other than by the grid since the last compilation.
  void textChangedElsewhere();
  // The cursor onto the cell at that place of the text, when it is one of the shown part.
  bool placeCursorAtText(int line, int byteColumn);

  // Hands an edit's changes on (nothing for none) and shows what the model says.
  void emitEdit(const std::vector<TextChange>& changes);
  void refresh();

 signals:
  void editRequested(std::vector<TextChange> changes);
  void auditionRequested(DrumVoice voice);
  // Tab: the text cursor to this place (line from 1, byte column from 0).
  void textPositionRequested(int line, int byteColumn);

 private:
  std::unique_ptr<StepGridModel> model_;
  QLabel* title_ = nullptr;
  QLabel* note_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  StepGridView* view_ = nullptr;
};

// Applies `changes`, as the model placed them, to `editor` as one undo step.
void applyToEditor(QPlainTextEdit& editor, const std::vector<EditorChange>& changes);

}  // namespace pulsewright
