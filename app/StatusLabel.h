#pragma once
// The status line: one line of text as wide as the window allows. A message too long for
// it is cut with "..." at the window's edge, and the whole message is its tooltip.

#include <QLabel>

namespace pulsewright {

class StatusLabel : public QLabel {
  Q_OBJECT
 public:
  explicit StatusLabel(QWidget* parent = nullptr);

  void setText(const QString& text);
  void clear();
  // The text as drawn: elided to the label's width.
  QString shownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  QSize minimumSizeHint() const override;
};

}  // namespace pulsewright
