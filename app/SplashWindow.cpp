#include "app/SplashWindow.h"

#include <QLabel>
#include <QScreen>

namespace pulsewright {

SplashWindow::SplashWindow(int widthPx, int heightPx)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setFixedSize(widthPx, heightPx);
  auto* picture = new QLabel(this);
  picture->setPixmap(
      QPixmap(":/pulsewright/splash.png")
          .scaled(widthPx, heightPx, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  picture->setGeometry(0, 0, widthPx, heightPx);
  auto* label = new QLabel("Pulsewright: drum tablature, played", this);
  label->setStyleSheet("color: #e0e6f5; font-weight: bold;");
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(0, heightPx / 20, widthPx, heightPx / 14);
  if (QScreen* screen = this->screen()) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - widthPx) / 2, area.y() + (area.height() - heightPx) / 2);
  }
}

void SplashWindow::mousePressEvent(QMouseEvent*) {
  emit dismissed();
}

void SplashWindow::keyPressEvent(QKeyEvent*) {
  emit dismissed();
}

}  // namespace pulsewright
