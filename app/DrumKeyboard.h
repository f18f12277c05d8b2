#pragma once
// The on-screen drum keyboard: the velocity bar and seventeen keys drawn as piano keys.
// Each key shows the drum it plays and its computer key. Mouse presses and, while the
// keyboard has the focus, the computer keys go to the live keyboard's StartNote and
// StopNote: one note-on per press and one note-off per release, however long it is held.
// A key's context menu mutes or solos its drum in the song playing; the keys show it.

#include <QPushButton>
#include <QWidget>
#include <array>
#include <optional>

#include "midi/LiveKeyboard.h"
#include "playback/Practice.h"

class QLabel;
class QMenu;
class QScrollBar;
class QTimer;

namespace pulsewright {

class DrumKey : public QPushButton {
  Q_OBJECT
 public:
  DrumKey(int index, QWidget* parent);
  // The drum's name as shown: whole, on two lines or short, as the key's width allows.
  QString drumName() const { return text().section('\n', 0, -2); }
  // "M" for a muted drum, "S" for a soloed one, "" for neither: shown beside the letter.
  void setMark(const QString& mark);
  // The articulation's mark while the song strikes the drum so; empty: none.
  void setStruck(const QString& mark);
  QString struck() const { return struck_; }
 signals:
  void keyDown(int index);
  void keyUp(int index);
  void menuAsked(int index, const QPoint& globalPosition);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int index_;
  QString letter_;
  QString name_;
  QString shortName_;
  QString tinyName_;
  QString mark_;
  QString struck_;
};

class DrumKeyboard : public QWidget {
  Q_OBJECT
 public:
  // Lengths are in twips, converted with `twips`.
  DrumKeyboard(LiveKeyboard& keyboard, std::function<int(int)> twips, QWidget* parent);

  QScrollBar* vol() const { return vol_; }
  QLabel* velocityLabel() const { return velocityLabel_; }
  DrumKey* key(int index) const { return keys_[static_cast<std::size_t>(index)]; }
  // The menu of key `index`: Mute and Solo for its drum, checked as `mask` has them. It
  // deletes itself once closed.
  QMenu* voiceMenu(int index);
  // Marks the keys whose drums `mask` mutes or solos.
  void showVoiceMask(const VoiceMask& mask);
  // Lights the keys of the drums the step playing strikes with an articulation, each
  // with its mark (a cross-stick's "c" on the snare, a bell's "b" on the ride); the
  // others go dark.
  void showArticulated(const std::vector<std::pair<DrumVoice, Articulation>>& hits);
  // The strip's size in twips.
  static constexpr int kWidthTwips = 255 + 120 + 10 * 495;
  static constexpr int kHeightTwips = 2175;

 signals:
  // The user asked to mute or solo a drum (a DrumVoice's index), or to let it go again.
  void muteToggled(int voice);
  void soloToggled(int voice);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  // A key held while the focus moves away would never see its release.
  void focusOutEvent(QFocusEvent* event) override;

 private:
  static int keyIndexOf(const QKeyEvent* event);
  void releasePending(int index);
  void releaseAllPending();

  // How long a release waits for the press that would make it an auto-repeat.
  static constexpr int kRepeatPairMs = 40;

  LiveKeyboard& keyboard_;
  void showVelocity();

  QScrollBar* vol_ = nullptr;
  QLabel* velocityLabel_ = nullptr;
  std::array<DrumKey*, kKeyCount> keys_{};
  std::array<std::optional<quint64>, kKeyCount> pendingRelease_{};  // time stamps
  QTimer* releaseTimer_ = nullptr;
  VoiceMask mask_;
};

}  // namespace pulsewright
