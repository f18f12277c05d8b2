#include "app/DrumKeyboard.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>

namespace pulsewright {

namespace {

// Short names for keys too narrow for the whole one, in the order of the drum voices.
constexpr std::array<std::string_view, kVoiceCount> kShortCaptions = {
    "Kick", "Snr",  "CHat", "PHat", "OHat", "Tom1", "Tom2", "Tom3", "Tom4",
    "Ride", "Bell", "Cr1",  "Cr2",  "Prc1", "Prc2", "Clap", "Cow"};
// And for the narrowest keys.
constexpr std::array<std::string_view, kVoiceCount> kTinyCaptions = {
    "BD", "SD", "CH", "PH", "OH", "T1", "T2", "T3", "T4",
    "RD", "BL", "C1", "C2", "P1", "P2", "CL", "CB"};

QString latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<int>(text.size()));
}

// The widest line of `text` fits `width` pixels in `metrics`.
bool fits(const QFontMetrics& metrics, const QString& text, int width) {
  for (const QString& line : text.split('\n')) {
    if (metrics.horizontalAdvance(line) > width) return false;
  }
  return true;
}

}  // namespace

DrumKey::DrumKey(int index, QWidget* parent) : QPushButton(parent), index_(index) {
  const KeyboardKey& k = kKeyboardKeys[static_cast<std::size_t>(index)];
  letter_ = latin1(k.caption);
  setText(letter_);
  setCheckable(true);
  setFocusPolicy(Qt::NoFocus);
  // The drum the key plays, for the pointer and for screen readers.
  const std::string_view drum = kVoiceCaptions[pulsewright::index(k.voice)];
  const QString name = latin1(drum);
  name_ = name;
  shortName_ = latin1(kShortCaptions[pulsewright::index(k.voice)]);
  tinyName_ = latin1(kTinyCaptions[pulsewright::index(k.voice)]);
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  setFont(small);
  setToolTip(QStringLiteral("%1 (key %2)").arg(name, letter_));
  setAccessibleName(name);
  // Light face for white keys, dark face and light caption for black ones; a pressed key
  // is shaded.
  setStyleSheet(k.black ? "QPushButton { background: #202020; color: #f0f0f0; border: 1px solid "
                          "#000; text-align: bottom; padding-bottom: 4px; }"
                          "QPushButton:checked { background: #606060; }"
                          "QPushButton[struck=\"true\"] { background: #a06010; }"
                        : "QPushButton { background: #fafafa; color: #202020; border: 1px solid "
                          "#404040; text-align: bottom; padding-bottom: 6px; }"
                          "QPushButton:checked { background: #c8c8c8; }"
                          "QPushButton[struck=\"true\"] { background: #f0c070; }");
}

void DrumKey::resizeEvent(QResizeEvent* event) {
  QPushButton::resizeEvent(event);
  // The drum's name above the key's letter: whole, on two lines, short, or its initials.
  const int room = width() - 4;
  const QFontMetrics metrics(font());
  QString name = tinyName_;
  for (const QString& candidate : {name_, QString(name_).replace(' ', '\n'), shortName_}) {
    if (fits(metrics, candidate, room)) {
      name = candidate;
      break;
    }
  }
  QString marks = mark_;
  if (!struck_.isEmpty()) marks += (marks.isEmpty() ? "" : " ") + struck_;
  setText(name + '\n' + letter_ + (marks.isEmpty() ? QString() : "  " + marks));
}

void DrumKey::setStruck(const QString& mark) {
  if (mark == struck_) return;
  struck_ = mark;
  setProperty("struck", !mark.isEmpty());
  style()->unpolish(this);
  style()->polish(this);
  QResizeEvent again(size(), size());
  resizeEvent(&again);
}

void DrumKey::setMark(const QString& mark) {
  if (mark == mark_) return;
  mark_ = mark;
  setToolTip(QStringLiteral("%1 (key %2)%3")
                 .arg(name_, letter_,
                      mark == "M"   ? tr(", muted")
                      : mark == "S" ? tr(", soloed")
                                    : QString()));
  QResizeEvent again(size(), size());
  resizeEvent(&again);
}

void DrumKey::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  emit menuAsked(index_, event->globalPos());
}

void DrumKey::mousePressEvent(QMouseEvent* event) {
  event->accept();
  // The right button opens the key's menu; it plays nothing.
  if (event->button() != Qt::RightButton) emit keyDown(index_);
}

void DrumKey::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::RightButton) emit keyUp(index_);
}

void DrumKeyboard::showVelocity() {
  // The velocity the keys play, under the bar that sets it.
  velocityLabel_->setText(tr("Vel\n%1").arg(127 - vol_->value()));
}

DrumKeyboard::DrumKeyboard(LiveKeyboard& keyboard, std::function<int(int)> twips, QWidget* parent)
    : QWidget(parent), keyboard_(keyboard) {
  setFocusPolicy(Qt::StrongFocus);
  vol_ = new QScrollBar(Qt::Vertical, this);
  // The top end is 127 and the bottom 0: the bar's value counts down from the top.
  vol_->setRange(0, 127);
  vol_->setValue(0);
  vol_->setGeometry(0, 0, twips(255), twips(1815));
  connect(vol_, &QScrollBar::valueChanged, this, [this](int value) {
    keyboard_.vol_Change(127 - value);
    showVelocity();
  });
  vol_->setToolTip(tr("Velocity: top is loudest"));
  vol_->setAccessibleName(tr("Velocity"));
  velocityLabel_ = new QLabel(tr("Vel"), this);
  velocityLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  QFont small = velocityLabel_->font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  velocityLabel_->setFont(small);
  velocityLabel_->setToolTip(vol_->toolTip());
  velocityLabel_->setObjectName(QStringLiteral("VelocityValue"));
  showVelocity();
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
    connect(key, &DrumKey::menuAsked, this,
            [this](int index, const QPoint& at) { voiceMenu(index)->popup(at); });
  }
  for (int i = 0; i < kKeyCount; ++i) {
    if (kKeyboardKeys[static_cast<std::size_t>(i)].black)
      keys_[static_cast<std::size_t>(i)]->raise();
  }
  keyboard_.setKeyChanged([this](int index, bool pressed) {
    keys_[static_cast<std::size_t>(index)]->setChecked(pressed);
  });
  setFixedSize(twips(kWidthTwips), twips(kHeightTwips));
  releaseTimer_ = new QTimer(this);
  releaseTimer_->setSingleShot(true);
  releaseTimer_->setInterval(kRepeatPairMs);
  connect(releaseTimer_, &QTimer::timeout, this, &DrumKeyboard::releaseAllPending);
}

QMenu* DrumKeyboard::voiceMenu(int index) {
  const DrumVoice voice = kKeyboardKeys[static_cast<std::size_t>(index)].voice;
  const std::string caption(kVoiceCaptions[pulsewright::index(voice)]);
  const QString name = QString::fromStdString(caption);
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* mute = menu->addAction(tr("Mute %1").arg(name));
  mute->setObjectName("MuteVoice");
  mute->setCheckable(true);
  mute->setChecked(std::find(mask_.muted.begin(), mask_.muted.end(), caption) != mask_.muted.end());
  connect(mute, &QAction::triggered, this,
          [this, voice] { emit muteToggled(static_cast<int>(pulsewright::index(voice))); });
  QAction* solo = menu->addAction(tr("Solo %1").arg(name));
  solo->setObjectName("SoloVoice");
  solo->setCheckable(true);
  solo->setChecked(std::find(mask_.soloed.begin(), mask_.soloed.end(), caption) !=
                   mask_.soloed.end());
  connect(solo, &QAction::triggered, this,
          [this, voice] { emit soloToggled(static_cast<int>(pulsewright::index(voice))); });
  return menu;
}

void DrumKeyboard::showVoiceMask(const VoiceMask& mask) {
  mask_ = mask;
  for (int i = 0; i < kKeyCount; ++i) {
    const std::string caption(
        kVoiceCaptions[pulsewright::index(kKeyboardKeys[static_cast<std::size_t>(i)].voice)]);
    auto has = [&](const std::vector<std::string>& list) {
      return std::find(list.begin(), list.end(), caption) != list.end();
    };
    keys_[static_cast<std::size_t>(i)]->setMark(has(mask.muted)    ? QStringLiteral("M")
                                                : has(mask.soloed) ? QStringLiteral("S")
                                                                   : QString());
  }
}

void DrumKeyboard::showArticulated(const std::vector<std::pair<DrumVoice, Articulation>>& hits) {
  for (int i = 0; i < kKeyCount; ++i) {
    const DrumVoice voice = kKeyboardKeys[static_cast<std::size_t>(i)].voice;
    QString mark;
    for (const auto& [drum, articulation] : hits) {
      if (drum == voice) mark = QChar(markOfArticulation(articulation, 5));
    }
    keys_[static_cast<std::size_t>(i)]->setStruck(mark);
  }
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
  event->accept();
  if (event->isAutoRepeat()) return;
  // A release just before with the same time stamp: the window system's auto-repeat, sent
  // as a release and a press that were not recognised as a pair. The key is still held.
  auto& pending = pendingRelease_[static_cast<std::size_t>(index)];
  if (pending && *pending == event->timestamp()) {
    pending.reset();
    return;
  }
  releasePending(index);
  keyboard_.StartNote(static_cast<std::int16_t>(index));
}

void DrumKeyboard::releasePending(int index) {
  auto& pending = pendingRelease_[static_cast<std::size_t>(index)];
  if (!pending) return;
  pending.reset();
  keyboard_.StopNote(static_cast<std::int16_t>(index));
}

void DrumKeyboard::releaseAllPending() {
  for (int i = 0; i < kKeyCount; ++i) releasePending(i);
}

void DrumKeyboard::focusOutEvent(QFocusEvent* event) {
  for (auto& pending : pendingRelease_) pending.reset();
  keyboard_.releaseAll();
  QWidget::focusOutEvent(event);
}

void DrumKeyboard::keyReleaseEvent(QKeyEvent* event) {
  const int index = keyIndexOf(event);
  if (index < 0) {
    QWidget::keyReleaseEvent(event);
    return;
  }
  event->accept();
  if (event->isAutoRepeat()) return;
  releasePending(index);
  if (event->timestamp() == 0) {
    // Made up by a program, not the window system: no auto-repeat follows.
    keyboard_.StopNote(static_cast<std::int16_t>(index));
    return;
  }
  // The release waits a moment for an auto-repeat press with the same time stamp.
  pendingRelease_[static_cast<std::size_t>(index)] = event->timestamp();
  releaseTimer_->start();
}

}  // namespace pulsewright
