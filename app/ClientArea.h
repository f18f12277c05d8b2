#pragma once
// The main window's client area, laid out in twips as designed: the picture buttons, the
// sound device list, the status line, the editor and the drum keyboard strip under it.
// Only the editor follows the area's size (the window's, less the status bar and the
// docked panels); the status line reaches the right edge.

#include <QString>
#include <QWidget>
#include <functional>
#include <map>

class QComboBox;
class QToolButton;

namespace pulsewright {

class DrumKeyboard;
class StatusLabel;
class TablatureEditor;

class ClientArea : public QWidget {
  Q_OBJECT
 public:
  // The area's size at first.
  static constexpr int kWidthTwips = 9810;
  static constexpr int kHeightTwips = 7920;

  // `twips` converts a length in twips to pixels on the window's screen.
  ClientArea(std::function<int(int)> twips, QWidget* parent);

  // The picture buttons by object name (NewButton ... Play, Pause, Stopb).
  const std::map<QString, QToolButton*>& buttons() const { return buttons_; }
  StatusLabel* statusLine() const { return label_; }
  TablatureEditor* editor() const { return editor_; }
  // The sound device list and the keyboard strip, made elsewhere, take their places.
  void place(QComboBox* soundDevices, DrumKeyboard* keyboard);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void layOut();

  std::function<int(int)> twips_;
  std::map<QString, QToolButton*> buttons_;
  StatusLabel* label_ = nullptr;
  TablatureEditor* editor_ = nullptr;
  DrumKeyboard* keyboard_ = nullptr;
};

}  // namespace pulsewright
