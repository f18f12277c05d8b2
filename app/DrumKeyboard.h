#pragma once
// The on-screen drum keyboard: the velocity bar and seventeen keys drawn as piano keys.
// Mouse presses and, while the keyboard has the focus, the computer keys written on the
// keys (auto-repeat ignored) go to the live keyboard's StartNote and StopNote.

#include <QPushButton>
#include <QWidget>
#include <array>

#include "midi/LiveKeyboard.h"

class QLabel;
class QScrollBar;

namespace pulsewright {

class DrumKey : public QPushButton {
  Q_OBJECT
 public:
  DrumKey(int index, QWidget* parent);
 signals:
  void keyDown(int index);
  void keyUp(int index);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int index_;
};

class DrumKeyboard : public QWidget {
  Q_OBJECT
 public:
  // Lengths are in twips, converted with `twips`.
  DrumKeyboard(LiveKeyboard& keyboard, std::function<int(int)> twips, QWidget* parent);

  QScrollBar* vol() const { return vol_; }
  QLabel* velocityLabel() const { return velocityLabel_; }
  DrumKey* key(int index) const { return keys_[static_cast<std::size_t>(index)]; }
  // The strip's size in twips.
  static constexpr int kWidthTwips = 255 + 120 + 10 * 495;
  static constexpr int kHeightTwips = 2175;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  // A key held while the focus moves away would never see its release.
  void focusOutEvent(QFocusEvent* event) override;

 private:
  static int keyIndexOf(const QKeyEvent* event);

  LiveKeyboard& keyboard_;
  QScrollBar* vol_ = nullptr;
  QLabel* velocityLabel_ = nullptr;
  std::array<DrumKey*, kKeyCount> keys_{};
};

}  // namespace pulsewright
