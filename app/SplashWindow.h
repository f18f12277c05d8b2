#pragma once

#include <QWidget>

namespace pulsewright {

// Shown while the program starts: no caption, a fixed border, centred, the program's
// picture with a one-line label near its top.
class SplashWindow : public QWidget {
  Q_OBJECT
 public:
  explicit SplashWindow(int widthPx, int heightPx);

 signals:
  // A click or a key on it.
  void dismissed();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace pulsewright
