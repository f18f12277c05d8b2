#pragma once
// A drum staff drawn from a score: laid out again whenever the score or the width
// changes, with the playing step marked; a click on a note names its grid character.

#include <QWidget>

#include "notation/Engraving.h"
#include "notation/Score.h"

namespace pulsewright {

class StaffView : public QWidget {
  Q_OBJECT

 public:
  explicit StaffView(QWidget* parent = nullptr);

  void setScore(Score score);
  const Score& score() const { return score_; }
  const Engraving& engraving() const { return engraving_; }
  // Pixels per staff space.
  double space() const;
  // Marks the step `partStep` of song position `songPosition` with a playhead line (-1
  // clears it): at that step's column, or within a rest or tie, at the column it began.
  void setPlayingStep(int songPosition, int partStep);
  int playingColumn() const { return playing_; }

  QSize sizeHint() const override;

 signals:
  void noteClicked(SourcePosition source);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void relayout();

  Score score_;
  Engraving engraving_;
  int playing_ = -1;
};

}  // namespace pulsewright
