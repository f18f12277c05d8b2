#include "app/DrumKeyboard.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>

namespace pulsewright {

DrumKey::DrumKey(int index, QWidget* parent) : QPushButton(parent), index_(index) {
  const KeyboardKey& k = kKeyboardKeys[static_cast<std::size_t>(index)];
  setText(QString::fromLatin1(k.caption.data(), static_cast<int>(k.caption.size())));
  setCheckable(true);
  setFocusPolicy(Qt::NoFocus);
  // The drum the key plays, for the pointer and for screen readers.
  const std::string_view drum = kVoiceCaptions[pulsewright::index(k.voice)];
  const QString name = QString::fromLatin1(drum.data(), static_cast<int>(drum.size()));
  setToolTip(QStringLiteral("%1 (key %2)").arg(name, text()));
  setAccessibleName(name);
  // Light face for white keys, dark face and light caption for black ones; a pressed key
  // is shaded.
  setStyleSheet(k.black ? "QPushButton { background: #202020; color: #f0f0f0; border: 1px solid "
                          "#000; text-align: bottom; padding-bottom: 4px; }"
                          "QPushButton:checked { background: #606060; }"
                        : "QPushButton { background: #fafafa; color: #202020; border: 1px solid "
                          "#404040; text-align: bottom; padding-bottom: 6px; }"
                          "QPushButton:checked { background: #c8c8c8; }");
}

void DrumKey::mousePressEvent(QMouseEvent* event) {
  event->accept();
  emit keyDown(index_);
}

void DrumKey::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  emit keyUp(index_);
}

DrumKeyboard::DrumKeyboard(LiveKeyboard& keyboard, std::function<int(int)> twips, QWidget* parent)
    : QWidget(parent), keyboard_(keyboard) {
  setFocusPolicy(Qt::StrongFocus);
  vol_ = new QScrollBar(Qt::Vertical, this);
  // The top end is 127 and the bottom 0: the bar's value counts down from the top.
  vol_->setRange(0, 127);
  vol_->setValue(0);
  vol_->setGeometry(0, 0, twips(255), twips(1815));
  connect(vol_, &QScrollBar::valueChanged, this,
          [this](int value) { keyboard_.vol_Change(127 - value); });
  vol_->setToolTip(tr("Velocity: top is loudest"));
  vol_->setAccessibleName(tr("Velocity"));
  velocityLabel_ = new QLabel(tr("Vel"), this);
  velocityLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  QFont small = velocityLabel_->font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  velocityLabel_->setFont(small);
  velocityLabel_->setToolTip(vol_->toolTip());
  velocityLabel_->setGeometry(0, twips(1815), twips(255 + 120), twips(kHeightTwips - 1815));

  const int whiteWidth = twips(495);
  const int blackWidth = twips(255);
  const int left = twips(255 + 120);
  int white = 0;
  for (int i = 0; i < kKeyCount; ++i) {
    auto* key = new DrumKey(i, this);
    keys_[static_cast<std::size_t>(i)] = key;
    if (kKeyboardKeys[static_cast<std::size_t>(i)].black) {
      // Over the gap between the white key before it and the next.
      key->setGeometry(left + white * whiteWidth - blackWidth / 2, 0, blackWidth, twips(1335));
    } else {
      key->setGeometry(left + white * whiteWidth, 0, whiteWidth, twips(2175));
      ++white;
    }
    connect(key, &DrumKey::keyDown, this,
            [this](int index) { keyboard_.StartNote(static_cast<std::int16_t>(index)); });
    connect(key, &DrumKey::keyUp, this,
            [this](int index) { keyboard_.StopNote(static_cast<std::int16_t>(index)); });
  }
  for (int i = 0; i < kKeyCount; ++i) {
    if (kKeyboardKeys[static_cast<std::size_t>(i)].black)
      keys_[static_cast<std::size_t>(i)]->raise();
  }
  keyboard_.setKeyChanged([this](int index, bool pressed) {
    keys_[static_cast<std::size_t>(index)]->setChecked(pressed);
  });
  setFixedSize(twips(kWidthTwips), twips(kHeightTwips));
}

int DrumKeyboard::keyIndexOf(const QKeyEvent* event) {
  // Qt's key codes for letters and these punctuation keys are their ASCII codes.
  for (int i = 0; i < kKeyCount; ++i) {
    if (event->key() == kKeyboardKeys[static_cast<std::size_t>(i)].caption[0]) return i;
  }
  return -1;
}

void DrumKeyboard::keyPressEvent(QKeyEvent* event) {
  const int index = keyIndexOf(event);
  if (index < 0 || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
    QWidget::keyPressEvent(event);
    return;
  }
  if (!event->isAutoRepeat()) keyboard_.StartNote(static_cast<std::int16_t>(index));
  event->accept();
}

void DrumKeyboard::focusOutEvent(QFocusEvent* event) {
  keyboard_.releaseAll();
  QWidget::focusOutEvent(event);
}

void DrumKeyboard::keyReleaseEvent(QKeyEvent* event) {
  const int index = keyIndexOf(event);
  if (index < 0) {
    QWidget::keyReleaseEvent(event);
    return;
  }
  if (!event->isAutoRepeat()) keyboard_.StopNote(static_cast<std::int16_t>(index));
  event->accept();
}

}  // namespace pulsewright
